#!/usr/bin/env bash
# Builds the page in web/: the WebAssembly modules of torsel and of the
# playback evaluator (Debian's emscripten), the preview's mannequin (our own
# generator, built natively), and bundles of the page and its two workers
# with their libraries (babylon-mmd, fflate, uPlot; esbuild, all pinned in
# web/package-lock.json). The folder then serves as it is from any static
# host, and offline once visited (sw.js, the service worker).
set -euo pipefail
cd "$(dirname "$0")/.."
export NODE_PATH=/usr/share/nodejs  # Debian's emcc finds its modules there
emcmake cmake -S . -B build-wasm -DTORSEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-wasm -j2 --target torsel playback_eval >/dev/null
cp build-wasm/torsel.js build-wasm/torsel.wasm build-wasm/playback_eval.js build-wasm/playback_eval.wasm web/
cmake -S . -B build-web-tools -DTORSEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-web-tools -j2 --target make_mannequin >/dev/null
build-web-tools/make_mannequin web/mannequin.pmx
npm ci --prefix web --no-audit --no-fund >/dev/null
# The page, the converting worker and the preview's worker (its scene and renderer).
web/node_modules/.bin/esbuild page=web/src/main.js worker=web/src/convert_worker.js \
  preview-worker=web/src/preview_worker.js --bundle --minify --format=iife --target=es2022 \
  --outdir=web --log-level=warning
# The offline worker, its cache named after a digest of everything it keeps: a new build, a new cache.
version=$(cat web/index.html web/page.js web/page.css web/worker.js web/preview-worker.js web/torsel.js \
  web/torsel.wasm web/playback_eval.js web/playback_eval.wasm web/mannequin.pmx web/favicon.svg \
  web/manifest.webmanifest | sha256sum | cut -c1-12)
web/node_modules/.bin/esbuild web/src/service_worker.js --bundle --minify --target=es2022 \
  "--define:VERSION=\"$version\"" --outfile=web/sw.js --log-level=warning
echo "web/ is ready ($(cat web/page.js web/worker.js web/preview-worker.js | gzip -c | wc -c) bytes of script gzipped): serve it, e.g. python3 -m http.server -d web"
