// The chart: how far the worse of the two wrists plays from the input at
// every frame, one file at a time (chosen in a list), the bound of "keep"
// drawn as a line, the worst frame and value written above it.
import uPlot from 'uplot';
import 'uplot/dist/uPlot.min.css';
import { T } from './text.js';

const $ = (id) => document.getElementById(id);
let entries = [];
let plot = null;
let onPick = () => {};

function worst(values) {
  let at = 0;
  for (let i = 1; i < values.length; i++) if (values[i] > values[at]) at = i;
  return { frame: at, value: values.length ? values[at] : 0 };
}

// The series of one report: [label, values, colour].
function seriesOf(r) {
  const c = r.chart;
  return [[c.fold ? T.folded : T.plain, c.plain, '#c33'], ...(c.kept ? [[T.kept, c.kept, '#36c']] : [])];
}

function show(i) {
  if (plot) plot.destroy(), plot = null;
  const e = entries[i];
  if (!e || !e.report.chart) { $('chart-summary').textContent = T.noChart; return; }
  const series = seriesOf(e.report);
  const lines = series.map(([label, values]) => {
    const w = worst(values);
    return w.value > 0 ? T.worst(label, w.frame, w.value) : T.noDeviation(label);
  });
  $('chart-summary').textContent = lines.join(' · ');
  if (series.every(([, values]) => worst(values).value === 0)) return;  // nothing to draw: said above
  const frames = Array.from(series[0][1], (_, k) => k);
  const data = [frames, ...series.map(([, v]) => v)];
  const opts = {
    width: Math.min(1100, $('chart-area').clientWidth || 900), height: 280, scales: { x: { time: false }, y: { range: (u, min, max) => [0, Math.max(max, e.bound * 1.2, 0.1)] } },
    axes: [{ label: T.frame }, { label: T.offBy }],
    series: [{ label: T.frame }, ...series.map(([label, , stroke]) => ({ label, stroke, value: (u, v) => (v == null ? '' : `${v.toFixed(2)}°`) }))],
  };
  if (e.bound > 0) {
    data.push(frames.map(() => e.bound));
    opts.series.push({ label: `${T.bound} ${e.bound}°`, stroke: '#2a2', dash: [6, 4], value: () => `${e.bound}°` });
  }
  // The legend reads the worst frame of the first series at once, not "--" until hovered.
  const at = worst(series[0][1]).frame;
  opts.hooks = { ready: [(u) => u.setCursor({ left: u.valToPos(at, 'x'), top: u.valToPos(series[0][1][at], 'y') })] };
  plot = new uPlot(opts, data, $('chart'));
  // uPlot takes the mouse for its drag zoom: a button released over the plot picks the frame.
  plot.over.addEventListener('mouseup', () => { if (plot.cursor.idx != null) onPick(i, plot.cursor.idx); });
}

export function clear() {
  entries = [];
  if (plot) plot.destroy(), plot = null;
  $('chart-file').replaceChildren();
  $('chart-summary').textContent = '';
  $('chart-area').hidden = true;
}

// Adds a converted file's chart to the list, in the files' order.
export function add(report, bound) {
  entries.push({ report, bound });
  const option = new Option(report.name, entries.length - 1);
  option.dataset.index = report.index;
  const after = [...$('chart-file').options].find((o) => Number(o.dataset.index) > report.index);
  $('chart-file').add(option, after);
  $('chart-area').hidden = false;
}

// Shows the chart of the file with this index in the batch.
export function pick(index) {
  const i = entries.findIndex((e) => e.report.index === index);
  $('chart-file').value = i;
  show(i);
}

export const selected = () => entries[Number($('chart-file').value)]?.report;

export function setup(picked, selectedChanged) {
  onPick = (i, frame) => picked(entries[i].report, frame);
  $('chart-file').onchange = (ev) => { show(Number(ev.target.value)); selectedChanged(selected()); };
}
