#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 60) on a seed corpus made by the project's own generators.
#   tools/fuzz.sh [SECONDS] [TARGET]     TARGET: vmd, vpd, model or all (default)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
which=${2:-all}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DTORSEL_FUZZ=ON -DTORSEL_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target vmd_fuzz vpd_fuzz model_fuzz make_sample model_seeds >/dev/null

run() {  # target, seeds folder
  mkdir -p "$build/corpus-$1"
  ASAN_OPTIONS=detect_leaks=0 "$build/$1" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/crash-$1-" "$build/corpus-$1" "$2"
}

wants() { [ "$which" = all ] || [ "$which" = "$1" ]; }

if wants vmd; then
  seeds="$build/seeds-vmd"
  mkdir -p "$seeds"
  "$build/make_sample" "$seeds/sample.vmd"
  for seed in 1 2 3 4 5; do
    "$build/make_sample" "$seeds/random-$seed.vmd" $((seed * 7)) "$seed"
    "$build/make_sample" "$seeds/hostile-$seed.vmd" $((seed * 5)) "$seed" hostile
  done
  # Cut copies, so that every section end is near.
  head -c 100 "$seeds/sample.vmd" >"$seeds/cut-bones.vmd"
  head -c 1800 "$seeds/sample.vmd" >"$seeds/cut-morphs.vmd"
  run vmd_fuzz "$seeds"
fi
if wants vpd; then
  seeds="$build/seeds-vpd"
  mkdir -p "$seeds"
  for seed in 1 2 3 4 5; do "$build/make_sample" "$seeds/pose-$seed.vpd" 0 "$seed" pose; done
  # LF, an MMM morph block, terse statements, no last line end; the bone 左腕.
  printf 'Vocaloid Pose Data file\nm.osm;\t// c\n2;\nBone0{a\n0,0,0;0.1,0.2,0.3,0.9;}\n' >"$seeds/terse.vpd"
  printf 'Bone1{\x8d\xb6\x98\x72\n 1.5,-2,3; -0.5,0.5,0.5,+.5;\n}\nMorph0{x\n 0.5;\n}' >>"$seeds/terse.vpd"
  run vpd_fuzz "$seeds"
fi
if wants model; then
  seeds="$build/seeds-model"
  mkdir -p "$seeds"
  "$build/model_seeds" "$seeds"
  run model_fuzz "$seeds"
fi
