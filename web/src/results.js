// Results: per file a line with its status in words (the program's message
// behind it), its worst deviation once measured, and the download; all of
// them as one zip in the list's order; the console text of the file shown
// below, capped (its first lines; the whole text downloads as written).
import { zipSync } from 'fflate';
import { T } from './text.js';
import { worstOf } from './chart.js';

const $ = (id) => document.getElementById(id);
let run = null;  // the batch: { reports, bound, selected, done }
let stopped = '';
let onSelect = () => {};

const link = (name, href) =>
  Object.assign(document.createElement('a'), { textContent: name, download: name, href });
const element = (tag, props, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
};
export const hasOutput = (r) => r && r.output && r.state !== 'failed';

export function clear(batch) {
  for (const r of run ? run.reports.filter(Boolean) : []) {
    for (const url of [r.href, r.consoleHref]) if (url) URL.revokeObjectURL(url);
  }
  run = batch, stopped = '';
  $('results').replaceChildren();
  $('console').textContent = '';
  $('console-more').textContent = '';
  $('zip').hidden = true;
  $('console-pick').hidden = true;
  $('stale').hidden = true;
}

// Why a file failed, as a sentence in the page's language.
function failed(f) {
  if (f.kind === 'model') {
    const why = T.modelWhy[f.why];
    return T.modelFailed(typeof why === 'function' ? why(f.bone) : why || f.why);
  }
  return typeof T.fail[f.kind] === 'function' ? T.fail[f.kind](f.status) : T.fail[f.kind];
}

// Whether the kept (or folded) motion strays beyond the bound somewhere: a warning, whatever
// the program's status.
const beyondOf = (r) => {
  const w = r.chart.fold ? r.worst.plain : r.worst.kept;
  return !!w && w.value > run.bound + 1e-9;
};

// The worst deviation in words, once charted.
function deviation(r) {
  if (!hasOutput(r) || r.state === 'unchanged') return r.state === 'unchanged' ? T.exact : '';
  if (!r.chart) return T.measuring;
  const { plain, kept } = r.worst ||= worstOf(r.chart);
  const round = (v) => Number(v.toFixed(v < 10 ? 2 : 1));
  const ours = r.chart.fold ? plain : kept;
  const unmeasured = ours || plain ? (ours || plain).unmeasured : 0;
  const words = !ours ? (plain.value === 0 ? T.exact
    : r.chart.pose ? T.worstPose(round(plain.value)) : T.worstPlain(round(plain.value), plain.frame))
    : ours.value > run.bound + 1e-9 ? T.worstBeyond(round(ours.value), run.bound)
      : T.worstKept(round(ours.value), run.bound, r.chart.fold ? null : round(plain.value));
  return unmeasured ? words + T.unmeasured(unmeasured) : words;
}

function line(r) {
  const li = element('li', { className: r.index === run.selected ? 'selected' : '' });
  li.dataset.index = r.index;
  const pick = element('input',
    { type: 'radio', name: 'shown', checked: r.index === run.selected, title: T.show });
  pick.onchange = () => onSelect(r.index);
  const status = element('span', { className: r.state }, ` ${T[r.state]}`);
  const words = r.state === 'failed' ? failed(r.failure) : r.state === 'cut' ? T.cutWhy(r.cut)
    : r.state === 'unheld' ? `${T.unheldWhy(run.bound)} ${(r.beyond || []).join(' · ')}` : '';
  if (words) status.append(`: ${words}`);
  const worst = deviation(r);
  if (hasOutput(r)) r.href ||= URL.createObjectURL(r.output.blob);
  li.append(pick, ' ', hasOutput(r) ? link(r.output.name, r.href) : r.name, status,
    worst ? element('span', { className: 'deviation' }, ` — ${worst}`) : '');
  if (r.twistKeyed) li.append(element('div', { className: 'warn', textContent: T.twistKeyed }));
  // The program's message, laid out only when asked for.
  const details = element('details', { open: !!r.open },
    element('summary', { textContent: T.details }),
    element('pre', { textContent: r.open ? r.head : '' }));
  details.ontoggle = () => { r.open = details.open; details.lastChild.textContent ||= r.head; };
  li.append(details);
  return li;
}

// Lays out the list again: a file added, charted or chosen, or a new language.
export function render() {
  if (!run) return;
  const lines = run.reports.filter(Boolean).map(line);
  if (stopped) lines.push(element('li', { className: 'failed', textContent: stopped }));
  $('results').replaceChildren(...lines);
  $('zip').hidden = !run.done || run.reports.filter(hasOutput).length < 2;
  if (run.done) showConsole();
}

// Lays out one file's line again, in the list's order.
export function update(r) {
  const old = [...$('results').children].find((e) => Number(e.dataset.index) === r.index);
  if (old) return old.replaceWith(line(r));
  const after = [...$('results').children].find((e) => !(Number(e.dataset.index) < r.index));
  $('results').insertBefore(line(r), after || null);
}

export function stop(why) { stopped = why; render(); }

// The console text of the file shown below.
function showConsole() {
  const r = run.reports[run.selected];
  if (!r) return;
  $('console').textContent = r.head;
  const shown = r.head.split('\n').length;
  $('console-more').textContent = r.lines > shown ? T.moreLines(r.lines - shown) : '';
  const whole = $('console-whole');
  whole.href = r.consoleHref ||= URL.createObjectURL(r.console);
  whole.download = `${r.name.replace(/\.v[mp]d$/i, '')}-console.txt`;
  $('console-pick').hidden = false;
}

export function markStale(stale) {
  $('stale').hidden = !stale;
  $('results-section').classList.toggle('stale', stale);
}

export function setup(selected) {
  onSelect = selected;
  // Several results as one zip in the list's order, stored as they are, dated now.
  $('zip').onclick = async () => {
    const mtime = new Date(), outputs = run.reports.filter(hasOutput);
    const entry = async (r) => [r.output.name,
      [new Uint8Array(await r.output.blob.arrayBuffer()), { level: 0, mtime }]];
    const files = Object.fromEntries(await Promise.all(outputs.map(entry)));
    const zip = new Blob([zipSync(files)], { type: 'application/zip' });
    const a = link('torsel-cnv.zip', URL.createObjectURL(zip));
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  };
}
