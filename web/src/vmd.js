// What the page reads of a VMD motion itself: whether its bone or morph
// section ends before the count its header announces, and a copy that a
// player takes (the counts cut to what the file holds); and a VPD pose as a
// motion of one frame.
const BONE = 111, MORPH = 23, COUNT_AT = 50;

export function cutShort(bytes) {
  if (bytes.length < COUNT_AT + 4) return null;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const bones = view.getUint32(COUNT_AT, true);
  const boneRoom = Math.floor((bytes.length - COUNT_AT - 4) / BONE);
  if (bones > boneRoom) return { section: 'bone', announced: bones, held: boneRoom, at: COUNT_AT };
  const at = COUNT_AT + 4 + bones * BONE;
  if (at + 4 > bytes.length) return null;  // older files end after the bones
  const morphs = view.getUint32(at, true), morphRoom = Math.floor((bytes.length - at - 4) / MORPH);
  return morphs > morphRoom ? { section: 'morph', announced: morphs, held: morphRoom, at } : null;
}

// babylon-mmd reads a motion only whole and with its morph count: a copy with
// the counts cut to what the file holds, and a morph count where it ends
// after its bones (as a motion cut short, and its conversion, do).
export function playable(bytes) {
  if (bytes.length < COUNT_AT + 4) return { bytes, cut: null };
  const cut = cutShort(bytes);
  const bones = cut && cut.section === 'bone' ? cut.held
    : new DataView(bytes.buffer, bytes.byteOffset).getUint32(COUNT_AT, true);
  const afterBones = COUNT_AT + 4 + bones * BONE;
  if (!cut && bytes.length !== afterBones) return { bytes, cut };
  const size = cut && cut.section === 'morph' ? cut.at + 4 + cut.held * MORPH : afterBones;
  const copy = new Uint8Array(size === afterBones ? size + 4 : size);  // no morphs after the bones
  copy.set(bytes.subarray(0, size));
  if (cut) new DataView(copy.buffer).setUint32(cut.at, cut.held, true);
  return { bytes: copy, cut };
}

export const isPose = (name) => /\.vpd$/i.test(name);

// The last frame a keyframe of the motion names (its bones, morphs, camera and
// shown-and-IK switches, not its light or shadow), as far as the file holds them: how far
// a player plays it, short of the tracks it leaves out.
export function lastFrame(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let at = COUNT_AT, last = 0;
  // Per section: a record's size (or the size of the record at `at`), where its frame is,
  // whether it counts.
  const sections = [[BONE, 15, true], [MORPH, 15, true], [61, 0, true], [28, 0, false],
    [9, 0, false], [(p) => 9 + 21 * view.getUint32(p + 5, true), 0, true]];
  for (const [size, frameAt, counts] of sections) {
    if (at + 4 > bytes.length) break;
    const n = view.getUint32(at, true);
    at += 4;
    for (let i = 0; i < n && at + 9 <= bytes.length; i++) {
      const length = typeof size === 'function' ? size(at) : size;
      if (at + length > bytes.length) return last;
      if (counts) last = Math.max(last, view.getUint32(at + frameAt, true));
      at += length;
    }
  }
  return last;
}

// A pose the program has read, as a motion with every bone keyed at frame 0
// (linear curves), so that the evaluator, which plays motions, measures it.
// A name is the rest of its "BoneK{" line, as the program reads it; the
// text is read a byte a character, so that its Shift-JIS bytes pass unchanged.
export function poseAsMotion(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
  const keys = [];
  let key = null;
  for (const line of text.split(/\r?\n/)) {
    const start = line.match(/^\s*Bone\d+\{(.*)$/);
    if (start) {
      key = { name: start[1], numbers: [] };
      continue;
    }
    if (!key) continue;  // the header, the model line, the count, a morph
    const body = line.replace(/\/\/.*$/, '');
    key.numbers.push(...body.split(/[\s,;}]+/).filter(Boolean).map(Number));
    if (body.includes('}')) keys.push(key), key = null;
  }
  const motion = new Uint8Array(COUNT_AT + 4 + keys.length * BONE + 4);
  const view = new DataView(motion.buffer);
  motion.set([...'Vocaloid Motion Data 0002'].map((c) => c.charCodeAt(0)));
  view.setUint32(COUNT_AT, keys.length, true);
  keys.forEach(({ name, numbers }, i) => {
    const at = COUNT_AT + 4 + i * BONE;
    motion.set([...name].slice(0, 15).map((c) => c.charCodeAt(0)), at);
    numbers.slice(0, 7).forEach((v, k) => view.setFloat32(at + 19 + 4 * k, v, true));
    motion.fill(20, at + 47, at + BONE);  // x1 = y1, x2 = y2: linear
  });
  return motion;  // no morphs
}
