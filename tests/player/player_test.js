#!/usr/bin/env node
'use strict';
// Keep the motion and fold back in a real player: babylon-mmd's runtime plays
// each input and output on a model the test writes, after its fixed axes.
// Every -K5 and -U -K5 output stays within 0.5° of its input at every frame,
// the plain conversion does not, and the project's evaluator (playback_eval,
// given the same model) finds the same largest deviations: two players
// written apart, agreeing. Converted poses show every chain as their input.
// Thinned motions (-S5) play every chain and every other bone within the bound.
//   node player_test.js TORSEL MAKE_SAMPLE PLAYBACK_EVAL
const [childProcess, fs, os, path] = ['child_process', 'fs', 'os', 'path'].map(require);

let esbuild;
try {
  esbuild = require('esbuild');
  require.resolve('babylon-mmd/package.json');
} catch (e) {
  console.log('babylon-mmd or esbuild is not installed (npm ci --prefix tests): skipped');
  process.exit(77);
}
const [torsel, makeSample, playbackEval] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torsel-player-'));
const at = (name) => path.join(work, name);
// babylon-mmd's ES modules import without extensions: node runs them bundled.
esbuild.buildSync({ entryPoints: [path.join(__dirname, 'babylon_player.mjs')], bundle: true,
  platform: 'node', format: 'cjs', outfile: at('player.js'), logLevel: 'warning' });
const { openPlayer } = require(at('player.js'));

// The built-in twist axes (left arm, left elbow, right arm, right elbow), and
// each turned 5°, 6°, 7°, 8° towards +Z or -Z.
const bits = [0x3E8F2FBA, 0xBE5B2032, 0x3C1F69A8, 0x3E8DB424, 0xBE573C4F, 0xBBCED627,
  0x3E911CD2, 0x3E5E12E8, 0xBBEC887F, 0x3E9184E4, 0x3E5D07C8, 0x3BD467F7];
const floats = new Float32Array(new Uint32Array(bits).buffer);
const builtIn = [0, 3, 6, 9].map((i) => [...floats.subarray(i, i + 3)]);
const tilted = builtIn.map(([x, y, z], i) => {
  const n = Math.hypot(x, y, z), tan = (i % 2 ? -1 : 1) * Math.tan((5 + i) * Math.PI / 180);
  const u = [x / n, y / n, z / n + tan];
  return u.map((c) => c / Math.hypot(...u));
});

// 上半身, then per side 肩 腕 腕捩 ひじ 手捩 手首, each under the one before, the
// arm and elbow along the axes: name, parent, position, fixed axis, tail bone.
function skeleton(axes) {
  const bones = [['上半身', -1, [0, 15, 0], null, 0]];
  ['左', '右'].forEach((side, s) => {
    const [arm, elbow] = [axes[2 * s], axes[2 * s + 1]], sign = 1 - 2 * s;
    const p = [[sign * 0.5, 15, 0], [sign, 15, 0]];
    const along = (from, d) => p.push(p[from].map((c, i) => c + sign * d[i]));
    along(1, arm), along(2, arm), along(3, elbow), along(4, elbow);
    const axis = [null, null, arm, null, elbow];
    ['肩', '腕', '腕捩', 'ひじ', '手捩', '手首'].forEach((n, i) => bones.push([side + n,
      i ? bones.length - 1 : 0, p[i], axis[i], i < 5 ? bones.length + 1 : 0]));
  });
  return bones;
}

// Little-endian values into a list of buffers; bytes(b, size) pads b with NULs.
function writer() {
  const parts = [];
  const put = (n, how) => (...values) => values.forEach((v) => {
    parts.push(Buffer.alloc(n));
    parts.at(-1)[how](v);
  });
  return { u8: put(1, 'writeUInt8'), u16: put(2, 'writeUInt16LE'), i32: put(4, 'writeInt32LE'),
    f32: put(4, 'writeFloatLE'), done: () => Buffer.concat(parts),
    bytes: (b, size = b.length) => parts.push(b, Buffer.alloc(size - b.length)) };
}

