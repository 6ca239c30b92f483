#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for SECONDS (default
# 60) on a seed corpus made by the project's own generator.
#   tools/fuzz.sh [SECONDS] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${2:-1}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DTORSEL_FUZZ=ON -DTORSEL_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target vmd_fuzz make_sample >/dev/null

seeds="$build/seeds"
corpus="$build/corpus"
mkdir -p "$seeds" "$corpus"
"$build/make_sample" "$seeds/sample.vmd"
for seed in 1 2 3 4 5; do
  "$build/make_sample" "$seeds/random-$seed.vmd" $((seed * 7)) "$seed"
done
# A few cut copies, so that every section end is near.
head -c 100 "$seeds/sample.vmd" >"$seeds/cut-bones.vmd"
head -c 1800 "$seeds/sample.vmd" >"$seeds/cut-morphs.vmd"

ASAN_OPTIONS=detect_leaks=0 "$build/vmd_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
  -jobs="$jobs" -workers="$jobs" -print_final_stats=1 "$corpus" "$seeds"
