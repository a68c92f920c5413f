#!/usr/bin/env bash
# Time of evaluating logical nodes that many paths reach, against the size of
# the model, on two models:
#   fib: a ~ dnorm(0, 1), f[1] = f[2] = a, f[i] <- f[i-1] + f[i-2] for
#        i in 3:N; the command file compiles, shows f[N], runs update(1) and
#        shows f[N] again (f[N] reaches a along Fib(N) paths);
#   inv: g ~ dunif(0.5, 3), S[1, , ] a 2 x 2 matrix holding g,
#        S[k, , ] <- inverse(S[k-1, , ]) for k in 2:K, y ~ dnorm(S[K, 1, 1], 4)
#        with y observed; compile, show S[K, , ], update(10) (each update
#        evaluates the chain at many trial values of g), show S[K, , ].
# Each time is the whole run in background mode, process start included,
# best of three (one run above 10 s). A run that exceeds the limit (LIMIT
# seconds, default 120) is reported as such. Sizes can be given with
# FIB_SIZES and INV_SIZES:
#   FIB_SIZES="32 36 40" INV_SIZES="6 8 10" bench/eval_bench.sh build/wren
# At the end, the growth exponent of each model is fitted by least squares on
# log(time) against log(size) over the sizes whose times exceed 0.1 s.
set -euo pipefail
wren=${1:-build/wren}
wren=$(cd "$(dirname "$wren")" && pwd)/$(basename "$wren")
fibSizes=${FIB_SIZES:-1000 10000 100000 200000 400000 800000}
invSizes=${INV_SIZES:-250 500 1000 2000 4000}
limit=${LIMIT:-120}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Runs c.cmd (best of three) and prints the time, or "timeout" or "failed"
# (a crash, or a run that did not reach q()).
run() {
  local best="" runs="1 2 3" t start end
  for run in $runs; do
    rm -f b.log
    start=$(date +%s.%N)
    local rc=0
    timeout "$limit" "$wren" 20 b c.cmd >/dev/null 2>&1 || rc=$?
    if [ "$rc" -eq 124 ]; then echo "timeout"; return; fi
    if [ "$rc" -ne 0 ]; then echo "failed"; return; fi
    end=$(date +%s.%N)
    grep -q "^Wren>q()" b.log || { echo "failed"; return; }
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    if [ "$(echo "$t > 10" | bc)" = 1 ]; then break; fi
  done
  echo "$best"
}

show() {  # model, size letter, size, time
  case $4 in
    failed|timeout) printf '%s  %s = %-7s %10s\n' "$1" "$2" "$3" "$4" ;;
    *) printf '%s  %s = %-7s %10.3f s\n' "$1" "$2" "$3" "$4" ;;
  esac
}

fit() {  # lines "size time" on standard input
  awk '$2 + 0 > 0.1 { x = log($1); y = log($2); n++; sx += x; sy += y; sxx += x * x; sxy += x * y }
       END { if (n < 2) print "n/a (fewer than two sizes above 0.1 s)";
             else printf "%.2f (over %d sizes)\n", (n * sxy - sx * sy) / (n * sxx - sx * sx), n }'
}

: > fib.txt
for n in $fibSizes; do
  cat > m.bug <<MODEL
model fib;
const N = $n;
var a, f[N];
{ a ~ dnorm(0, 1)
  f[1] <- a
  f[2] <- a
  for (i in 3:N) { f[i] <- f[i - 1] + f[i - 2] } }
MODEL
  printf 'compile("m.bug")\nf[%s]\nupdate(1)\nf[%s]\nq()\n' "$n" "$n" > c.cmd
  t=$(run)
  show fib N "$n" "$t"
  case $t in failed|timeout) ;; *) echo "$n $t" >> fib.txt ;; esac
done

: > inv.txt
for k in $invSizes; do
  cat > m.bug <<MODEL
model invchain;
const K = $k;
var g, S[K, 2, 2], y;
data in "d.dat";
{ g ~ dunif(0.5, 3)
  S[1, 1, 1] <- g + 1
  S[1, 1, 2] <- 0.5
  S[1, 2, 1] <- 0.5
  S[1, 2, 2] <- 2
  for (k in 2:K) { S[k, , ] <- inverse(S[k - 1, , ]) }
  y ~ dnorm(S[K, 1, 1], 4) }
MODEL
  echo 'list(y = 0.5)' > d.dat
  printf 'compile("m.bug")\nS[%s, , ]\nupdate(10)\nS[%s, , ]\nq()\n' "$k" "$k" > c.cmd
  t=$(run)
  show inv K "$k" "$t"
  case $t in failed|timeout) ;; *) echo "$k $t" >> inv.txt ;; esac
done

echo "growth exponent, fib: $(fit < fib.txt)"
echo "growth exponent, inv: $(fit < inv.txt)"
