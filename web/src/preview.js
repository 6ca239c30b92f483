// The preview's controls on the page. Its scene lives in a worker of its own
// (preview_worker.js), which draws into the canvas: loading a model there
// never freezes the page, and the page's part of a frame is a slider moved.
import { T } from './text.js';
import { isPose } from './vmd.js';

const $ = (id) => document.getElementById(id);
let worker = null;
let waiting = null;  // the show the worker is building: { token, resolve }
let token = 0;
let said = null;  // what the note above the canvas says, kept for a change of language
// What the page and its tests read: the frame, the frame rate, the frames drawn.
// pageMs: how long the page took over each of the worker's last 100 reports.
export const stats = { frame: 0, fps: 0, drawn: 0, scale: 1, playing: false, shownAt: 0,
  duration: 0, pageMs: [] };

function playLabel() { $('play').textContent = stats.playing ? T.pause : T.play; }

// The slider and the frame field at `frame`, unless the user is typing in one of them.
function showFrame(frame) {
  const at = Math.round(frame);
  if (document.activeElement !== $('frame')) $('frame').value = at;
  if (document.activeElement !== $('frame-at')) $('frame-at').value = at;
}

function heard({ data }) {
  if (data.type === 'state') {
    const started = performance.now();
    Object.assign(stats, data, { type: undefined });
    showFrame(data.frame);
    playLabel();
    stats.pageMs.push(performance.now() - started);
    if (stats.pageMs.length > 100) stats.pageMs.shift();
  } else if (data.type === 'shown' && waiting && data.token === waiting.token) {
    if (data.ok) {
      stats.duration = Math.max(0, Math.ceil(data.duration));
      for (const id of ['frame', 'frame-at']) $(id).max = stats.duration;
    }
    stats.shownAt = performance.now();
    waiting.resolve(data), waiting = null;
  } else if (data.type === 'noWebgl') {
    said = { noWebgl: true }, note();
  }
}

// Starts the worker on the first show: the canvas is handed over once and for all.
function start() {
  const canvas = $('preview');
  if (!canvas.transferControlToOffscreen) return false;
  const offscreen = canvas.transferControlToOffscreen();
  worker = new Worker('preview-worker.js');
  worker.onmessage = heard;
  worker.postMessage({ type: 'init', canvas: offscreen, ...sizeOf(canvas) }, [offscreen]);
  worker.postMessage({ type: 'camera', follow: $('camera').value === 'follow' });
  // Drawn at the size the canvas shows, device pixels (at most two a CSS pixel).
  new ResizeObserver(() => worker.postMessage({ type: 'size', ...sizeOf(canvas) })).observe(canvas);
  return true;
}

function sizeOf(canvas) {
  const r = Math.min(2, devicePixelRatio || 1);
  const side = (css, otherwise) => Math.round(css * r) || otherwise;
  return { width: side(canvas.clientWidth, 1200), height: side(canvas.clientHeight, 700) };
}

const on = (s) => (!s.onModel ? (s.modelWhy ? T.mannequinInstead : T.mannequin)
  : s.modelName ? T.modelName(s.modelName) : T.model);

function note() {
  if (!said) return;
  const s = said;
  $('preview-on').textContent = s.noWebgl ? T.noWebgl
    : s.motionWhy ? T.motionUnread(s.motion)
      : [s.modelWhy && T.previewFailed, T.showing(s.motion, on(s)),
        s.inputCut && T.playsWhatItHolds].filter(Boolean).join(' ');
  // The player's own words, for whoever asks.
  $('preview-on').title = s.motionWhy || s.modelWhy || '';
}

export function clear() {
  said = null;
  $('preview-area').hidden = true;
  if (worker) worker.postMessage({ type: 'clear' });
  stats.playing = false;
}

// Shows the input and the output of `motion` (its name: a motion or a pose) on the model
// (null: the mannequin).
export function show(motion, input, output, model, modelName) {
  $('preview-area').hidden = false;
  if (!worker && !start()) return said = { noWebgl: true }, note(), Promise.resolve();
  stats.playing = false, playLabel();
  $('preview-on').textContent = T.loadingPreview(motion);
  $('preview').style.visibility = 'hidden';
  arrange();
  return new Promise((resolve) => {
    waiting = { token: ++token, resolve };
    worker.postMessage({ type: 'show', token, input, output, model, pose: isPose(motion) });
  }).then((r) => {
    said = { ...r, motion, modelName };
    // The figures of another file never stand for this one.
    $('preview-stage').hidden = !r.ok, $('preview').style.visibility = '';
    $('timeline').hidden = !(r.duration > 0);  // a pose: one frame, nothing to play
    showFrame(0);
    note();
    return r;
  });
}

// Goes to a frame and stops there.
export function seek(frame) {
  if (!worker) return;
  const at = Math.max(0, Math.min(Math.round(frame), stats.duration));
  stats.playing = false, playLabel();
  stats.frame = at, showFrame(at);
  worker.postMessage({ type: 'seek', frame: at });
}

function arrange() {
  const overlay = document.querySelector('input[name=view]:checked').value === 'overlay';
  if (worker) worker.postMessage({ type: 'arrange', overlay,
    input: $('show-input').checked, output: $('show-output').checked });
}

export function relabel() { playLabel(), note(); }

export function setup() {
  playLabel();
  $('play').onclick = () => {
    if (!worker) return;
    stats.playing = !stats.playing;
    playLabel();
    worker.postMessage({ type: 'play', on: stats.playing });
  };
  $('frame').oninput = (e) => seek(Number(e.target.value));
  // A frame typed: shown once it is a number (Enter or leaving the field).
  $('frame-at').onchange = (e) => {
    if (e.target.value.trim() !== '' && Number.isFinite(Number(e.target.value))) seek(Number(e.target.value));
  };
  $('step-back').onclick = () => seek(Math.round(stats.frame) - 1);
  $('step-ahead').onclick = () => seek(Math.round(stats.frame) + 1);
  $('speed').onchange = (e) => worker && worker.postMessage({ type: 'speed', speed: Number(e.target.value) });
  $('home').onclick = () => worker && worker.postMessage({ type: 'home' });
  // The whole motion framed, the figures moving in the picture; or the camera following them.
  $('camera').onchange = (e) => worker && worker.postMessage({ type: 'camera', follow: e.target.value === 'follow' });
  const views = document.querySelectorAll('input[name=view], #show-input, #show-output');
  for (const e of views) e.onchange = arrange;
  // Turning and zooming the camera: the worker has no mouse of its own.
  const canvas = $('preview');
  canvas.onpointerdown = (e) => canvas.setPointerCapture(e.pointerId);
  canvas.onpointermove = (e) => {
    if (!worker || !e.buttons) return;
    worker.postMessage({ type: 'orbit', dx: e.movementX, dy: e.movementY, zoom: 0 });
  };
  canvas.onwheel = (e) => {
    if (!worker) return;
    e.preventDefault();
    worker.postMessage({ type: 'orbit', dx: 0, dy: 0, zoom: e.deltaY });
  };
}
