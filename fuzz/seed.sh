#!/usr/bin/env bash
# Seeds the corpora of the fuzz targets from the end-to-end scenarios and the
# examples:
#
#   seed.sh CORPUS_DIR
#
# CORPUS_DIR/model    each model followed, after a byte 1 each, by the files
#                     it names that lie beside it (see Fuzz_Model)
# CORPUS_DIR/data     each data or initial-value file behind the byte that
#                     says its format and role (see Fuzz_Data)
# CORPUS_DIR/session  each command file, and the commands a scenario types
# Files already in the corpora, the fuzzers' own finds among them, stay.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
mkdir -p "$out/model" "$out/data" "$out/session"
n=0
for dir in "$root"/tests/e2e/*/ "$root"/examples/*/; do
  n=$((n + 1))
  for bug in "$dir"*.bug; do
    [ -f "$bug" ] || continue
    target="$out/model/seed-$n-$(basename "$bug")"
    cp "$bug" "$target"
    # The quoted names outside comments, in order.
    { sed 's/#.*//' "$bug" | grep -o '"[^"]*"' || true; } | tr -d '"' | while read -r name; do
      printf '\001' >>"$target"
      if [ -f "$dir$name" ]; then cat "$dir$name" >>"$target"; fi
    done
  done
  for file in "$dir"*.dat "$dir"*.in; do
    [ -f "$file" ] || continue
    role=0
    case "$file" in *.in) role=2 ;; esac
    # A file that does not start with "list" is in the rectangular format.
    head -c 4 "$file" | grep -q '^list' || role=$((role + 1))
    { printf "\\00$role"; cat "$file"; } >"$out/data/seed-$n-$(basename "$file")"
  done
  for cmd in "$dir"cmd "$dir"*.cmd "$dir"stdin; do
    [ -f "$cmd" ] || continue
    cp "$cmd" "$out/session/seed-$n-$(basename "$cmd")"
  done
done
# The fixed model's own files in each role and format.
printf '\000list(x = c(1, 2, 3, 4), y = c(1.2, 2.1, 2.9, 4.2), n = c(5, 6, 7, 8),\n  k = c(2, 3, 4, 4), z = structure(.Data = c(1, 2, 0, 3, 2, 2, 1, 4), .Dim = c(2, 4)))\n' \
  >"$out/data/fixed-list-data"
printf '\001 1 1.2 5 2 1 2\n2 2.1 6 3 0 3\n3 2.9 7 4 2 2\n4 4.2 8 4 1 4\n' >"$out/data/fixed-rect-data"
printf '\002list(mu = 0, beta = 1, tau = 1, p = 0.5, lambda = c(1, 1))\n' >"$out/data/fixed-list-inits"
printf '\003 0 1 1 0.5\n' >"$out/data/fixed-rect-inits"
printf 'monitor(mu)\nmonitor(lambda)\nupdate(50)\nstats(mu)\ndiag(mu)\nstats(lambda, 1:50)\nout(mu)\nsave("s.res")\niter()\ngraph()\ndata()\ninits()\nmodel()\nm[2]\nq()\n' \
  >"$out/session/fixed-commands"
echo "corpora: $(ls "$out/model" | wc -l) models, $(ls "$out/data" | wc -l) data files," \
  "$(ls "$out/session" | wc -l) command files in $out"
