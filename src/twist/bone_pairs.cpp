#include "twist/bone_pairs.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/platform.h"
#include "twist/run_settings.h"

namespace torsel {

std::array<BonePair, kPairCount> gPairs = {{
    {"\x8D\xB6\x98\x72",          // 左腕
     "\x8D\xB6\x98\x72\x9D\x80",  // 左腕捩
     kIdentity, Side::Left, false,
     // ここに「左腕捩」データがあるとまずい.
     "\x82\xB1\x82\xB1\x82\xC9\x81\x75\x8D\xB6\x98\x72\x9D\x80\x81\x76\x83\x66\x81\x5B\x83\x5E"
     "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n",
     "  leftarmreccnt (%ld) : cleftarmreccnt (%ld) "},
    {"\x8D\xB6\x82\xD0\x82\xB6",  // 左ひじ
     "\x8D\xB6\x8E\xE8\x9D\x80",  // 左手捩
     kIdentity, Side::Left, true,
     // ここに「左手捩」データがあるとまずい.
     "\x82\xB1\x82\xB1\x82\xC9\x81\x75\x8D\xB6\x8E\xE8\x9D\x80\x81\x76\x83\x66\x81\x5B\x83\x5E"
     "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n",
     "  leftelbowreccnt (%ld) : cleftelbowreccnt (%ld) "},
    {"\x89\x45\x98\x72",          // 右腕
     "\x89\x45\x98\x72\x9D\x80",  // 右腕捩
     kIdentity, Side::Right, false,
     // ここに「右腕捩」データがあるとまずい.
     "\x82\xB1\x82\xB1\x82\xC9\x81\x75\x89\x45\x98\x72\x9D\x80\x81\x76\x83\x66\x81\x5B\x83\x5E"
     "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n",
     "  rightarmreccnt (%ld) : crightarmreccnt (%ld) "},
    {"\x89\x45\x82\xD0\x82\xB6",  // 右ひじ
     "\x89\x45\x8E\xE8\x9D\x80",  // 右手捩
     kIdentity, Side::Right, true,
     // ここに「右手捩」データがあるとまずい.
     "\x82\xB1\x82\xB1\x82\xC9\x81\x75\x89\x45\x8E\xE8\x9D\x80\x81\x76\x83\x66\x81\x5B\x83\x5E"
     "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n",
     "  rightelbowreccnt (%ld) : crightelbowreccnt (%ld) "},
}};

std::array<PairScan, kPairCount> gScans;
std::array<int32_t, kPairCount> gConvCounts = {};

namespace {

constexpr int kRightArm = 2;

// 左手首, 右手首.
constexpr const char* kWristBones[kWristSides] = {"\x8D\xB6\x8E\xE8\x8E\xF1", "\x89\x45\x8E\xE8\x8E\xF1"};

bool mergesAtFrom(int pair) { return gScans[pair].sourceAtFrom && gScans[pair].twistAtFrom; }

}  // namespace

int findPairAnyRole(const char* name, PairRole* role) {
  // Most keyframes belong to other bones: let the first byte turn them away.
  static const std::array<bool, 256> firstBytes = [] {
    std::array<bool, 256> table{};
    for (const BonePair& p : gPairs) {
      table[static_cast<unsigned char>(p.sourceBone[0])] = true;
      table[static_cast<unsigned char>(p.twistBone[0])] = true;
    }
    return table;
  }();
  if (!firstBytes[static_cast<unsigned char>(name[0])]) return -1;
  const std::string_view n(name);
  for (int i = 0; i < kPairCount; i++) {
    if (n == gPairs[i].sourceBone) {
      *role = PairRole::Source;
      return i;
    }
    if (n == gPairs[i].twistBone) {
      *role = PairRole::Twist;
      return i;
    }
  }
  return -1;
}

bool pairIsActive(int pair) { return !gPairs[pair].needsHandTwist || gSettings.handTwist != 0; }

int findPair(const char* name, PairRole* role) {
  int pair = findPairAnyRole(name, role);
  return pair >= 0 && pairIsActive(pair) ? pair : -1;
}

const char* wristBone(int side) { return kWristBones[side]; }

WristRole wristRole(const char* name, int* side) {
  if (name[0] != kWristBones[0][0] && name[0] != kWristBones[1][0]) return WristRole::None;
  for (int s = 0; s < kWristSides; s++) {
    *side = s;
    if (std::strcmp(name, kWristBones[s]) == 0) return WristRole::Wrist;
    if (std::strcmp(name, gPairs[static_cast<size_t>(2 * s + 1)].twistBone) == 0) return WristRole::HandTwist;
  }
  return WristRole::None;
}

DQuat shownRotation(int pair, bool twist, const Quat& rot) {
  const BonePair& p = gPairs[static_cast<size_t>(pair)];
  return played(twist ? AxisRule{p.twistFixed, p.twistAxis} : AxisRule{p.sourceFixed, p.sourceAxis}, rot);
}

SeparationInput pairSeparationInput(int pair, uint32_t frameTime, Quat rot) {
  const BonePair& p = gPairs[pair];
  const PairScan& scan = gScans[pair];
  return {.q = rot,
          .r = {p.restQuat.x, p.restQuat.y, p.restQuat.z},
          .side = p.side,
          .frameTime = frameTime,
          .fromFrame = static_cast<uint32_t>(gSettings.fromFrame),
          .sourceAtFrom = scan.sourceAtFrom != 0,
          .twistAtFrom = scan.twistAtFrom != 0,
          .twistRotAtFrom = scan.twistRotAtFrom,
          .twistBone = p.twistBone,
          .rightArm = pair == kRightArm,
          .method = gSettings.subMode};
}

PairAction convertSourceKeyframe(int pair, const KeyframeView& kf, SeparationResult* result) {
  printKeyframeHeader(kf);
  if (!inFrameRange(kf.frameTime)) return PairAction::Ordinary;
  gConvCounts[pair]++;
  *result = separateTwist(pairSeparationInput(pair, kf.frameTime, kf.rot));
  return PairAction::Convert;
}

bool pairDropsAtFrom(int pair, uint32_t frameTime) {
  return pairIsActive(pair) && inFrameRange(frameTime) && frameTime == static_cast<uint32_t>(gSettings.fromFrame) &&
         mergesAtFrom(pair);
}

PairAction filterTwistKeyframe(int pair, const KeyframeView& kf) {
  printKeyframeHeader(kf);
  if (!inFrameRange(kf.frameTime)) return PairAction::Ordinary;
  if (kf.frameTime == static_cast<uint32_t>(gSettings.fromFrame) && mergesAtFrom(pair)) {
    if (showAtLeast(1)) std::printf("  => skipped recording %s block. \n", plat::conText(kf.name));
    return PairAction::Drop;
  }
  std::printf("%s", plat::conText(gPairs[pair].strayWarning));
  return PairAction::Ordinary;
}

int32_t pairFrameCountDelta(int pair) {
  if (!pairIsActive(pair)) return 0;
  return gScans[pair].reccnt - (mergesAtFrom(pair) ? 1 : 0);
}

void resetPairCounts() { gConvCounts = {}; }

void reportPairCounts() {
  if (showAtLeast(1)) {
    for (int i = 0; i < kPairCount; i++) {
      if (!pairIsActive(i)) continue;
      std::printf(gPairs[i].verifyFormat, static_cast<long>(gScans[i].reccnt), static_cast<long>(gConvCounts[i]));
      std::printf(gScans[i].reccnt != gConvCounts[i] ? " **** differ \n" : " OK \n");
    }
    std::printf("\n");
  }
  int32_t* totals[kPairCount] = {&gTotals.leftArm, &gTotals.leftElbow, &gTotals.rightArm, &gTotals.rightElbow};
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i)) *totals[i] += gConvCounts[i];
  }
}

}  // namespace torsel
