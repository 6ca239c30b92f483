// The preview's own thread: babylon-mmd plays the input and the output on
// the user's model (or the mannequin) into the page's canvas, handed over
// as an OffscreenCanvas. Parsing a model and building its scene takes up to
// seconds; here it never holds up the page. This module holds the scene and
// the page's messages; the levels of detail (preview_lod.js), the framing
// (preview_framing.js) and the frame loop (preview_loop.js) live beside it.
// Side by side, each figure has a camera of its own in the same pose, so
// that the same pose looks the same.
import { Engine } from '@babylonjs/core/Engines/engine';
import { Scene } from '@babylonjs/core/scene';
import { ArcRotateCamera } from '@babylonjs/core/Cameras/arcRotateCamera';
import { Vector3 } from '@babylonjs/core/Maths/math.vector';
import { Viewport } from '@babylonjs/core/Maths/math.viewport';
import { Color3, Color4 } from '@babylonjs/core/Maths/math.color';
import { ShaderMaterial } from '@babylonjs/core/Materials/shaderMaterial';
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
import { framing, aim } from './preview_framing.js';
import { loop, play, detail, stats, PLAYING, STILL, setScale, setDetail, levels, draw, tick, moving,
  setPlaying } from './preview_loop.js';

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

let mannequin = null;
let arranged = { overlay: false, input: true, output: true };
let following = false;  // the camera follows the dancer, else frames the whole motion
let shownAt = 0;

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

async function model(source) {
  if (source) {
    const bytes = await source.arrayBuffer();
    return { bytes, extension: /\.pmd$/i.test(source.name) ? '.pmd' : '.pmx' };
  }
  mannequin ||= await (await fetch('mannequin.pmx')).arrayBuffer();
  return { bytes: mannequin, extension: '.pmx' };
}

function dispose() {
  if (!loop.view) return;
  loop.view.scene.dispose();
  loop.view = null;
}

function newScene() {
  const scene = new Scene(loop.engine);
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
  const view = loop.view = { scene, runtime, figures, cameras, framing: framing(figures, duration),
    follow: following, moved: false, coarse: null };
  Object.assign(play, { on: false, frame: 0, dirty: true });
  const key = modelFile ? `${modelFile.name} ${modelFile.size}` : '';
  Object.assign(detail, { level: -1, playing: key === detail.key ? detail.playing : PLAYING, key });
  await runtime.seekAnimation(0, true);
  // The first frame at the still level, never the whole model, and drawn to its end before
  // the page hears of it: the page's next work (charts) then never meets the heaviest
  // drawing on a machine whose cores the software renderer shares with it.
  levels(view);
  setDetail(STILL);
  arrange();
  draw(performance.now());
  loop.engine._gl?.finish();
  stats.firstFrameMs = performance.now() - shownAt;
  postMessage({ type: 'shown', token, ok: true, onModel: !!modelFile && !modelWhy, modelWhy,
    inputCut: motions[0].cut, duration });
}

// Side by side, a camera for each figure shown, in one pose; over each other,
// one camera for both, where the two colours part.
function arrange() {
  const { view } = loop;
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
  loop.view.moved = false;
  aim(loop.view, play.frame, loop.size);
}

const handlers = {
  init({ canvas, width, height }) {
    try {
      // No multisampling: software WebGL (SwiftShader) draws four times the pixels with it.
      loop.engine = new Engine(canvas, false, { stencil: false }, false);
    } catch (e) {
      return postMessage({ type: 'noWebgl' });
    }
    loop.size = { width, height };
    setScale(1);
    loop.engine.runRenderLoop(tick);
  },
  // Whatever fails on the way, the page hears of it and never waits for ever.
  show: (m) => loop.engine && show(m).catch((e) =>
    postMessage({ type: 'shown', token: m.token, motionWhy: String(e.message || e) })),
  clear: () => { dispose(); play.on = false; },
  size({ width, height }) {
    loop.size = { width, height };
    if (!loop.engine) return;
    setScale(stats.scale);
    if (loop.view && !loop.view.moved) home();
    play.dirty = true;
  },
  play({ on }) { if (loop.view) setPlaying(on); },
  speed({ speed }) { play.speed = speed; },
  seek({ frame }) {
    const { view } = loop;
    if (!view) return;
    play.on = false;
    play.frame = Math.max(0, Math.min(frame, view.runtime.animationFrameTimeDuration));
    view.runtime.seekAnimation(play.frame, true);
    moving();
  },
  arrange(m) { arranged = m; arrange(); },
  camera({ follow }) {
    following = follow;
    if (!loop.view) return;
    loop.view.follow = follow;
    home(), moving();
  },
  home() { if (loop.view) home(), moving(); },
  orbit({ dx, dy, zoom }) {
    const { view } = loop;
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
