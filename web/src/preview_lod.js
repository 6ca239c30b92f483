// The preview's levels of detail: each figure simplified by merging its
// vertices on a grid, bone by bone, into one mesh a level, drawn in one
// call and skinned by the figure's skeleton. Software WebGL spends most of
// a frame on triangles and draw calls.
import { Mesh } from '@babylonjs/core/Meshes/mesh';
import { VertexData } from '@babylonjs/core/Meshes/mesh.vertexData';

// Levels of detail: triangles a figure at most, and the canvas's pixels
// divided by `scale` each way. The first is the still frame's, near the
// whole model at a fraction of its cost (software WebGL draws two heavy
// models whole in half a second, and the page waits that long); while
// playing, 30 frames a second at most (MMD's own rate) and at least 21,
// else the next level, at half the canvas at most.
export const LEVELS = [{ triangles: 40000, scale: 1 }, { triangles: 10000, scale: 1.4 },
  { triangles: 10000, scale: 2 }, { triangles: 5000, scale: 2 }];

// The parts of a figure as arrays: positions, bone indices and weights.
export const geometry = (figure) => figure.parts.map((m) => ({ p: m.getVerticesData('position'),
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
export function coarsen(figure) {
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
export function levelMesh(figure, indices, index) {
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

