// The preview's own thread: babylon-mmd plays the input and the output on
// the user's model (or the mannequin) into the page's canvas, handed over
// as an OffscreenCanvas. Parsing a model and building its scene takes up to
// seconds; here it never holds up the page. It draws only while playing or
// when something changed, and lowers its resolution, not its frame rate,
// where the renderer is slow.
import { Engine } from '@babylonjs/core/Engines/engine';
import { Scene } from '@babylonjs/core/scene';
import { ArcRotateCamera } from '@babylonjs/core/Cameras/arcRotateCamera';
import { Vector3 } from '@babylonjs/core/Maths/math.vector';
import { Color3, Color4 } from '@babylonjs/core/Maths/math.color';
import { ShaderMaterial } from '@babylonjs/core/Materials/shaderMaterial';
import { ShaderStore } from '@babylonjs/core/Engines/shaderStore';
import '@babylonjs/core/Shaders/ShadersInclude/bonesDeclaration';
import '@babylonjs/core/Shaders/ShadersInclude/bonesVertex';
import { LoadAssetContainerAsync } from '@babylonjs/core/Loading/sceneLoader';
import 'babylon-mmd/esm/Loader/pmxLoader';
import 'babylon-mmd/esm/Loader/pmdLoader';
import 'babylon-mmd/esm/Runtime/Animation/mmdRuntimeModelAnimation';
import { VmdLoader } from 'babylon-mmd/esm/Loader/vmdLoader';
import { VpdLoader } from 'babylon-mmd/esm/Loader/vpdLoader';
import { MmdRuntime } from 'babylon-mmd/esm/Runtime/mmdRuntime';
import { playable } from './vmd.js';

const COLOURS = [new Color3(0.29, 0.5, 0.82), new Color3(0.88, 0.48, 0.14)];

// Plain shading, lit per vertex: software WebGL spends most of a frame on
// a material's shaders, and a figure needs no more than its shape in colour.
ShaderStore.ShadersStore.figureVertexShader = `precision highp float;
attribute vec3 position;
attribute vec3 normal;
#include<bonesDeclaration>
uniform mat4 world;
uniform mat4 viewProjection;
uniform vec3 colour;
varying vec3 vColour;
void main(void) {
  mat4 finalWorld = world;
#include<bonesVertex>
  vec3 n = normalize(mat3(finalWorld) * normal);
  vColour = colour * (0.55 + 0.45 * abs(dot(n, vec3(-0.37, 0.56, -0.74))) + 0.1 * n.y);
  gl_Position = viewProjection * finalWorld * vec4(position, 1.0);
}`;
ShaderStore.ShadersStore.figureFragmentShader = `precision mediump float;
varying vec3 vColour;
void main(void) { gl_FragColor = vec4(vColour, 1.0); }`;
// Below 12 frames a second the resolution drops, above 22 it rises again, to a quarter at most.
const SLOW_MS = 80, FAST_MS = 45, MAX_SCALE = 4;

let engine = null;
let view = null;  // { scene, runtime, camera, figures: [{ mesh, material }], gap }
let mannequin = null;
let size = { width: 1200, height: 700 };
let arranged = { overlay: false, input: true, output: true };
// Playback: the frame shown, whether it plays, when the view last moved (a drag, a seek).
const play = { on: false, frame: 0, last: 0, movedAt: 0, dirty: false };
const stats = { drawn: 0, fps: 0, scale: 1, firstFrameMs: 0, slowestMs: 0 };
let timing = { frames: 0, since: 0, average: 0, changedAt: 0, shownAt: 0 };

function setScale(scale) {
  stats.scale = scale;
  timing.changedAt = performance.now();
  const side = (pixels) => Math.max(1, Math.round(pixels / scale));
  engine.setSize(side(size.width), side(size.height));
}

