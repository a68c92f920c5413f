#!/usr/bin/env bash
# checkpoint_kill.sh WREN [KILLS]: kills a checkpointing run at many instants;
# after the next run on the stem has started, every monitored node must have
# one trace line per iteration of the state, numbered from 1, and no
# temporary file or marker may be left.
set -u
wren=$1 kills=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf 'model chain3;\nvar a, b, c;\n{ a ~ dnorm(0, 1)\n  b ~ dnorm(a, 1)\n  c ~ dnorm(b, 1) }\n' >m.bug
printf 'compile("m.bug")\nmonitor(a)\nmonitor(b)\nmonitor(c)\ncheckpoint(2000)\nupdate(100000000)\nq()\n' >run.cmd
printf 'q()\n' >quit.cmd

# Prints what is wrong, nothing when the set agrees.
check() {
  [ -f run.res ] || [ -f run.sif ] || [ -f run.sof ] || return 0
  local n
  n=$(sed -n '1s/^list(iteration = \([0-9]*\).*/\1/p' run.res)
  [ -n "$n" ] || { echo "no iteration count in run.res"; return; }
  awk -v n="$n" 'FNR == NR { name[NR] = $1; first[NR] = $2; last[NR] = $3; nodes = NR; next }
    { it[++line] = $1 }
    END {
      if (nodes != 3) { print "index has " nodes " nodes"; exit }
      for (k = 1; k <= nodes; k++) {
        if (first[k] != (k == 1 ? 1 : last[k - 1] + 1) || last[k] - first[k] + 1 != n) {
          print name[k] " has lines " first[k] " to " last[k] " for " n " iterations"; exit
        }
        for (l = first[k]; l <= last[k]; l++)
          if (it[l] != l - first[k] + 1) { print name[k] " line " l " is iteration " it[l]; exit }
      }
      if (line != last[nodes]) print "traces have " line " lines, the index " last[nodes]
    }' run.sif run.sof
  for f in run.res.tmp run.sof.tmp run.sif.tmp run.ckp run.ckp.tmp; do [ -e "$f" ] && echo "$f left behind"; done
}

fail=0
for ((k = 1; k <= kills; k++)); do
  # 0.05 s to about 1.5 s, the tenths of a millisecond varied to fall anywhere in a checkpoint.
  delay=$(printf '0.%04d' $(( (k * 4871) % 10000 )))
  [ "$k" -le 3 ] && delay=0.0$((k * 3))
  "$wren" 20 run run.cmd >/dev/null 2>&1 &
  pid=$!
  sleep "$delay"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  "$wren" 20 run quit.cmd >/dev/null 2>&1
  problem=$(check)
  [ -n "$problem" ] && { echo "killed after ${delay}s: $problem"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "$kills kills, every checkpoint whole"
exit $fail
