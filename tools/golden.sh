#!/bin/bash
# Golden outputs: the result file, the structure-card file, the log (time
# numbers, version and program path blanked), the exit status and stderr of
# every reference structure, compared byte for byte with what the binary makes now.
#
#   tools/golden.sh check BINARY    compare (exit 1 and the differences when any)
#   tools/golden.sh bless BINARY    record what BINARY makes as the new reference
#   tools/golden.sh run BINARY DIR  only run, leaving the outputs in DIR (for diffs)
#
# The reference structures are tests/golden/inputs/NAME.pdb.gz; entries listed
# in tests/golden/SHA256SUMS whose input is only in ../shared/corpus (too large
# to keep here) are checked when that folder is present and skipped otherwise.
# A change that alters the golden outputs re-blesses them in its own commit
# (make bless) and says why.
set -euo pipefail
mode=${1:-}
binary=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
golden="$root/tests/golden"
corpus="$root/../shared/corpus"
if [ -z "$mode" ] || [ -z "$binary" ] || { [ "$mode" = run ] && [ -z "${3:-}" ]; }; then
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
binary=$(realpath "$binary")

# Every entry that has an input here or in the corpus, in name order.
entries() {
  {
    for f in "$golden"/inputs/*.pdb.gz; do basename "$f" .pdb.gz; done
    [ -f "$golden/SHA256SUMS" ] && sed -n 's/^[0-9a-f]*  \(.*\)\.res$/\1/p' "$golden/SHA256SUMS"
    [ "$mode" = bless ] && [ -d "$corpus" ] && [ -f "$golden/corpus-only" ] && cat "$golden/corpus-only"
  } | sort -u
}

input_of() {
  if [ -f "$golden/inputs/$1.pdb.gz" ]; then
    gzip -dc "$golden/inputs/$1.pdb.gz"
  elif [ -f "$corpus/$1.pdb" ]; then
    cat "$corpus/$1.pdb"
  else
    return 1
  fi
}

# Runs one entry in DIR: NAME.res, NAME.crd, NAME.log (normalised), NAME.status.
run_entry() {
  local name=$1 dir=$2 code=0
  input_of "$name" >"$dir/$name.pdb" || return 1
  (cd "$dir" && "$binary" "i:$name.pdb" "o:$name.res" "l:$name.log" "s:$name.crd" >"$name.out" 2>"$name.err") ||
    code=$?
  if [ -f "$dir/$name.log" ]; then
    sed -E -e 's/^(Initialisierung |FindInnerWater  |Connolly 1      |Entfernen       |insgesamt       ): +[0-9]+/\1: N/' \
      -e 's/^cavitas [0-9][^ :]*: [^ ]*cavitas /cavitas VERSION: cavitas /' -i "$dir/$name.log"
  fi
  { echo "exit $code"; cat "$dir/$name.err"; } >"$dir/$name.status"
  rm -f "$dir/$name.pdb" "$dir/$name.err" "$dir/$name.out"
}

case "$mode" in
  run)
    mkdir -p "$3"
    for name in $(entries); do run_entry "$name" "$3" || echo "skipped $name: no input"; done
    ;;
  bless)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$golden/logs"
    rm -f "$golden"/logs/*
    : >"$work/sums"
    for name in $(entries); do
      run_entry "$name" "$work" || { echo "skipped $name: no input"; continue; }
      for ext in res crd; do
        if [ -f "$work/$name.$ext" ]; then (cd "$work" && sha256sum "$name.$ext") >>"$work/sums"; fi
      done
      cp "$work/$name.status" "$golden/logs/"
      if [ -f "$work/$name.log" ]; then cp "$work/$name.log" "$golden/logs/"; fi
    done
    cp "$work/sums" "$golden/SHA256SUMS"
    echo "blessed $(entries | wc -l) entries into tests/golden"
    ;;
  check)
    work=$(mktemp -d)
    keep="$root/build/golden-actual"
    failed=0 checked=0
    for name in $(entries); do
      if ! run_entry "$name" "$work"; then
        echo "skipped $name: its input is only in ../shared/corpus"
        continue
      fi
      checked=$((checked + 1))
      for ext in log status; do
        if [ -f "$golden/logs/$name.$ext" ] || [ -f "$work/$name.$ext" ]; then
          if ! cmp -s "$golden/logs/$name.$ext" "$work/$name.$ext"; then
            echo "DIFFERS: $name.$ext"
            diff "$golden/logs/$name.$ext" "$work/$name.$ext" | head -20 || true
            failed=1
          fi
        fi
      done
      for ext in res crd; do
        want=$(sed -n "s/^\([0-9a-f]*\)  $name\.$ext\$/\1/p" "$golden/SHA256SUMS")
        have=$([ -f "$work/$name.$ext" ] && sha256sum <"$work/$name.$ext" | cut -d' ' -f1 || true)
        if [ "$want" != "$have" ]; then
          echo "DIFFERS: $name.$ext (sha256 ${have:-none}, expected ${want:-none})"
          failed=1
        fi
      done
    done
    if [ $failed = 0 ]; then
      rm -rf "$work"
      echo "golden outputs: $checked entries identical"
    else
      rm -rf "$keep"
      mkdir -p "$(dirname "$keep")"
      mv "$work" "$keep"
      echo "golden outputs differ; this run's outputs are in $keep."
      echo "Compare with the blessed binary's: tools/golden.sh run OLD_BINARY DIR; re-bless an intended change with: make bless"
    fi
    exit $failed
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
