// Which keyframes to write so that every chain of the arm group plays within
// a bound at every frame, as MMD plays it on the model in use: keep the
// motion (-K), fold the twist back (-U), and with -K the wrist (-W).
//
// A player turns a limb and its twist bone each on its own between their
// keyframes, so a split exact at the keyframes drifts between them. Each
// chain is planned bone by bone, each bone against what the bones planned
// before it play: a limb first, keyed where its swing strays from the split
// of what the input plays; then the chain's last bone, keyed where the whole
// chain strays, with what the chain needs there (its turn about the axis,
// for a twist bone). A keyframe is written only where a bone needs it, and
// no bone waits on one planned after it. Outside the frame range every bone
// plays its input: its own keyframes as they stand, keyed again at the
// range's ends and wherever a curve cut there strays.
#pragma once

#include <cstdint>

#include "playback/player.h"
#include "twist/separation.h"

namespace torsel {

/// The bones of one side's arm group, in the order they turn.
enum ArmBone : int { kArm, kArmTwist, kElbow, kHandTwist, kWrist, kArmBones };
inline constexpr int kArmSides = 2;
inline constexpr int kGroupBones = kArmSides * kArmBones;
inline constexpr int groupBone(int side, ArmBone b) { return side * kArmBones + b; }

/// The chains kept within the bound: 腕 ⊗ 腕捩, ひじ ⊗ 手捩, and under -W the
/// whole hand (腕 ⊗ 腕捩 ⊗ ひじ ⊗ 手捩 ⊗ 手首).
enum Chain : int { kArmChain, kElbowChain, kHandChain, kChains };

struct PlanOptions {
  double bound = 0.5;           // degrees every chain plays within
  uint32_t from = 0, to = 0;    // the frame range, both ends included
  bool fold = false;            // -U: the twist bones folded into their limbs
  bool wrist = false;           // -W: the wrist's twist moved onto 手捩
  bool elbows = false;          // the elbow pairs are converted too
  Vec3 axis[kArmSides][2];      // the arm's and the elbow's twist axis, not normalised
  AxisRule rule[kGroupBones];   // fixed axes of the model in use
};

/// What the plan says of a chain.
struct ChainReport {
  bool planned = false;
  double share = 0;      // its share of the bound, degrees
  double worst = 0;      // the largest deviation judged, degrees
  uint32_t at = 0;       // where
  bool beyond = false;   // somewhere beyond its share, or not proven within it
  int32_t folded = 0;    // -U: twist keyframes folded
  int32_t splits = 0;    // -W: wrist keyframes split, and the largest twist moved
  double twist = 0;
};

/// Forgets the keyframes held for the last file.
void planReset();
/// Holds a keyframe of an arm-group bone, in file order.
void planHold(int bone, const HeldKey& k);
/// Plans every chain that has a keyframe in the range.
void plan(const PlanOptions& o);
/// True when the bone's records are replaced by its planned track.
bool planReplaces(int bone);
/// The bone's planned keyframes, as they are written.
size_t planKeyCount(int bone);
HeldKey planKey(int bone, size_t i);
/// Records of the bone held (and replaced where planned).
int32_t planHeldCount(int bone);
const ChainReport& planReport(int side, Chain chain);

}  // namespace torsel
