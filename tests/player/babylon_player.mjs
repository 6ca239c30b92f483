// babylon-mmd's runtime on Babylon's NullEngine, bundled for node. A model in;
// then two motions played on it at every frame from 0 to the last keyframe,
// each side's chains read from the skeleton's world matrices (so as the
// skeleton uses its bones, after the fixed axes): the arm (腕 ⊗ 腕捩), the
// elbow (ひじ ⊗ 手捩), the wrist (both) and the hand (the wrist ⊗ 手首); out,
// the largest deviation of each chain between the two, in degrees: left arm,
// elbow, wrist, hand, then right. Or two poses (VPD), the same chains and the
// turn of each side's 腕捩 and 手捩 on their own. Or bones by name: each one's
// largest turn and move between two motions, as the runtime poses it.
import { NullEngine } from '@babylonjs/core/Engines/nullEngine';
import { ImportMeshAsync } from '@babylonjs/core/Loading/sceneLoader';
import { Matrix, Quaternion, Vector3 } from '@babylonjs/core/Maths/math.vector';
import { Logger } from '@babylonjs/core/Misc/logger';
import { Scene } from '@babylonjs/core/scene';
import 'babylon-mmd/esm/Loader/pmxLoader';
import 'babylon-mmd/esm/Loader/pmdLoader';
import 'babylon-mmd/esm/Runtime/Animation/mmdRuntimeModelAnimation';
import { VmdLoader } from 'babylon-mmd/esm/Loader/vmdLoader';
import { VpdLoader } from 'babylon-mmd/esm/Loader/vpdLoader';
import { MmdRuntime } from 'babylon-mmd/esm/Runtime/mmdRuntime';

// Per side: the bone above the arm, then the ends of the arm and elbow chains.
const ENDS = [['左肩', '左腕捩', '左手捩', '左手首'], ['右肩', '右腕捩', '右手捩', '右手首']];

const world = (bone) =>
  Quaternion.FromRotationMatrix(Matrix.FromArray(bone.worldMatrix).getRotationMatrix());
// The turn from the rotation `from` to `to`, in degrees.
const degrees = (from, to) => {
  const d = Quaternion.Inverse(from).multiply(to);
  return Math.atan2(Math.hypot(d.x, d.y, d.z), Math.abs(d.w)) * 360 / Math.PI;
};

export async function openPlayer(modelBytes, extension) {
  Logger.LogLevels = Logger.ErrorLogLevel;
  const scene = new Scene(new NullEngine());
  const { meshes } = await ImportMeshAsync(modelBytes, scene, { pluginExtension: extension });
  const model = new MmdRuntime(scene).createMmdModel(meshes[0]);
  const ends = ENDS.map((names) => names.map((n) => model.runtimeBones.find((b) => b.name === n)));
  const loader = new VmdLoader(scene);
  loader.loggingEnabled = false;
  // Per frame and side: conj(world above) ⊗ world of each chain's end.
  const play = (animation, last) => {
    model.setRuntimeAnimation(model.createRuntimeAnimation(animation));
    return Array.from({ length: last + 1 }, (_, f) => {
      model.beforePhysics(f);
      model.afterPhysics();
      return ends.map((bones) => {
        const [above, arm, elbow, hand] = bones.map(world);
        const [notAbove, notArm] = [above, arm].map((q) => Quaternion.Inverse(q));
        const own = [1, 2].map((i) => bones[i].linkedBone.rotationQuaternion.clone());
        return [notAbove.multiply(arm), notArm.multiply(elbow), notAbove.multiply(elbow),
          notAbove.multiply(hand), ...own];
      });
    });
  };
  const poseLoader = new VpdLoader(scene);
  // poses: two ArrayBuffers of VPD files; per side the four chains, then the two twist bones.
  const poses = (...buffers) => {
    const [a, b] = buffers.map((p, i) => play(poseLoader.loadFromBuffer(`p${i}`, p), 0)[0]);
    return [0, 1].flatMap((side) => a[side].map((q, c) => degrees(q, b[side][c])));
  };
  // bones: names and two ArrayBuffers of VMD files; per bone [degrees, units] at the most.
  const bones = async (names, ...motions) => {
    const animations = await Promise.all(motions.map((m, i) => loader.loadFromBufferAsync(`b${i}`, m)));
    const last = Math.max(...animations.map((a) => a.endFrame));
    const runtime = names.map((n) => model.runtimeBones.find((b) => b.name === n).linkedBone);
    const [a, b] = animations.map((animation) => {
      model.setRuntimeAnimation(model.createRuntimeAnimation(animation));
      return Array.from({ length: last + 1 }, (_, f) => {
        model.beforePhysics(f);
        model.afterPhysics();
        return runtime.map((bone) => [bone.rotationQuaternion.clone(), bone.position.clone()]);
      });
    });
    return names.map((n, i) => a.reduce(([turn, move], frame, f) => [
      Math.max(turn, degrees(frame[i][0], b[f][i][0])), Math.max(move, Vector3.Distance(frame[i][1], b[f][i][1]))],
    [0, 0]));
  };
  // motions: two ArrayBuffers of VMD files.
  return Object.assign(async (...motions) => {
    const animations = await Promise.all(motions.map((m, i) =>
      loader.loadFromBufferAsync(`m${i}`, m)));
    const last = Math.max(...animations.map((a) => a.endFrame));
    const [a, b] = animations.map((animation) => play(animation, last));
    return [0, 1].flatMap((side) => [0, 1, 2, 3].map((c) =>
      Math.max(...a.map((frame, f) => degrees(frame[side][c], b[f][side][c])))));
  }, { poses, bones });
}
