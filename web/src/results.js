// Results: per file a line with its status in words (the program's message
// behind it), its worst deviation once measured, and the download; what
// holds for several files said once below them; all of them as one zip in
// the list's order; what the program said of the file shown below, capped
// (its first lines; the whole text downloads as written).
import { zipSync } from 'fflate';
import { T } from './text.js';
import { worstOf } from './chart.js';

const $ = (id) => document.getElementById(id);
let run = null;  // the batch: { reports, bound, thin, selected, done, advise }
let stopped = '';
let onSelect = () => {}, onKeep = () => {};
// Beyond this the plain conversion is worth keeping: the bound "keep" holds on the page.
export const ADVISE = 0.5;

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
  $('batch-notes').replaceChildren();
  $('console').textContent = '';
  $('console-more').textContent = '';
  $('zip').hidden = true;
  $('console-pick').hidden = true;
  $('stale').hidden = true;
}

// Why a file failed, as a sentence in the page's language.
export function failed(f) {
  if (f.kind === 'model') {
    const why = T.modelWhy[f.why];
    return T.modelFailed(typeof why === 'function' ? why(f.bone) : why || f.why);
  }
  return typeof T.fail[f.kind] === 'function' ? T.fail[f.kind](f.status) : T.fail[f.kind];
}

// Whether the plain conversion (with neither keep nor fold) strays beyond ADVISE somewhere.
const strays = (r) => run.advise && !!r.chart && !r.chart.pose && !r.chart.kept && !r.chart.fold
  && (r.worst ||= worstOf(r.chart)).plain.value > ADVISE + 1e-9;

// The chains beyond the bound: those not held, then those the players that bisect the curve
// show apart from MMD because they misread the input itself there (no output matches both).
const misread = (c) => c.misread > 0;
// Thinned, the bones beyond the bound after them.
function unheld({ beyond: chains, thin }) {
  const held = chains.filter((c) => !misread(c)), bisected = chains.filter(misread);
  return [held.length ? `${T.unheldWhy(run.bound)} ${held.map(T.beyond).join(' · ')}` : '',
    ...bisected.map(T.misread), thin && thin.beyond > 0 ? T.thinBeyond(thin.beyond, run.thin) : '']
    .filter(Boolean).join(' ');
}

// The worst deviation in words, once charted (as MMD plays it).
function deviation(r) {
  if (!hasOutput(r) || r.state === 'unchanged') return r.state === 'unchanged' ? T.exact : '';
  if (!r.chart) return T.measuring;
  const { plain, kept } = r.worst ||= worstOf(r.chart);
  const round = (v) => Number(v.toFixed(v < 10 ? 2 : 1));
  const ours = kept || (r.chart.fold ? plain : null);
  const unmeasured = ours || plain ? (ours || plain).unmeasured : 0;
  const words = !ours ? (plain.value === 0 ? T.exact
    : r.chart.pose ? T.worstPose(round(plain.value))
      : T.worstPlain(round(plain.value), plain.frame) + (strays(r) ? T.strays(ADVISE) : ''))
    : (r.beyond.some(misread) ? T.inMmd : '')
      + (ours.value > run.bound + 1e-9 ? T.worstBeyond(round(ours.value), run.bound)
        : T.worstKept(round(ours.value), run.bound, r.chart.fold ? null : round(plain.value)));
  return unmeasured ? words + T.unmeasured(unmeasured) : words;
}

// Keyframes in and out, and the worst of the bones thinned: the program's own figures, known
// before the chart.
function thinned(r) {
  return hasOutput(r) && r.thin ? T.thinned(r.thin, Number(r.thin.worst.toFixed(2))) : '';
}

function line(r) {
  const li = element('li', { className: r.index === run.selected ? 'selected' : '' });
  li.dataset.index = r.index;
  const pick = element('input',
    { type: 'radio', name: 'shown', checked: r.index === run.selected, title: T.show });
  pick.onchange = () => onSelect(r.index);
  const status = element('span', { className: r.state }, ` ${T[r.state]}`);
  const words = r.state === 'failed' ? failed(r.failure) : r.state === 'cut' ? T.cutWhy(r.cut)
    : r.state === 'unheld' ? unheld(r) : '';
  if (words) status.append(`: ${words}`);
  const worst = deviation(r) + thinned(r);
  if (hasOutput(r)) r.href ||= URL.createObjectURL(r.output.blob);
  li.append(pick, ' ', hasOutput(r) ? link(r.output.name, r.href) : r.name, status,
    worst ? element('span', { className: 'deviation' }, ` — ${worst}`) : '');
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
  notes();
  // Several results, or what came as a zip, go back as one.
  $('zip').hidden = !run.done || !run.reports.some(hasOutput)
    || (run.reports.filter(hasOutput).length < 2 && !run.zipName);
  if (run.done) showConsole();
}

// Lays out one file's line again, in the list's order.
export function update(r) {
  const old = [...$('results').children].find((e) => Number(e.dataset.index) === r.index);
  const after = [...$('results').children].find((e) => !(Number(e.dataset.index) < r.index));
  if (old) old.replaceWith(line(r));
  else $('results').insertBefore(line(r), after || null);
  notes();
}

// What holds for several files, said once below the list: the plain conversion strays
// (and keep would hold it, one click away), twist bones already keyed.
function notes() {
  const reports = run.reports.filter(Boolean);
  const names = (pick) => reports.filter(pick).map((r) => r.name);
  const straying = names(strays), keyed = names((r) => r.twistKeyed);
  const said = [];
  if (straying.length) {
    const keep = element('button', { type: 'button', textContent: T.keepIt(ADVISE) });
    keep.onclick = () => onKeep(ADVISE);
    said.push(element('p', { className: 'advice' }, T.advice(straying, reports.length, ADVISE), ' ', keep));
  }
  if (keyed.length) said.push(element('p', { className: 'warn', textContent: T.twistKeyed(keyed) }));
  $('batch-notes').replaceChildren(...said);
}

export function stop(why) { stopped = why; render(); }

// What the program said of the file shown below, in the page's language.
function showConsole() {
  const r = run.reports[run.selected];
  if (!r) return;
  $('console').textContent = r.said.map(({ text, times }) => text + (times > 1 ? T.times(times) : ''))
    .join('\n');
  $('console-more').textContent = r.more > 0 ? T.moreLines(r.more) : '';
  const whole = $('console-whole');
  whole.href = r.consoleHref ||= URL.createObjectURL(r.console);
  whole.download = `${r.name.replace(/\.v[mp]d$/i, '')}-console.txt`;
  $('console-pick').hidden = false;
}

export function markStale(stale) {
  $('stale').hidden = !stale;
  $('results-section').classList.toggle('stale', stale);
}

export function setup(selected, keep) {
  onSelect = selected, onKeep = keep;
  // Several results as one zip in the list's order, stored as they are, dated now.
  $('zip').onclick = async () => {
    const mtime = new Date(), outputs = run.reports.filter(hasOutput);
    const entry = async (r) => [r.output.name,
      [new Uint8Array(await r.output.blob.arrayBuffer()), { level: 0, mtime }]];
    const files = Object.fromEntries(await Promise.all(outputs.map(entry)));
    const zip = new Blob([zipSync(files)], { type: 'application/zip' });
    const a = link(run.zipName ? run.zipName.replace(/\.zip$/i, '-cnv.zip') : 'torsel-cnv.zip',
      URL.createObjectURL(zip));
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  };
}
