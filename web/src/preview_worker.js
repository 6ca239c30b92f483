// The preview's own thread: babylon-mmd plays the input and the output on
// the user's model (or the mannequin) into the page's canvas, handed over
// as an OffscreenCanvas. Parsing a model and building its scene takes up to
// seconds; here it never holds up the page. The camera frames both figures
// over the whole motion; side by side, each figure has a camera of its own
// in the same pose, so that the same pose looks the same. It draws only
// while playing or when something changed, and keeps software WebGL playing
// by drawing fewer triangles and pixels, never fewer frames.
import { Engine } from '@babylonjs/core/Engines/engine';
import { Scene } from '@babylonjs/core/scene';
import { ArcRotateCamera } from '@babylonjs/core/Cameras/arcRotateCamera';
import { Matrix, Vector3 } from '@babylonjs/core/Maths/math.vector';
import { Viewport } from '@babylonjs/core/Maths/math.viewport';
import { Color3, Color4 } from '@babylonjs/core/Maths/math.color';
import { ShaderMaterial } from '@babylonjs/core/Materials/shaderMaterial';
import { Mesh } from '@babylonjs/core/Meshes/mesh';
import { VertexData } from '@babylonjs/core/Meshes/mesh.vertexData';
import { ShaderStore } from '@babylonjs/core/Engines/shaderStore';
import '@babylonjs/core/Shaders/ShadersInclude/bonesDeclaration';
import '@babylonjs/core/Shaders/ShadersInclude/bonesVertex';
import { LoadAssetContainerAsync } from '@babylonjs/core/Loading/sceneLoader';
import 'babylon-mmd/esm/Loader/pmxLoader';
import 'babylon-mmd/esm/Loader/pmdLoader';
import { PmdReader } from 'babylon-mmd/esm/Loader/Parser/pmdReader';
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

// babylon-mmd 1.3, reordering a PMD's bones after its IK list (a list not in
// bone order, as some older models have), gives the root bones an undefined
// parent instead of none, and then fails on the model: none it is again.
const convertBones = PmdReader._ConvertBones;
PmdReader._ConvertBones = function (...args) {
  const bones = convertBones.apply(this, args);
  for (const b of bones) if (b.parentBoneIndex === undefined) b.parentBoneIndex = -1;
  return bones;
};

// Levels of detail: triangles a figure at most, and the canvas's pixels
// divided by `scale` each way. The first is the still frame's, near the
// whole model at a fraction of its cost (software WebGL draws two heavy
// models whole in half a second, and the page waits that long); while
// playing, 30 frames a second at most (MMD's own rate) and at least 21,
// else the next level, at half the canvas at most.
const FRAME_MS = 1000 / 30, SLOW_MS = 1000 / 21;
const LEVELS = [{ triangles: 40000, scale: 1 }, { triangles: 10000, scale: 1.4 },
  { triangles: 10000, scale: 2 }, { triangles: 5000, scale: 2 }];
const STILL = 0, PLAYING = 1;
// After a pause, a seek or a turn of the camera, the whole model at full size, once still this long.
const STILL_MS = 400;
const HOME = { alpha: -Math.PI / 2, beta: Math.PI / 2.15 };

let engine = null;
// { scene, runtime, figures: [{ mesh, material, model, parts, fine, levels }], cameras, box,
//   moved (the user turned the camera), coarse (each level's indices) }
let view = null;
let mannequin = null;
let size = { width: 1200, height: 700 };
let arranged = { overlay: false, input: true, output: true };
// Playback: the frame shown, whether it plays and how fast, when the view last moved.
const play = { on: false, frame: 0, last: 0, speed: 1, movedAt: 0, dirty: false, drawnAt: 0 };
// level: the level of detail shown (-1: the model as loaded, until the levels are worked
// out); playing: the one that keeps up, for the model `key`.
const detail = { level: -1, playing: PLAYING, key: '', since: 0, frames: 0 };
const stats = { drawn: 0, fps: 0, scale: 1, firstFrameMs: 0, slowestMs: 0 };
let shownAt = 0, reported = 0;

