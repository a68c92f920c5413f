#!/usr/bin/env bash
# A long run: 100 monitored nodes (a normal hierarchy of 100 group means,
# each with one observation) over many sweeps, by default 10^6, so that the
# monitors hold 10^8 samples. For each sweep count given it prints the time,
# the peak resident memory (from /usr/bin/time -v) beside the bytes the stored
# samples need (12 a sample), the sizes and line counts of the .out, .ind and
# log files, and checks that the files are complete: every monitor has one
# sample per sweep, in order, the last sample is that of the last sweep, and
# the log ends with the quit command and the dump.
#
#   bash bench/long_run.sh [WREN] [SWEEPS...]
#   bash bench/long_run.sh build/wren 100000 1000000
#
# Everything is written into a scratch directory under $TMPDIR (or /tmp),
# removed at the end. The .out file of 10^8 samples takes 2.5 GB, so free
# space is checked first.
set -euo pipefail
wren=${1:-build/wren}
shift || true
sweeps=${*:-1000000}
monitors=100
wren=$(cd "$(dirname "$wren")" && pwd)/$(basename "$wren")
[ -x /usr/bin/time ] || { echo "long_run: /usr/bin/time is needed for the peak memory"; exit 1; }

tmp=${TMPDIR:-/tmp}
df -h "$tmp"
largest=0
for n in $sweeps; do [ "$n" -gt "$largest" ] && largest=$n; done
# Each sample line is 25 bytes; the log and index are small. Keep 1 GB spare.
need_kb=$(( (largest * monitors * 25) / 1024 + 1024 * 1024 ))
avail_kb=$(df -Pk "$tmp" | awk 'NR == 2 { print $4 }')
if [ "$avail_kb" -lt "$need_kb" ]; then
  echo "long_run: $tmp has $((avail_kb / 1024)) MB free, $((need_kb / 1024)) MB needed"
  exit 1
fi

work=$(mktemp -d "$tmp/wren-long-XXXXXX")
trap 'rm -rf "$work"' EXIT
# A copy, so that a rebuild during the run does not touch the binary in use.
cp "$wren" "$work/wren"
cd "$work"

cat > m.bug <<MODEL
model pools;
const G = $monitors;
var y[G], theta[G], mu, tau;
data in "m.dat";
inits in "m.in";
{
  for (g in 1:G) {
    y[g] ~ dnorm(theta[g], 4)
    theta[g] ~ dnorm(mu, tau)
  }
  mu ~ dnorm(0, 0.0001)
  tau ~ dgamma(1, 1)
}
MODEL
awk -v n="$monitors" 'BEGIN { printf "list(y = c("; for (g = 1; g <= n; g++) printf "%s%.3f", (g > 1 ? ", " : ""), 3 + sin(g) * 2; print "))" }' > m.dat
echo 'list(mu = 0, tau = 1)' > m.in

status=0
for n in $sweeps; do
  rm -f long.*
  printf 'compile("m.bug")\nmonitor(theta)\nupdate(%d)\nstats(theta[%d])\nq()\n' "$n" "$monitors" > c.cmd
  /usr/bin/time -v ./wren 20 long c.cmd 2> time.txt
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' time.txt)
  peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)
  sample_mb=$(awk -v n="$n" -v m="$monitors" 'BEGIN { printf "%.1f", n * m * 12 / 1048576 }')
  echo "---- $n sweeps, $monitors monitors"
  echo "elapsed (wall)          $elapsed"
  # The sweeps alone, as the log reports them; the rest is compile, stats and
  # the dump of the traces at q().
  echo "update (from the log)   $(grep -o 'updates was .*' long.log | sed 's/updates was *//')"
  echo "peak resident memory    $((peak_kb / 1024)) MB (stored samples need $sample_mb MB)"
  for f in long.out long.ind long.log; do
    printf '%-8s %14d bytes %12d lines\n' "$f" "$(stat -c %s "$f")" "$(wc -l < "$f")"
  done
  echo "last line of long.out:  $(tail -n 1 long.out)"
  echo "last lines of long.log:"
  tail -n 4 long.log | sed 's/^/    /'
  echo

  # Every monitor: n samples, iterations 1..n in order, each line an iteration
  # and a value; the index lines follow one another without gaps.
  if ! awk -v n="$n" -v m="$monitors" '
      FNR == NR { first[FNR] = $(NF - 1); last[FNR] = $NF; entries = FNR; next }
      { line++
        if (NF != 2 || $1 != (line - 1) % n + 1) { print "bad sample line " line ": " $0; bad = 1; exit }
        if ($2 !~ /^-?[0-9]\.[0-9]+(E[-+][0-9]+)?$/) { print "bad value at line " line ": " $0; bad = 1; exit } }
      END {
        if (bad) exit 1
        if (entries != m) { print "index has " entries " lines, not " m; exit 1 }
        for (k = 1; k <= m; k++)
          if (first[k] != (k - 1) * n + 1 || last[k] != k * n) { print "index line " k ": " first[k] " " last[k]; exit 1 }
        if (line != n * m) { print "sample file has " line " lines, not " n * m; exit 1 }
      }' long.ind long.out; then
    echo "long_run: the sample files are not complete"
    status=1
  fi
  if ! grep -q "updates was" long.log || ! grep -q "^\[$monitors\] .* $n *\$" long.log ||
     [ "$(tail -n 1 long.log)" != "Wren>q()" ]; then
    echo "long_run: the log is not complete"
    status=1
  fi
  [ "$status" -eq 0 ] && echo "files complete: $((n * monitors)) samples, index and log checked"
done
exit $status
