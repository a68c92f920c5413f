#!/usr/bin/env bash
# check_layers.sh [SRC_DIR]: fails when a module includes a header of a layer
# above its own (layers from the bottom, below); unit tests may include any.
set -u
src=${1:-$(dirname "$0")/../../src}
layers=(base numerics store language graph sampling output commands)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
fail=0
while IFS= read -r file; do
  dir=$(basename "$(dirname "$file")")
  own=$(rank "$dir")
  [ "$own" -lt 0 ] && { echo "$file: directory $dir is not a layer"; fail=1; continue; }
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
