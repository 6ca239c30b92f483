'use strict';
// Converts in the background, so that the page never freezes: one fresh
// module per conversion (the program keeps process-wide state) over a
// WebAssembly module compiled once, the files in its memory, the console
// text and the written files sent back. The page gets the console's first
// lines as text and the whole bytes for download, never a long text to lay out.
importScripts('torsel.js', 'playback_eval.js');

const HEAD_LINES = 60;
const compiled = {};
const compile = (file) => (compiled[file] ||= fetch(file).then((r) => r.arrayBuffer()).then((b) => WebAssembly.compile(b)));

// A growing byte buffer for the console, written a block at a time.
function sink() {
  let bytes = new Uint8Array(1 << 16), length = 0;
  const room = (n) => {
    if (length + n <= bytes.length) return;
    const b = new Uint8Array(Math.max(bytes.length * 2, length + n));
    b.set(bytes.subarray(0, length));
    bytes = b;
  };
  return {
    put(c) { if (c !== null) room(1), bytes[length++] = c & 0xFF; },  // null: a flush, not a byte
    write(stream, buffer, offset, n) { room(n), bytes.set(buffer.subarray(offset, offset + n), length), length += n; return n; },
    take: () => bytes.slice(0, length),
  };
}

// Runs a module's main on files in /work; returns its status, console bytes and files written.
async function run(create, wasm, args, files, env) {
  const module = await compile(wasm), out = sink();
  const m = await create({
    instantiateWasm: (imports, done) => { WebAssembly.instantiate(module, imports).then((i) => done(i, module)); return {}; },
    preRun: [(mod) => { Object.assign(mod.ENV || {}, env); mod.FS.init(() => null, out.put, out.put); }],
  });
  // Standard output and error by blocks, not a call per byte: some runs print megabytes.
  for (const fd of [1, 2]) m.FS.getStream(fd).stream_ops.write = out.write;
  m.FS.mkdir('/work');
  m.FS.chdir('/work');
  for (const f of files) m.FS.writeFile(f.name, f.bytes);
  const status = m.callMain(args);
  const written = m.FS.readdir('/work').filter((n) => n !== '.' && n !== '..' && !files.some((f) => f.name === n))
    .map((n) => ({ name: n, bytes: m.FS.readFile(n) }));
  return { status, console: out.take(), written };
}

// The wrists' deviation at every frame, the worse of the two, as playback_eval prints it.
// On the model in use, whose fixed axes the player follows.
async function wrist(input, output, model) {
  const files = [{ name: 'in.vmd', bytes: input }, { name: 'out.vmd', bytes: output }, ...(model ? [model] : [])];
  const args = [...(model ? [model.name] : []), 'in.vmd', 'out.vmd', 'frames'];
  const r = await run(createEval, 'playback_eval.wasm', args, files, {});
  const rows = new TextDecoder().decode(r.console).split('\n').map((l) => l.split(' ').map(Number)).filter((v) => v.length === 3);
  const worse = new Float32Array(rows.length);
  rows.forEach(([, left, right], i) => { worse[i] = Math.max(left, right); });
  return worse;
}

// Why a run failed, in the program's words: the line before "Error code",
// else the last line it printed before its summary.
function failure(lines) {
  const e = lines.findIndex((l) => l.startsWith('Error code'));
  if (e > 0) return `${lines[e - 1].trim()} (${lines[e].trim()}${(lines[e + 1] || '').trimEnd()})`;
  const said = lines.filter((l) => l.trim() && !/^(Torsel |Cancel\.|Conv\.mode = |Keep\.motion = )/.test(l));
  return said.length ? said[said.length - 1].trim() : '';
}

// "」データがある", the start of that warning, in Shift-JIS.
const TWIST_KEYED = [0x81, 0x76, 0x83, 0x66, 0x81, 0x5B, 0x83, 0x5E, 0x82, 0xAA, 0x82, 0xA0, 0x82, 0xE9];
function includes(bytes, part) {
  for (let i = bytes.indexOf(part[0]); i >= 0; i = bytes.indexOf(part[0], i + 1)) {
    if (part.every((b, k) => bytes[i + k] === b)) return true;
  }
  return false;
}
const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);

// The page hands over files, not their bytes: nothing large is copied on its thread.
const read = async (file) => ({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });

// Two jobs: convert a motion (the report the page lists), then, once every
// motion of the batch is converted, chart it (the worse wrist's deviation).
const jobs = {
  async convert({ index, motion: motionFile, model: modelFile, options, japanese }) {
    const [motion, model] = await Promise.all([read(motionFile), modelFile && read(modelFile)]);
    const args = ['-ND', ...options, ...(model ? [model.name] : []), motion.name];
    const result = await run(createTorsel, 'torsel.wasm', args, model ? [motion, model] : [motion], { LC_ALL: japanese ? 'ja_JP.SJIS' : 'C' });
    const output = result.written.find((f) => f.name.endsWith('-cnv.vmd'));
    const bytes = result.console;
    let lines = 0, headEnd = bytes.length;
    for (let i = bytes.indexOf(10); i >= 0; i = bytes.indexOf(10, i + 1)) if (++lines === HEAD_LINES) headEnd = i;
    const decode = (b) => new TextDecoder('shift_jis').decode(b);
    const report = {
      index, name: motion.name, status: result.status, console: new Blob([bytes], { type: 'text/plain' }),
      output: output && { name: output.name, blob: new Blob([output.bytes]) },
      head: decode(bytes.subarray(0, headEnd)), lines: lines + (bytes.length && bytes[bytes.length - 1] !== 10 ? 1 : 0),
      // The program says it only in Japanese: a twist bone already keyed.
      twistKeyed: includes(bytes, TWIST_KEYED),
      state: !output || result.status !== 0 ? 'failed' : same(output.bytes, motion.bytes) ? 'unchanged' : 'converted',
    };
    if (report.state === 'failed') report.reason = failure(decode(bytes).split('\n'));
    postMessage(report);
  },
  // With "keep", the plain conversion's deviation beside the kept one's.
  async chart({ index, motion: motionFile, model: modelFile, options, output: outputBlob }) {
    const [motion, model] = await Promise.all([read(motionFile), modelFile && read(modelFile)]);
    const output = new Uint8Array(await outputBlob.arrayBuffer());
    const keep = options.some((o) => /^-K[1-9]/.test(o));
    let plain = output;
    if (keep) {
      const args = ['-ND', ...options.filter((o) => !o.startsWith('-K')), ...(model ? [model.name] : []), motion.name];
      plain = (await run(createTorsel, 'torsel.wasm', args, model ? [motion, model] : [motion], { LC_ALL: 'C' })).written[0]?.bytes;
    }
    const chart = { plain: plain && await wrist(motion.bytes, plain, model),
      kept: keep ? await wrist(motion.bytes, output, model) : null, fold: options.includes('-U') };
    postMessage({ index, chart });
  },
};

onmessage = ({ data }) => jobs[data.job](data);
compile('torsel.wasm'), compile('playback_eval.wasm');  // ready before the first file comes
