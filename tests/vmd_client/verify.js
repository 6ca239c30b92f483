#!/usr/bin/env node
'use strict';
// Converts motions with Torsel and reads every input and output back with
// three.js's VMD reader (mmd-parser): the reader must accept each output,
// its counts must equal the counts in the output's header, every inserted
// twist keyframe must stand at its frame with the rotation Torsel reported
// at display level 1, and every record Torsel did not touch must read back
// as in the input.
//   node verify.js TORSEL SAMPLE.vmd
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

let readVmd;
try {
  ({ readVmd } = require('./read_vmd'));
} catch (e) {
  console.log('mmd-parser is not installed (npm ci in tests/vmd_client): skipped');
  process.exit(77);
}

const [torsel, samplePath] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-client-'));

// Shift-JIS names of the bones the scenarios use.
const SJIS = {
  '左腕': [0x8d, 0xb6, 0x98, 0x72],
  '左腕捩': [0x8d, 0xb6, 0x98, 0x72, 0x9d, 0x80],
  '右腕': [0x89, 0x45, 0x98, 0x72],
  '左ひじ': [0x8d, 0xb6, 0x82, 0xd0, 0x82, 0xb6],
  '左手捩': [0x8d, 0xb6, 0x8e, 0xe8, 0x9d, 0x80],
  'センター': [0x83, 0x5a, 0x83, 0x93, 0x83, 0x5e, 0x81, 0x5b],
};
const TWIST_BONES = new Set(['左腕捩', '右腕捩', '左手捩', '右手捩']);

// Writes a motion: bones [name, frame, [x,y,z,w]], morphs [name, frame,
// weight], cameras [frame, distance].
function buildVmd(bones, morphs, cameras) {
  const parts = [];
  const header = Buffer.alloc(54);
  header.write('Vocaloid Motion Data 0002', 0, 'latin1');
  header.write('model', 30, 'latin1');
  header.writeUInt32LE(bones.length, 50);
  parts.push(header);
  bones.forEach(([name, frame, rot], i) => {
    const r = Buffer.alloc(111);
    Buffer.from(SJIS[name]).copy(r, 0);
    r.writeUInt32LE(frame, 15);
    r.writeFloatLE(0.5 * i, 19);
    rot.forEach((v, k) => r.writeFloatLE(v, 31 + 4 * k));
    const p = [20, 20, 20, 20, 20, 20, 20, 20, 107, 107, 107, 107, 107, 107, 107, 107];
    for (let row = 0; row < 4; row++) for (let k = 0; k + row < 16; k++) r[47 + 16 * row + k] = p[k + row];
    parts.push(r);
  });
  const mc = Buffer.alloc(4);
  mc.writeUInt32LE(morphs.length, 0);
  parts.push(mc);
  morphs.forEach(([name, frame, weight]) => {
    const m = Buffer.alloc(23);
    m.write(name, 0, 'latin1');
    m.writeUInt32LE(frame, 15);
    m.writeFloatLE(weight, 19);
    parts.push(m);
  });
  const cc = Buffer.alloc(4);
  cc.writeUInt32LE(cameras.length, 0);
  parts.push(cc);
  cameras.forEach(([frame, distance]) => {
    const c = Buffer.alloc(61);
    c.writeUInt32LE(frame, 0);
    c.writeFloatLE(distance, 4);
    c.fill(20, 32, 56);
    c.writeUInt32LE(30, 56);
    parts.push(c);
  });
  parts.push(Buffer.alloc(8));  // empty light and self-shadow sections
  return Buffer.concat(parts);
}

function turn(x, y, z, angle) {
  const len = Math.hypot(x, y, z);
  const s = Math.sin(angle / 2) / len;
  return [x * s, y * s, z * s, Math.cos(angle / 2)];
}

const sample = fs.readFileSync(samplePath);
const scenarios = [{ name: 'sample, default mode', input: sample, options: [] }];
for (const mode of [0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 13]) {
  scenarios.push({ name: `sample, -M${mode}`, input: sample, options: [`-M${mode}`] });
}
scenarios.push({
  name: 'frame range with a start-frame merge',
  input: buildVmd([
    ['センター', 5, [0, 0, 0, 1]],
    ['左腕', 5, turn(1, 0.3, 0, 0.8)],
    ['左腕', 10, turn(0.8, -0.6, 0.1, 0.7)],
    ['左腕捩', 10, turn(0.8, -0.6, 0, 0.2)],
    ['左ひじ', 10, turn(1, 0, 0.2, 0.5)],
    ['左手捩', 10, turn(0.8, -0.6, 0, 0.1)],
    ['右腕', 20, turn(0.3, 1, 0.1, 0.6)],
    ['左腕', 40, turn(0, 0, 1, 0.4)],
    ['左腕', 41, turn(0, 0, 1, 0.4)],
  ], [['a', 10, 0.5]], []),
  options: ['-F10', '-T40'],
});
scenarios.push({
  name: 'trailing camera data',
  input: buildVmd([['左腕', 0, turn(1, 0, 0, 0.3)], ['右腕', 3, turn(0, 1, 0, 0.3)]], [['a', 1, 1]],
                  [[0, -45], [30, -30]]),
  options: [],
});

