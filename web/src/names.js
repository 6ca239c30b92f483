// File names as the program takes them: in Shift-JIS, as Windows hands a
// dropped file's name to it on a Japanese system, so that its console says
// the name as written and its path routines step over double-byte
// characters. The browser gives names as text; the table is the browser's
// own Shift-JIS decoder read backwards.
let table = null;  // a character → its two bytes, or one (half-width katakana)

function codes() {
  const all = [];
  for (let b = 0xA1; b <= 0xDF; b++) all.push([b]);
  // Leads 0xED and 0xEE last: the IBM extension's own codes (0xFA to 0xFC) are the ones
  // Windows writes for the characters both hold.
  const leads = [];
  for (let l = 0x81; l <= 0xFC; l++) if (l <= 0x9F || (l >= 0xE0 && l !== 0xED && l !== 0xEE)) leads.push(l);
  for (const lead of [...leads, 0xED, 0xEE]) {
    for (let trail = 0x40; trail <= 0xFC; trail++) if (trail !== 0x7F) all.push([lead, trail]);
  }
  return all;
}

function encoder() {
  if (table) return table;
  table = new Map();
  const all = codes();
  // One decoding of every code, a line each: a code the decoder does not know is U+FFFD.
  const text = new TextDecoder('shift_jis').decode(Uint8Array.from(all.flatMap((c) => [...c, 10])));
  text.split('\n').forEach((ch, i) => {
    if (i < all.length && ch.length === 1 && ch !== '\uFFFD' && !table.has(ch)) table.set(ch, all[i]);
  });
  return table;
}

// The name's Shift-JIS bytes (composed first: macOS gives が as か and a mark); a
// character Shift-JIS lacks becomes '?', as Windows makes it.
export function shiftJis(name) {
  const out = [];
  for (const ch of name.normalize('NFC')) {
    if (ch.charCodeAt(0) < 0x80) out.push(ch.charCodeAt(0));
    else out.push(...(encoder().get(ch) || [0x3F]));
  }
  return Uint8Array.from(out);
}

// The name under which the module's file system finds a path of these bytes:
// Emscripten's system calls read every path as UTF-8 (its UTF8ToString: the
// browser's decoder past 16 bytes, below that its own, which takes a broken
// sequence's bytes bit by bit). A name the page writes there must be this one.
export function fsName(bytes) {
  if (bytes.length > 16) return new TextDecoder().decode(bytes);
  let s = '';
  for (let i = 0; i < bytes.length;) {
    let c = bytes[i++];
    if (c & 0x80) {
      const next = () => (bytes[i++] || 0) & 63;  // past the end: the terminating zero
      const c1 = next();
      if ((c & 0xE0) === 0xC0) {
        c = ((c & 31) << 6) | c1;
      } else {
        const c2 = next();
        c = (c & 0xF0) === 0xE0 ? ((c & 15) << 12) | (c1 << 6) | c2
          : ((c & 7) << 18) | (c1 << 12) | (c2 << 6) | next();
      }
    }
    s += c < 0x10000 ? String.fromCharCode(c)
      : String.fromCharCode(0xD800 | ((c - 0x10000) >> 10), 0xDC00 | ((c - 0x10000) & 1023));
  }
  return s;
}

// The program's output name for a file: its name without the extension, and -cnv.vmd
// (-cnv.vpd for a pose).
export const outputName = (name) => `${name.replace(/\.[^.]*$/, '')}-cnv.${/\.vpd$/i.test(name) ? 'vpd' : 'vmd'}`;
