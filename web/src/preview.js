// The preview: the input and the output played in step on the user's
// model (or the mannequin), plain shaded in two colours, side by side or
// over each other. babylon-mmd plays them as MMD does, fixed axes included.
import { Engine } from '@babylonjs/core/Engines/engine';
import { Scene } from '@babylonjs/core/scene';
import { ArcRotateCamera } from '@babylonjs/core/Cameras/arcRotateCamera';
import { HemisphericLight } from '@babylonjs/core/Lights/hemisphericLight';
import { DirectionalLight } from '@babylonjs/core/Lights/directionalLight';
import { Vector3 } from '@babylonjs/core/Maths/math.vector';
import { Color3, Color4 } from '@babylonjs/core/Maths/math.color';
import { StandardMaterial } from '@babylonjs/core/Materials/standardMaterial';
import { LoadAssetContainerAsync } from '@babylonjs/core/Loading/sceneLoader';
import 'babylon-mmd/esm/Loader/pmxLoader';
import 'babylon-mmd/esm/Loader/pmdLoader';
import 'babylon-mmd/esm/Runtime/Animation/mmdRuntimeModelAnimation';
import { VmdLoader } from 'babylon-mmd/esm/Loader/vmdLoader';
import { MmdRuntime } from 'babylon-mmd/esm/Runtime/mmdRuntime';
import { T } from './text.js';

const $ = (id) => document.getElementById(id);
const COLOURS = { input: new Color3(0.29, 0.5, 0.82), output: new Color3(0.88, 0.48, 0.14) };

let engine = null;
let view = null;  // { scene, runtime, figures: [{ mesh, model }], gap, stale }
let mannequin = null;
// What the page and its tests read: when the first frame was drawn, the frame rate.
export const stats = { firstFrameAt: 0, fps: 0, frame: 0, drawn: 0 };

async function loadFigure(scene, runtime, bytes, extension, colour) {
  const container = await LoadAssetContainerAsync(bytes.slice(), scene, {
    pluginExtension: extension, pluginOptions: { mmdmodel: { materialBuilder: null, loggingEnabled: false, boundingBoxMargin: 0 } },
  });
  container.addAllToScene();
  const material = new StandardMaterial(`figure-${extension}`, scene);
  material.diffuseColor = colour;
  material.emissiveColor = colour.scale(0.35);
  material.specularColor = new Color3(0.1, 0.1, 0.1);
  material.backFaceCulling = false;
  for (const m of container.meshes) m.material = material;
  const mesh = container.meshes[0];
  return { mesh, material, model: runtime.createMmdModel(mesh, { materialProxyConstructor: null }) };
}

function frameCamera(scene, mesh, gap) {
  const { min: minimum, max: maximum } = mesh.getHierarchyBoundingVectors(true);
  const height = Math.max(1, maximum.y - minimum.y), width = Math.max(1, maximum.x - minimum.x);
  const camera = new ArcRotateCamera('camera', -Math.PI / 2, Math.PI / 2.15, 1, new Vector3(0, minimum.y + height / 2, 0), scene);
  // Both figures and a margin in view, whichever of height and width limits.
  const aspect = engine.getAspectRatio(camera);
  camera.radius = (1.15 * Math.max(height, (width + gap * 2) / aspect)) / (2 * Math.tan(camera.fov / 2));
  camera.minZ = 0.1;
  camera.attachControl($('preview'), true);
  camera.onViewMatrixChangedObservable.add(() => { if (view) view.stale = true; });
  return camera;
}

// Side by side, or over each other, where the two colours part; each figure may be hidden.
function arrange() {
  if (!view) return;
  view.stale = true;
  const overlay = document.querySelector('input[name=view]:checked').value === 'overlay';
  view.figures.forEach(({ mesh, material }, i) => {
    mesh.position.x = overlay ? 0 : (i === 0 ? -view.gap : view.gap);
    // Over each other the output is drawn in front where both stand: the input shows where they part.
    material.zOffset = overlay && i === 1 ? -2 : 0;
    mesh.setEnabled($(i === 0 ? 'show-input' : 'show-output').checked);
  });
}

async function model(source) {
  if (source) return { bytes: source.bytes, extension: /\.pmd$/i.test(source.name) ? '.pmd' : '.pmx' };
  mannequin ||= new Uint8Array(await (await fetch('mannequin.pmx')).arrayBuffer());
  return { bytes: mannequin, extension: '.pmx' };
}

