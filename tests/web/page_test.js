#!/usr/bin/env node
'use strict';
// The page in a real browser (Debian's chromium, headless, WebGL through
// SwiftShader, from a local static server): downloads against the native
// build's bytes, console text included; every bad input's reason; long tasks
// during a batch with a motion that prints half a million lines; the
// preview's figures apart where the plain conversion is far off and together
// with "keep"; no 404. Screenshots of the main states go to SHOTS.
//   node page_test.js TORSEL MAKE_SAMPLE SAMPLE.vmd WEB_DIR [SHOTS]
const [childProcess, fs, http, os, path] = ['child_process', 'fs', 'http', 'os', 'path']
  .map(require);
let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch (e) {
  console.log('puppeteer-core is not installed (npm ci --prefix tests): skipped');
  process.exit(77);
}
const [torsel, makeSample, sample, web, shotsArg] = process.argv.slice(2);
const shots = shotsArg || path.join(path.dirname(torsel), 'page-shots');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-web-'));
const file = (name) => path.join(work, name);
const make = (name, ...a) => childProcess.execFileSync(makeSample, [file(name), ...a]);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
fs.mkdirSync(shots, { recursive: true });
fs.copyFileSync(sample, file('sample.vmd'));
fs.copyFileSync(path.join(web, 'mannequin.pmx'), file('mannequin.pmx'));
make('hostile.vmd', '30000', '3', 'hostile'), make('dance.vmd', '6000', '1', 'dance');
for (const s of [2, 3, 4]) {
  make(`dance${s}.vmd`, '6000', `${s}`, 'dance'), make(`large${s}.vmd`, '45000', `${s}`);
}
fs.writeFileSync(file('bad.vmd'), 'Vox'), fs.writeFileSync(file('notes.txt'), 'not a motion');
// The dance without its own twist keyframes (names holding 捩, 0x9D 0x80): nothing that a
// player turns onto the fixed axes, so that "keep" makes the figures coincide.
const dance = fs.readFileSync(file('dance.vmd')), count = dance.readUInt32LE(50), keys = [];
for (let i = 0, at = 54; i < count; i++, at += 111) {
  const key = dance.subarray(at, at + 111);
  if (!key.subarray(0, 15).includes(Buffer.from([0x9d, 0x80]))) keys.push(key);
}
const rest = dance.subarray(54 + 111 * count);
const untwisted = Buffer.concat([dance.subarray(0, 54), ...keys, rest]);
untwisted.writeUInt32LE(keys.length, 50), fs.writeFileSync(file('untwisted.vmd'), untwisted);
// A PMD model named ミク, no mesh: arms, elbows and wrists (左/右 腕, ひじ, 手首) along ±X.
const bones = [['8db69872', 1], ['8db682d082b6', 3], ['8db68ee88ef1', 5],
  ['89459872', -1], ['894582d082b6', -3], ['89458ee88ef1', -5]];
const pmd = Buffer.alloc(3 + 4 + 20 + 256 + 12 + 2 + 39 * bones.length + 2);
pmd.write('Pmd', 0, 'latin1'), pmd.writeFloatLE(1, 3), Buffer.from('837e834e', 'hex').copy(pmd, 7);
pmd.writeUInt16LE(bones.length, 295);
bones.forEach(([name, x], i) => {
  Buffer.from(name, 'hex').copy(pmd, 297 + 39 * i);
  pmd.writeFloatLE(x, 324 + 39 * i), pmd.writeFloatLE(15 - Math.abs(x) / 2, 328 + 39 * i);
});
fs.writeFileSync(file('model.pmd'), pmd);

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.css': 'text/css', '.svg': 'image/svg+xml' };
const missing = [];
const server = http.createServer((req, res) => {
  const f = path.join(web, req.url === '/' ? 'index.html' : req.url);
  fs.readFile(f, (err, data) => {
    if (err) return missing.push(req.url), res.writeHead(404).end();
    const type = types[path.extname(f)] || 'application/octet-stream';
    res.writeHead(200, { 'Content-Type': type }).end(data);
  });
}).listen(0, '127.0.0.1');
let [passed, failed] = [0, 0];
const check = (ok, what) => {
  ok ? passed++ : failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
};
const text = (page, sel) => page.$eval(sel, (e) => (e.closest('[hidden]') ? '' : e.textContent));
const set = (page, sel, value) => page.$eval(sel, (e, v) => {
  if (e.type === 'checkbox' || e.type === 'radio') e.checked = v; else e.value = v;
  e.dispatchEvent(new Event('input')), e.dispatchEvent(new Event('change'));
}, value);