function setScale(scale) {
  stats.scale = scale;
  const side = (pixels) => Math.max(1, Math.round(pixels / scale));
  engine.setSize(side(size.width), side(size.height));
}

async function loadFigure(scene, runtime, bytes, extension, index) {
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
  material.setColor3('colour', COLOURS[index]);
  material.backFaceCulling = false;
  for (const m of container.meshes) {
    m.material = material, m.alwaysSelectAsActiveMesh = true, m.layerMask = 1 << index;
  }
  const mesh = container.meshes[0];
  const model = runtime.createMmdModel(mesh, { materialProxyConstructor: null });
  const parts = mesh.getChildMeshes(false).filter((m) => m.getTotalIndices() > 0);
  return { mesh, material, model, parts, fine: parts.map((m) => Uint32Array.from(m.getIndices())),
    levels: [] };
}

// The parts of a figure as arrays: positions, bone indices and weights.
const geometry = (figure) => figure.parts.map((m) => ({ p: m.getVerticesData('position'),
  bones: m.getVerticesData('matricesIndices'), weights: m.getVerticesData('matricesWeights') }));

// A level of detail: the vertices merged on a grid, bone by bone, the
// triangles that fold to a line dropped, the grid as coarse as leaves
// `triangles` at most, and finer on a bone's small part (a finger) so that it
// keeps its shape. Software WebGL spends most of a frame on triangles.
function merged(parts, fine, cell, extent) {
  return parts.map(({ p, bones }, i) => {
    const chosen = new Map(), to = new Uint32Array(p.length / 3), coarse = [];
    for (let v = 0; v < to.length; v++) {
      const bone = bones ? bones[4 * v] : 0, side = Math.min(cell, extent.get(bone) / 3);
      const at = (k) => Math.floor(p[3 * v + k] / side);
      const key = `${at(0)},${at(1)},${at(2)},${bone}`;
      if (!chosen.has(key)) chosen.set(key, v);
      to[v] = chosen.get(key);
    }
    for (let k = 0; k < fine[i].length; k += 3) {
      const a = to[fine[i][k]], b = to[fine[i][k + 1]], c = to[fine[i][k + 2]];
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
const count = (lists) => lists.reduce((n, l) => n + l.length / 3, 0);
// Every level's indices per part (the two figures are one model: worked out once).
function coarsen(figure) {
  const parts = geometry(figure), extent = extents(parts);
  let [low, high] = [Infinity, -Infinity];
  for (const { p } of parts) for (let i = 1; i < p.length; i += 3) low = Math.min(low, p[i]), high = Math.max(high, p[i]);
  const height = Math.max(high - low, 1e-3);
  let cell = height / 2000;
  return LEVELS.map(({ triangles }) => {
    if (count(figure.fine) <= triangles) return figure.fine;
    let coarse = merged(parts, figure.fine, cell, extent);
    // Triangles fall about as the square of the cell: a few passes at most.
    while (count(coarse) > triangles && cell < height / 10) {
      cell *= Math.max(1.1, Math.sqrt(count(coarse) / triangles));
      coarse = merged(parts, figure.fine, cell, extent);
    }
    return coarse;
  });
}

// A level of a figure as one mesh of the vertices it keeps, drawn at once and skinned by the
// figure's skeleton: software WebGL pays for every draw and for every vertex it is handed.
function levelMesh(figure, indices, index) {
  const parts = geometry(figure);
  const kept = indices.reduce((n, l) => n + new Set(l).size, 0), total = count(indices) * 3;
  const data = Object.assign(new VertexData(), { positions: new Float32Array(3 * kept),
    normals: new Float32Array(3 * kept), matricesIndices: new Float32Array(4 * kept),
    matricesWeights: new Float32Array(4 * kept), indices: new Uint32Array(total) });
  let vertices = 0, at = 0;
  parts.forEach(({ p, bones, weights }, i) => {
    const n = figure.parts[i].getVerticesData('normal'), to = new Map();
    for (const v of indices[i]) {
      if (!to.has(v)) {
        to.set(v, vertices);
        data.positions.set(p.subarray(3 * v, 3 * v + 3), 3 * vertices);
        data.normals.set(n.subarray(3 * v, 3 * v + 3), 3 * vertices);
        if (bones) data.matricesIndices.set(bones.subarray(4 * v, 4 * v + 4), 4 * vertices);
        data.matricesWeights.set(weights ? weights.subarray(4 * v, 4 * v + 4) : [1, 0, 0, 0], 4 * vertices);
        vertices++;
      }
      data.indices[at++] = to.get(v);
    }
  });
  const mesh = new Mesh(`level${index}`, figure.mesh.getScene());
  data.applyToMesh(mesh);
  Object.assign(mesh, { parent: figure.mesh, skeleton: figure.parts[0]?.skeleton || null,
    material: figure.material, layerMask: figure.parts[0]?.layerMask, alwaysSelectAsActiveMesh: true });
  mesh.setEnabled(false);
  return mesh;
}

// The figures at `level` (-1: the whole model) and its resolution.
function setDetail(level) {
  if (level === detail.level) return;
  for (const f of view.figures) {
    for (const m of f.parts) m.setEnabled(level < 0);
    f.levels.forEach((m, i) => m.setEnabled(i === level));
  }
  detail.level = level;
  setScale(level < 0 ? 1 : LEVELS[level].scale);
}

// Per part and bone, the six vertices furthest along ±X, ±Y, ±Z: skinned at
// each frame, they stand for the figure's extent.
function extremes(figure) {
  const chosen = [];
  for (const { p, bones, weights } of geometry(figure)) {
    const best = new Map();
    for (let v = 0; v < p.length / 3; v++) {
      const bone = bones ? bones[4 * v] : 0;
      const b = best.get(bone) || Array(6).fill(-1);
      best.set(bone, b);
      for (let k = 0; k < 3; k++) {
        if (b[k] < 0 || p[3 * v + k] < p[3 * b[k] + k]) b[k] = v;
        if (b[k + 3] < 0 || p[3 * v + k] > p[3 * b[k + 3] + k]) b[k + 3] = v;
      }
    }
    for (const v of new Set([...best.values()].flat())) {
      chosen.push({ at: [p[3 * v], p[3 * v + 1], p[3 * v + 2]],
        bones: bones ? [...bones.subarray(4 * v, 4 * v + 4)] : [0, 0, 0, 0],
        weights: weights ? [...weights.subarray(4 * v, 4 * v + 4)] : [1, 0, 0, 0] });
    }
  }
  return chosen;
}

// The box round both figures at every frame of the motion (at most about 1,200 of them,
// evenly spread), each figure skinned as the renderer skins it.
function motionBox(figures, duration) {
  const box = [Infinity, Infinity, Infinity, -Infinity, -Infinity, -Infinity];
  const step = Math.max(1, Math.ceil(duration / 1200));
  for (const f of figures) {
    const points = extremes(f), bones = f.mesh.metadata.skeleton.bones;
    const skin = new Float32Array(16 * bones.length), m = new Matrix();
    for (let frame = 0; frame <= duration + step - 1; frame += step) {
      f.model.beforePhysics(Math.min(frame, duration));
      f.model.afterPhysics();
      const world = f.model.worldTransformMatrices;
      bones.forEach((b, i) => {
        b.getAbsoluteInverseBindMatrix().multiplyToArray(Matrix.FromArrayToRef(world, 16 * i, m),
          skin, 16 * b.getIndex());
      });
      for (const { at: [x, y, z], bones: which, weights } of points) {
        const out = [0, 0, 0];
        for (let w = 0; w < 4; w++) {
          if (!weights[w]) continue;
          const s = 16 * which[w];
          for (let k = 0; k < 3; k++) {
            out[k] += weights[w] * (x * skin[s + k] + y * skin[s + 4 + k] + z * skin[s + 8 + k]
              + skin[s + 12 + k]);
          }
        }
        for (let k = 0; k < 3; k++) box[k] = Math.min(box[k], out[k]), box[k + 3] = Math.max(box[k + 3], out[k]);
      }
    }
  }
  return Number.isFinite(box[0]) ? box : [-10, 0, -10, 10, 20, 10];  // a model with no mesh
}

// The camera's distance at which every corner of the box stands inside the view (with a
// margin), looking at its middle from the home direction.
function fit(camera, box) {
  const { alpha, beta } = HOME;
  // The target first: setting it works the angles out again from where the camera stands.
  camera.target = new Vector3((box[0] + box[3]) / 2, (box[1] + box[4]) / 2, (box[2] + box[5]) / 2);
  camera.alpha = alpha, camera.beta = beta;
  const back = [Math.cos(alpha) * Math.sin(beta), Math.cos(beta), Math.sin(alpha) * Math.sin(beta)];
  const right = [-back[2], 0, back[0]].map((v) => v / Math.hypot(back[0], back[2]));
  const up = [back[1] * right[2], back[2] * right[0] - back[0] * right[2], -back[1] * right[0]];
  const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const vertical = 0.92 * Math.tan(camera.fov / 2);
  const v = camera.viewport, wide = vertical * (size.width * v.width) / (size.height * v.height);
  let radius = 1;
  for (let corner = 0; corner < 8; corner++) {
    const d = [0, 1, 2].map((k) => box[k + 3 * ((corner >> k) & 1)] - camera.target.asArray()[k]);
    const nearer = dot(d, back);  // towards the camera
    radius = Math.max(radius, Math.abs(dot(d, right)) / wide + nearer,
      Math.abs(dot(d, up)) / vertical + nearer);
  }
  camera.radius = radius;
  camera.minZ = radius / 100;
}

// Side by side, a camera for each figure shown, in one pose; over each other,
// one camera for both, where the two colours part.
function arrange() {
  if (!view) return;
  const shown = [arranged.input, arranged.output];
  const both = shown[0] && shown[1], side = both && !arranged.overlay;
  const [first, second] = view.cameras;
  first.viewport = new Viewport(0, 0, side ? 0.5 : 1, 1);
  first.layerMask = side ? 1 : (shown[0] ? 1 : 0) | (shown[1] ? 2 : 0);
  second.viewport = new Viewport(0.5, 0, 0.5, 1);
  view.scene.activeCameras = side ? [first, second] : [first];
  view.figures.forEach(({ mesh, material }, i) => {
    // Over each other the output is drawn in front where both stand: the input shows where
    // they part.
    material.zOffset = arranged.overlay && i === 1 ? -2 : 0;
    mesh.setEnabled(shown[i]);
  });
  if (!view.moved) home();
  play.dirty = true;
}

// Both cameras back to the pose that frames the figures.
function home() {
  view.moved = false;
  for (const c of view.cameras) fit(c, view.box);
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

async function figuresOn(source) {
  const built = newScene();
  try {
    const { bytes, extension } = await model(source);
    built.figures = [await loadFigure(built.scene, built.runtime, bytes, extension, 0),
      await loadFigure(built.scene, built.runtime, bytes, extension, 1)];
    return built;
  } catch (e) {
    built.scene.dispose();
    throw e;
  }
}

// The figures on the model; a model the player cannot load gives way to the
// mannequin, with its reason. A motion it cannot read is the motion's fault.
async function show({ token, input, output, model: modelFile, pose }) {
  dispose();
  shownAt = performance.now();
  stats.firstFrameMs = 0;
  let built, modelWhy = '';
  try {
    built = await figuresOn(modelFile);
  } catch (e) {
    if (!modelFile) return postMessage({ type: 'shown', token, motionWhy: String(e.message || e) });
    modelWhy = String(e.message || e);
    built = await figuresOn(null);
  }
  const { scene, runtime, figures } = built;
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
  const duration = runtime.animationFrameTimeDuration;
  const cameras = [0, 1].map((i) => new ArcRotateCamera(`camera${i}`, 0, 0, 1, Vector3.Zero(), scene));
  cameras[1].layerMask = 2;
  view = { scene, runtime, figures, cameras, box: motionBox(figures, duration), moved: false,
    coarse: null };
  Object.assign(play, { on: false, frame: 0, dirty: true });
  const key = modelFile ? `${modelFile.name} ${modelFile.size}` : '';
  Object.assign(detail, { level: -1, playing: key === detail.key ? detail.playing : PLAYING, key });
  setScale(1);
  arrange();
  await runtime.seekAnimation(0, true);
  postMessage({ type: 'shown', token, ok: true, onModel: !!modelFile && !modelWhy, modelWhy,
    inputCut: motions[0].cut, duration });
  // The levels of detail while nothing plays yet, so that Play answers at once.
  const mine = view;
  setTimeout(() => {
    if (view !== mine) return;
    levels(mine);
    if (!play.on && detail.level < 0) setDetail(STILL);
  }, 50);
}

function levels(v) {
  if (v.coarse) return;
  v.coarse = coarsen(v.figures[0]);
  for (const f of v.figures) f.levels = v.coarse.map((indices, i) => levelMesh(f, indices, i));
}

function report(now) {
  reported = now;
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

// Each animation frame: advance while playing, draw only what changed.
function tick() {
  const now = performance.now();
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
  play.dirty = false, play.drawnAt = now;
  view.scene.render();
  stats.drawn++;
  stats.slowestMs = Math.max(stats.slowestMs, performance.now() - now);
  if (!stats.firstFrameMs) stats.firstFrameMs = performance.now() - shownAt;
  // The page hears of a frame at most ten times a second while playing.
  if (!play.on || now - reported > 100) report(now);
}

// Moving (a seek, a turn): drawn at the playing level until still.
function moving() {
  play.movedAt = performance.now();
  if (view.coarse && detail.level <= STILL) setDetail(detail.playing);
  play.dirty = true;
}

const handlers = {
  init({ canvas, width, height }) {
    try {
      // No multisampling: software WebGL (SwiftShader) draws four times the pixels with it.
      engine = new Engine(canvas, false, { stencil: false }, false);
    } catch (e) {
      return postMessage({ type: 'noWebgl' });
    }
    size = { width, height };
    setScale(1);
    engine.runRenderLoop(tick);
  },
  // Whatever fails on the way, the page hears of it and never waits for ever.
  show: (m) => engine && show(m).catch((e) =>
    postMessage({ type: 'shown', token: m.token, motionWhy: String(e.message || e) })),
  clear: () => { dispose(); play.on = false; },
  size({ width, height }) {
    size = { width, height };
    if (!engine) return;
    setScale(stats.scale);
    if (view && !view.moved) home();
    play.dirty = true;
  },
  play({ on }) {
    if (!view) return;
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
  },
  speed({ speed }) { play.speed = speed; },
  seek({ frame }) {
    if (!view) return;
    play.on = false;
    play.frame = Math.max(0, Math.min(frame, view.runtime.animationFrameTimeDuration));
    view.runtime.seekAnimation(play.frame, true);
    moving();
  },
  arrange(m) { arranged = m; arrange(); },
  home() { if (view) home(), moving(); },
  orbit({ dx, dy, zoom }) {
    if (!view) return;
    view.moved = true;
    const [c, other] = view.cameras;
    c.alpha -= dx * 0.008;
    c.beta = Math.min(Math.PI - 0.05, Math.max(0.05, c.beta - dy * 0.008));
    c.radius *= Math.exp(zoom * 0.001);
    Object.assign(other, { alpha: c.alpha, beta: c.beta, radius: c.radius });
    moving();
  },
};

onmessage = ({ data }) => handlers[data.type](data);
