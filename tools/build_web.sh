#!/usr/bin/env bash
# Builds the page in web/: the WebAssembly modules of torsel and of the
# playback evaluator (Debian's emscripten), and uPlot from npm beside them.
# The folder then serves as it is from any static host, and offline.
set -euo pipefail
cd "$(dirname "$0")/.."
export NODE_PATH=/usr/share/nodejs  # Debian's emcc finds its modules there
emcmake cmake -S . -B build-wasm -DTORSEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-wasm -j2 --target torsel playback_eval >/dev/null
cp build-wasm/torsel.js build-wasm/torsel.wasm build-wasm/playback_eval.js build-wasm/playback_eval.wasm web/
if [ -f web/package-lock.json ]; then npm ci --prefix web --no-audit --no-fund >/dev/null; else npm install --prefix web --no-audit --no-fund >/dev/null; fi
cp web/node_modules/uplot/dist/uPlot.iife.min.js web/node_modules/uplot/dist/uPlot.min.css web/
echo "web/ is ready: serve it, e.g. python3 -m http.server -d web"
