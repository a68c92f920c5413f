#!/usr/bin/env bash
# Compile time of a normal regression with two coefficients, for models of
# about 10^3 .. 10^6 declared nodes: the whole compile command in background
# mode (data loading, node generation, folding, optimisation), best of three
# (one run at the largest size). A model with N observations declares 3N + 3
# nodes (x, y and mu per observation, and the three unknowns), so N is chosen
# as (nodes - 3) / 3; a model may declare at most 10^6 nodes. Other node
# counts can be given after the binary: compile_bench.sh build/wren 5000 50000.
set -euo pipefail
wren=${1:-build/wren}
shift || true
sizes=${*:-1000 10000 100000 1000000}
wren=$(cd "$(dirname "$wren")" && pwd)/$(basename "$wren")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for nodes in $sizes; do
  n=$(( (nodes - 3) / 3 ))
  cat > m.bug <<MODEL
model regression;
const N = $n;
var x[N], y[N], mu[N], alpha, beta, tau;
data in "d.dat";
inits in "i.dat";
{ for (i in 1:N) { mu[i] <- alpha + beta * (x[i] - 0.5); y[i] ~ dnorm(mu[i], tau) }
  alpha ~ dnorm(0, 1.0E-6) beta ~ dnorm(0, 1.0E-6) tau ~ dgamma(0.001, 0.001) }
MODEL
  awk -v n="$n" 'BEGIN { printf "list(x = c("; for (i = 1; i <= n; i++) printf "%s%.4f", (i > 1 ? ", " : ""), (i % 97) / 97;
                         printf "),\ny = c("; for (i = 1; i <= n; i++) printf "%s%.4f", (i > 1 ? ", " : ""), (i % 89) / 40; print "))" }' > d.dat
  # A vague gamma prior would draw a precision too small to pass the checks.
  echo 'list(alpha = 0, beta = 0, tau = 1)' > i.dat
  printf 'compile("m.bug")\nq()\n' > c.cmd
  best=""
  runs="1 2 3"
  if [ "$nodes" -ge 1000000 ]; then runs=1; fi
  for run in $runs; do
    start=$(date +%s.%N)
    "$wren" 20 b c.cmd
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  grep -q "compilation took" b.log || { echo "N = $n: compile failed"; cat b.log; exit 1; }
  printf 'compile  N = %-7s (%8d nodes) %7.3f s\n' "$n" "$((3 * n + 3))" "$best"
done
