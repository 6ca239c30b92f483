// Options: the mode in words, the frame range and "keep" checked as they
// are typed, with the reason beside the field, and the program's arguments.
import { T } from './text.js';

const $ = (id) => document.getElementById(id);
const MODES = [12, 13, 11, 10, 9, 8, 4, 5, 3, 2, 1, 0];
const LIMIT = 2147483647, KEEP_MAX = 10;

// The reason a field's text is not a count of frames, or ''.
function frameWhy(text) {
  if (text.trim() === '') return T.empty;
  const v = Number(text);
  if (!Number.isFinite(v)) return T.empty;
  if (v < 0) return T.negative;
  if (!Number.isInteger(v)) return T.whole;
  return v > LIMIT ? T.tooBig : '';
}

// "keep" and "thin" in degrees, held by the program in tenths.
function keepWhy(text) {
  if (text.trim() === '') return T.empty;
  const v = Number(text);
  if (!Number.isFinite(v)) return T.empty;
  if (v < 0) return T.negative;
  if (Math.abs(v * 10 - Math.round(v * 10)) > 1e-9) return T.tenths;
  return v > KEEP_MAX ? T.keepMax : '';
}

export const keepAllowed = () => [4, 12].includes(Number($('mode').value)) || $('fold').checked;

// Marks every field; returns whether all hold.
export function validate() {
  const why = { from: frameWhy($('from').value), to: frameWhy($('to').value),
    keep: keepAllowed() ? keepWhy($('keep').value) : '', thin: keepAllowed() ? keepWhy($('thin').value) : '',
    wrist: $('wrist').checked && $('fold').checked ? T.wristFold : '' };
  if (!why.from && !why.to && Number($('from').value) > Number($('to').value)) why.from = T.reversed;
  for (const [field, reason] of Object.entries(why)) {
    $(`${field}-why`).textContent = reason;
    $(field).classList.toggle('bad', reason !== '');
  }
  $('keep-field').hidden = $('thin-field').hidden = !keepAllowed();
  $('keep-modes').hidden = keepAllowed();
  return !why.from && !why.to && !why.keep && !why.thin && !why.wrist;
}

export function args() {
  const options = [`-M${$('mode').value}`];
  // The program's own defaults go unsaid: a pose's run would say that they mean nothing there.
  const from = Number($('from').value), to = Number($('to').value);
  if (from !== 0) options.push(`-F${from}`);
  if (to !== 9999999) options.push(`-T${to}`);
  const tenths = (id) => Math.round(Number($(id).value) * 10);
  if (keepAllowed() && tenths('keep') > 0) options.push(`-K${tenths('keep')}`);
  if (keepAllowed() && tenths('thin') > 0) options.push(`-S${tenths('thin')}`);
  if ($('fold').checked) options.push('-U');
  if ($('wrist').checked) options.push('-W');
  return options;
}

// The modes' words, in the page's language.
export function relabel() {
  const chosen = $('mode').value;
  $('mode').replaceChildren(...MODES.map((m) => new Option(`${m} — ${T.modes[m]}`, m)));
  if (chosen) $('mode').value = chosen;
}

export function setup(changed) {
  relabel();
  for (const id of ['mode', 'from', 'to', 'keep', 'thin', 'fold']) $(id).addEventListener('input', changed);
  for (const id of ['fold', 'wrist']) $(id).addEventListener('change', changed);
  $('mode').addEventListener('change', changed);
}
