// The preview's framing: the box round both figures, skinned as the renderer
// skins them, over the whole motion and frame by frame; the camera's pose
// that holds a box in view, either the whole motion's (the figures stand
// still in the picture) or the dancer's own as it moves (the camera follows).
import { Matrix, Vector3 } from '@babylonjs/core/Maths/math.vector';
import { geometry } from './preview_lod.js';

export const HOME = { alpha: -Math.PI / 2, beta: Math.PI / 2.15 };
// Frames evaluated over a motion at most, evenly spread; and how far the followed centre
// is smoothed each way (frames), so that the camera glides rather than jolts.
const SAMPLES = 1200, SMOOTH = 15;

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

const EMPTY = () => [Infinity, Infinity, Infinity, -Infinity, -Infinity, -Infinity];
const grow = (box, x, y, z) => {
  box[0] = Math.min(box[0], x), box[1] = Math.min(box[1], y), box[2] = Math.min(box[2], z);
  box[3] = Math.max(box[3], x), box[4] = Math.max(box[4], y), box[5] = Math.max(box[5], z);
};

// Both figures' boxes at every sampled frame of the motion: { box (the whole motion's),
// step (frames between samples), boxes (six numbers a sample), size (the largest sample's
// extent on each axis) }.
export function framing(figures, duration) {
  const step = Math.max(1, Math.ceil(duration / SAMPLES)), count = Math.floor(duration / step) + 1;
  const boxes = Array.from({ length: count + 1 }, EMPTY);
  for (const f of figures) {
    const points = extremes(f), bones = f.mesh.metadata.skeleton.bones;
    const skin = new Float32Array(16 * bones.length), m = new Matrix(), out = [0, 0, 0];
    boxes.forEach((box, i) => {
      f.model.beforePhysics(Math.min(i * step, duration));
      f.model.afterPhysics();
      const world = f.model.worldTransformMatrices;
      bones.forEach((b, k) => {
        b.getAbsoluteInverseBindMatrix().multiplyToArray(Matrix.FromArrayToRef(world, 16 * k, m),
          skin, 16 * b.getIndex());
      });
      for (const { at: [x, y, z], bones: which, weights } of points) {
        out.fill(0);
        for (let w = 0; w < 4; w++) {
          if (!weights[w]) continue;
          const s = 16 * which[w];
          for (let k = 0; k < 3; k++) {
            out[k] += weights[w] * (x * skin[s + k] + y * skin[s + 4 + k] + z * skin[s + 8 + k]
              + skin[s + 12 + k]);
          }
        }
        grow(box, ...out);
      }
    });
  }
  const box = EMPTY(), size = [0, 0, 0];
  for (const b of boxes) {
    grow(box, b[0], b[1], b[2]), grow(box, b[3], b[4], b[5]);
    for (let k = 0; k < 3; k++) size[k] = Math.max(size[k], b[k + 3] - b[k]);
  }
  if (!Number.isFinite(box[0])) {  // a model with no mesh
    return { box: [-10, 0, -10, 10, 20, 10], step, boxes: [], size: [20, 20, 20] };
  }
  return { box, step, boxes, size };
}

// The dancer's box at `frame`: the largest sample's size round the centre of the samples
// near it, so that the figure keeps its size in the picture as it moves.
export function followed({ box, step, boxes, size }, frame) {
  const at = Math.round(frame / step), reach = Math.ceil(SMOOTH / step);
  const centre = [0, 0, 0];
  let n = 0;
  for (let i = Math.max(0, at - reach); i <= Math.min(boxes.length - 1, at + reach); i++) {
    if (!Number.isFinite(boxes[i][0])) continue;
    for (let k = 0; k < 3; k++) centre[k] += (boxes[i][k] + boxes[i][k + 3]) / 2;
    n++;
  }
  if (!n) return box;
  return [0, 1, 2, 0, 1, 2].map((k, i) => centre[k] / n + (i < 3 ? -size[k] : size[k]) / 2);
}

// The camera's distance at which every corner of the box stands inside the view (with a
// margin), looking at its middle from the home direction, on a canvas of `canvas` pixels.
export function fit(camera, box, canvas) {
  const { alpha, beta } = HOME;
  // The target first: setting it works the angles out again from where the camera stands.
  camera.target = new Vector3((box[0] + box[3]) / 2, (box[1] + box[4]) / 2, (box[2] + box[5]) / 2);
  camera.alpha = alpha, camera.beta = beta;
  const back = [Math.cos(alpha) * Math.sin(beta), Math.cos(beta), Math.sin(alpha) * Math.sin(beta)];
  const right = [-back[2], 0, back[0]].map((v) => v / Math.hypot(back[0], back[2]));
  const up = [back[1] * right[2], back[2] * right[0] - back[0] * right[2], -back[1] * right[0]];
  const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const vertical = 0.92 * Math.tan(camera.fov / 2);
  const v = camera.viewport, wide = vertical * (canvas.width * v.width) / (canvas.height * v.height);
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

// The cameras at `frame`: following the dancer, or framing the whole motion. Once the user
// has turned or zoomed, a following camera keeps its turn and only moves with the dancer.
export function aim(view, frame, canvas) {
  if (!view.follow && view.moved) return;
  const box = view.follow ? followed(view.framing, frame) : view.framing.box;
  for (const c of view.cameras) {
    if (!view.moved) fit(c, box, canvas);
    else c.target.copyFromFloats((box[0] + box[3]) / 2, (box[1] + box[4]) / 2, (box[2] + box[5]) / 2);
  }
}
