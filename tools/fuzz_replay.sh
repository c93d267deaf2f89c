#!/bin/sh
# Replays the corpora that tools/fuzz.sh grew for the whole-analysis
# targets through the program itself and counts the exit codes. Every input
# must end with 0 (a result), 1 (a file error) or 3 (a structure that cannot be
# analysed); any other code is listed and makes the script fail.
#   tools/fuzz_replay.sh [cavitas binary]   (default build/release/cavitas)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
binary=$(realpath "${1:-$root/build/release/cavitas}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/inputs"
# The geometry target's corpus holds edit programs: the target writes the PDB
# texts they make (without analysing them).
if [ -d "$build/corpus_fuzz_geometry" ]; then
  CAVITAS_FUZZ_EXPORT="$work/inputs" "$build/fuzz/fuzz_geometry" -runs=0 "$build/corpus_fuzz_geometry" >/dev/null 2>&1
fi
[ -d "$build/corpus_fuzz_pdb" ] && cp "$build/corpus_fuzz_pdb"/* "$work/inputs/" 2>/dev/null || true
# The mmCIF target's inputs, with the data block it puts in front of them.
if [ -d "$build/corpus_fuzz_cif" ]; then
  for f in "$build/corpus_fuzz_cif"/*; do
    [ -f "$f" ] || continue
    if head -c 5 "$f" | grep -q '^data_'; then cp "$f" "$work/inputs/cif_$(basename "$f")"; else
      { printf 'data_fuzz\n'; cat "$f"; } > "$work/inputs/cif_$(basename "$f")"; fi
  done
fi
status=0
total=0
: > "$work/codes"
for input in "$work/inputs"/*; do
  [ -f "$input" ] || continue
  total=$((total + 1))
  code=0
  (cd "$work" && timeout 60 "$binary" i:"$input" o:result.txt l:run.log >/dev/null 2>&1) || code=$?
  echo "$code" >> "$work/codes"
  case $code in
    0|1|3) ;;
    *) echo "exit $code: $input"; cp "$input" "$build/replay-exit$code-$(basename "$input")"; status=1 ;;
  esac
done
echo "$total inputs replayed; exit codes (count code):"
sort -n "$work/codes" | uniq -c
exit $status
