#!/usr/bin/env bash
# Time per sweep of a hierarchical logistic regression, whose sweep is
# almost all Bernoulli terms under a logit link: 2000 observations in 100
# groups of 20, a random intercept per group, an overall intercept and two
# fixed effects, every unknown but the intercepts' precision updated by
# adaptive rejection. Each binary given runs `compile` alone and `compile`
# then `update(SWEEPS)` (default 2000), in background mode, RUNS times
# (default 3), the binaries taking turns so that a change in the machine's
# load reaches them alike; the user time of each kind of run is the best of
# its runs, and the time per sweep is the difference over SWEEPS:
#   bash bench/terms_bench.sh build/wren [other/wren ...]
# LINK=probit or LINK=cloglog puts that link in place of the logit (the
# same data). The data come from awk's generator with a fixed seed.
set -euo pipefail
[ $# -ge 1 ] || set -- build/wren
sweeps=${SWEEPS:-2000}
runs=${RUNS:-3}
link=${LINK:-logit}
binaries=()
for b in "$@"; do binaries+=("$(cd "$(dirname "$b")" && pwd)/$(basename "$b")"); done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cat > m.bug <<MODEL
model terms;
const N = 2000, G = 100;
var y[N], x1[N], x2[N], g[N], u[G], mu, b1, b2, tau, p[N];
data in "d.dat";
inits in "i.dat";
{ for (i in 1:N) {
    $link(p[i]) <- mu + u[g[i]] + b1 * x1[i] + b2 * x2[i]
    y[i] ~ dbern(p[i]) }
  for (j in 1:G) { u[j] ~ dnorm(0, tau) }
  mu ~ dnorm(0, 1.0E-6)
  b1 ~ dnorm(0, 1.0E-6)
  b2 ~ dnorm(0, 1.0E-6)
  tau ~ dgamma(0.001, 0.001) }
MODEL
awk 'function gauss() { return sqrt(-2 * log(1 - rand())) * cos(6.283185307179586 * rand()) }
     BEGIN { srand(17); n = 2000
             for (j = 1; j <= 100; j++) u[j] = 0.8 * gauss()
             for (i = 1; i <= n; i++) { g[i] = int((i - 1) / 20) + 1; a[i] = gauss(); b[i] = gauss()
               eta = -0.4 + u[g[i]] + 0.7 * a[i] - 0.5 * b[i]; y[i] = rand() < 1 / (1 + exp(-eta)) ? 1 : 0 }
             printf "list(y = c("; for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? ", " : ""), y[i]
             printf "),\nx1 = c("; for (i = 1; i <= n; i++) printf "%s%.3f", (i > 1 ? ", " : ""), a[i]
             printf "),\nx2 = c("; for (i = 1; i <= n; i++) printf "%s%.3f", (i > 1 ? ", " : ""), b[i]
             printf "),\ng = c("; for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? ", " : ""), g[i]
             print "))" }' > d.dat
echo 'list(mu = 0, b1 = 0, b2 = 0, tau = 1, seed = 4242)' > i.dat
printf 'compile("m.bug")\nq()\n' > compile.cmd
printf 'compile("m.bug")\nupdate(%d)\nq()\n' "$sweeps" > update.cmd

# User seconds of one background run of a command file.
user() {
  /usr/bin/time -o t.txt -f '%U' "$1" 20 b "$2" > /dev/null 2>&1
  grep -q '^Wren>q()' b.log || { echo "run of $1 on $2 failed" >&2; cat b.log >&2; exit 1; }
  cat t.txt
}

declare -A bestCompile bestUpdate
for ((r = 1; r <= runs; r++)); do
  for b in "${binaries[@]}"; do
    c=$(user "$b" compile.cmd)
    u=$(user "$b" update.cmd)
    if [ -z "${bestCompile[$b]:-}" ] || [ "$(echo "$c < ${bestCompile[$b]}" | bc)" = 1 ]; then bestCompile[$b]=$c; fi
    if [ -z "${bestUpdate[$b]:-}" ] || [ "$(echo "$u < ${bestUpdate[$b]}" | bc)" = 1 ]; then bestUpdate[$b]=$u; fi
  done
done
for b in "${binaries[@]}"; do
  perSweep=$(echo "scale=6; (${bestUpdate[$b]} - ${bestCompile[$b]}) * 1000 / $sweeps" | bc)
  printf '%s: compile %s s, compile and %d sweeps %s s, %s ms a sweep\n' "$b" "${bestCompile[$b]}" "$sweeps" \
    "${bestUpdate[$b]}" "$perSweep"
done
