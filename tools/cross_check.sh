#!/usr/bin/env bash
# The same bytes on every platform: converts the sample, generated hostile
# motions (random bits, NaN, infinities, subnormals, huge and tiny values on
# every converted bone), a dance, a traced motion and two poses in every
# mode, kept, folded and thinned too, with the native x86-64 build, the
# aarch64 build under qemu-user and the WebAssembly build in node, and
# compares every output file, console text (a NaN's sign aside, which the
# C libraries print differently) and exit status.
#   tools/cross_check.sh [aarch64|wasm]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
export NODE_PATH=/usr/share/nodejs  # Debian's emcc finds its modules there
targets=${*:-aarch64 wasm}
cmake -S . -B build >/dev/null && cmake --build build -j2 --target torsel make_sample >/dev/null
runners=()
for t in $targets; do
  case $t in
    aarch64)
      cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DTORSEL_BUILD_TESTS=OFF >/dev/null
      cmake --build build-aarch64 -j2 --target torsel >/dev/null
      runners+=("qemu-aarch64 $PWD/build-aarch64/torsel") ;;
    wasm)
      emcmake cmake -S . -B build-wasm -DTORSEL_BUILD_TESTS=OFF >/dev/null
      cmake --build build-wasm -j2 --target torsel >/dev/null
      runners+=("node --no-experimental-fetch $PWD/tools/wasm_run.js $PWD/build-wasm/torsel.js") ;;
  esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/sample.vmd "$work/sample.vmd"
for seed in 1 2 3; do build/make_sample "$work/hostile$seed.vmd" 2000 "$seed" hostile; done
build/make_sample "$work/dance.vmd" 1500 9 dance
build/make_sample "$work/hands.vmd" 1500 9 hands
build/make_sample "$work/wrists.vmd" 1500 9 wrists
build/make_sample "$work/traced.vmd" 300 4 traced 0.5
for seed in 1 4; do build/make_sample "$work/pose$seed.vpd" 0 "$seed" pose; done
passed=0 failed=0
for input in "$work"/*.vmd "$work"/*.vpd; do
  for options in -M0 -M1 -M2 -M3 -M4 -M5 -M8 -M9 -M10 -M11 -M12 -M13 "-M12 -D1" "-M4 -D1 -F5 -T30" -K5 "-K2 -M4" -U "-U -K5 -M9" "-W -M9" "-W -K5 -D1" "-S5 -D1" "-S2 -W -M4"; do
    stem=${input%.*} ext=${input##*.}
    # shellcheck disable=SC2086
    { LC_ALL=C build/torsel -ND $options "$input" || echo "status $?"; } | sed 's/-nan/nan/g' >"$work/native.txt"
    mv "$stem-cnv.$ext" "$work/native.out"
    for runner in "${runners[@]}"; do
      # shellcheck disable=SC2086
      { LC_ALL=C $runner -ND $options "$input" || echo "status $?"; } | sed 's/-nan/nan/g' >"$work/other.txt"
      if cmp -s "$work/native.out" "$stem-cnv.$ext" && cmp -s "$work/native.txt" "$work/other.txt"; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
        echo "DIFFERS: ${runner%% *} $options $(basename "$input")"
      fi
      rm -f "$stem-cnv.$ext"
    done
  done
done
echo "cross_check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
