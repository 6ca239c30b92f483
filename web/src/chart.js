// The chart: how far the worse of the two wrists plays from the input at
// every frame, for the file shown: the plain conversion and, with a bound
// (keep, fold back), the kept line and the bound, all on one scale; the
// worst frame and value are written above it. Thinned, the worst chain the
// bound answers for takes the wrists' place, and the worst of the other
// bones is drawn beside it.
import uPlot from 'uplot';
import 'uplot/dist/uPlot.min.css';
import { T } from './text.js';

const $ = (id) => document.getElementById(id);
const COLOURS = { plain: '#c33', kept: '#36c', bound: '#2a2', bones: '#a3a' };
let plot = null;
let onPick = () => {};
// The results' width as last laid out: read when charting, it would lay the page out again.
let width = 900;

// The worst frame, and how many frames hold no number (a motion's NaN rotations).
function worst(values) {
  let at = -1, unmeasured = 0;
  for (let i = 0; i < values.length; i++) {
    if (!Number.isFinite(values[i])) unmeasured++;
    else if (at < 0 || values[i] > values[at]) at = i;
  }
  return { frame: Math.max(at, 0), value: at < 0 ? 0 : values[at], unmeasured };
}

// The worst frame of each line: the plain (or folded) conversion, and the kept one.
export const worstOf = (c) => ({ plain: c.plain && worst(c.plain), kept: c.kept && worst(c.kept) });

// A few points a pixel column: the frames where each line is worst there,
// so that no peak is lost and a long motion draws as fast as a short one.
function thin(lines, columns) {
  const n = lines[0].length, frames = [];
  for (let c = 0; c < columns && n; c++) {
    const lo = Math.floor((c * n) / columns);
    const hi = Math.max(lo + 1, Math.floor(((c + 1) * n) / columns));
    const worst = lines.map((values) => {
      let at = lo;
      for (let k = lo + 1; k < hi; k++) if (values[k] > values[at] || !(values[at] >= 0)) at = k;
      return at;
    });
    if (c === 0) worst.push(0);
    if (c === columns - 1) worst.push(n - 1);
    frames.push(...[...new Set(worst)].sort((a, b) => a - b));
  }
  const at = (values, k) => (Number.isFinite(values[k]) ? values[k] : null);
  return [frames, ...lines.map((values) => frames.map((k) => at(values, k)))];
}

// uPlot's canvas drawn by the page's own thread, not the GPU process: where
// WebGL is software that process is busy with the preview, and the page
// would wait on it. Chrome draws a canvas read "frequently" so.
function onCpu(make) {
  const proto = HTMLCanvasElement.prototype, getContext = proto.getContext;
  proto.getContext = function (type, o) {
    return getContext.call(this, type, { ...o, willReadFrequently: true });
  };
  try { return make(); } finally { proto.getContext = getContext; }
}

export function clear() {
  if (plot) plot.destroy(), plot = null;
  $('chart-summary').textContent = '';
  $('chart-area').hidden = true;
}

const degrees = (u, ticks) => ticks.map((t) => (t == null ? '' : `${+t.toFixed(2)}°`));
// One logarithmic scale for every line: 0.3° kept and 80° plain side by side
// as the numbers they are, the bound where its value is. A frame within
// FLOOR (or exact) is drawn at FLOOR.
const FLOOR = 0.01;

// Charts one report over `frames` (the preview's, where known); `bound` is the run's (0: none).
export function show(report, bound, frames = report && report.chart && report.chart.frames) {
  clear();
  const c = report && report.chart;
  if (!c || !c.plain || c.pose) return;  // a pose: one frame, its deviation on its line
  $('chart-area').hidden = false;
  $('chart-head').textContent = c.thin ? T.chartHeadThin : T.chartHead;
  // [label, values, colour]: the line before the bound (plain or folded), the kept one, and
  // thinned the other bones
  const kept = c.thin ? [T.thinnedLine, c.kept, COLOURS.kept]
    : c.fold ? [T.folded, c.plain, COLOURS.kept] : c.kept && [T.kept, c.kept, COLOURS.kept];
  const before = c.fold ? (c.thin ? [T.folded, c.plain, COLOURS.plain] : null) : [T.plain, c.plain, COLOURS.plain];
  const series = [before, kept, c.bones && [T.otherBones, c.bones, COLOURS.bones]].filter(Boolean);
  const worsts = series.map(([, values]) => worst(values));
  $('chart-summary').textContent = series.map(([label], i) => (worsts[i].value > 0
    ? T.worst(label, worsts[i].frame, worsts[i].value) : T.noDeviation(label))).join(' · ');
  if (worsts.every((x) => x.value === 0)) return;  // nothing to draw: said above
  const data = thin(series.map(([, v]) => v), width);
  // The chart spans the frames the preview plays: after the last bone keyframe every line
  // holds its last value.
  const last = data[0].length - 1;
  if (frames - 1 > data[0][last]) data.forEach((d, i) => d.push(i ? d[last] : frames - 1));
  const values = data.slice(1);  // as measured, for the legend
  const drawn = values.map((v) => v.map((x) => (x == null ? null : Math.max(x, FLOOR))));
  // Up to the decade above the worst (or the bound), 200° at most: no turn is over 180°.
  const top = Math.min(200, Math.max(1, 10 ** Math.ceil(Math.log10(1.3 * Math.max(bound,
    ...worsts.map((x) => x.value))))));
  const opts = {
    width: Math.min(1100, width), height: 280,
    scales: { x: { time: false, range: () => [0, Math.max(1, frames - 1)] },
      deg: { distr: 3, log: 10, range: () => [FLOOR, top] } },
    axes: [{ label: T.frame }, { scale: 'deg', label: c.thin ? T.offByThin : T.offBy, values: degrees }],
    series: [{ label: T.frame }, ...series.map(([label, , stroke], i) => ({ label, stroke,
      width: series[i] === kept ? 2 : 1, scale: 'deg',
      value: (u, v, s, k) => (k == null || values[i][k] == null ? '' : `${values[i][k].toFixed(2)}°`) }))],
  };
  if (bound > 0 && kept) {
    drawn.push(data[0].map(() => bound));
    opts.series.push({ label: T.bound, stroke: COLOURS.bound, dash: [6, 4],
      scale: 'deg', value: () => `${bound}°` });
  }
  // The legend reads the worst frame of the first line at once, not "--" until hovered.
  const at = data[0].indexOf(worsts[0].frame);
  opts.hooks = { ready: [(u) => u.setLegend({ idx: at })] };
  // Built in one task and laid out and drawn in the next: each half stays short on a page
  // whose machine is busy with the other charts and the preview.
  const u = plot = onCpu(() => new uPlot(opts, [data[0], ...drawn], (self, init) => {
    $('chart').appendChild(self.root);
    setTimeout(() => plot === u && init());
  }));
  // uPlot takes the mouse for its drag zoom: a button released over the plot picks the frame.
  plot.over.addEventListener('mouseup', () => {
    if (plot.cursor.idx != null) onPick(data[0][plot.cursor.idx]);
  });
}

export function setup(picked) {
  onPick = picked;
  new ResizeObserver(([e]) => { width = e.contentRect.width || width; })
    .observe($('results-section'));
  // Chrome makes its GPU context for 2D canvases on the first one drawn, and
  // waits for the GPU process to do so: made now, while that process is idle,
  // it never waits behind the preview's drawing.
  document.createElement('canvas').getContext('2d').fillRect(0, 0, 1, 1);
}
