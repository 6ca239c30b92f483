#include "pass/pair_keyframe.h"

#include <array>
#include <cstdio>

#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "pass/split_lines.h"
#include "platform/platform.h"

namespace torsel {
namespace {

constexpr int kRightArm = 2;

// Source keyframes converted in the current file's pass, per pair, and
// twist keyframes in range the file held already (each warned of).
std::array<int32_t, kPairCount> gConverted = {}, gStrays = {};

// "Block", name, frame time and rotation of a keyframe a pair or the
// shoulder check looks at; printed at display level exactly 1.
void printKeyframeHeader(const KeyframeView& kf, int displayLevel) {
  if (displayLevel != 1) return;
  std::printf("Block %ld \n", static_cast<long>(kf.block));
  if (kf.lastNul >= 1) std::printf("  bone name = %s \n", plat::conText(kf.name));
  std::printf("  frame time = %ld \n", static_cast<long>(static_cast<int32_t>(kf.frameTime)));
  std::printf("  rot (X,Y,Z,W) = %g %g %g %g \n", static_cast<double>(kf.rot.x), static_cast<double>(kf.rot.y),
              static_cast<double>(kf.rot.z), static_cast<double>(kf.rot.w));
}

}  // namespace

PairAction convertSourceKeyframe(int pair, const KeyframeView& kf, const RunSettings& run, SeparationResult* result) {
  printKeyframeHeader(kf, run.displayLevel);
  if (!inFrameRange(kf.frameTime, run)) return PairAction::Ordinary;
  gConverted[pair]++;
  SplitTrace trace;
  *result = separateTwist(pairSeparationInput(pair, kf.frameTime, kf.rot, run), &trace);
  printSplit(trace, {.steps = run.displayLevel >= 1,
                     .homeAxes = pair == kRightArm && kf.frameTime == 778,
                     .twistBone = kPairs[pair].twistBone});
  return PairAction::Convert;
}

PairAction filterTwistKeyframe(int pair, const KeyframeView& kf, const RunSettings& run) {
  printKeyframeHeader(kf, run.displayLevel);
  if (!inFrameRange(kf.frameTime, run)) return PairAction::Ordinary;
  if (kf.frameTime == static_cast<uint32_t>(run.fromFrame) && pairMergesAtFrom(pair)) {
    if (run.displayLevel >= 1) std::printf("  => skipped recording %s block. \n", plat::conText(kf.name));
    return PairAction::Drop;
  }
  // "ここに「%s」データがあるとまずい. \n": printed whatever the language.
  constexpr char kStrayJa[] = "\x82\xB1\x82\xB1\x82\xC9\x81\x75%s\x81\x76\x83\x66\x81\x5B\x83\x5E"
                              "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n";
  std::printf(plat::conText(kStrayJa), plat::conText(kPairs[pair].twistBone));
  gStrays[pair]++;
  return PairAction::Ordinary;
}

void shoulderDiagnostics(const KeyframeView& kf, const RunSettings& run) {
  printKeyframeHeader(kf, run.displayLevel);
  if (inFrameRange(kf.frameTime, run) && run.displayLevel >= 1) printTurnedAxes(kf.rot);
}

void resetPairCounts() { gConverted = {}, gStrays = {}; }

void setPairCount(int pair, int32_t count) { gConverted[pair] = count; }
int32_t pairConverted(int pair) { return gConverted[pair]; }
int32_t pairStrays(int pair) { return gStrays[pair]; }

void reportPairCounts(const RunSettings& run) {
  if (run.displayLevel >= 1) {
    for (int i = 0; i < kPairCount; i++) {
      if (!pairIsActive(i, run)) continue;
      std::printf(kPairs[i].verifyFormat, static_cast<long>(gScans[i].reccnt), static_cast<long>(gConverted[i]));
      std::printf(gScans[i].reccnt != gConverted[i] ? " **** differ \n" : " OK \n");
    }
    std::printf("\n");
  }
  int32_t* totals[kPairCount] = {&gTotals.leftArm, &gTotals.leftElbow, &gTotals.rightArm, &gTotals.rightElbow};
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i, run)) *totals[i] += gConverted[i];
  }
}

}  // namespace torsel