// The output's own counts, read from its bytes.
function headerCounts(bytes) {
  const bones = bytes.readUInt32LE(50);
  const morphAt = 54 + 111 * bones;
  const morphs = bytes.readUInt32LE(morphAt);
  const cameras = bytes.readUInt32LE(morphAt + 4 + 23 * morphs);
  return { bones, morphs, cameras };
}

function sameFloats(a, b) {
  return a.length === b.length && Array.from(a).every((v, i) => Object.is(v, b[i]) || v === b[i]);
}

function sameRecord(a, b) {
  return a.boneName === b.boneName && a.frameNum === b.frameNum && sameFloats(a.position, b.position) &&
    sameFloats(a.rotation, b.rotation) && sameFloats(a.interpolation, b.interpolation);
}

// %g keeps six significant digits.
function nearPrinted(printed, value) {
  return Math.abs(printed - value) <= 6e-6 * Math.max(Math.abs(value), 1e-30);
}

function check(scenario) {
  const inPath = path.join(work, 'motion.vmd');
  const outPath = path.join(work, 'motion-cnv.vmd');
  fs.writeFileSync(inPath, scenario.input);
  const run = childProcess.spawnSync(torsel, ['-ND', '-D1', ...scenario.options, inPath],
    { env: { ...process.env, LC_ALL: 'C' }, encoding: 'latin1' });
  if (run.status !== 0) return `torsel exited with ${run.status}`;
  const exported = [...run.stdout.matchAll(/ {2}=> exporting to .*? x-rot \(X,Y,Z,W\) = (\S+) (\S+) (\S+) (\S+) \n/g)]
    .map((m) => m.slice(1, 5).map(Number));

  const input = readVmd(inPath);
  let output;
  try {
    output = readVmd(outPath);
  } catch (e) {
    return `the reader rejects the output: ${e}`;
  }
  const counts = headerCounts(fs.readFileSync(outPath));
  const m = output.metadata;
  if (m.motionCount !== counts.bones || output.motions.length !== counts.bones) return 'bone count differs';
  if (m.morphCount !== counts.morphs || output.morphs.length !== counts.morphs) return 'morph count differs';
  if (m.cameraCount !== counts.cameras || output.cameras.length !== counts.cameras) return 'camera count differs';
  if (JSON.stringify(output.morphs) !== JSON.stringify(input.morphs)) return 'morphs differ';
  if (JSON.stringify(output.cameras) !== JSON.stringify(input.cameras)) return 'cameras differ';

  // Walk both: untouched records match in order; an inserted twist keyframe
  // stands before the converted source keyframe of the same frame.
  let i = 0;
  let k = 0;
  const ins = input.motions;
  const outs = output.motions;
  for (let j = 0; j < outs.length;) {
    const o = outs[j];
    const src = ins[i];
    if (src && sameRecord(o, src)) {
      i++;
      j++;
    } else if (src && TWIST_BONES.has(o.boneName) && o.frameNum === src.frameNum && j + 1 < outs.length &&
               outs[j + 1].boneName === src.boneName && outs[j + 1].frameNum === src.frameNum) {
      if (k >= exported.length) return `more twist keyframes than reported, at ${o.boneName} ${o.frameNum}`;
      if (!exported[k].every((v, c) => nearPrinted(v, o.rotation[c]))) {
        return `twist ${o.boneName} at ${o.frameNum}: read ${Array.from(o.rotation)}, reported ${exported[k]}`;
      }
      if (!sameFloats(o.position, src.position) || !sameFloats(outs[j + 1].position, src.position)) {
        return `positions changed at ${src.boneName} ${src.frameNum}`;
      }
      k++;
      i++;
      j += 2;
    } else if (src && TWIST_BONES.has(src.boneName)) {
      i++;  // an existing twist keyframe merged into the inserted one
    } else {
      return `unexpected record ${o.boneName} at ${o.frameNum}`;
    }
  }
  if (i !== ins.length) return `input records left over from ${i}`;
  if (k !== exported.length) return `${exported.length - k} reported twist keyframes not in the output`;
  return null;
}

let passed = 0;
let failed = 0;
for (const scenario of scenarios) {
  const problem = check(scenario);
  if (problem) {
    failed++;
    console.log(`FAIL ${scenario.name}: ${problem}`);
  } else {
    passed++;
    console.log(`ok   ${scenario.name}`);
  }
}
fs.rmSync(work, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
