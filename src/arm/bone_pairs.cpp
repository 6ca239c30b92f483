#include "arm/bone_pairs.h"

#include "arm/bone_names.h"
#include "run/run_settings.h"

namespace torsel {

std::array<BonePair, kPairCount> gPairs = {{
    {sjisName(0, BoneRole::Arm), sjisName(0, BoneRole::ArmTwist), kIdentity, Side::Left, false,
     "  leftarmreccnt (%ld) : cleftarmreccnt (%ld) "},
    {sjisName(0, BoneRole::Elbow), sjisName(0, BoneRole::HandTwist), kIdentity, Side::Left, true,
     "  leftelbowreccnt (%ld) : cleftelbowreccnt (%ld) "},
    {sjisName(1, BoneRole::Arm), sjisName(1, BoneRole::ArmTwist), kIdentity, Side::Right, false,
     "  rightarmreccnt (%ld) : crightarmreccnt (%ld) "},
    {sjisName(1, BoneRole::Elbow), sjisName(1, BoneRole::HandTwist), kIdentity, Side::Right, true,
     "  rightelbowreccnt (%ld) : crightelbowreccnt (%ld) "},
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

bool pairIsActive(int pair, const RunSettings& run) { return !gPairs[pair].needsHandTwist || run.handTwist != 0; }

int findPair(const KnownBone& bone, PairRole* role, const RunSettings& run) {
  int pair = pairOf(bone, role);
  return pair >= 0 && pairIsActive(pair, run) ? pair : -1;
}

DQuat shownRotation(int pair, bool twist, const Quat& rot) {
  const BonePair& p = gPairs[static_cast<size_t>(pair)];
  return played(twist ? AxisRule{p.twistFixed, p.twistAxis} : AxisRule{p.sourceFixed, p.sourceAxis}, rot);
}

SeparationInput pairSeparationInput(int pair, uint32_t frameTime, Quat rot, const RunSettings& run) {
  const BonePair& p = gPairs[pair];
  const PairScan& scan = gScans[pair];
  return {.q = rot,
          .r = {p.restQuat.x, p.restQuat.y, p.restQuat.z},
          .side = p.side,
          .frameTime = frameTime,
          .fromFrame = static_cast<uint32_t>(run.fromFrame),
          .sourceAtFrom = scan.sourceAtFrom != 0,
          .twistAtFrom = scan.twistAtFrom != 0,
          .twistRotAtFrom = scan.twistRotAtFrom,
          .method = run.subMode};
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
