#include "arm/bone_pairs.h"

#include <cstdio>

#include "arm/bone_names.h"
#include "platform/platform.h"
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
std::array<int32_t, kPairCount> gConvCounts = {};

namespace {

constexpr int kRightArm = 2;

bool mergesAtFrom(int pair) { return gScans[pair].sourceAtFrom && gScans[pair].twistAtFrom; }

}  // namespace

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
          .twistBone = p.twistBone,
          .rightArm = pair == kRightArm,
          .method = run.subMode,
          .displayLevel = run.displayLevel};
}

PairAction convertSourceKeyframe(int pair, const KeyframeView& kf, const RunSettings& run, SeparationResult* result) {
  printKeyframeHeader(kf, run.displayLevel);
  if (!inFrameRange(kf.frameTime, run)) return PairAction::Ordinary;
  gConvCounts[pair]++;
  *result = separateTwist(pairSeparationInput(pair, kf.frameTime, kf.rot, run));
  return PairAction::Convert;
}

bool pairDropsAtFrom(int pair, uint32_t frameTime, const RunSettings& run) {
  return pairIsActive(pair, run) && inFrameRange(frameTime, run) && frameTime == static_cast<uint32_t>(run.fromFrame) &&
         mergesAtFrom(pair);
}

PairAction filterTwistKeyframe(int pair, const KeyframeView& kf, const RunSettings& run) {
  printKeyframeHeader(kf, run.displayLevel);
  if (!inFrameRange(kf.frameTime, run)) return PairAction::Ordinary;
  if (kf.frameTime == static_cast<uint32_t>(run.fromFrame) && mergesAtFrom(pair)) {
    if (run.displayLevel >= 1) std::printf("  => skipped recording %s block. \n", plat::conText(kf.name));
    return PairAction::Drop;
  }
  // "ここに「%s」データがあるとまずい. \n": printed whatever the language.
  constexpr char kStrayJa[] = "\x82\xB1\x82\xB1\x82\xC9\x81\x75%s\x81\x76\x83\x66\x81\x5B\x83\x5E"
                              "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n";
  std::printf(plat::conText(kStrayJa), plat::conText(gPairs[pair].twistBone));
  return PairAction::Ordinary;
}

int32_t pairFrameCountDelta(int pair, const RunSettings& run) {
  if (!pairIsActive(pair, run)) return 0;
  return gScans[pair].reccnt - (mergesAtFrom(pair) ? 1 : 0);
}

void resetPairCounts() { gConvCounts = {}; }

void reportPairCounts(const RunSettings& run) {
  if (run.displayLevel >= 1) {
    for (int i = 0; i < kPairCount; i++) {
      if (!pairIsActive(i, run)) continue;
      std::printf(gPairs[i].verifyFormat, static_cast<long>(gScans[i].reccnt), static_cast<long>(gConvCounts[i]));
      std::printf(gScans[i].reccnt != gConvCounts[i] ? " **** differ \n" : " OK \n");
    }
    std::printf("\n");
  }
  int32_t* totals[kPairCount] = {&gTotals.leftArm, &gTotals.leftElbow, &gTotals.rightArm, &gTotals.rightElbow};
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i, run)) *totals[i] += gConvCounts[i];
  }
}

}  // namespace torsel
