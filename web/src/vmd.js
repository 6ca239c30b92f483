// What the page reads of a VMD motion itself: whether its bone or morph
// section ends before the count its header announces, and a copy that a
// player takes (the counts cut to what the file holds).
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
