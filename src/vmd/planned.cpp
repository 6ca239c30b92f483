#include "vmd/planned.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "format/key_block.h"
#include "pass/pair_keyframe.h"
#include "platform/platform.h"
#include "playback/planner.h"
#include "run/run_settings.h"
#include "vmd/thinned.h"
#include "vmd/wrist_pass.h"

namespace torsel {
namespace {

// The bound of a fold without -K, in tenths of a degree: a fold always keeps the motion.
constexpr int32_t kFoldBound = 5;

// -K's bound; without it, a thinning's (which keeps the arm group as -K does), else a fold's.
int32_t boundTenths() {
  if (gSettings.keepMotion > 0) return gSettings.keepMotion;
  return gSettings.thinMotion > 0 ? gSettings.thinMotion : kFoldBound;
}

// The plan of the motion being converted: made at its pre-scan, dropped
// once its bones are written; what it said stays for the counts and the report.
std::unique_ptr<Planner> gPlanner;
struct PlanSaid {
  ChainReport chains[kArmSides][kChains];
  bool replaced[kGroupBones];  // the bone's records give way to its plan
  int32_t added[kGroupBones];  // keyframes its plan adds to its records
} gSaid;

// The pair of a bone of the arm and elbow pairs, and whether it is the twist bone.
int pairOfGroupBone(int bone) { return 2 * (bone / kArmBones) + (bone % kArmBones >= kElbow ? 1 : 0); }
bool isTwist(int bone) { return bone % kArmBones == kArmTwist || bone % kArmBones == kHandTwist; }

// The group's bones are the known bones' first roles, in the same order.
static_assert(static_cast<int>(BoneRole::Arm) == kArm && static_cast<int>(BoneRole::ArmTwist) == kArmTwist &&
              static_cast<int>(BoneRole::Elbow) == kElbow && static_cast<int>(BoneRole::HandTwist) == kHandTwist &&
              static_cast<int>(BoneRole::Wrist) == kWrist && kArmSides == kBoneSides);

const char* groupBoneName(int bone) { return sjisName(bone / kArmBones, static_cast<BoneRole>(bone % kArmBones)); }

// A pair the plan leaves to the plain conversion: neither bone planned.
bool leftPlain(int pair) {
  const int limb = groupBone(pair / 2, pair % 2 == 0 ? kArm : kElbow);
  return !gSaid.replaced[limb] && !gSaid.replaced[limb + 1];
}

}  // namespace

const char* armGroupBoneName(int bone) { return groupBoneName(bone); }

int armGroupBone(const KnownBone& known) {
  if (known.role == BoneRole::None || known.role == BoneRole::Shoulder) return -1;
  return groupBone(known.side, static_cast<ArmBone>(known.role));
}

void plannedStart() {
  gPlanner.reset();
  gSaid = {};
  if (planningPairs() && !gSettings.checkMode) gPlanner = std::make_unique<Planner>();
}

void plannedHold(const BoneKeyframe& kf, const KnownBone& known) {
  const int bone = armGroupBone(known);
  if (bone >= 0) gPlanner->hold(bone, heldKeyOf(kf));
}

void plannedDrop() { gPlanner.reset(); }

PlanOptions plannedOptions() {
  PlanOptions o;
  o.bound = boundTenths() / 10.0;
  o.from = static_cast<uint32_t>(gSettings.fromFrame);
  o.to = static_cast<uint32_t>(gSettings.toFrame);
  o.fold = gSettings.unfoldTwist != 0;
  o.wrist = gSettings.wristTwist != 0;
  o.elbows = gSettings.handTwist != 0;
  for (int bone = 0; bone < kGroupBones; bone++) {
    if (bone % kArmBones == kWrist) continue;  // no model gives 手首 a fixed axis
    const PairAxes& a = pairAxes(pairOfGroupBone(bone));
    o.rule[bone] = isTwist(bone) ? a.twistRule() : a.source;
    o.axis[bone / kArmBones][pairOfGroupBone(bone) % 2] = a.twistAxis;
  }
  return o;
}

void plannedPlan() {
  const PlanOptions o = plannedOptions();
  if (!thinningMotion()) {
    gPlanner->plan(o);
  } else {
    // A side at a time, handed over from the thinning: the smaller first,
    // so that the larger is held by one of them only.
    const int first = thinnedArmKeys(0) <= thinnedArmKeys(1) ? 0 : 1;
    for (const int side : {first, 1 - first}) {
      thinnedHandOver(side, gPlanner.get());
      gPlanner->plan(o, side);
    }
  }
  for (int side = 0; side < kArmSides; side++) {
    for (int c = 0; c < kChains; c++) gSaid.chains[side][c] = gPlanner->report(side, static_cast<Chain>(c));
  }
  for (int bone = 0; bone < kGroupBones; bone++) {
    gSaid.replaced[bone] = gPlanner->replaces(bone);
    if (!gSaid.replaced[bone]) continue;
    gSaid.added[bone] = static_cast<int32_t>(gPlanner->keyCount(bone)) - gPlanner->heldCount(bone);
  }
  // Every source keyframe in the range was taken care of, also by a fold with nothing to fold.
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i, gSettings)) setPairCount(i, gScans[static_cast<size_t>(i)].reccnt);
  }
}