// PMX 2.0 (UTF-16, 4-byte indices): a triangle, a material, the bones.
function pmx(bones) {
  const w = writer(), text = (s) => {
    w.i32(Buffer.byteLength(s, 'utf16le'));
    w.bytes(Buffer.from(s, 'utf16le'));
  };
  w.bytes(Buffer.from('PMX ')), w.f32(2), w.u8(8, 0, 0, 4, 4, 4, 4, 4, 4);
  ['m', 'm', '', ''].forEach(text);
  w.i32(3);
  for (let v = 0; v < 3; v++) w.f32(v, 10 + v, 0, 0, 0, -1, 0, 0), w.u8(0), w.i32(0), w.f32(1);
  w.i32(3, 0, 1, 2, 0, 1), text('m'), text('m'), w.f32(1, 1, 1, 1, 0, 0, 0, 5, 1, 1, 1);
  w.u8(0), w.f32(0, 0, 0, 1, 1), w.i32(-1, -1), w.u8(0, 1, 0), text(''), w.i32(3, bones.length);
  for (const [name, parent, pos, axis] of bones) {
    text(name), text(''), w.f32(...pos), w.i32(parent, 0);
    w.u8(0x1A, axis ? 0x04 : 0), w.f32(0, 0, 0);  // rotatable, visible, controllable; fixed axis
    if (axis) w.f32(...axis);
  }
  w.i32(0, 0, 0, 0);  // morphs, display frames, rigid bodies, joints
  return w.done();
}

// PMD: the same; a twist bone (type 8) turns about the line to its tail bone.
const SJIS = { 上: '8fe3', 半: '94bc', 身: '9067', 左: '8db6', 右: '8945', 肩: '8ca8', 腕: '9872',
  捩: '9d80', ひ: '82d0', じ: '82b6', 手: '8ee8', 首: '8ef1' };
function pmd(bones) {
  const w = writer();
  w.bytes(Buffer.from('Pmd')), w.f32(1), w.bytes(Buffer.from('m'), 276), w.i32(3);
  for (let v = 0; v < 3; v++) w.f32(v, 10 + v, 0, 0, 0, -1, 0, 0), w.u16(0, 0), w.u8(100, 0);
  w.i32(3), w.u16(0, 1, 2), w.i32(1), w.f32(1, 1, 1, 1, 5, 0, 0, 0, 0, 0, 0), w.u8(0, 0), w.i32(3);
  w.bytes(Buffer.alloc(0), 20), w.u16(bones.length);
  for (const [name, parent, pos, axis, tail] of bones) {
    w.bytes(Buffer.from([...name].map((c) => SJIS[c]).join(''), 'hex'), 20);
    w.u16(parent & 0xFFFF, tail), w.u8(axis ? 8 : 0), w.u16(0), w.f32(...pos);
  }
  w.u16(0, 0), w.u8(0, 0), w.i32(0);  // IK, morphs, display frames
  return w.done();
}

// The dance holds twist keyframes of its own, about X: far off either
// model's axes. "arms": the dance without them. "split": the arms split on
// the model's axes by a plain -M12 conversion.
childProcess.execFileSync(makeSample, [at('dance.vmd'), '600', '5', 'dance']);
const dance = fs.readFileSync(at('dance.vmd')), count = dance.readUInt32LE(50);
const arms = Array.from({ length: count }, (_, i) => dance.subarray(54 + 111 * i, 165 + 111 * i))
  .filter((r) => !r.subarray(0, 15).toString('latin1').includes('\x9D\x80'));  // 捩
const header = Buffer.from(dance.subarray(0, 54));
header.writeUInt32LE(arms.length, 50);
const rest = dance.subarray(54 + 111 * count);
fs.writeFileSync(at('arms.vmd'), Buffer.concat([header, ...arms, rest]));

const models = [['builtin.pmx', pmx(skeleton(builtIn))], ['tilted.pmx', pmx(skeleton(tilted))],
  ['tilted.pmd', pmd(skeleton(tilted))]];
