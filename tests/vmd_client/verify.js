#!/usr/bin/env node
'use strict';
// Converts motions with Torsel and reads every input and output back with
// three.js's VMD reader (mmd-parser): it must accept each output with the
// counts of the output's header; every record Torsel did not touch reads
// back as in the input, and every inserted twist keyframe stands at its
// frame with the rotation Torsel reported at display level 1.
//   node verify.js TORSEL SAMPLE.vmd
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

let Parser;
try {
  ({ Parser } = require('mmd-parser'));
} catch (e) {
  console.log('mmd-parser is not installed (npm ci in tests/vmd_client): skipped');
  process.exit(77);
}
const readVmd = (file) => { const b = fs.readFileSync(file); return new Parser().parseVmd(b.buffer.slice(b.byteOffset, b.byteOffset + b.length)); };
const [torsel, samplePath] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-client-'));
const SJIS = { '左腕': '8db69872', '左腕捩': '8db698729d80', '右腕': '89459872', '左ひじ': '8db682d082b6', '左手捩': '8db68ee89d80', 'センター': '835a8393835e815b' };
const TWISTS = new Set(['左腕捩', '右腕捩', '左手捩', '右手捩']);

// bones [name, frame, [x,y,z,w]], morphs [name, frame, weight], cameras [frame, distance]
function buildVmd(bones, morphs, cameras) {
  const count = (n) => { const c = Buffer.alloc(4); c.writeUInt32LE(n); return c; };
  const header = Buffer.alloc(50);
  header.write('Vocaloid Motion Data 0002', 0, 'latin1');
  const parts = [header, count(bones.length)];
  bones.forEach(([name, frame, rot], i) => {
    const r = Buffer.alloc(111);
    Buffer.from(SJIS[name], 'hex').copy(r, 0);
    r.writeUInt32LE(frame, 15);
    r.writeFloatLE(0.5 * i, 19);
    rot.forEach((v, k) => r.writeFloatLE(v, 31 + 4 * k));
    for (let row = 0; row < 4; row++) for (let k = 0; k + row < 16; k++) r[47 + 16 * row + k] = k + row < 8 ? 20 : 107;
    parts.push(r);
  });
  parts.push(count(morphs.length), ...morphs.map(([name, frame, weight]) => {
    const m = Buffer.alloc(23);
    m.write(name, 0, 'latin1');
    m.writeUInt32LE(frame, 15);
    m.writeFloatLE(weight, 19);
    return m;
  }), count(cameras.length), ...cameras.map(([frame, distance]) => {
    const c = Buffer.alloc(61);
    c.writeUInt32LE(frame, 0);
    c.writeFloatLE(distance, 4);
    c.fill(20, 32, 56);
    c.writeUInt32LE(30, 56);
    return c;
  }), Buffer.alloc(8));
  return Buffer.concat(parts);
}
const turn = (x, y, z, a) => { const s = Math.sin(a / 2) / Math.hypot(x, y, z); return [x * s, y * s, z * s, Math.cos(a / 2)]; };

const sample = fs.readFileSync(samplePath);
const scenarios = [0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13].map((mode) => ({ name: `sample -M${mode}`, input: sample, options: [`-M${mode}`] }));
// Kept motions are rewritten pair by pair: the reader must take them and their counts.
scenarios.push(...['-K5', '-K2 -M4 -F10 -T25', '-U -M1', '-U -K5 -F5'].map((k) => ({ name: `sample ${k}`, input: sample, options: k.split(' '), kept: true })));
scenarios.push({
  name: 'frame range with a start-frame merge',
  input: buildVmd([['センター', 5, [0, 0, 0, 1]], ['左腕', 5, turn(1, 0.3, 0, 0.8)], ['左腕', 10, turn(0.8, -0.6, 0.1, 0.7)],
    ['左腕捩', 10, turn(0.8, -0.6, 0, 0.2)], ['左ひじ', 10, turn(1, 0, 0.2, 0.5)], ['左手捩', 10, turn(0.8, -0.6, 0, 0.1)],
    ['右腕', 20, turn(0.3, 1, 0.1, 0.6)], ['左腕', 40, turn(0, 0, 1, 0.4)], ['左腕', 41, turn(0, 0, 1, 0.4)]], [['a', 10, 0.5]], []),
  options: ['-F10', '-T40'],
}, {
  name: 'camera data',
  input: buildVmd([['左腕', 0, turn(1, 0, 0, 0.3)], ['右腕', 3, turn(0, 1, 0, 0.3)]], [['a', 1, 1]], [[0, -45], [30, -30]]),
  options: [],
});

