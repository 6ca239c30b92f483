// The preview's frame loop: advance while playing, draw only what changed,
// at the level of detail that keeps software WebGL at MMD's own rate, and
// tell the page of it ten times a second at most.
import { LEVELS, coarsen, levelMesh } from './preview_lod.js';
import { aim } from './preview_framing.js';

const FRAME_MS = 1000 / 30, SLOW_MS = 1000 / 21;
export const STILL = 0, PLAYING = 1;
// After a pause, a seek or a turn of the camera, the whole model at full size, once still this long.
const STILL_MS = 400;

// The engine, the scene shown (view: { scene, runtime, figures, cameras, framing, follow,
// moved, coarse }) and the canvas's size: set by the scene's side.
export const loop = { engine: null, view: null, size: { width: 1200, height: 700 } };
// Playback: the frame shown, whether it plays and how fast, when the view last moved.
export const play = { on: false, frame: 0, last: 0, speed: 1, movedAt: 0, dirty: false, drawnAt: 0 };
// level: the level of detail shown (-1: the model as loaded, until the levels are worked
// out); playing: the one that keeps up, for the model `key`.
export const detail = { level: -1, playing: PLAYING, key: '', since: 0, frames: 0 };
export const stats = { drawn: 0, fps: 0, scale: 1, firstFrameMs: 0, slowestMs: 0 };
let reported = 0;

export function setScale(scale) {
  stats.scale = scale;
  const side = (pixels) => Math.max(1, Math.round(pixels / scale));
  loop.engine.setSize(side(loop.size.width), side(loop.size.height));
}

// The figures at `level` (-1: the whole model) and its resolution.
export function setDetail(level) {
  if (level === detail.level) return;
  for (const f of loop.view.figures) {
    for (const m of f.parts) m.setEnabled(level < 0);
    f.levels.forEach((m, i) => m.setEnabled(i === level));
  }
  detail.level = level;
  setScale(level < 0 ? 1 : LEVELS[level].scale);
}

// Every level's meshes of both figures (one model: worked out once).
export function levels(v) {
  if (v.coarse) return;
  v.coarse = coarsen(v.figures[0]);
  for (const f of v.figures) f.levels = v.coarse.map((indices, i) => levelMesh(f, indices, i));
}

export function report(now) {
  reported = now;
  const { engine } = loop;
  postMessage({ type: 'state', frame: play.frame, playing: play.on, ...stats,
    level: detail.level, width: engine.getRenderWidth(), height: engine.getRenderHeight(), at: now });
}

// While playing: a cheaper level wherever a second fell below 21 frames (not the first
// second, which sets up); the model plays at that level from then on.
function adapt(now) {
  detail.frames++;
  if (now - detail.since < 1000) return;
  stats.fps = (detail.frames * 1000) / (now - detail.since);
  if (detail.warm && stats.fps < 1000 / SLOW_MS && detail.level < LEVELS.length - 1) {
    detail.playing = detail.level + 1, setDetail(detail.playing);
  }
  Object.assign(detail, { frames: 0, since: now, warm: true });
}

// Draws the frame shown now.
export function draw(now) {
  const { view } = loop;
  play.dirty = false, play.drawnAt = now;
  if (view.follow) aim(view, play.frame, loop.size);
  view.scene.render();
  stats.drawn++;
  stats.slowestMs = Math.max(stats.slowestMs, performance.now() - now);
}

// Each animation frame: advance while playing, draw only what changed.
export function tick() {
  const now = performance.now(), { view } = loop;
  const interval = now - play.last;
  play.last = now;
  if (!view) return;
  if (play.on) {
    const duration = view.runtime.animationFrameTimeDuration;
    play.frame += Math.min(interval, 250) * 0.03 * play.speed;
    if (play.frame > duration) play.frame = 0;  // loops
    if (now - play.drawnAt < FRAME_MS - 4) return;
    view.runtime.seekAnimation(play.frame, true);
    adapt(now);
  } else if (now - play.movedAt >= STILL_MS && detail.level > STILL) {
    setDetail(STILL), play.dirty = true;  // still: near the whole model, at full size
  } else if (!play.dirty) {
    return;
  }
  draw(now);
  // The page hears of a frame at most ten times a second while playing.
  if (!play.on || now - reported > 100) report(now);
}

// Moving (a seek, a turn): drawn at the playing level until still.
export function moving() {
  play.movedAt = performance.now();
  if (loop.view.coarse && detail.level <= STILL) setDetail(detail.playing);
  play.dirty = true;
}

// Starts or stops playing.
export function setPlaying(on) {
  const { view } = loop;
  play.on = on;
  if (on) {
    if (play.frame >= view.runtime.animationFrameTimeDuration) play.frame = 0;
    levels(view);
    setDetail(detail.playing);
    Object.assign(detail, { since: performance.now(), frames: 0, warm: false });
    play.last = performance.now();  // the levels took their time: not a slow frame
    stats.fps = 0;
  }
  // A pause keeps the last frame and draws the whole model once still, after the page
  // has shown the button's new word.
  play.movedAt = performance.now();
  report(performance.now());
}
