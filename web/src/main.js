// The page: files in, options, the worker, results, the chart and the preview.
import './page.css';
import { T, japanese } from './text.js';
import * as files from './files.js';
import * as options from './options.js';
import { convertAll, fromDisk, warm } from './convert.js';
import * as results from './results.js';
import * as chart from './chart.js';
import * as preview from './preview.js';

const $ = (id) => document.getElementById(id);
if (japanese) document.documentElement.lang = 'ja';
document.querySelectorAll('[data-t]').forEach((e) => { e.textContent = T[e.dataset.t]; });

let busy = false;
let batch = null;  // the last batch's inputs: { motions, model, modelLabel }
let previewed = null;
// What tests and the curious read: the last batch's time, the preview's figures.
window.torsel = { batchMs: 0, chartsMs: 0, preview: preview.stats };

function update() {
  const fieldsHold = options.validate();
  const why = fromDisk() ? T.fromDisk : files.whyNot() || (fieldsHold ? '' : T.fixFields);
  $('convert').disabled = busy || why !== '';
  if (!busy) $('convert-why').textContent = why;
}

async function showPreview(report) {
  if (!report || !report.output || !batch) return;
  previewed = report;
  const bytes = async (blob) => new Uint8Array(await blob.arrayBuffer());
  const model = batch.model && { name: batch.model.name, bytes: await bytes(batch.model) };
  await preview.show(await bytes(batch.motions[report.index]), await bytes(report.output.blob), model, batch.modelLabel);
}

$('convert').onclick = async () => {
  if (!options.validate()) return update();
  busy = true;
  update();
  results.clear(), chart.clear(), preview.dispose();
  $('preview-area').hidden = true;
  window.torsel.state = 'converting';
  const motionFiles = files.motions(), args = options.args();
  const keep = args.find((o) => o.startsWith('-K'));
  const bound = keep ? Number(keep.slice(2)) / 10 : 0;
  Object.assign($('progress'), { hidden: false, max: motionFiles.length, value: 0 });
  $('convert-why').textContent = T.converting(1, motionFiles.length);
  const started = performance.now();
  const reports = [];
  let count = 0, shown = false;
  const model = files.model();
  const { charted } = await convertAll(motionFiles, model, args, (report) => {
    $('progress').value = ++count;
    $('convert-why').textContent = T.converting(Math.min(count + 1, motionFiles.length), motionFiles.length);
    results.add(report);
    if (!report.stopped) reports[report.index] = report;
  }, (index, c) => {
    reports[index].chart = c;
    chart.add(reports[index], bound);
    if (!shown) shown = true, chart.pick(index);
  });
  window.torsel.batchMs = performance.now() - started;
  window.torsel.convertedAt = performance.now();
  batch = { motions: motionFiles, model, modelLabel: files.modelLabel() };
  busy = false;
  $('progress').hidden = true;
  results.done();
  update();
  window.torsel.state = 'converted';
  const first = reports.find((r) => r && r.state === 'converted');
  const previewing = first ? showPreview(first) : Promise.resolve();
  await charted;
  window.torsel.chartsMs = performance.now() - started;
  await previewing;
  window.torsel.state = 'done';
};

files.setup(update);
options.setup(update);
results.setup();
preview.setup();
chart.setup(async (report, frame) => {
  if (previewed !== report) await showPreview(report);
  await preview.seek(frame);
}, (report) => previewed !== report && showPreview(report));
if (fromDisk()) Object.assign($('from-disk'), { hidden: false, textContent: T.fromDisk });
else warm();
update();
