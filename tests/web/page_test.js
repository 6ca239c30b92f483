#!/usr/bin/env node
'use strict';
// The page in a real browser (Debian's chromium, headless, from a local
// static server): the sample and a hostile motion with a model beside them,
// their downloads byte for byte against the native build's; a bad file's
// own message; the Japanese page.
//   node page_test.js TORSEL MAKE_SAMPLE SAMPLE.vmd WEB_DIR
const [childProcess, fs, http, os, path] = ['child_process', 'fs', 'http', 'os', 'path'].map(require);
let puppeteer;
try { puppeteer = require('puppeteer-core'); } catch (e) { console.log('puppeteer-core is not installed (npm ci --prefix tests): skipped'); process.exit(77); }
const [torsel, makeSample, sample, web] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-web-'));
const file = (name) => path.join(work, name);
fs.copyFileSync(sample, file('sample.vmd'));
childProcess.execFileSync(makeSample, [file('hostile.vmd'), '500', '3', 'hostile']);
fs.writeFileSync(file('bad.vmd'), 'Vox');
// A PMD model: arms, elbows and wrists (左/右 腕, ひじ, 手首) along ±X.
const bones = [['8db69872', 1], ['8db682d082b6', 3], ['8db68ee88ef1', 5], ['89459872', -1], ['894582d082b6', -3], ['89458ee88ef1', -5]];
const pmd = Buffer.alloc(3 + 4 + 20 + 256 + 12 + 2 + 39 * bones.length + 2);
pmd.write('Pmd', 0, 'latin1'), pmd.writeFloatLE(1, 3), pmd.writeUInt16LE(bones.length, 295);
bones.forEach(([name, x], i) => (Buffer.from(name, 'hex').copy(pmd, 297 + 39 * i), pmd.writeFloatLE(x, 324 + 39 * i), pmd.writeFloatLE(15 - Math.abs(x) / 2, 328 + 39 * i)));
fs.writeFileSync(file('model.pmd'), pmd);
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.css': 'text/css' };
const server = http.createServer((req, res) => fs.readFile(path.join(web, req.url === '/' ? 'index.html' : req.url), (err, data) => (err ? res.writeHead(404).end()
  : res.writeHead(200, { 'Content-Type': types[path.extname(req.url)] || 'text/html' }).end(data)))).listen(0, '127.0.0.1');
let [passed, failed] = [0, 0];
const check = (ok, what) => { ok ? passed++ : failed++; console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`); };

// Uploads files, converts with the page's defaults and -K5, and returns what the page shows.
async function convert(browser, names, japanese) {
  const page = await browser.newPage();
  if (japanese) await page.evaluateOnNewDocument(() => Object.defineProperty(navigator, 'language', { get: () => 'ja-JP' }));
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await (await page.$('#pick')).uploadFile(...names.map(file));
  await page.$eval('#keep', (e) => { e.value = '5'; }), await page.click('#convert');
  await page.waitForFunction(() => !document.getElementById('convert').disabled, { timeout: 60000 });
  return page.evaluate(async () => ({
    title: document.querySelector('[data-t=convert]').textContent,
    console: document.getElementById('console').textContent,
    failed: document.querySelectorAll('#results .failed').length,
    files: await Promise.all([...document.querySelectorAll('#results a')].map(async (a) => [a.download, [...new Uint8Array(await (await fetch(a.href)).arrayBuffer())]])),
  }));
}

(async () => {
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'] });
  try {
    const shown = await convert(browser, ['sample.vmd', 'hostile.vmd', 'model.pmd'], false);
    childProcess.execFileSync(torsel, ['-ND', '-K5', file('model.pmd'), file('sample.vmd'), file('hostile.vmd')], { env: { LC_ALL: 'C' } });
    for (const name of ['sample-cnv.vmd', 'hostile-cnv.vmd']) check(shown.files.some(([n, b]) => n === name && Buffer.from(b).equals(fs.readFileSync(file(name)))), `${name}: the native build's bytes`);
    const bad = await convert(browser, ['bad.vmd'], false);
    check(bad.failed === 1 && bad.console.includes('Illegal file format at 000003=(78)'), "a bad file: the program's own message");
    const ja = await convert(browser, ['sample.vmd'], true);
    check(ja.title === '変換' && ja.console.includes('つのファイル, 合計'), 'the Japanese page, the program speaking Japanese');
  } finally {
    await browser.close(), server.close(), fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
