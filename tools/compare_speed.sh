#!/bin/bash
# The whole analysis against an accessible-surface program's Lee-Richards
# surface alone (Debian's freesasa), side by side on the same files: medians of
# interleaved runs, on the machine's cores and pinned to one core (freesasa
# with one thread then), and the peak memory of each. Prints the ratios
# cavitas / freesasa (below 1.0: cavitas is faster or smaller).
#   tools/compare_speed.sh [cavitas binary] [runs, default 7] [PDB files...]
# Default files: 1ubq, 1a0q and 3o21 of ../shared/corpus (or tests/data/1ubq.pdb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/release/cavitas}")
runs=${2:-7}
shift $(( $# > 2 ? 2 : $# ))
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  for n in 1ubq 1a0q 3o21; do
    f="$root/../shared/corpus/$n.pdb"
    [ -f "$f" ] && files+=("$(realpath "$f")")
  done
  [ ${#files[@]} -eq 0 ] && files=("$root/tests/data/1ubq.pdb")
fi
command -v freesasa >/dev/null || { echo "needs freesasa (apt-get install freesasa)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds and peak kB of one command, as "seconds kb". The clock is the
# shell's, to the microsecond (time's own is to 10 ms, coarse for a small file).
measure() {
  local begin=$EPOCHREALTIME end
  /usr/bin/time -f "%M" -o "$work/t" "$@" >/dev/null 2>&1 || true
  end=$EPOCHREALTIME
  echo "$(awk -v a="$begin" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $(tail -n 1 "$work/t")"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf "%-10s %-6s %10s %10s %7s %10s %10s %7s\n" file cores "cavitas s" "freesasa s" ratio "cavitas MB" "freesasa MB" ratio
for f in "${files[@]}"; do
  for mode in all one; do
    pin=()
    threads=2
    if [ "$mode" = one ]; then
      pin=(taskset -c 0)
      threads=1
    else
      threads=$(nproc)
    fi
    : >"$work/c"
    : >"$work/f"
    for ((k = 0; k < runs; k++)); do
      (cd "$work" && measure "${pin[@]}" "$binary" "i:$f" o:r.txt l:r.log) >>"$work/c"
      measure "${pin[@]}" freesasa --lee-richards --n-threads="$threads" "$f" >>"$work/f"
    done
    ct=$(cut -d' ' -f1 "$work/c" | median)
    ft=$(cut -d' ' -f1 "$work/f" | median)
    cm=$(cut -d' ' -f2 "$work/c" | median)
    fm=$(cut -d' ' -f2 "$work/f" | median)
    printf "%-10s %-6s %10.4f %10.4f %7.2f %10.1f %10.1f %7.2f\n" "$(basename "$f" .pdb)" "$mode" "$ct" "$ft" \
      "$(awk -v a="$ct" -v b="$ft" 'BEGIN { print a / b }')" "$(awk -v k="$cm" 'BEGIN { print k / 1024 }')" \
      "$(awk -v k="$fm" 'BEGIN { print k / 1024 }')" "$(awk -v a="$cm" -v b="$fm" 'BEGIN { print a / b }')"
  done
done