// With the wrists keyed often ("hands"), and one now and then, the other never ("wrists").
for (const kind of ['hands', 'wrists']) childProcess.execFileSync(makeSample, [at(`${kind}.vmd`), '600', '3', kind]);
// "scurves": longer hands with every 左手首 curve an S flat in its middle: the
// pieces cut there start flat, which babylon-mmd's bisecting solver reads
// some way along at their keyframe's own frame.
childProcess.execFileSync(makeSample, [at('scurves.vmd'), '1200', '3', 'hands']);
const hands = fs.readFileSync(at('scurves.vmd'));
for (let i = 0, n = hands.readUInt32LE(50); i < n; i++) {
  const record = 54 + 111 * i, block = record + 47;
  if (hands.subarray(record, record + 7).toString('hex') !== '8db68ee88ef100') continue;  // 左手首
  // The rotation curve's four parameters, in every row that repeats them.
  [[3, 127], [7, 0], [11, 0], [15, 127]].forEach(([param, value]) => {
    for (let row = 0; row < 4; row++) hands[block + 16 * row + param - row] = value;
  });
}
fs.writeFileSync(at('scurves.vmd'), hands);

// Per model: motion, options, bound (null: the plain conversion, which must stray beyond 1.5°).
// Every chain is held to it; with -W the arm and the hand (the others carry the twist moved).
const table = [['arms', '-M12 -K5', 0.5], ['arms', '-M4 -K5', 0.5], ['arms', '', null],
  ['split', '-U -K5', 0.5], ['dance', '-M12 -K5', 0.5], ['dance', '-M4 -K5', 0.5],
  ['dance', '-U -K5', 0.5], ['dance', '', null], ['hands', '-W -K5', 0.5], ['scurves', '-W -K5', 0.5],
  ['wrists', '-W -K5', 0.5],
  ['wrists', '-W -M4 -K5', 0.5]];

const convert = (options, model, input) => childProcess.spawnSync(torsel,
  ['-ND', ...options.split(' ').filter(Boolean), model, input].filter(Boolean)).status;
const read = (file) => new Uint8Array(fs.readFileSync(file)).buffer;
const show = (v) => v.map((d) => d.toFixed(3).padStart(8)).join('');

