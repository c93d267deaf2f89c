#!/bin/bash
# The subsystems and the ones each may include (docs/architecture.md): every
# #include "sub/..." under src/ and app/ must name the folder itself or one of
# those. Exit 1 and the offending lines when one does not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
declare -A allowed=(
  [frame]="frame"
  [model]="model frame"
  [secstruct]="secstruct model frame"
  [structfile]="structfile model frame"
  [input]="input secstruct structfile model frame"
  [surface]="surface model frame"
  [cavity]="cavity input surface secstruct structfile model frame"
  [app]="cavity input surface secstruct structfile model frame"
)
bad=0
for sub in "${!allowed[@]}"; do
  dir="$root/src/$sub"
  [ "$sub" = app ] && dir="$root/app"
  while IFS= read -r line; do
    file=${line%%:*}
    used=$(sed -E 's|.*#include "([a-z]+)/.*|\1|' <<<"$line")
    if ! grep -qw "$used" <<<"${allowed[$sub]}"; then
      echo "layer violation: ${file#$root/} includes $used/ ($sub may use: ${allowed[$sub]})"
      bad=1
    fi
  done < <(grep -rHE '^#include "[a-z]+/' "$dir" --include='*.h' --include='*.cpp' || true)
done
[ $bad = 0 ] && echo "layers: every include within the allowed dependencies"
exit $bad
