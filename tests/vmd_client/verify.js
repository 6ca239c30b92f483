#!/usr/bin/env node
'use strict';
// Converts motions with Torsel and reads every input and output back with
// three.js's VMD reader (mmd-parser): it must accept each output with the
// counts of the output's header; every record Torsel did not touch reads
// back as in the input, and every inserted twist keyframe stands at its
// frame with the rotation Torsel reported at display level 1.
//   node verify.js TORSEL SAMPLE.vmd
const [childProcess, fs, os, path] = ['child_process', 'fs', 'os', 'path'].map(require);

let Parser;
try {
  ({ Parser } = require('mmd-parser'));
} catch (e) {
  console.log('mmd-parser is not installed (npm ci --prefix tests): skipped');
  process.exit(77);
}
const readVmd = (file) => { const b = fs.readFileSync(file); return new Parser().parseVmd(b.buffer.slice(b.byteOffset, b.byteOffset + b.length)); };
const [torsel, samplePath] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-client-'));
const TWISTS = new Set(['左腕捩', '右腕捩', '左手捩', '右手捩']);

// The sample ends with empty camera, light and self-shadow sections: one with two camera keyframes instead.
const sample = fs.readFileSync(samplePath);
const cameras = Buffer.alloc(4 + 2 * 61);
cameras.writeUInt32LE(2, 0);
[[0, -45], [30, -30]].forEach(([frame, distance], i) => (cameras.writeUInt32LE(frame, 4 + 61 * i), cameras.writeFloatLE(distance, 8 + 61 * i), cameras.fill(20, 36 + 61 * i, 60 + 61 * i)));
const withCameras = Buffer.concat([sample.subarray(0, sample.length - 12), cameras, Buffer.alloc(8)]);
const scenarios = [0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13].map((mode) => ({ name: `sample -M${mode}`, input: sample, options: [`-M${mode}`] }));
scenarios.push({ name: 'frame range, camera keyframes', input: withCameras, options: ['-F10', '-T25'] });
// Kept and folded motions are rewritten pair by pair: the reader must take them and their counts.
scenarios.push(...['-K5', '-K2 -M4 -F10 -T25', '-U -M1', '-U -K5 -F5'].map((k) => ({ name: `sample ${k}`, input: withCameras, options: k.split(' '), kept: true })));

const same = (a, b) => a.length === b.length && Array.from(a).every((v, i) => Object.is(v, b[i]));
const sameRecord = (a, b) => a.boneName === b.boneName && a.frameNum === b.frameNum && ['position', 'rotation', 'interpolation'].every((f) => same(a[f], b[f]));

function check(scenario) {
  const [inPath, outPath] = ['motion.vmd', 'motion-cnv.vmd'].map((n) => path.join(work, n));
  fs.writeFileSync(inPath, scenario.input);
  const run = childProcess.spawnSync(torsel, ['-ND', '-D1', ...scenario.options, inPath], { env: { ...process.env, LC_ALL: 'C' }, encoding: 'latin1' });
  if (run.status !== 0) return `torsel exited with ${run.status}`;
  const exported = [...run.stdout.matchAll(/ {2}=> exporting to .*? x-rot \(X,Y,Z,W\) = (\S+) (\S+) (\S+) (\S+) \n/g)].map((m) => m.slice(1, 5).map(Number));
  const [input, bytes] = [readVmd(inPath), fs.readFileSync(outPath)];
  let output;
  try { output = readVmd(outPath); } catch (e) { return `the reader rejects the output: ${e}`; }
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
    if (src && sameRecord(o, src)) [i, j] = [i + 1, j + 1];
    else if (src && TWISTS.has(o.boneName) && o.frameNum === src.frameNum && outs[j + 1] && outs[j + 1].boneName === src.boneName) {
      // %g keeps six significant digits.
      if (!exported[k] || !exported[k].every((v, c) => Math.abs(v - o.rotation[c]) <= 6e-6 * Math.max(Math.abs(v), 1e-30))) return `twist ${o.boneName} at ${o.frameNum} not as reported`;
      if (!same(o.position, src.position) || !same(outs[j + 1].position, src.position)) return `positions changed at ${src.frameNum}`;
      [i, j, k] = [i + 1, j + 2, k + 1];
    } else if (src && TWISTS.has(src.boneName)) i++;  // an existing twist keyframe merged into the inserted one
    else return `unexpected record ${o.boneName} at ${o.frameNum}`;
  }
  return i !== ins.length || k !== exported.length ? 'records left over' : null;
}

const problems = scenarios.map((s) => [s.name, check(s)]);
problems.forEach(([name, problem]) => console.log(problem ? `FAIL ${name}: ${problem}` : `ok   ${name}`));
const failed = problems.filter(([, p]) => p).length;
fs.rmSync(work, { recursive: true, force: true });
console.log(`${scenarios.length - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
