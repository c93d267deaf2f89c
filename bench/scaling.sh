#!/bin/bash
# Whole-run time and peak memory as the structure grows: 3o21 (13 000 atoms),
# four copies (51 000), sixteen copies (205 000, mmCIF with chain names A1..P4)
# and 80 copies (1 000 000 atoms), each analysed from scratch. Prints the time,
# the peak resident memory per atom and the exponent of the time against
# 3o21 (1.0 is linear).
#   bench/scaling.sh [cavitas binary] [largest copy count, default 80]
# Needs ../shared/corpus/3o21.pdb and Debian's python3-gemmi (/usr/bin/python3).
# Pin it to one core with `taskset -c 0 bench/scaling.sh` to measure without threads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/release/cavitas}")
largest=${2:-80}
source="$root/../shared/corpus/3o21.pdb"
[ -f "$source" ] || { echo "needs $source"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$source" "$work/3o21.pdb"
grep -c -E '^(ATOM|HETATM)' "$source" > "$work/3o21.pdb.atoms"
for n in 4 16 "$largest"; do
  ext=cif
  [ "$n" = 4 ] && ext=pdb
  /usr/bin/python3 "$root/tools/make_copies.py" "$source" "$n" "$work/x$n.$ext" 2>&1 |
    sed -n 's/.* \([0-9]*\) atoms$/\1/p' > "$work/x$n.$ext.atoms"
done

printf "%-10s %10s %9s %12s %10s %9s\n" input atoms seconds "peak MB" "bytes/atom" exponent
base_t=""
base_n=""
for input in 3o21.pdb x4.pdb x16.cif "x$largest.cif"; do
  atoms=$(cat "$work/$input.atoms")
  (cd "$work" && /usr/bin/time -f "%e %M" -o time.txt "$binary" "i:$input" o:r.txt l:r.log >/dev/null 2>&1)
  read -r seconds kb < "$work/time.txt"
  exponent="-"
  if [ -z "$base_t" ]; then
    base_t=$seconds
    base_n=$atoms
  else
    exponent=$(awk -v t="$seconds" -v t0="$base_t" -v n="$atoms" -v n0="$base_n" 'BEGIN { printf "%.3f", log(t / t0) / log(n / n0) }')
  fi
  printf "%-10s %10d %9.2f %12.0f %10.0f %9s\n" "$input" "$atoms" "$seconds" "$((kb / 1024))" \
    "$(awk -v k="$kb" -v n="$atoms" 'BEGIN { print k * 1024 / n }')" "$exponent"
done