async function loadFigure(scene, runtime, bytes, extension, colour) {
  // No morphs and no SDEF: the arms' twist is what the preview is for, and
  // software WebGL spends most of its time on them.
  const container = await LoadAssetContainerAsync(new Uint8Array(bytes), scene, {
    pluginExtension: extension,
    pluginOptions: { mmdmodel: { materialBuilder: null, loggingEnabled: false, boundingBoxMargin: 0,
      buildMorph: false, useSdef: false } },
  });
  container.addAllToScene();
  const material = new ShaderMaterial('figure', scene, 'figure',
    { attributes: ['position', 'normal'], uniforms: ['world', 'viewProjection', 'colour'] });
  material.setColor3('colour', colour);
  material.backFaceCulling = false;
  for (const m of container.meshes) m.material = material, m.alwaysSelectAsActiveMesh = true;
  const mesh = container.meshes[0];
  const model = runtime.createMmdModel(mesh, { materialProxyConstructor: null });
  return { mesh, material, model };
}

// While playing, a heavy model is drawn with fewer triangles: its vertices
// merged on a grid, bone by bone, the triangles that fold to a line dropped,
// the grid as fine as leaves at most MANY, and finer on a bone's small part
// (a finger) so that it keeps its shape. Software WebGL spends most of a
// frame on triangles; a still frame has them all.
const MANY = 30000;
function merged(parts, cell, extent) {
  return parts.map(({ p, bones, fine }) => {
    const chosen = new Map(), to = new Uint32Array(p.length / 3), coarse = [];
    for (let v = 0; v < to.length; v++) {
      const bone = bones ? bones[4 * v] : 0, size = Math.min(cell, extent.get(bone) / 3);
      const at = (k) => Math.floor(p[3 * v + k] / size);
      const key = `${at(0)},${at(1)},${at(2)},${bone}`;
      if (!chosen.has(key)) chosen.set(key, v);
      to[v] = chosen.get(key);
    }
    for (let i = 0; i < fine.length; i += 3) {
      const a = to[fine[i]], b = to[fine[i + 1]], c = to[fine[i + 2]];
      if (a !== b && b !== c && a !== c) coarse.push(a, b, c);
    }
    return Uint32Array.from(coarse);
  });
}
// The largest side of the box round each bone's vertices.
function extents(parts) {
  const boxes = new Map();
  for (const { p, bones } of parts) {
    for (let v = 0; v < p.length / 3; v++) {
      const bone = bones ? bones[4 * v] : 0;
      const b = boxes.get(bone) || [Infinity, Infinity, Infinity, -Infinity, -Infinity, -Infinity];
      boxes.set(bone, b);
      for (let k = 0; k < 3; k++) {
        b[k] = Math.min(b[k], p[3 * v + k]), b[k + 3] = Math.max(b[k + 3], p[3 * v + k]);
      }
    }
  }
  const side = (b) => Math.max(b[3] - b[0], b[4] - b[1], b[5] - b[2]);
  return new Map([...boxes].map(([bone, b]) => [bone, side(b)]));
}
function coarsen(figure) {
  const parts = figure.getChildMeshes(false).filter((m) => m.getTotalIndices() > 0)
    .map((m) => ({ m, fine: m.getIndices(), p: m.getVerticesData('position'),
      bones: m.getVerticesData('matricesIndices') }));
  const triangles = (lists) => lists.reduce((n, l) => n + l.length / 3, 0);
  if (triangles(parts.map((x) => x.fine)) <= MANY) return [];
  const { min, max } = figure.getHierarchyBoundingVectors(true);
  const height = max.y - min.y, extent = extents(parts);
  let cell = height / 400, coarse = merged(parts, cell, extent);
  while (triangles(coarse) > MANY && cell < height / 20) {
    coarse = merged(parts, cell *= 1.5, extent);
  }
  return parts.map(({ m, fine }, i) => ({ m, fine: Uint32Array.from(fine), coarse: coarse[i] }));
}

// Playing or still: the coarse triangles while playing (worked out at the first play), all
// of them when still.
function setPlaying(on) {
  play.on = on;
  for (const f of view.figures) {
    if (on) f.parts ||= coarsen(f.mesh);
    for (const { m, fine, coarse } of f.parts || []) m.setIndices(on ? coarse : fine);
  }
}

