// What the planner is asked and what it answers: the arm group's bones and
// chains, the options of a plan, and the report of each chain.
#pragma once

#include <cstdint>

#include "math/quat.h"
#include "math/rotation.h"

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
  double misread = 0;    // at `at`: how far the players that bisect the curve show the input from MMD
  int32_t folded = 0;    // -U: twist keyframes folded
  int32_t splits = 0;    // -W: wrist keyframes split, and the largest twist moved
  double twist = 0;
};

}  // namespace torsel
