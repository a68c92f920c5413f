#!/usr/bin/env bash
# Runs one end-to-end scenario and compares what it produced with what is expected.
#
#   run.sh WREN SCENARIO_DIR
#
# A scenario directory holds:
#   cmd              the command file (required)
#   args             optional: the command-line arguments on one line
#                    (default "20 run cmd"); "-" alone means no arguments
#   stdin            optional: fed to standard input (default: empty)
#   expected.NAME    the expected contents of the file NAME after the run;
#                    expected.stdout and expected.stderr are compared with
#                    the standard output and error (an unexpected error
#                    output fails the scenario)
#   absent           optional: names of files that must not exist afterwards
#   fsize            optional: a limit on the size of each file the program
#                    writes, in KiB (ulimit -f), as a stand-in for a full disk
#   status           optional: the expected exit status (default 0); a run
#                    that fails (compile error, node error, failed update,
#                    wrong command line) ends with 1
#   check            optional: a bash script run in the scratch directory
#                    after the comparisons, for what a downstream tool makes
#                    of the files; a non-zero exit fails the scenario, and
#                    77 skips it (the tool is not installed)
#   any other file   copied alongside (models, data, initial values)
# The run happens in a scratch copy of the directory. In the banner the date
# and time, and in timing lines the elapsed time, are masked before comparing.
set -u
wren=$1
scenario=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$scenario"/. "$work"/
cd "$work" || exit 1

args="20 run cmd"
[ -f args ] && args=$(head -n 1 args)
[ "$args" = "-" ] && args=""
input=/dev/null
[ -f stdin ] && input=stdin

limit=unlimited
[ -f fsize ] && limit=$(head -n 1 fsize)
# The limit only stops a run that hangs: sanitizer builds on a busy machine
# take several times as long as a plain build.
# shellcheck disable=SC2086
(ulimit -f "$limit" && exec timeout 120 "$wren" $args) <"$input" >stdout 2>stderr
status=$?
expected_status=0
[ -f status ] && expected_status=$(head -n 1 status)
fail=0
if [ "$status" -ne "$expected_status" ]; then
  echo "exit status $status (expected $expected_status)"
  fail=1
fi

mask() {
  sed -E -e 's/^(Welcome to WREN on ).* at [0-9]+:[0-9]+:[0-9]+$/\1DATE at TIME/' \
         -e 's/ [0-9]{2}:[0-9]{2}:[0-9]{2} / HH:MM:SS /g' "$1"
}

for expected in expected.*; do
  [ -e "$expected" ] || continue
  name=${expected#expected.}
  if [ ! -f "$name" ]; then
    echo "missing output file: $name"
    fail=1
    continue
  fi
  if ! diff -u <(mask "$expected") <(mask "$name") >diff.out; then
    echo "difference in $name:"
    cat diff.out
    fail=1
  fi
done

if [ -f absent ]; then
  while read -r name; do
    [ -n "$name" ] || continue
    if [ -e "$name" ]; then
      echo "file should not exist: $name"
      fail=1
    fi
  done <absent
fi

# Nothing may reach standard error unless the scenario expects it.
if [ ! -f expected.stderr ] && [ -s stderr ]; then
  echo "unexpected standard error:"
  cat stderr
  fail=1
fi
if [ "$fail" -eq 0 ] && [ -f check ]; then
  bash check
  checked=$?
  [ "$checked" -eq 77 ] && exit 77
  [ "$checked" -ne 0 ] && fail=1
fi
exit $fail
