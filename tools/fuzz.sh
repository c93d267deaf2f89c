#!/bin/sh
# Builds the libFuzzer targets (structure-card readers, stream loader, whole
# analysis of a PDB file and of an mmCIF file, whole analysis of real
# structures under geometric edits) with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# each for a bounded time (seconds, default 60 each). In the whole-analysis
# targets every fatal error of the run is a finding.
#   tools/fuzz.sh [seconds]
# Needs clang and libclang-rt (Debian: apt-get install clang libclang-rt-14-dev).
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCAVITAS_FUZZ=ON -DCAVITAS_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target fuzz_cards fuzz_stream fuzz_pdb fuzz_cif fuzz_geometry -j2
status=0
for target in fuzz_cards fuzz_stream fuzz_pdb fuzz_cif fuzz_geometry; do
  corpus="$build/corpus_$target"
  mkdir -p "$corpus"
  seeds="$root/fuzz/seeds_$target"
  echo "== $target for ${seconds}s"
  "$build/fuzz/$target" -seed=1 -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$build/$target-" "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) || status=1
done
exit $status
