'use strict';
// The page: files in, options, a worker to convert, results out.
const $ = (id) => document.getElementById(id);
const japanese = navigator.language.toLowerCase().startsWith('ja');
const TEXT = {
  intro: 'MMD のモーション (VMD) の腕とひじの捩りを捩りボーンに移します。変換はこのページの中で行い、ファイルはどこにも送りません。',
  drop: 'ここにモーション (.vmd) と、必要ならモデル (.pmx / .pmd) をドロップ、または',
  mode: 'モード', from: '開始フレーム', to: '終了フレーム', keep: 'モーション保持 (0.1 度単位、0 で無効)',
  fold: '捩りを戻す', convert: '変換', zip: 'まとめてダウンロード (zip)',
};
if (japanese) {
  document.documentElement.lang = 'ja';
  document.querySelectorAll('[data-t]').forEach((e) => { e.textContent = TEXT[e.dataset.t]; });
}
for (const m of [12, 13, 11, 10, 9, 8, 4, 5, 3, 2, 1, 0]) $('mode').add(new Option(`-M${m}`, m));

let chosen = [];
const results = [];
function choose(files) {
  chosen = [...files];
  $('chosen').replaceChildren(...chosen.map((f) => Object.assign(document.createElement('li'), { textContent: f.name })));
  $('convert').disabled = !chosen.some((f) => /\.vmd$/i.test(f.name));
}
$('pick').onchange = (e) => choose(e.target.files);
$('drop').ondragover = (e) => { e.preventDefault(); $('drop').classList.add('over'); };
$('drop').ondragleave = () => $('drop').classList.remove('over');
$('drop').ondrop = (e) => { e.preventDefault(); $('drop').classList.remove('over'); choose(e.dataTransfer.files); };

$('convert').onclick = async () => {
  $('convert').disabled = true;
  const read = async (f) => ({ name: f.name, bytes: new Uint8Array(await f.arrayBuffer()) });
  const motions = await Promise.all(chosen.filter((f) => /\.vmd$/i.test(f.name)).map(read));
  const modelFile = chosen.filter((f) => /\.(pmx|pmd)$/i.test(f.name)).pop();
  const options = [`-M${$('mode').value}`, `-F${$('from').value}`, `-T${$('to').value}`];
  if (Number($('keep').value) > 0) options.push(`-K${$('keep').value}`);
  if ($('fold').checked) options.push('-U');
  results.length = 0;
  $('results').replaceChildren();
  $('console').textContent = '';
  $('chart').replaceChildren();
  Object.assign($('progress'), { hidden: false, max: motions.length, value: 0 });
  const worker = new Worker('worker.js');
  worker.postMessage({ motions, model: modelFile && await read(modelFile), options, japanese });
  worker.onerror = (e) => {  // never a blank page: say what stopped
    $('console').textContent += `${e.message}\n`;
    worker.onmessage({ data: { done: true } });
  };
  worker.onmessage = ({ data }) => {
    if (data.done) {
      worker.terminate();
      $('convert').disabled = false;
      $('progress').hidden = true;
      $('zip').hidden = results.length < 2;
      return;
    }
    $('progress').value = data.index + 1;
    // The program's own text, in Shift-JIS like every text it prints.
    $('console').textContent += new TextDecoder('shift_jis').decode(data.console) + '\n';
    const li = document.createElement('li');
    if (data.output) {
      results.push(data.output);
      const a = Object.assign(document.createElement('a'), { textContent: data.output.name, download: data.output.name });
      a.href = URL.createObjectURL(new Blob([data.output.bytes]));
      li.append(a);
    } else {
      li.className = 'failed';
      li.textContent = `${data.name}: ${japanese ? '変換できませんでした' : 'not converted'} (${data.status})`;
    }
    $('results').append(li);
    if (data.chart) plot(data.name, data.chart);
  };
};

// The wrists' deviation per frame, plain conversion and kept, in degrees.
function plot(name, { before, after }) {
  const frames = before.map((_, i) => i);
  new uPlot({
    title: name, width: Math.min(900, document.body.clientWidth), height: 260, scales: { x: { time: false } },
    axes: [{ label: japanese ? 'フレーム' : 'frame' }, { label: japanese ? '手首の誤差 (度)' : 'wrist off by (deg)' }],
    series: [{ label: japanese ? 'フレーム' : 'frame' }, { label: japanese ? '通常の変換 (度)' : 'plain conversion (deg)', stroke: '#c33' },
      { label: japanese ? 'モーション保持 (度)' : 'kept (deg)', stroke: '#36c' }],
  }, [frames, before, after], $('chart'));
}

// Several results as one zip (stored, no compression).
$('zip').onclick = () => {
  const crcTable = Array.from({ length: 256 }, (_, n) => { let c = n; for (let k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1; return c >>> 0; });
  const crc32 = (b) => { let c = 0xFFFFFFFF; for (const x of b) c = crcTable[(c ^ x) & 0xFF] ^ (c >>> 8); return (c ^ 0xFFFFFFFF) >>> 0; };
  const parts = [], central = [];
  let offset = 0;
  for (const { name, bytes } of results) {
    const n = new TextEncoder().encode(name), crc = crc32(bytes);
    const header = (sig, extra) => { const h = new DataView(new ArrayBuffer(extra)); h.setUint32(0, sig, true); return h; };
    const local = header(0x04034b50, 30);
    [[4, 20], [6, 0x800], [14, crc, 4], [18, bytes.length, 4], [22, bytes.length, 4], [26, n.length]].forEach(([at, v, w]) => (w === 4 ? local.setUint32(at, v, true) : local.setUint16(at, v, true)));
    const dir = header(0x02014b50, 46);
    [[4, 20], [6, 20], [8, 0x800], [16, crc, 4], [20, bytes.length, 4], [24, bytes.length, 4], [28, n.length], [42, offset, 4]].forEach(([at, v, w]) => (w === 4 ? dir.setUint32(at, v, true) : dir.setUint16(at, v, true)));
    parts.push(local, n, bytes);
    central.push(dir, n);
    offset += 30 + n.length + bytes.length;
  }
  const size = central.reduce((s, p) => s + p.byteLength, 0), end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054b50, true);
  [[8, results.length], [10, results.length], [12, size, 4], [16, offset, 4]].forEach(([at, v, w]) => (w === 4 ? end.setUint32(at, v, true) : end.setUint16(at, v, true)));
  const a = Object.assign(document.createElement('a'), { download: 'torsel-cnv.zip' });
  a.href = URL.createObjectURL(new Blob([...parts, ...central, end], { type: 'application/zip' }));
  a.click();
};
