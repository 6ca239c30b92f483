// The page offline: every file it needs (the page, both workers, the
// WebAssembly modules, the preview's code and mannequin) kept in a cache
// on the first visit and served from there, so that once visited it works
// with no network at all. The cache's name carries the build's version
// (stamped by tools/build_web.sh from the files' contents): a new build
// brings a new worker, which fills a new cache and drops the old ones, and
// the next visit runs the new page.
const CACHE = `torsel-${VERSION}`;
const FILES = ['./', 'index.html', 'page.js', 'page.css', 'worker.js', 'preview-worker.js', 'torsel.js',
  'torsel.wasm', 'playback_eval.js', 'playback_eval.wasm', 'mannequin.pmx', 'favicon.svg',
  'manifest.webmanifest'];

self.addEventListener('install', (e) => {
  e.waitUntil(caches.open(CACHE).then((c) => c.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (e) => {
  e.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => n.startsWith('torsel-') && n !== CACHE)
      .map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

// The page's own files from the cache; anything else (there is nothing else) from the network.
self.addEventListener('fetch', (e) => {
  if (e.request.method !== 'GET' || new URL(e.request.url).origin !== location.origin) return;
  e.respondWith(caches.open(CACHE).then((c) => c.match(e.request, { ignoreSearch: true }))
    .then((hit) => hit || fetch(e.request)));
});