int32_t plannedCountDelta() {
  uint32_t delta = 0;  // wraps, never overflows
  for (int bone = 0; bone < kGroupBones; bone++) delta += static_cast<uint32_t>(gSaid.added[bone]);
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i, gSettings) && leftPlain(i) && !gSettings.unfoldTwist) delta += static_cast<uint32_t>(pairFrameCountDelta(i, gSettings));
  }
  return static_cast<int32_t>(delta);
}

bool plannedReplaces(const KnownBone& known) {
  const int bone = armGroupBone(known);
  return bone >= 0 && gSaid.replaced[bone];
}

int32_t writePlannedSide(int side) {
  // On each frame the twist bones before their limbs, as a plain conversion writes them.
  constexpr ArmBone kOrder[kArmBones] = {kArmTwist, kArm, kHandTwist, kElbow, kWrist};
  struct Planned {
    int bone;
    size_t next, count;
    HeldKey key;  // the next one
    uint8_t name[kNameSize];
  } planned[kArmBones];
  int n = 0;
  for (ArmBone b : kOrder) {
    const int bone = groupBone(side, b);
    if (!gPlanner->replaces(bone)) continue;
    Planned& p = planned[n++];
    p = {.bone = bone, .next = 0, .count = gPlanner->keyCount(bone), .key = {}, .name = {}};
    if (p.count > 0) p.key = gPlanner->key(bone, 0);
    std::memcpy(p.name, groupBoneName(bone), std::strlen(groupBoneName(bone)));
  }
  int32_t written = 0;
  BoneKeyframe kf = {};
  for (;;) {
    uint32_t frame = UINT32_MAX;
    bool any = false;
    for (int i = 0; i < n; i++) {
      if (planned[i].next == planned[i].count) continue;
      frame = std::min(frame, planned[i].key.frame);
      any = true;
    }
    if (!any) return written;
    for (int i = 0; i < n; i++) {
      Planned& p = planned[i];
      if (p.next == p.count || p.key.frame != frame) continue;
      const HeldKey k = p.key;
      if (++p.next < p.count) p.key = gPlanner->key(p.bone, p.next);
      kf.frameTime = k.frame;
      kf.pos = k.pos;
      unpackBlock(k, kf.bz);
      if (writeBoneKeyframe(kf, p.name, k.rot) != 0) return -1;
      written++;
    }
  }
}

const ChainReport* plannedChain(int side, int chain, int* limb) {
  const ChainReport& r = gSaid.chains[side][chain];
  // Under -W the elbow's bones answer in the hand's line.
  if (!r.planned || (chain == kElbowChain && gSettings.wristTwist)) return nullptr;
  *limb = groupBone(side, chain == kArmChain ? kArm : chain == kElbowChain ? kElbow : kWrist);
  return &r;
}