const same = (a, b) => a.length === b.length && Array.from(a).every((v, i) => Object.is(v, b[i]));
const sameRecord = (a, b) => a.boneName === b.boneName && a.frameNum === b.frameNum && ['position', 'rotation', 'interpolation'].every((f) => same(a[f], b[f]));

function check(scenario) {
  const inPath = path.join(work, 'motion.vmd');
  const outPath = path.join(work, 'motion-cnv.vmd');
  fs.writeFileSync(inPath, scenario.input);
  const run = childProcess.spawnSync(torsel, ['-ND', '-D1', ...scenario.options, inPath], { env: { ...process.env, LC_ALL: 'C' }, encoding: 'latin1' });
  if (run.status !== 0) return `torsel exited with ${run.status}`;
  const exported = [...run.stdout.matchAll(/ {2}=> exporting to .*? x-rot \(X,Y,Z,W\) = (\S+) (\S+) (\S+) (\S+) \n/g)].map((m) => m.slice(1, 5).map(Number));
  const input = readVmd(inPath);
  let output;
  try {
    output = readVmd(outPath);
  } catch (e) {
    return `the reader rejects the output: ${e}`;
  }
  const bytes = fs.readFileSync(outPath);
  const morphAt = 54 + 111 * bytes.readUInt32LE(50);
  const counts = [bytes.readUInt32LE(50), bytes.readUInt32LE(morphAt), bytes.readUInt32LE(morphAt + 4 + 23 * bytes.readUInt32LE(morphAt))];
  const m = output.metadata;
  if (![m.motionCount, m.morphCount, m.cameraCount, output.motions.length, output.morphs.length, output.cameras.length].every((v, i) => v === counts[i % 3])) return 'counts differ';
  if (JSON.stringify([output.morphs, output.cameras]) !== JSON.stringify([input.morphs, input.cameras])) return 'morphs or cameras differ';
  if (scenario.kept) return null;
  let [i, k] = [0, 0];
  const [ins, outs] = [input.motions, output.motions];
  for (let j = 0; j < outs.length;) {
    const [o, src] = [outs[j], ins[i]];
    if (src && sameRecord(o, src)) {
      [i, j] = [i + 1, j + 1];
    } else if (src && TWISTS.has(o.boneName) && o.frameNum === src.frameNum && outs[j + 1] && outs[j + 1].boneName === src.boneName) {
      // %g keeps six significant digits.
      if (!exported[k] || !exported[k].every((v, c) => Math.abs(v - o.rotation[c]) <= 6e-6 * Math.max(Math.abs(v), 1e-30))) return `twist ${o.boneName} at ${o.frameNum} not as reported`;
      if (!same(o.position, src.position) || !same(outs[j + 1].position, src.position)) return `positions changed at ${src.frameNum}`;
      [i, j, k] = [i + 1, j + 2, k + 1];
    } else if (src && TWISTS.has(src.boneName)) {
      i++;  // an existing twist keyframe merged into the inserted one
    } else {
      return `unexpected record ${o.boneName} at ${o.frameNum}`;
    }
  }
  if (i !== ins.length || k !== exported.length) return 'records left over';
  return null;
}

let failed = 0;
for (const scenario of scenarios) {
  const problem = check(scenario);
  failed += problem ? 1 : 0;
  console.log(problem ? `FAIL ${scenario.name}: ${problem}` : `ok   ${scenario.name}`);
}
fs.rmSync(work, { recursive: true, force: true });
console.log(`${scenarios.length - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
