// The workers that convert: two at most, each taking the next file as it is
// free; every motion is converted first (its report shown at once), then
// each converted one is charted, by one of them.
import { language, T } from './text.js';

const POOL = Math.max(1, Math.min(2, navigator.hardwareConcurrency || 1));
let pool = [];
let charting = null;  // ends the charts under way

// Starts the workers ahead of the first batch, so that their WebAssembly is compiled by then.
export function warm() {
  while (pool.length < POOL) pool.push(new Worker('worker.js'));
}

// Runs jobs on the workers; onDone(job, data) for each answer. Resolves when all are answered.
function runJobs(workers, jobs, onDone, onStop) {
  let next = 0, answered = 0;
  return new Promise((resolve) => {
    if (!jobs.length) return resolve();
    const give = (w) => { if (next < jobs.length) { w.job = jobs[next++]; w.postMessage(w.job); } };
    for (const w of workers) {
      w.onmessage = ({ data }) => {
        onDone(w.job, data);
        if (++answered === jobs.length) resolve(); else give(w);
      };
      w.onerror = (e) => {  // never a blank page: say what stopped
        e.preventDefault();
        onStop(T.stopped(e.message || 'worker.js'));
        resolve();
      };
      give(w);
    }
  });
}

// Converts the motions (files) with the options; onReport(report) for each
// file. Resolves once the conversions are over, with chart(), which charts
// the converted ones (onChart(index, chart) for each) when the page is ready
// to give them the machine.
export async function convertAll(motions, model, options, onReport, onChart, onStop) {
  if (charting) {  // a new batch while the last one charts: those charts are dropped
    charting();
    pool.forEach((w) => w.terminate()), pool = [];
  }
  warm();
  const workers = pool.slice(0, motions.length);
  const converted = [];
  let stopped = false;
  const stop = (why) => {  // a worker that failed is not used again
    if (!stopped) stopped = true, onStop(why);
    pool.forEach((w) => w.terminate()), pool = [];
  };
  const japanese = language() === 'ja';
  const jobs = motions.map((motion, index) =>
    ({ job: 'convert', index, motion, model, options, japanese }));
  await runJobs(workers, jobs, (job, report) => {
    if (report.output && report.state !== 'failed' && report.state !== 'unchanged') {
      const { index, motion } = job;
      converted.push({ job: 'chart', index, motion, model, options, output: report.output.blob });
    }
    onReport(report);
  }, stop);
  // One worker charts: on two cores the page keeps one to itself.
  const charted = (job, data) => onChart(data.index, data.chart);
  return { chart: () => (stopped ? Promise.resolve() : new Promise((resolve) => {
    const done = () => { if (charting === done) charting = null; resolve(); };
    charting = done;
    runJobs(workers.slice(0, 1), converted, charted, stop).then(done);
  })) };
}

// Whether the program can use the model with these options, asked of the program itself on
// a worker of its own: resolves with the failure (null: it can).
let checker = null, asked = 0;
export function checkModel(model, options) {
  checker ||= new Worker('worker.js');
  const token = ++asked;
  return new Promise((resolve) => {
    checker.onmessage = ({ data }) => data.token === asked && resolve(data.failure);
    checker.postMessage({ job: 'model', token, model, options });
  });
}

// Opened from disk, a page cannot start its worker nor fetch its WebAssembly.
export const fromDisk = () => location.protocol === 'file:';