// Opens the page, adds files (one upload per list), sets fields, converts if asked.
async function open(browser, { uploads = [], fields = {}, convert = false, japanese = false }) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  await page.evaluateOnNewDocument((ja) => {
    if (ja) Object.defineProperty(navigator, 'language', { get: () => 'ja-JP' });
    window.longTasks = [];
    const note = (l) => l.getEntries().forEach((e) =>
      window.longTasks.push([e.startTime, e.duration]));
    new PerformanceObserver(note).observe({ type: 'longtask' });
  }, japanese);
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  for (const names of uploads) {
    await (await page.$('#pick')).uploadFile(...names.map(file));
    await page.waitForFunction((n) => document.querySelectorAll('#chosen li').length >= n
      || document.getElementById('files-why').textContent, {}, names.length);
  }
  for (const [id, v] of Object.entries(fields)) await set(page, `#${id}`, v);
  if (!convert) return page;
  await page.evaluate(() => { window.longTasks.length = 0; });  // the batch's, not the loading's
  await page.click('#convert');
  await page.waitForFunction(() => window.torsel.state === 'done', { timeout: 120000 });
  return page;
}
const download = (page, sel) => page.$$eval(sel, (as) => Promise.all(as.map(async (a) =>
  [a.download, [...new Uint8Array(await (await fetch(a.href)).arrayBuffer())]])));
const native = (args, names) => childProcess.execFileSync(path.resolve(torsel),
  ['-ND', ...args, ...names], { env: { LC_ALL: 'C' }, cwd: work, maxBuffer: 1 << 28 });
// The preview's figure pixels (not background) with each figure shown alone, over each
// other: the union, and the share of it where only one figure stands.
const apart = (page) => page.evaluate(async () => {
  const mask = async (input, output) => {
    for (const [id, on] of [['show-input', input], ['show-output', output]]) {
      const box = Object.assign(document.getElementById(id), { checked: on });
      box.dispatchEvent(new Event('change'));
    }
    const since = window.torsel.preview.drawn;
    while (window.torsel.preview.drawn < since + 3) await new Promise((r) => setTimeout(r, 50));
    const c = document.getElementById('preview');
    const size = { width: c.width, height: c.height };
    const g = Object.assign(document.createElement('canvas'), size).getContext('2d');
    g.drawImage(c, 0, 0);
    const d = g.getImageData(0, 0, c.width, c.height).data;
    const off = (i, k, v) => Math.abs(d[4 * i + k] - v);  // from the background, #eef1f5
    return Array.from({ length: d.length / 4 },
      (_, i) => off(i, 0, 238) + off(i, 1, 241) + off(i, 2, 245) > 40);
  };
  const [a, b] = [await mask(true, false), await mask(false, true)];
  await mask(true, true);
  const either = a.filter((x, i) => x || b[i]).length;
  return { figure: either, apart: a.filter((x, i) => x !== b[i]).length / Math.max(1, either) };
});

