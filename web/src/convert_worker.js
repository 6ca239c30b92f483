// Converts in the background, so that the page never freezes: one fresh
// module per conversion (the program keeps process-wide state) over a
// WebAssembly module compiled once, the files in its memory under their
// Shift-JIS names, the console text, the written files and the program's
// own record of the run sent back: what a run did is read from that record,
// never from the text. The page gets what the program says to the user as a
// few lines and the whole bytes for download, never a long text to lay out.
import { cutShort, isPose, lastFrame, playable, poseAsMotion } from './vmd.js';
import { fsName, outputName, shiftJis } from './names.js';

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
    length: () => length,
    take: () => bytes.slice(0, length),
  };
}

// main's arguments as the bytes given (a string as UTF-8): callMain would send every one
// as UTF-8, and the program reads a file's name in Shift-JIS.
function callMain(m, args) {
  const all = ['./this.program', ...args].map((a) => (typeof a === 'string' ? new TextEncoder().encode(a) : a));
  const argv = m.stackAlloc(4 * (all.length + 1));
  all.forEach((a, i) => {
    const at = m.stackAlloc(a.length + 1);
    m.HEAPU8.set(a, at), m.HEAPU8[at + a.length] = 0;
    m.HEAP32[(argv >> 2) + i] = at;
  });
  m.HEAP32[(argv >> 2) + all.length] = 0;
  try {
    return m._main(all.length, argv);
  } catch (e) {
    if (e && e.name === 'ExitStatus') return e.status;  // exit() called
    throw e;
  }
}

// What the run did, as the program itself records it (torsel's run record), or null.
function record(m) {
  if (!m._torselRunRecord) return null;
  const at = m._torselRunRecord(), end = m.HEAPU8.indexOf(0, at);
  return JSON.parse(new TextDecoder().decode(m.HEAPU8.subarray(at, end)));
}

// Runs a module's main on files in /work (each { name, bytes }, a name's bytes in `path`
// where the program is to read it so); returns its status, console bytes, files written
// and its run record.
async function run(create, wasm, args, files, env) {
  const module = await compile(wasm), out = sink();
  const m = await create({
    instantiateWasm: (imports, done) => { WebAssembly.instantiate(module, imports).then((i) => done(i, module)); return {}; },
    preRun: [(mod) => { Object.assign(mod.ENV || {}, env); mod.FS.init(() => null, out.put, out.put); }],
    consoleBytes: out.length,
  });
  // Standard output and error by blocks, not a call per byte: some runs print megabytes.
  for (const fd of [1, 2]) m.FS.getStream(fd).stream_ops.write = out.write;
  m.FS.mkdir('/work');
  m.FS.chdir('/work');
  const names = files.map((f) => (f.path ? fsName(f.path) : f.name));
  files.forEach((f, i) => m.FS.writeFile(names[i], f.bytes));
  const status = callMain(m, args);
  const written = m.FS.readdir('/work').filter((n) => n !== '.' && n !== '..' && !names.includes(n))
    .map((n) => ({ name: n, bytes: m.FS.readFile(n) }));
  return { status, console: out.take(), written, record: record(m) };
}

// What playback_eval prints per frame (two figures a frame, after the frame's number), asked
// with `words`, on the model in use, whose fixed axes the player follows.
async function perFrame(input, output, model, words) {
  const named = model && { name: /\.pmd$/i.test(model.name) ? 'model.pmd' : 'model.pmx', bytes: model.bytes };
  const files = [{ name: 'in.vmd', bytes: input }, { name: 'out.vmd', bytes: output }, ...(named ? [named] : [])];
  const args = [...(named ? [named.name] : []), 'in.vmd', 'out.vmd', ...words];
  const r = await run(createEval, 'playback_eval.wasm', args, files, {});
  const rows = new TextDecoder().decode(r.console).split('\n').map((l) => l.split(' ').map(Number)).filter((v) => v.length === 3);
  const figures = [new Float32Array(rows.length), new Float32Array(rows.length)];
  rows.forEach(([, a, b], i) => { figures[0][i] = a, figures[1][i] = b; });
  return figures;
}

