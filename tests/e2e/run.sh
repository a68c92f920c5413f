#!/usr/bin/env bash
# run.sh WREN SCENARIO_DIR: runs one scenario in a scratch copy of its directory.
# Files there: args (command line, default "20 run cmd", "-" for none); cmd
# (the command file the default names); stdin; expected.NAME (the file NAME
# afterwards, stdout and stderr included; any other standard error fails);
# absent (names that must not exist); fsize (ulimit -f in KiB, a full disk);
# status (exit status, default 0); check (a script run last, 77 skips). Dates
# and elapsed times are masked.
set -u
wren=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$2"/. "$work"/
cd "$work" || exit 1
args="20 run cmd" input=/dev/null limit=unlimited expected_status=0 fail=0
[ -f args ] && args=$(head -n 1 args)
[ "$args" = "-" ] && args=""
[ -f stdin ] && input=stdin
[ -f fsize ] && limit=$(head -n 1 fsize)
[ -f status ] && expected_status=$(head -n 1 status)
# The timeout only stops a hung run: sanitizer builds on a busy machine are slow.
# shellcheck disable=SC2086
(ulimit -f "$limit" && exec timeout 120 "$wren" $args) <"$input" >stdout 2>stderr
status=$?
[ "$status" -ne "$expected_status" ] && { echo "exit status $status (expected $expected_status)"; fail=1; }
mask() { sed -E -e 's/^(Welcome to WREN on ).* at [0-9:]+$/\1DATE/' \
                -e 's/ [0-9]{2}:[0-9]{2}:[0-9]{2} / HH:MM:SS /g' "$1"; }
for expected in expected.*; do
  [ -e "$expected" ] || continue
  name=${expected#expected.}
  if [ ! -f "$name" ]; then
    echo "missing output file: $name"; fail=1
  elif ! diff -u <(mask "$expected") <(mask "$name") >diff.out; then
    echo "difference in $name:"; cat diff.out; fail=1
  fi
done
if [ -f absent ]; then
  while read -r name; do
    [ -n "$name" ] && [ -e "$name" ] && { echo "file should not exist: $name"; fail=1; }
  done <absent
fi
if [ ! -f expected.stderr ] && [ -s stderr ]; then
  echo "unexpected standard error:"; cat stderr; fail=1
fi
if [ "$fail" -eq 0 ] && [ -f check ]; then
  bash check
  checked=$?
  [ "$checked" -eq 77 ] && exit 77
  [ "$checked" -ne 0 ] && fail=1
fi
exit $fail