namespace {

// A chain's keyframes beyond the plain conversion with the same options, or
// under -U its twist keyframes folded.
long chainCount(int side, int c, const ChainReport& r) {
  if (gSettings.unfoldTwist) return r.folded;
  const int pair = c == kArmChain ? 2 * side : 2 * side + 1;
  long count = pairIsActive(pair, gSettings) ? -pairFrameCountDelta(pair, gSettings) : 0;
  for (ArmBone b : {kArm, kArmTwist, kElbow, kHandTwist, kWrist}) {
    const bool ofChain = c == kArmChain ? b <= kArmTwist : b >= kElbow;
    if (ofChain) count += gSaid.added[groupBone(side, b)];
  }
  if (c == kHandChain) count -= wristCountDeltaOf(side);
  return count;
}

// A chain beyond its bound, and where the players that bisect its curves
// misread the input itself there.
void printBeyond(const char* name, const ChainReport& r) {
  // "  %s: フレーム %lu で上限を超えています, %.3f 度 \n"
  constexpr char kBeyondJa[] = "  %s: \x83\x74\x83\x8C\x81\x5B\x83\x80 %lu \x82\xC5\x8F\xE3\x8C\xC0\x82\xF0\x92\xB4\x82\xA6"
                               "\x82\xC4\x82\xA2\x82\xDC\x82\xB7, %.3f \x93\x78 \n";
  std::printf(plat::say(kBeyondJa, "  Keep.motion %s: beyond the bound at frame %lu, %.3f deg \n"), name,
              static_cast<unsigned long>(r.at), r.worst);
  if (!(r.misread > 0)) return;
  // "  %s: そこでは babylon-mmd と three.js が入力そのものを MMD から %.3f 度ずらして表示します (曲線を二分法で解くため) \n"
  constexpr char kMisreadJa[] =
      "  %s: \x82\xBB\x82\xB1\x82\xC5\x82\xCD babylon-mmd \x82\xC6 three.js \x82\xAA\x93\xFC\x97\xCD"
      "\x82\xBB\x82\xCC\x82\xE0\x82\xCC\x82\xF0 MMD \x82\xA9\x82\xE7 %.3f \x93\x78\x82\xB8\x82\xE7\x82\xB5"
      "\x82\xC4\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7 (\x8B\xC8\x90\xFC\x82\xF0\x93\xF1\x95\xAA\x96\x40"
      "\x82\xC5\x89\xF0\x82\xAD\x82\xBD\x82\xDF) \n";
  std::printf(plat::say(kMisreadJa, "  Keep.motion %s: there babylon-mmd and three.js show the input itself %.3f deg "
                                    "from MMD (they bisect its curve) \n"),
              name, r.misread);
}

// On which model the bound holds.
void printWithin() {
  // "  %s で %ld.%ld 度以内 \n"
  constexpr char kWithinJa[] = "  %s \x82\xC5 %ld.%ld \x93\x78\x88\xC8\x93\xE0 \n";
  const long tenths = boundTenths();
  // The model and the bound stand in the other order in Japanese.
  if (plat::inJapanese()) {
    std::printf(plat::conText(kWithinJa), modelInUseName(), tenths / 10, tenths % 10);
  } else {
    std::printf("  Within %ld.%ld degrees on %s \n", tenths / 10, tenths % 10, modelInUseName());
  }
}

}  // namespace

bool reportPlanned() {
  // "  %s: %+ld キーフレーム, 最大誤差 %.3f 度 \n"
  constexpr char kKeptJa[] = "  %s: %+ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80, "
                             "\x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78 \n";
  // "  %s: 捩 %ld キーフレームを戻した, 最大誤差 %.3f 度 \n"
  constexpr char kFoldedJa[] = "  %s: \x9D\x80 %ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80\x82\xF0"
                               "\x96\xDF\x82\xB5\x82\xBD, \x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78 \n";
  const bool fold = gSettings.unfoldTwist != 0;
  bool shown = false, within = true;
  for (int side = 0; side < kArmSides; side++) {
    const ChainReport& hand = gSaid.chains[side][kHandChain];
    if (gSettings.wristTwist) wristSetCounts(side, hand.splits, hand.twist);
    for (int c = 0; c < kChains; c++) {
      int limb = 0;
      const ChainReport* reported = plannedChain(side, c, &limb);
      if (reported == nullptr) continue;
      const ChainReport& r = *reported;
      const long count = chainCount(side, c, r);
      (fold ? gTotals.twistFolded : gTotals.keepAdded) += static_cast<int32_t>(count);
      within = within && !r.beyond;
      const char* name = plat::conText(groupBoneName(limb));
      if (r.beyond) printBeyond(name, r);
      if (!showAtLeast(1)) continue;
      const char* line =
          fold ? plat::say(kFoldedJa, "  Unfold.twist %s: %ld twist keyframes folded, largest deviation %.3f deg \n")
               : plat::say(kKeptJa, "  Keep.motion %s: %+ld keyframes, largest deviation %.3f deg \n");
      std::printf(line, name, count, r.worst);
      shown = true;
    }
  }
  if (shown && within) printWithin();
  return within;
}

}  // namespace torsel
