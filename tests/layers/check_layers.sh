#!/usr/bin/env bash
# Fails when a module includes a header of a layer above its own. The layers,
# from the bottom: each may include its own headers and those of the layers
# beneath it. Unit tests (*_test.cpp) may include any header.
#
#   check_layers.sh [SRC_DIR]
set -u
src=${1:-$(dirname "$0")/../../src}
layers=(base numerics store language graph sampling output commands)
rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}
fail=0
while IFS= read -r file; do
  dir=$(basename "$(dirname "$file")")
  own=$(rank "$dir")
  if [ "$own" -lt 0 ]; then
    echo "$file: directory $dir is not a layer"
    fail=1
    continue
  fi
  while IFS= read -r line; do
    included=${line#*\"}
    included=${included%%\"*}
    layer=${included%%/*}
    [ "$layer" = "$included" ] && continue  # no directory: a standard or local header
    other=$(rank "$layer")
    if [ "$other" -gt "$own" ] || [ "$other" -lt 0 ]; then
      echo "$file includes $included: $layer is above $dir"
      fail=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find "$src" -mindepth 2 \( -name '*.h' -o -name '*.cpp' \) ! -name '*_test.cpp' | sort)
[ "$fail" -eq 0 ] && echo "every include runs downward (${layers[*]})"
exit $fail
