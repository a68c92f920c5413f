#!/usr/bin/env bash
# Kills a checkpointing run at many instants and checks, after the next run on
# the same stem has started, that the checkpoint's index, traces and state
# agree: every monitored node has one trace line for each of the state's
# iterations, numbered 1 upwards, and no temporary file or marker is left.
#
#   checkpoint_kill.sh WREN [KILLS]
set -u
wren=$1
kills=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

cat >m.bug <<'MODEL'
model chain3;
var a, b, c;
{
  a ~ dnorm(0, 1)
  b ~ dnorm(a, 1)
  c ~ dnorm(b, 1)
}
MODEL
printf 'compile("m.bug")\nmonitor(a)\nmonitor(b)\nmonitor(c)\ncheckpoint(2000)\nupdate(100000000)\nq()\n' >run.cmd
printf 'q()\n' >quit.cmd

# Prints nothing when the set agrees, otherwise what is wrong.
check() {
  [ -f run.res ] || [ -f run.sif ] || [ -f run.sof ] || return 0
  local n
  n=$(sed -n '1s/^list(iteration = \([0-9]*\).*/\1/p' run.res)
  [ -n "$n" ] || { echo "no iteration count in run.res"; return; }
  awk -v n="$n" '
    FNR == NR { name[NR] = $1; first[NR] = $2; last[NR] = $3; nodes = NR; next }
    { line++; it[line] = $1 }
    END {
      if (nodes != 3) { print "index has " nodes " nodes"; exit }
      expect = 1
      for (k = 1; k <= nodes; k++) {
        if (first[k] != expect || last[k] - first[k] + 1 != n) {
          print name[k] " has lines " first[k] " to " last[k] " for " n " iterations"; exit
        }
        for (l = first[k]; l <= last[k]; l++)
          if (it[l] != l - first[k] + 1) { print name[k] " line " l " is iteration " it[l]; exit }
        expect = last[k] + 1
      }
      if (line != expect - 1) print "traces have " line " lines, the index " expect - 1
    }' run.sif run.sof
  for f in run.res.tmp run.sof.tmp run.sif.tmp run.ckp run.ckp.tmp; do
    [ -e "$f" ] && echo "$f left behind"
  done
}

fail=0
for ((k = 1; k <= kills; k++)); do
  # Instants spread over 0.05 s to about 1.5 s, with the tenths of a
  # millisecond varied so that they fall anywhere in a checkpoint.
  delay=$(printf '0.%04d' $(( (k * 4871) % 10000 )))
  [ "$k" -le 3 ] && delay=0.0$((k * 3))
  "$wren" 20 run run.cmd >/dev/null 2>&1 &
  pid=$!
  sleep "$delay"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  "$wren" 20 run quit.cmd >/dev/null 2>&1
  problem=$(check)
  if [ -n "$problem" ]; then
    echo "killed after ${delay}s: $problem"
    fail=1
  fi
done
[ "$fail" -eq 0 ] && echo "$kills kills, every checkpoint whole"
exit $fail
