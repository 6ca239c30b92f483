#include "arm/bone_pairs.h"

#include "arm/bone_names.h"
#include "run/run_settings.h"

namespace torsel {

const std::array<BonePair, kPairCount> kPairs = {{
    {.sourceBone = sjisName(0, BoneRole::Arm), .twistBone = sjisName(0, BoneRole::ArmTwist), .side = Side::Left,
     .needsHandTwist = false, .verifyFormat = "  leftarmreccnt (%ld) : cleftarmreccnt (%ld) "},
    {.sourceBone = sjisName(0, BoneRole::Elbow), .twistBone = sjisName(0, BoneRole::HandTwist), .side = Side::Left,
     .needsHandTwist = true, .verifyFormat = "  leftelbowreccnt (%ld) : cleftelbowreccnt (%ld) "},
    {.sourceBone = sjisName(1, BoneRole::Arm), .twistBone = sjisName(1, BoneRole::ArmTwist), .side = Side::Right,
     .needsHandTwist = false, .verifyFormat = "  rightarmreccnt (%ld) : crightarmreccnt (%ld) "},
    {.sourceBone = sjisName(1, BoneRole::Elbow), .twistBone = sjisName(1, BoneRole::HandTwist), .side = Side::Right,
     .needsHandTwist = true, .verifyFormat = "  rightelbowreccnt (%ld) : crightelbowreccnt (%ld) "},
}};

std::array<PairScan, kPairCount> gScans;

int pairOf(const KnownBone& bone, PairRole* role) {
  switch (bone.role) {
    case BoneRole::Arm: case BoneRole::Elbow: *role = PairRole::Source; break;
    case BoneRole::ArmTwist: case BoneRole::HandTwist: *role = PairRole::Twist; break;
    default: return -1;
  }
  const bool elbow = bone.role == BoneRole::Elbow || bone.role == BoneRole::HandTwist;
  return 2 * bone.side + (elbow ? 1 : 0);
}

bool pairIsActive(int pair, const RunSettings& run) { return !kPairs[pair].needsHandTwist || run.handTwist != 0; }

int findPair(const KnownBone& bone, PairRole* role, const RunSettings& run) {
  int pair = pairOf(bone, role);
  return pair >= 0 && pairIsActive(pair, run) ? pair : -1;
}

bool pairMergesAtFrom(int pair) { return gScans[pair].sourceAtFrom && gScans[pair].twistAtFrom; }

bool pairDropsAtFrom(int pair, uint32_t frameTime, const RunSettings& run) {
  return pairIsActive(pair, run) && inFrameRange(frameTime, run) && frameTime == static_cast<uint32_t>(run.fromFrame) &&
         pairMergesAtFrom(pair);
}

int32_t pairFrameCountDelta(int pair, const RunSettings& run) {
  if (!pairIsActive(pair, run)) return 0;
  return gScans[pair].reccnt - (pairMergesAtFrom(pair) ? 1 : 0);
}

}  // namespace torsel