export function dispose() {
  if (!view) return;
  engine.stopRenderLoop();
  view.scene.dispose();
  view = null;
}

// Shows the input and the output motion on the model (null: the mannequin);
// a model the player cannot load gives way to the mannequin, with the reason.
export async function show(input, output, modelFile, modelLabel, refused = '') {
  const area = $('preview-area');
  area.hidden = false;
  dispose();
  if (!engine) {
    try {
      // No multisampling: software WebGL (SwiftShader) draws four times the pixels with it.
      engine = new Engine($('preview'), false, { preserveDrawingBuffer: true, stencil: false }, false);
    } catch (e) {
      $('preview-on').textContent = T.noWebgl;
      return;
    }
  }
  const started = performance.now();
  const scene = new Scene(engine);
  scene.skipPointerMovePicking = true;
  scene.clearColor = new Color4(0.933, 0.945, 0.96, 1);
  new HemisphericLight('sky', new Vector3(0, 1, -0.3), scene).intensity = 0.7;
  new DirectionalLight('sun', new Vector3(0.4, -0.8, 1), scene).intensity = 0.6;
  const runtime = new MmdRuntime(scene);
  runtime.loggingEnabled = false;
  runtime.register(scene);
  try {
    const { bytes, extension } = await model(modelFile);
    const figures = [await loadFigure(scene, runtime, bytes, extension, COLOURS.input),
      await loadFigure(scene, runtime, bytes, extension, COLOURS.output)];
    const loader = new VmdLoader(scene);
    loader.loggingEnabled = false;
    const motions = [input, output];
    for (const [i, f] of figures.entries()) {
      const animation = await loader.loadFromBufferAsync(`motion${i}`, motions[i].slice().buffer);
      f.model.setRuntimeAnimation(f.model.createRuntimeAnimation(animation));
    }
    const size = figures[0].mesh.getHierarchyBoundingVectors(true);
    const gap = Math.max(4, (size.max.x - size.min.x) * 0.6);
    view = { scene, runtime, figures, gap, stale: true };
    frameCamera(scene, figures[0].mesh, gap);
    arrange();
    $('preview-on').textContent = `${refused} ${modelFile ? T.onModel(modelLabel) : T.mannequin}`.trim();
  } catch (e) {
    scene.dispose();
    view = null;
    const why = T.previewFailed(e.message || String(e));
    if (modelFile) return show(input, output, null, modelLabel, why);
    $('preview-on').textContent = why;
    return;
  }
  $('frame').max = Math.max(1, Math.ceil(runtime.animationFrameTimeDuration));
  await runtime.seekAnimation(0, true);
  stats.firstFrameAt = 0;
  let frames = 0, since = performance.now();
  scene.onAfterRenderObservable.add(() => {
    if (!stats.firstFrameAt) stats.firstFrameAt = performance.now() - started, stats.firstFrameTime = performance.now();
    frames++, stats.drawn++;
    const now = performance.now();
    if (now - since >= 1000) { stats.fps = (frames * 1000) / (now - since); frames = 0; since = now; }
    if (runtime.isAnimationPlaying) {
      if (runtime.currentFrameTime >= runtime.animationFrameTimeDuration) runtime.seekAnimation(0, true);
      $('frame').value = runtime.currentFrameTime;
    }
    stats.frame = runtime.currentFrameTime;
    $('frame-no').textContent = Math.round(runtime.currentFrameTime);
  });
  $('play').textContent = T.play;
  // Drawn while playing, or when something changed: a still preview costs the page nothing.
  let idle = 0;
  engine.runRenderLoop(() => {
    if (runtime.isAnimationPlaying || view.stale || ++idle > 30) view.stale = false, idle = 0, scene.render();
  });
}

// Goes to a frame and stops there.
export async function seek(frame) {
  if (!view) return;
  view.runtime.pauseAnimation();
  $('play').textContent = T.play;
  $('frame').value = frame;
  await view.runtime.seekAnimation(frame, true);
  view.stale = true;
}

export function setup() {
  $('play').textContent = T.play;
  $('play').onclick = () => {
    if (!view) return;
    if (view.runtime.isAnimationPlaying) view.runtime.pauseAnimation();
    else view.runtime.playAnimation();
    $('play').textContent = view.runtime.isAnimationPlaying ? T.pause : T.play;
  };
  $('frame').oninput = (e) => seek(Number(e.target.value));
  for (const e of document.querySelectorAll('input[name=view], #show-input, #show-output')) e.onchange = arrange;
  addEventListener('resize', () => engine && engine.resize());
}
