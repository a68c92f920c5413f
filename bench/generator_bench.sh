#!/usr/bin/env bash
# Time of SWEEPS sweeps (default 2000) of a model with one prior-only node,
# drawn directly from its prior each sweep, for dbin(0.5, n), dpois(m) and
# dnegbin(p, r) over parameters spanning several orders of magnitude: the
# whole run (start, compile, update, quit) in background mode, best of
# three. A run that has not finished within LIMIT seconds (default 120) is
# stopped and reported as such. Usage:
#   generator_bench.sh path/to/wren [SWEEPS] [LIMIT]
set -euo pipefail
wren=${1:-build/wren}
sweeps=${2:-2000}
limit=${3:-120}
wren=$(cd "$(dirname "$wren")" && pwd)/$(basename "$wren")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# One case: a label, the prior and a starting value near its mean (a dbin
# of more than 1000 trials gets no generated starting value).
run() {
  local label=$1 prior=$2 start=$3
  cat > m.bug <<MODEL
model gen;
var x;
inits in "i.dat";
{ x ~ $prior }
MODEL
  echo "list(seed = 1, x = $start)" > i.dat
  printf 'compile("m.bug")\nupdate(%s)\nq()\n' "$sweeps" > c.cmd
  local best="" t status
  for attempt in 1 2 3; do
    local begin end
    begin=$(date +%s.%N)
    status=0
    timeout "$limit" "$wren" 20 b c.cmd > /dev/null || status=$?
    end=$(date +%s.%N)
    if [ "$status" = 124 ]; then
      printf '%-9s %-24s > %s s (stopped)\n' "$label" "$prior" "$limit"
      return
    fi
    grep -q "updates was" b.log || { echo "$prior: the update did not run"; tail -5 b.log; exit 1; }
    t=$(echo "$end - $begin" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    # A run near the limit is not repeated.
    if [ "$(echo "$t > $limit / 4" | bc)" = 1 ]; then break; fi
  done
  printf '%-9s %-24s %8.3f s\n' "$label" "$prior" "$best"
}

echo "$sweeps sweeps of one prior-only node, best of three:"
for n in 1.0E2 1.0E3 1.0E4 1.0E5 1.0E6 1.0E7 1.0E8 1.0E9; do
  run dbin "dbin(0.5, $n)" "$(awk -v n="$n" 'BEGIN { printf "%d", n / 2 }')"
done
for m in 1.0E1 1.0E2 1.0E3 1.0E4 1.0E5 1.0E6 1.0E7 1.0E8 1.0E9; do
  run dpois "dpois($m)" "$(awk -v m="$m" 'BEGIN { printf "%d", m }')"
done
# Mean r (1 - p) / p: 9, 99, 999, ... 9999999 failures.
for p in 1.0E-1 1.0E-2 1.0E-3 1.0E-4 1.0E-5; do
  run dnegbin "dnegbin($p, 1000)" "$(awk -v p="$p" 'BEGIN { printf "%d", 1000 * (1 - p) / p }')"
done
