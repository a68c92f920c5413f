#!/usr/bin/env bash
# Compile time of models whose likelihood terms share one aggregate
# s <- sum(x[]) of N stochastic nodes x[j] ~ dnorm(0, 1):
#   terms:  y[i] ~ dnorm(s, 1) for i in 1:N. Every x[j] has all N terms in
#           its likelihood, so the lists the update-method choice reads hold
#           N^2 entries in all; that count is printed beside N.
#   single: one term y ~ dnorm(s, 1), so N entries; the sum itself is read
#           for every x[j].
# The whole compile command in background mode, best of three (one run when
# a run takes over 10 s). Usage: classify_bench.sh [WREN [terms|single N...]];
# without a model name both models run at their default sizes.
set -euo pipefail
wren=${1:-build/wren}
shift || true
wren=$(cd "$(dirname "$wren")" && pwd)/$(basename "$wren")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

run() {  # model, N
  local model=$1 n=$2 body entries y="y[N]"
  if [ "$model" = terms ]; then
    body="for (i in 1:N) { y[i] ~ dnorm(s, 1) }"
    entries=$((n * n))
    awk -v n="$n" 'BEGIN { printf "list(y = c("; for (i = 1; i <= n; i++) printf "%s%.4f", (i > 1 ? ", " : ""), (i % 89) / 40 - 1; print "))" }' > d.dat
  else
    body="y ~ dnorm(s, 1)"
    y=y
    entries=$n
    echo 'list(y = 1.5)' > d.dat
  fi
  cat > m.bug <<MODEL
model shared;
const N = $n;
var x[N], $y, s;
data in "d.dat";
inits in "i.dat";
{ s <- sum(x[])
  for (j in 1:N) { x[j] ~ dnorm(0, 1) }
  $body }
MODEL
  awk -v n="$n" 'BEGIN { printf "list(x = c("; for (i = 1; i <= n; i++) printf "%s%.4f", (i > 1 ? ", " : ""), (i % 7) / 10; print "))" }' > i.dat
  printf 'compile("m.bug")\nq()\n' > c.cmd
  local best="" t start end
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$wren" 20 b c.cmd || true
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    if [ "$(echo "$t > 10" | bc)" = 1 ]; then break; fi
  done
  grep -q "compilation took" b.log || { echo "$model N = $n: compile failed"; cat b.log; exit 1; }
  printf '%-7s N = %-7s (%10d likelihood entries) %7.3f s\n' "$model" "$n" "$entries" "$best"
}

if [ $# -gt 0 ]; then
  model=$1
  shift
  for n in "$@"; do run "$model" "$n"; done
else
  for n in 500 1000 2000 4000; do run terms "$n"; done
  for n in 16000 64000 256000 999997; do run single "$n"; done
fi