function frameCamera(scene, mesh, gap) {
  const { min: minimum, max: maximum } = mesh.getHierarchyBoundingVectors(true);
  const height = Math.max(1, maximum.y - minimum.y), width = Math.max(1, maximum.x - minimum.x);
  const target = new Vector3(0, minimum.y + height / 2, 0);
  const camera = new ArcRotateCamera('camera', -Math.PI / 2, Math.PI / 2.15, 1, target, scene);
  const aspect = size.width / size.height;
  // Both figures and a margin in view, whichever of height and width limits: arms reach out.
  const reach = 1.3 * Math.max(height, (width + gap * 2) / aspect);
  camera.radius = reach / (2 * Math.tan(camera.fov / 2));
  camera.minZ = 0.1;
  return camera;
}

// Side by side, or over each other, where the two colours part; each figure may be hidden.
function arrange() {
  if (!view) return;
  view.figures.forEach(({ mesh, material }, i) => {
    mesh.position.x = arranged.overlay ? 0 : (i === 0 ? -view.gap : view.gap);
    // Over each other the output is drawn in front where both stand: the input shows where
    // they part.
    material.zOffset = arranged.overlay && i === 1 ? -2 : 0;
    mesh.setEnabled(i === 0 ? arranged.input : arranged.output);
  });
  play.dirty = true;
}

async function model(source) {
  if (source) {
    const bytes = await source.arrayBuffer();
    return { bytes, extension: /\.pmd$/i.test(source.name) ? '.pmd' : '.pmx' };
  }
  mannequin ||= await (await fetch('mannequin.pmx')).arrayBuffer();
  return { bytes: mannequin, extension: '.pmx' };
}

function dispose() {
  if (!view) return;
  view.scene.dispose();
  view = null;
}

function newScene() {
  const scene = new Scene(engine);
  scene.skipPointerMovePicking = true;
  scene.clearColor = new Color4(0.933, 0.945, 0.96, 1);
  const runtime = new MmdRuntime(scene);
  runtime.loggingEnabled = false;
  runtime.register(scene);
  return { scene, runtime };
}

// The figures on the model; a model the player cannot load gives way to the
// mannequin, with its reason. A motion it cannot read is the motion's fault.
async function show({ token, input, output, model: modelFile, pose }) {
  dispose();
  timing.shownAt = performance.now();
  stats.firstFrameMs = 0;
  let built = newScene(), figures, modelWhy = '';
  try {
    const { bytes, extension } = await model(modelFile);
    figures = [await loadFigure(built.scene, built.runtime, bytes, extension, COLOURS[0]),
      await loadFigure(built.scene, built.runtime, bytes, extension, COLOURS[1])];
  } catch (e) {
    built.scene.dispose();
    if (!modelFile) return postMessage({ type: 'shown', token, motionWhy: String(e.message || e) });
    modelWhy = String(e.message || e);
    built = newScene();
    const { bytes, extension } = await model(null);
    figures = [await loadFigure(built.scene, built.runtime, bytes, extension, COLOURS[0]),
      await loadFigure(built.scene, built.runtime, bytes, extension, COLOURS[1])];
  }
  const { scene, runtime } = built;
  const motions = await Promise.all([input, output].map(async (b) => {
    const bytes = new Uint8Array(await b.arrayBuffer());
    return pose ? { bytes, cut: null } : playable(bytes);
  }));
  try {
    const loader = new (pose ? VpdLoader : VmdLoader)(scene);
    loader.loggingEnabled = false;
    for (const [i, f] of figures.entries()) {
      const { buffer } = motions[i].bytes, name = `motion${i}`;
      const animation = pose ? loader.loadFromBuffer(name, buffer)
        : await loader.loadFromBufferAsync(name, buffer);
      f.model.setRuntimeAnimation(f.model.createRuntimeAnimation(animation));
    }
  } catch (e) {
    scene.dispose();
    return postMessage({ type: 'shown', token, motionWhy: String(e.message || e) });
  }
  const bounds = figures[0].mesh.getHierarchyBoundingVectors(true);
  const gap = Math.max(4, (bounds.max.x - bounds.min.x) * 0.6);
  view = { scene, runtime, figures, gap, camera: frameCamera(scene, figures[0].mesh, gap) };
  arrange();
  Object.assign(play, { on: false, frame: 0, dirty: true });
  await runtime.seekAnimation(0, true);
  postMessage({ type: 'shown', token, ok: true, onModel: !!modelFile && !modelWhy, modelWhy,
    inputCut: motions[0].cut, duration: runtime.animationFrameTimeDuration });
}