// The wrists' deviation at every frame, the worse of the two: 手首 as it turns in the world,
// the hand the user sees (with -W the forearm turns beneath it).
async function wrist(input, output, model) {
  const [left, right] = await perFrame(input, output, model, ['frames']);
  return left.map((v, i) => Math.max(v, right[i]));
}

// Thinned: the worst chain the bound answers for (the arm; the elbow where the elbows are
// converted, the hand with -W), and the worst bone outside them, each bone on its own.
function chains(input, output, model, options) {
  const wrists = options.includes('-W'), elbows = !wrists && Number(options.find((o) => o.startsWith('-M')).slice(2)) >= 8;
  return perFrame(input, output, model, ['chains', ...(elbows ? ['elbows'] : []), ...(wrists ? ['hands'] : [])]);
}

// The model's refusal as the run recorded it, or null.
const modelFailure = (model) => model && { kind: 'model', bone: model.bone,
  why: model.noDirection ? 'noAxis' : model.bone ? 'noBone' : model.reason };

// Why a run failed, from its record: the kind the page words in its language.
function failure(status, run, bytes) {
  if (run.model) return modelFailure(run.model);
  const file = run.files[0] || {};
  let kind = file.refusal || { 1: 'options', 2: file.pose ? 'pose' : 'format', 4: 'write', [-1]: 'read' }[status];
  // A file of another kind under a motion's name: said as what it is.
  const head = String.fromCharCode(...bytes.subarray(0, 24));
  if (kind === 'format') kind = /^(PMX |Pmd)/.test(head) ? 'isModel' : /^Vocaloid Pose Data/.test(head) ? 'isPose' : kind;
  return { kind: kind || 'status', status };
}

// What the program says to its user, line by line, up to HEAD_LINES: the
// options it echoes left out (the page shows them in its fields; the record
// says where they stand) and a line said again and again once with its
// count. `more`: the lines of the program's text after those.
function told(bytes, lines, [echoFrom, echoTo]) {
  const decoder = new TextDecoder('shift_jis'), said = [];
  let at = 0, read = 0;
  while (at < bytes.length) {
    const newline = bytes.indexOf(10, at), end = newline < 0 ? bytes.length : newline;
    const text = decoder.decode(bytes.subarray(at, end)), last = said[said.length - 1];
    if (last && last.text === text) {
      if (text.trim()) last.times++;  // blank lines run together unsaid
    } else if (!(at >= echoFrom && end < echoTo)) {
      if (said.length === HEAD_LINES) break;
      said.push({ text, times: 1 });
    }
    at = end + 1, read++;
  }
  return { said, more: lines - read };
}

const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);

// The page hands over files, not their bytes: nothing large is copied on its thread.
// `path`: the name in Shift-JIS, as the program is given it.
const read = async (file) => ({ name: file.name, path: shiftJis(file.name),
  bytes: new Uint8Array(await file.arrayBuffer()) });

// The exit statuses that still write the output: a motion cut short, a bound not held.
const STATES = { 0: 'converted', 5: 'cut', 6: 'unheld' };
// The console's language and code page: the page's language, Shift-JIS.
const locale = (japanese) => ({ LC_ALL: japanese ? 'ja_JP.SJIS' : 'en_US.SJIS' });
// -K and -S mean nothing for a pose (one frame): not given, so that its run says nothing of them.
const optionsFor = (name, options) => (isPose(name) ? options.filter((o) => !/^-[KS]/.test(o)) : options);

