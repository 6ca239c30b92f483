#!/usr/bin/env node
'use strict';
// Prints, as JSON, what mmd-parser reads from a VMD file: the counts and
// every bone keyframe (name decoded, frame, position, rotation,
// interpolation).
//   node check_vmd.js FILE.vmd
const { readVmd } = require('./read_vmd');

if (process.argv.length !== 3) {
  console.error('usage: node check_vmd.js FILE.vmd');
  process.exit(2);
}
let vmd;
try {
  vmd = readVmd(process.argv[2]);
} catch (e) {
  console.error(`mmd-parser rejects ${process.argv[2]}: ${e}`);
  process.exit(1);
}
const m = vmd.metadata;
console.log(JSON.stringify({
  model: m.name,
  motionCount: m.motionCount,
  morphCount: m.morphCount,
  cameraCount: m.cameraCount,
  motions: vmd.motions.map((k) => ({
    name: k.boneName,
    frame: k.frameNum,
    position: Array.from(k.position),
    rotation: Array.from(k.rotation),
    interpolation: Array.from(k.interpolation),
  })),
}, null, 1));