(async () => {
  let [failed, runs] = [0, 0];
  console.log('model       motion options  babylon-mmd: left arm elbow wrist hand, right | ours');
  for (const [model, bytes] of models) {
    fs.writeFileSync(at(model), bytes);
    const play = await openPlayer(new Uint8Array(bytes), path.extname(model));
    convert('-M12', at(model), at('arms.vmd'));
    fs.renameSync(at('arms-cnv.vmd'), at('split.vmd'));
    for (const [motion, options, bound] of table) {
      const [input, output] = [at(`${motion}.vmd`), at(`${motion}-cnv.vmd`)];
      const status = convert(options, at(model), input);
      const evaluated = childProcess.spawnSync(playbackEval, [at(model), input, output],
        { encoding: 'latin1' });
      const theirs = [...evaluated.stdout.matchAll(/(?:arm|elbow|wrist|hand) (\S+) at \d+\n/g)]
        .map((m) => Number(m[1]));
      const ours = await play(read(input), read(output));
      const largest = Math.max(...ours.filter((d, i) => !options.includes('-W') || i % 4 % 3 === 0));
      const problems = [
        status !== 0 && `torsel exited with ${status}`,
        theirs.length !== 8 && `playback_eval: ${evaluated.stdout}${evaluated.stderr}`,
        bound !== null && !(largest <= bound) && `${largest.toFixed(3)}° beyond ${bound}°`,
        bound === null && !(largest > 1.5) && `plain, yet within ${largest.toFixed(3)}°`,
        ours.some((d, i) => !(Math.abs(d - theirs[i]) <= 0.05)) && 'the two players disagree',
      ].filter(Boolean);
      [failed, runs] = [failed + (problems.length > 0), runs + 1];
      const row = `${model.padEnd(11)} ${motion.padEnd(6)} ${(options || 'plain').padEnd(10)}`;
      console.log(`${problems.length ? 'FAIL' : 'ok  '} ${row}${show(ours)} |${show(theirs)}`);
      if (problems.length) console.log(`     ${problems.join('; ')}`);
    }
  }
  // Poses: every chain of the converted pose within 0.01° of the input's, on
  // each model named and on none (the built-in axes: builtin.pmx); with -W,
  // which moves the wrist's twist into the elbow and wrist chains, the arm
  // and the hand.
  const poses = [1, 2, 3, 4, 5, 6, 7, 8].map((seed) => at(`pose${seed}.vpd`));
  poses.forEach((pose, i) => childProcess.execFileSync(makeSample, [pose, '0', `${i + 1}`, 'pose']));
  console.log('model       options  largest: left arm elbow wrist hand, right | twist moved');
  for (const [model, bytes] of [...models, ['', models[0][1]]]) {
    const play = await openPlayer(new Uint8Array(bytes), path.extname(model) || '.pmx');
    for (const options of ['-M12', '-M4', '-M12 -W', '-M4 -W', '-U']) {
      const largest = Array(12).fill(0);
      let status = 0;
      for (const pose of poses) {
        status = convert(options, model && at(model), pose) || status;
        const d = await play.poses(read(pose), read(pose.replace('.vpd', '-cnv.vpd')));
        d.forEach((v, i) => { largest[i] = Math.max(largest[i], v); });
      }
      const kept = options.includes('-W') ? [0, 3] : [0, 1, 2, 3];
      const chains = largest.filter((d, i) => kept.includes(i % 6));
      const moved = Math.max(...largest.filter((d, i) => i % 6 >= 4));
      const problems = [status !== 0 && `torsel exited with ${status}`,
        !chains.every((d) => d <= 0.01) && 'a chain beyond 0.01°',
        !(moved > 5) && 'no twist moved'].filter(Boolean);
      [failed, runs] = [failed + (problems.length > 0), runs + 1];
      const row = `${(model || 'none').padEnd(11)} ${options.padEnd(8)}`;
      console.log(`${problems.length ? 'FAIL' : 'ok  '} ${row}${show(chains)} |${show([moved])}`);
      if (problems.length) console.log(`     ${problems.join('; ')}`);
    }
  }
  // Thinned (-S5), baked and traced motions on a model with their bones and
  // the built-in axes: every chain -K keeps within 0.5° (the arm and the
  // elbow within half), and every other bone within 0.5° and 0.0087 units
  // (0.5° in radians), as babylon-mmd poses it; and far fewer keyframes.
  const others = ['センター', '左手首', '右手首'];
  const rig = [['センター', -1, [0, 8, 0], null, 0], ...skeleton(builtIn).map(([n, parent, pos, axis, tail]) =>
    [n, parent + 1, pos, axis, tail + 1])];
  fs.writeFileSync(at('rig.pmx'), pmx(rig));
  const play = await openPlayer(new Uint8Array(pmx(rig)), '.pmx');
  for (const [kind, seed] of [['baked', '6'], ['traced', '7']]) {
    const [input, output] = [at(`${kind}.vmd`), at(`${kind}-cnv.vmd`)];
    childProcess.execFileSync(makeSample, [input, '400', seed, kind]);
    const status = convert('-S5', at('rig.pmx'), input);
    const written = fs.readFileSync(output).readUInt32LE(50);
    const chains = (await play(read(input), read(output))).filter((d, i) => i % 4 !== 3);
    const bones = (await play.bones(others, read(input), read(output))).reduce(
      ([t, m], [turn, move]) => [Math.max(t, turn), Math.max(m, move)], [0, 0]);
    const problems = [status !== 0 && `torsel exited with ${status}`,
      !chains.every((d, i) => d <= (i % 3 === 2 ? 0.5 : 0.25)) && `a chain beyond: ${show(chains)}`,
      !(bones[0] <= 0.5) && `${bones[0].toFixed(4)}° beyond 0.5°`,
      !(bones[1] <= 0.5 * Math.PI / 180) && `moved ${bones[1].toFixed(5)}`,
      !(written * 3 < 9 * 400) && `${written} keyframes written`].filter(Boolean);
    [failed, runs] = [failed + (problems.length > 0), runs + 1];
    console.log(`${problems.length ? 'FAIL' : 'ok  '} -S5 ${kind.padEnd(6)} ${written} keyframes, chains at most ` +
      `${Math.max(...chains).toFixed(4)}°, other bones ${bones[0].toFixed(4)}° and ${bones[1].toFixed(5)} units`);
    if (problems.length) console.log(`     ${problems.join('; ')}`);
  }
  fs.rmSync(work, { recursive: true, force: true });
  console.log(`${runs - failed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
})().catch((e) => { console.error(e); process.exit(1); });