// Three jobs: check a model against the options (said when it is added);
// convert a motion (the report the page lists); then, once every motion of
// the batch is converted, chart it (the worse wrist's deviation).
const jobs = {
  async model({ token, model: modelFile, options }) {
    const model = await read(modelFile);
    const r = await run(createTorsel, 'torsel.wasm', ['-ND', ...options, model.path], [model], locale(false));
    postMessage({ token, failure: modelFailure(r.record.model) });
  },
  async convert({ index, motion: motionFile, model: modelFile, options, japanese }) {
    const [motion, model] = await Promise.all([read(motionFile), modelFile && read(modelFile)]);
    const args = ['-ND', ...optionsFor(motion.name, options), ...(model ? [model.path] : []), motion.path];
    const result = await run(createTorsel, 'torsel.wasm', args, model ? [motion, model] : [motion], locale(japanese));
    const [output] = result.written;  // the temporary file is gone by now
    const bytes = result.console;
    let lines = 0, headEnd = bytes.length;
    for (let i = bytes.indexOf(10); i >= 0; i = bytes.indexOf(10, i + 1)) if (++lines === HEAD_LINES) headEnd = i;
    if (bytes.length && bytes[bytes.length - 1] !== 10) lines++;
    const file = result.record.files[0];
    const report = {
      index, name: motion.name, status: result.status, console: new Blob([bytes], { type: 'text/plain' }),
      output: output && { name: outputName(motion.name), blob: new Blob([output.bytes]) },
      // The program's own first lines, behind the file's line; what it said to the user.
      head: new TextDecoder('shift_jis').decode(bytes.subarray(0, headEnd)),
      ...told(bytes, lines, result.record.echoes),
      state: !output || !STATES[result.status] ? 'failed'
        : result.status ? STATES[result.status]
          : same(output.bytes, motion.bytes) ? 'unchanged' : 'converted',
      // Twist bones the motion keyed itself in the range, beside the conversion's own.
      twistKeyed: !!file && file.pairs.some((p) => p.keyedAlready > 0),
      // The chains the bound was not held on (with how far the players that bisect the curve
      // misread the input itself there).
      beyond: file ? file.chains.filter((c) => !c.within) : [],
      // Thinned (-S): keyframes in and out, the worst of the bones it wrote, frames beyond.
      thin: file ? file.thin : null,
    };
    if (report.state === 'failed') report.failure = failure(result.status, result.record, motion.bytes);
    if (report.state === 'cut') report.cut = cutShort(motion.bytes);
    postMessage(report);
  },
  // With "keep" or "thin", the plain conversion's deviation beside the kept one's; thinned,
  // the chains the bound answers for and the other bones. A pose is measured as a motion of
  // one frame; "keep" and "thin" leave it as it is.
  async chart({ index, motion: motionFile, model: modelFile, options, output: outputBlob }) {
    const [motion, model] = await Promise.all([read(motionFile), modelFile && read(modelFile)]);
    const pose = isPose(motion.name);
    let output = new Uint8Array(await outputBlob.arrayBuffer());
    if (pose) motion.bytes = poseAsMotion(motion.bytes), output = poseAsMotion(output);
    else motion.bytes = playable(motion.bytes).bytes;  // a motion cut short: what it holds
    const keep = !pose && options.some((o) => /^-[KS][1-9]/.test(o));
    const thin = !pose && options.some((o) => /^-S[1-9]/.test(o));
    let plain = output;
    if (keep) {
      const args = ['-ND', ...options.filter((o) => !/^-[KS]/.test(o)), ...(model ? [model.path] : []), motion.path];
      plain = (await run(createTorsel, 'torsel.wasm', args, model ? [motion, model] : [motion], locale(false))).written[0]?.bytes;
    }
    const chart = { fold: options.includes('-U'), thin, pose, frames: lastFrame(motion.bytes) + 1 };
    if (thin) {
      [chart.plain] = plain ? await chains(motion.bytes, plain, model, options) : [null];
      [chart.kept, chart.bones] = await chains(motion.bytes, output, model, options);
    } else {
      chart.plain = plain && await wrist(motion.bytes, plain, model);
      chart.kept = keep ? await wrist(motion.bytes, output, model) : null;
    }
    postMessage({ index, chart });
  },
};

onmessage = ({ data }) => jobs[data.job](data);
compile('torsel.wasm'), compile('playback_eval.wasm');  // ready before the first file comes