(async () => {
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--no-first-run', '--disable-background-networking', '--disable-sync'] });
  try {
    // Each output and each console text the native build's bytes; the zip's entries too.
    const page = await open(browser, { uploads: [['model.pmd'], ['sample.vmd', 'hostile.vmd']],
      fields: { keep: '0.5' }, convert: true });
    await page.screenshot({ path: path.join(shots, 'converted.png'), fullPage: true });
    const files = Object.fromEntries(await download(page, '#results a'));
    for (const [i, name] of ['sample', 'hostile'].entries()) {
      const out = native(['-M12', '-F0', '-T9999999', '-K5'], ['model.pmd', `${name}.vmd`]);
      const cnv = `${name}-cnv.vmd`;
      check(Buffer.from(files[cnv]).equals(fs.readFileSync(file(cnv))),
        `${cnv}: the native build's bytes`);
      await page.select('#console-file', `${i}`);
      const [[, shown]] = await download(page, '#console-whole');
      check(Buffer.from(shown).equals(out), `${name}: the whole console text, the native bytes`);
    }
    check(/model "ミク"/.test(await text(page, '#chosen')), "the PMD model's name, Shift-JIS");
    check(/and 4[0-9]{2},[0-9]{3} more lines/.test(await text(page, '#console-more')),
      'the hostile motion: its console shown capped, the rest counted');
    // The zip as the browser saves it, read by Python's zipfile: entries whole, dated today.
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: work });
    await page.click('#zip');
    for (let i = 0; i < 100 && !fs.existsSync(file('torsel-cnv.zip')); i++) await sleep(100);
    const read = 'import sys,zipfile;z=zipfile.ZipFile(sys.argv[1]);z.testzip()\n'
      + 'for i in z.infolist(): print(i.filename,"%d-%d-%d" % i.date_time[:3],i.file_size)';
    const listed = `${childProcess.execFileSync('python3', ['-c', read, file('torsel-cnv.zip')])}`;
    const d = new Date(), today = `${d.getFullYear()}-${d.getMonth() + 1}-${d.getDate()}`;
    const entry = (n) => `${n}-cnv.vmd ${today} ${files[`${n}-cnv.vmd`].length}\n`;
    const want = ['sample', 'hostile'].map(entry);
    check(listed === want.join(''), `the zip: both outputs, whole, dated today (${want.length})`);
    await page.close();

    // Every bad input says why, beside its field or the button, and Convert waits.
    const bad = [  // [what, files, fields, where, reason, Convert disabled]
      ['To frame empty', ['sample.vmd'], { to: '' }, '#to-why', 'Enter a number.', true],
      ['From negative', ['sample.vmd'], { from: '-5' }, '#from-why', 'Must be 0 or more.', true],
      ['From after To', ['sample.vmd'], { from: '20', to: '10' }, '#from-why',
        'Must not be after "To frame".', true],
      ['From fractional', ['sample.vmd'], { from: '2.5' }, '#from-why', 'Must be a whole number.',
        true],
      ['keep finer than 0.1°', ['sample.vmd'], { keep: '0.25' }, '#keep-why', 'In steps of 0.1°.',
        true],
      ['keep with mode 8', ['sample.vmd'], { mode: '8' }, '#keep-modes',
        'Keeping the motion needs mode 4 or 12, or fold back.', false],
      ['the wrist with fold back', ['sample.vmd'], { wrist: true, fold: true }, '#wrist-why',
        'Not together with fold back.', true],
      ['a text file', ['notes.txt'], {}, '#files-why',
        'notes.txt: not a motion or a model (.vmd, .pmx, .pmd), left out', true],
      ['a model alone', ['mannequin.pmx'], {}, '#convert-why', 'Add a motion (.vmd) to convert.',
        true],
    ];
    for (const [what, uploads, fields, where, reason, disabled] of bad) {
      const p = await open(browser, { uploads: [uploads], fields });
      const shown = await text(p, where);
      const waits = await p.$eval('#convert', (b) => b.disabled);
      check(shown === reason && waits === disabled, `${what}: "${shown}"`);
      if (what === 'From after To') await p.screenshot({ path: path.join(shots, 'bad.png') });
      if (what === 'a model alone') {
        const named = /model "Torsel マネキン"/.test(await text(p, '#chosen'));
        check(named, "the PMX model's name, from its UTF-16");
      }
      await p.close();
    }
    const failing = await open(browser, { uploads: [['bad.vmd']], convert: true });
    const said = await text(failing, '#results li span');
    check(/failed: Illegal file format at 000003=\(78\)/.test(said), `a bad file: "${said}"`);
    await failing.close();
    const added = await open(browser, { uploads: [['model.pmd'], ['sample.vmd']] });
    await added.click('#chosen button');
    const left = await added.$$eval('#chosen li', (li) => li.map((e) => e.firstChild.textContent));
    check(left.join() === 'sample.vmd — motion', 'files added, not replaced, each removable');
    await added.close();
    const ja = await open(browser, { uploads: [['sample.vmd']], convert: true, japanese: true });
    check(await text(ja, '#convert') === '変換' && /つのファイル, 合計/.test(await text(ja, '#console')),
      'the Japanese page, the program speaking Japanese');
    check(/捩りボーン/.test(await text(ja, '#results')), 'the twist-keyframes warning in Japanese');
    await ja.screenshot({ path: path.join(shots, 'japanese.png'), fullPage: true });
    await ja.close();
    const disk = await browser.newPage();
    await disk.goto(`file://${path.resolve(web, 'index.html')}`);
    check(/python3 -m http\.server/.test(await text(disk, '#from-disk')),
      'opened from disk: how to serve it');
    await disk.close();

    // Eight real-sized motions, one printing half a million lines: no long task on the page.
    const eight = ['dance.vmd', 'hostile.vmd'];
    for (const s of [2, 3, 4]) eight.push(`dance${s}.vmd`, `large${s}.vmd`);
    const batch = await open(browser, { uploads: [eight], convert: true });
    const t = await batch.evaluate(() => ({ ...window.torsel, longTasks: window.longTasks }));
    const tasks = (after) => t.longTasks.filter(([at]) => (at >= t.convertedAt) === after)
      .map(([, ms]) => ms | 0);
    console.log(`     8 motions: converted in ${t.batchMs | 0} ms, charted by ${t.chartsMs | 0} ms`
      + `, long tasks during the conversions [${tasks(false)}], then [${tasks(true)}]`);
    const converted = (await batch.$$('#results .converted')).length;
    check(tasks(false).every((ms) => ms <= 100) && converted === 8,
      'a batch of 8 with no main-thread task over 100 ms');
    await batch.close();

    // The preview: the untwisted dance on the mannequin given as the user's model, plain
    // then kept, at the frame where the plain conversion is worst.
    const shown = {};
    for (const keep of ['0', '0.5']) {
      const uploads = [['mannequin.pmx', 'untwisted.vmd']];
      const p = await open(browser, { uploads, fields: { keep }, convert: true });
      shown.on = await text(p, '#preview-on');
      shown.frame ??= Number((await text(p, '#chart-summary')).match(/worst at frame (\d+)/)[1]);
      await p.$eval('#chart .u-over', (e) => e.scrollIntoView());  // the chart picks the frame too
      const box = await (await p.$('#chart .u-over')).boundingBox();
      await p.mouse.click(box.x + box.width / 2, box.y + box.height / 2), await sleep(300);
      shown.picked = await p.$eval('#frame', (e) => Number(e.value));
      await set(p, '#frame', shown.frame), await set(p, 'input[value=overlay]', true);
      shown[keep] = await apart(p);
      const area = await p.$('#preview-area');
      const shot = (name) => area.screenshot({ path: path.join(shots, name) });
      await shot(`preview-overlay-keep${keep}.png`);
      await set(p, 'input[value=side]', true), await sleep(300);
      await shot(`preview-side-keep${keep}.png`);
      await p.click('#play'), await sleep(3000);
      const v = await p.evaluate(() => ({ ...window.torsel.preview, at: window.torsel.convertedAt,
        size: ['width', 'height'].map((k) => document.getElementById('preview')[k]) }));
      console.log(`     keep ${keep}: frame ${shown.frame}, ${shown[keep].figure} figure pixels, `
        + `${(100 * shown[keep].apart).toFixed(1)} % apart;`
        + ` first frame ${v.firstFrameTime - v.at | 0} ms`
        + ` after the conversions, then ${v.fps.toFixed(1)} fps playing at ${v.size.join('x')}`);
      await p.close();
    }
    check(shown['0'].figure > 20000 && shown.on === 'Shown on model "Torsel マネキン".',
      `the preview draws the model: "${shown.on}"`);
    check(shown['0'].apart > 0.01 && shown['0.5'].apart < shown['0'].apart / 3,
      'the figures part where the plain conversion is far off, and coincide with keep');
    check(shown.picked > 2000 && shown.picked < 4000, `a click mid-chart: frame ${shown.picked}`);
    check(missing.length === 0, `no 404 (${missing.join(' ')})`);
  } finally {
    await browser.close(), server.close(), fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
