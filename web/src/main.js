// The page: files in, options, the workers, results, and one file shown
// below them (its chart, its preview and its console).
import './page.css';
import { T, language, setLanguage, onLanguage } from './text.js';
import * as files from './files.js';
import * as options from './options.js';
import { checkModel, convertAll, fromDisk, warm } from './convert.js';
import * as results from './results.js';
import * as chart from './chart.js';
import * as preview from './preview.js';

const $ = (id) => document.getElementById(id);

let busy = false;
// The last batch: { reports, motions, model, modelName, bound, signature, selected, done }.
let run = null;
// What tests and the curious read: the last batch's times, the preview's figures.
window.torsel = { batchMs: 0, chartsMs: 0, preview: preview.stats };

const signature = () => `${files.signature()} ${options.args().join(' ')}`;
// The model as the program takes it with the options: { signature, failure } once asked.
let model = { signature: '', failure: null };

function update() {
  const fieldsHold = options.validate();
  const why = fromDisk() ? T.fromDisk : files.whyNot() || (fieldsHold ? '' : T.fixFields)
    || (model.failure && model.signature === signature() ? T.modelFirst : '');
  $('convert').disabled = busy || why !== '';
  if (!busy) $('convert-why').textContent = why;
  if (run && run.done) results.markStale(signature() !== run.signature);
  if (fieldsHold && !fromDisk()) askModel();
}

// A model that cannot play what the options write is said as it is added (or the options
// change), once, with the fix: the program itself is asked.
async function askModel() {
  const asked = files.model() ? signature() : '';
  if (asked === model.signature) return;
  model = { signature: asked, failure: null };
  showModel();
  if (!asked) return;
  const failure = await checkModel(files.model(), options.args());
  if (model.signature !== asked) return;
  model.failure = failure;
  showModel(), update();
}

function showModel() {
  const f = model.failure;
  $('model-why').hidden = !f;
  if (!f) return;
  // Folding back asks for no twist bone: the fix where one is missing.
  const fold = !$('fold').checked && /捩/.test(f.bone || '');
  $('model-why').firstChild.textContent = `${results.failed(f)} ${fold ? T.modelFix : T.modelOther}`;
  $('fold-it').hidden = !fold;
}

function showName() {
  const r = run && run.reports[run.selected];
  $('shown-area').hidden = !r;
  if (!r) return;
  $('shown-name').textContent = T.shown(r.name);
  $('not-converted').hidden = results.hasOutput(r);
  $('not-converted').textContent = T.notConverted(r.name);
}

// The chart of a report, over the frames its preview plays once they are known.
const showChart = (r) => chart.show(r, run.bound, run.frames[r.index]);

// One file drives the chart, the preview and the console.
function select(index) {
  run.selected = index;
  const r = run.reports[index];
  results.render(), showName();
  showChart(r);
  if (!results.hasOutput(r)) return preview.clear(), Promise.resolve();
  const mine = run;
  return preview.show(r.name, run.motions[index], r.output.blob, run.model, run.modelName)
    .then((shown) => {
      // The player's own count of frames (it leaves out tracks a model cannot use).
      if (!shown || !shown.ok || run !== mine || run.selected !== index) return;
      const frames = preview.stats.duration + 1, drawn = run.frames[index];
      run.frames[index] = frames;
      if (r.chart && frames !== (drawn || r.chart.frames)) showChart(r);
    });
}

$('convert').onclick = async () => {
  if (!options.validate()) return update();
  busy = true;
  update();
  const args = options.args(), keep = args.find((o) => o.startsWith('-K'));
  const thin = args.find((o) => o.startsWith('-S'));
  run = { reports: [], motions: files.motions(), model: files.model(),
    modelName: files.modelTitle(), zipName: files.zipName(), signature: signature(), selected: -1, done: false, frames: [],
    // The chains' bound: keep's, else thin's (which keeps them as keep does), else fold's.
    bound: keep ? Number(keep.slice(2)) / 10 : thin ? Number(thin.slice(2)) / 10 : args.includes('-U') ? 0.5 : 0,
    thin: thin ? Number(thin.slice(2)) / 10 : 0,
    advise: !keep && !thin && options.keepAllowed() };
  const mine = run;
  results.clear(run), chart.clear(), preview.clear(), showName();
  window.torsel.state = 'converting';
  const total = run.motions.length;
  Object.assign($('progress'), { hidden: false, max: total, value: 0 });
  $('convert-why').textContent = T.converting(1, total);
  const started = performance.now();
  let count = 0;
  const { chart: chartAll } = await convertAll(run.motions, run.model, args, (report) => {
    $('progress').value = ++count;
    $('convert-why').textContent = T.converting(Math.min(count + 1, total), total);
    run.reports[report.index] = report;
    results.update(report);
  }, (index, c) => {
    if (run !== mine) return;
    run.reports[index].chart = c;
    results.update(run.reports[index]);
    // Drawn in a task of its own: the page stays quick while a worker charts the rest.
    const shown = () => run === mine && index === run.selected;
    if (shown()) setTimeout(() => shown() && showChart(run.reports[index]));
  }, results.stop);
  window.torsel.batchMs = performance.now() - started;
  window.torsel.convertedAt = performance.now();
  busy = false, run.done = true;
  $('progress').hidden = true;
  update();
  window.torsel.state = 'converted';
  // The first file that has an output, else the first file. Its preview is
  // built before the charts start: on two cores both at once would starve the page.
  const first = run.reports.find(results.hasOutput) || run.reports.find(Boolean);
  if (first) await select(first.index);
  if (run !== mine) return;  // converted again meanwhile: the charts of this batch are not wanted
  await chartAll();
  if (run !== mine) return;
  window.torsel.chartsMs = performance.now() - started;
  window.torsel.state = 'done';
};

// Every word on the page again, in the language just chosen.
function relabel() {
  document.documentElement.lang = language();
  document.querySelectorAll('[data-t]').forEach((e) => { e.textContent = T[e.dataset.t]; });
  document.querySelectorAll('[data-t-title]').forEach((e) => {
    e.title = T[e.dataset.tTitle], e.ariaLabel = e.title;
  });
  for (const b of document.querySelectorAll('#language button')) {
    b.setAttribute('aria-pressed', b.dataset.lang === language());
  }
  options.relabel(), files.show(), results.render(), preview.relabel(), showName(), showModel();
  if (run && run.done) showChart(run.reports[run.selected]);
  if (fromDisk()) $('from-disk').textContent = T.fromDisk;
}

for (const b of document.querySelectorAll('#language button')) {
  b.onclick = () => setLanguage(b.dataset.lang);
}
onLanguage(relabel);
files.setup(update);
options.setup(update);
// "Keep" from the advice below the results: set, and the batch converted again.
results.setup((index) => select(index), (bound) => {
  $('keep').value = bound;
  $('keep').dispatchEvent(new Event('input'));
  if (!$('convert').disabled) $('convert').click();
});
$('fold-it').onclick = () => {
  $('fold').checked = true;
  $('fold').dispatchEvent(new Event('change'));
};
preview.setup();
chart.setup((frame) => preview.seek(frame));
if (fromDisk()) $('from-disk').hidden = false;
else warm();
// Kept for offline use once visited (sw.js); a page from disk has no service worker.
if (!fromDisk() && 'serviceWorker' in navigator) navigator.serviceWorker.register('sw.js');
relabel();
update();