function report(now) {
  postMessage({ type: 'state', frame: play.frame, playing: play.on, ...stats,
    width: engine.getRenderWidth(), height: engine.getRenderHeight(), at: now });
}

// Each animation frame: advance while playing, draw only what changed.
function tick() {
  const now = performance.now();
  const interval = now - play.last;
  play.last = now;
  if (!view) return;
  const moving = play.on || now - play.movedAt < 300;
  if (!moving && stats.scale !== 1) setScale(1), play.dirty = true;  // a still frame at full size
  if (!play.on && !play.dirty) return;
  if (play.on) {
    const duration = view.runtime.animationFrameTimeDuration;
    play.frame += Math.min(interval, 250) * 0.03;
    if (play.frame > duration) play.frame = 0;  // loops
    view.runtime.seekAnimation(play.frame, true);
    timing.average = timing.average ? timing.average * 0.8 + interval * 0.2 : interval;
    if (now - timing.changedAt > 600) {
      const slow = timing.average > SLOW_MS && stats.scale < MAX_SCALE;
      if (slow) setScale(Math.min(MAX_SCALE, stats.scale * 1.4));
      else if (timing.average < FAST_MS && stats.scale > 1) {
        setScale(Math.max(1, stats.scale / 1.4));
      }
    }
    timing.frames++;
    if (now - timing.since >= 1000) {
      stats.fps = (timing.frames * 1000) / (now - timing.since);
      timing.frames = 0, timing.since = now;
    }
  }
  play.dirty = false;
  view.scene.render();
  stats.drawn++;
  stats.slowestMs = Math.max(stats.slowestMs, performance.now() - now);
  if (!stats.firstFrameMs) stats.firstFrameMs = performance.now() - timing.shownAt;
  // The page hears of a frame at most ten times a second while playing.
  if (!play.on || now - (timing.reported || 0) > 100) timing.reported = now, report(now);
}

const handlers = {
  init({ canvas, width, height }) {
    try {
      // No multisampling: software WebGL (SwiftShader) draws four times the pixels with it.
      engine = new Engine(canvas, false, { preserveDrawingBuffer: true, stencil: false }, false);
    } catch (e) {
      return postMessage({ type: 'noWebgl' });
    }
    size = { width, height };
    setScale(1);
    engine.runRenderLoop(tick);
  },
  show: (m) => engine && show(m),
  clear: () => { dispose(); play.on = false; },
  size({ width, height }) {
    size = { width, height };
    if (engine) setScale(stats.scale);
    play.dirty = true;
  },
  play({ on }) {
    if (!view) return;
    setPlaying(on);
    if (on && play.frame >= view.runtime.animationFrameTimeDuration) play.frame = 0;
    timing = { ...timing, frames: 0, since: performance.now(), average: 0 };
    play.last = performance.now();  // the coarse triangles took their time: not a slow frame
    stats.fps = 0;
    play.dirty = true;
    report(performance.now());
  },
  seek({ frame }) {
    if (!view) return;
    if (play.on) setPlaying(false);
    play.frame = frame;
    play.movedAt = performance.now();
    view.runtime.seekAnimation(frame, true);
    play.dirty = true;
  },
  arrange(m) { arranged = m; arrange(); },
  orbit({ dx, dy, zoom }) {
    if (!view) return;
    const c = view.camera;
    c.alpha -= dx * 0.008;
    c.beta = Math.min(Math.PI - 0.05, Math.max(0.05, c.beta - dy * 0.008));
    c.radius *= Math.exp(zoom * 0.001);
    play.movedAt = performance.now();
    play.dirty = true;
  },
};

onmessage = ({ data }) => handlers[data.type](data);
