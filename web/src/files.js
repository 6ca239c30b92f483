// Files in: dropped or picked files are added to the list (never replacing
// it), each removable; a zip's motions, poses and model as files of their
// own; a model's name is read from its own text.
import { unzip } from 'fflate';
import { T } from './text.js';
import { isPose } from './vmd.js';

const $ = (id) => document.getElementById(id);
// A motion or a pose: either is converted.
export const isMotion = (f) => /\.(vmd|vpd)$/i.test(f.name);
export const isModel = (f) => /\.(pmx|pmd)$/i.test(f.name);

let chosen = [];
let notes = [];
let zipped = '';  // the name of the last zip added, which the results' zip is named after
let onChange = () => {};

// The model's name as it holds it: PMX in UTF-16LE or UTF-8 as its header
// says, PMD in Shift-JIS (20 bytes, ended by a zero).
export function modelName(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const ascii = String.fromCharCode(...bytes.subarray(0, 4));
  if (ascii === 'PMX ' && bytes.length > 17) {
    const length = view.getInt32(9 + bytes[8], true);
    const start = 13 + bytes[8];
    if (length < 0 || start + length > bytes.length) return '';
    return new TextDecoder(bytes[9] === 1 ? 'utf-8' : 'utf-16le').decode(bytes.subarray(start, start + length));
  }
  if (ascii.startsWith('Pmd') && bytes.length >= 27) {
    const field = bytes.subarray(7, 27), end = field.indexOf(0);
    return new TextDecoder('shift_jis').decode(end < 0 ? field : field.subarray(0, end));
  }
  return '';
}

const kind = (e) => (isPose(e.file.name) ? T.pose : !isModel(e.file) ? T.motion
  : e.name ? T.modelName(e.name) : T.model);

export function show() {
  const items = chosen.map((entry, i) => {
    const li = document.createElement('li');
    const remove = Object.assign(document.createElement('button'), { textContent: T.remove, type: 'button' });
    remove.onclick = () => { chosen.splice(i, 1); show(); };
    li.append(`${entry.file.name} — ${kind(entry)}`, remove);
    return li;
  });
  $('chosen').replaceChildren(...items);
  const many = chosen.filter((e) => isModel(e.file)).length > 1;
  $('files-why').textContent = [...notes.map(T.ignored), ...(many ? [T.oneModel] : [])].join(' ');
  onChange();
}

// A zip's files, its folders left aside, unpacked off the page's thread (fflate).
const unpack = async (zip) => {
  const bytes = new Uint8Array(await zip.arrayBuffer());
  const entries = await new Promise((resolve, reject) => unzip(bytes, (e, all) => (e ? reject(e) : resolve(all))));
  return Object.entries(entries).filter(([name]) => !name.endsWith('/'))
    .map(([name, b]) => new File([b], name.split('/').pop(), { lastModified: zip.lastModified }));
};

export async function add(added) {
  notes = [];
  const files = [];
  for (const f of added) {
    if (!/\.zip$/i.test(f.name)) files.push(f);
    else files.push(...await unpack(f).then((inside) => (zipped = f.name, inside), () => (notes.push(f.name), [])));
  }
  for (const f of files) {
    if (!isMotion(f) && !isModel(f)) { notes.push(f.name); continue; }
    const name = isModel(f) ? modelName(new Uint8Array(await f.slice(0, 4096).arrayBuffer())) : '';
    chosen = chosen.filter((e) => e.file.name !== f.name);  // the same name again: the newer file
    chosen.push({ file: f, name });
  }
  show();
}

export const zipName = () => zipped;
export const motions = () => chosen.map((e) => e.file).filter(isMotion);
export const model = () => chosen.map((e) => e.file).filter(isModel).pop();
// The model's own name, '' when it holds none.
export const modelTitle = () => chosen.filter((x) => isModel(x.file)).pop()?.name || '';
// The files as they stand: a later run with the same ones is not stale.
export const signature = () =>
  chosen.map(({ file: f }) => `${f.name}:${f.size}:${f.lastModified}`).join('|');

// Why Convert cannot run for the files as they are, or ''.
export function whyNot() {
  if (!motions().length) return T.needMotion;
  return '';
}

export function setup(changed) {
  onChange = changed;
  $('pick').onchange = (e) => { add([...e.target.files]); e.target.value = ''; };
  $('drop').ondragover = (e) => { e.preventDefault(); $('drop').classList.add('over'); };
  $('drop').ondragleave = () => $('drop').classList.remove('over');
  $('drop').ondrop = (e) => { e.preventDefault(); $('drop').classList.remove('over'); add([...e.dataTransfer.files]); };
}

