#include "vmd/thinned.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arm/bone_names.h"
#include "platform/platform.h"
#include "playback/planner.h"
#include "run/run_settings.h"
#include "vmd/planned.h"

namespace torsel {
namespace {

// The thinning of the motion being converted: made at its pre-scan, dropped
// once its records are written; what it said stays for the report.
std::unique_ptr<thin::Thinner> gThinner;
struct Thinned {
  thin::ThinReport report;
  bool keyed[kGroupBones];       // the arm-group bone has a keyframe in the range
  bool takes[kGroupBones];       // the plan takes it over
  std::vector<uint8_t> written;  // by the thinner's place: the bone is written as thinned
  bool said = false;
  ThinSaid what;
  struct Beyond {
    std::string bone;  // Shift-JIS
    thin::Stray worst;
  };
  std::vector<Beyond> beyond;  // a bone's frame furthest beyond, each bone once
} gThinned;

// The plan's bone a place of the thinner holds, or -1.
int groupBoneOf(uint32_t id) { return armGroupBone(knownBone(gThinner->boneName(id).c_str())); }
// Once planned: the plan writes the bone at that place.
bool planWrites(uint32_t id) {
  return groupBoneOf(id) >= 0 && plannedReplaces(knownBone(gThinner->boneName(id).c_str()));
}

// True for a bone of a chain the plan will keep (-K's), as the plan chooses
// them: the plan takes it over. `keyed`: the side's bones keyed in the range.
bool planTakes(const PlanOptions& o, int bone, const bool* keyed) {
  const int b = bone % kArmBones;
  const bool arm = o.fold ? keyed[kArmTwist] : keyed[kArm] || keyed[kArmTwist];
  const bool elbow = o.elbows && !o.wrist && (o.fold ? keyed[kHandTwist] : keyed[kElbow] || keyed[kHandTwist]);
  const bool hand = o.wrist && (keyed[kWrist] || keyed[kHandTwist] || (o.elbows && keyed[kElbow]));
  return hand || (b <= kArmTwist && arm) || ((b == kElbow || b == kHandTwist) && elbow);
}

// What a bone the plan takes is thinned within: its kept frames only start
// the plan, which keys it again where its chain strays. Its chain's share of
// the bound serves best: half of it where the arm and the elbow (or under -W
// the rest of the hand) share the bound. Against the whole bound, a quarter
// fewer keyframes written on baked motions and on traced ones; tighter still,
// 2 % fewer on baked ones and twice as many on traced ones.
double armBound(const PlanOptions& o) { return o.bound * (o.elbows || o.wrist ? 0.5 : 1.0); }

}  // namespace

void thinnedStart() {
  gThinner.reset();
  gThinned = {};
  if (!thinningMotion() || gSettings.checkMode) return;
  thin::ThinOptions o;
  o.bound = gSettings.thinMotion / 10.0;
  o.distance = thin::distanceFor(o.bound);
  o.from = static_cast<uint32_t>(gSettings.fromFrame);
  o.to = static_cast<uint32_t>(gSettings.toFrame);
  gThinner = std::make_unique<thin::Thinner>(o);
}

void thinnedHold(const BoneKeyframe& kf, const KnownBone& known) {
  gThinner->hold(kf.name.text, heldKeyOf(kf));
  const int bone = armGroupBone(known);
  if (bone >= 0 && inFrameRange(kf.frameTime)) gThinned.keyed[bone] = true;
}

void thinnedRun() {
  const PlanOptions o = plannedOptions();
  for (int bone = 0; bone < kGroupBones; bone++) {
    const char* name = armGroupBoneName(bone);
    gThinned.takes[bone] = planTakes(o, bone, &gThinned.keyed[groupBone(bone / kArmBones, kArm)]);
    if (gThinner->boneId(name) == UINT32_MAX) continue;
    gThinner->setAxis(name, o.rule[bone]);
    if (gThinned.takes[bone]) gThinner->seed(name, armBound(o));
  }
  gThinned.report = gThinner->run();
  gThinned.written.assign(gThinner->boneCount(), 0);
  // Of a bone the plan does not take only what becomes of each record is needed now.
  for (uint32_t id = 0; id < gThinner->boneCount(); id++) {
    const int bone = groupBoneOf(id);
    if (bone < 0 || !gThinned.takes[bone]) gThinner->release(gThinner->boneName(id));
  }
  plat::giveBackMemory();
}

uint64_t thinnedArmKeys(int side) {
  uint64_t keys = 0;
  for (int b = groupBone(side, kArm); b < groupBone(side + 1, kArm); b++) {
    const uint32_t id = gThinner->boneId(armGroupBoneName(b));
    if (id != UINT32_MAX && gThinned.takes[b]) keys += gThinner->outcome(id).held;
  }
  return keys;
}

void thinnedHandOver(int side, Planner* planner) {
  plat::giveBackMemory();  // what the other side's plan held
  for (int b = groupBone(side, kArm); b < groupBone(side + 1, kArm); b++) {
    const char* name = armGroupBoneName(b);
    if (!gThinned.takes[b] || gThinner->boneId(name) == UINT32_MAX) continue;
    planner->hold(b, gThinner->records(name, false));
    planner->holdThinned(b, gThinner->records(name, true));
    gThinner->release(name);
    // Its records, many small blocks, make room for the plan's long tracks.
    plat::giveBackMemory();
  }
}

void thinnedSettle() {
  for (uint32_t id = 0; id < gThinner->boneCount(); id++) {
    const int bone = groupBoneOf(id);
    if (planWrites(id)) continue;
    // Taken but not written by the plan: played as it stands by a chain the
    // plan judged (ひじ under -M4 -W without a hand), or keyed nowhere in the
    // range; thinned only to start the plan, never checked.
    if (bone >= 0 && gThinned.takes[bone]) {
      gThinner->restore(gThinner->boneName(id));
      continue;
    }
    gThinned.written[id] = 1;
  }
}

int32_t thinnedCountDelta() {
  uint32_t delta = 0;  // wraps, never overflows
  for (uint32_t id = 0; id < gThinner->boneCount(); id++) {
    const thin::Thinner::Outcome& c = gThinner->outcome(id);
    if (!planWrites(id)) delta += c.written - c.held;
  }
  return static_cast<int32_t>(delta);
}

thin::Thinner::Written thinnedNext(const BoneKeyframe& kf) { return gThinner->next(kf.name.text); }

void thinnedDrop(int32_t written) {
  if (!gThinner) return;
  ThinSaid& w = gThinned.what;
  w.in = static_cast<int64_t>(gThinned.report.held), w.out = written;
  for (uint32_t id = 0; id < gThinner->boneCount(); id++) {
    if (!gThinned.written[id]) continue;
    const thin::Thinner::Outcome& c = gThinner->outcome(id);
    w.worst = std::max(w.worst, c.worst), w.farthest = std::max(w.farthest, c.farthest), w.odd += c.odd;
  }
  for (const thin::Stray& s : gThinned.report.strays) {
    if (!gThinned.written[s.bone]) continue;
    w.beyond++;
    auto same = [&](const Thinned::Beyond& b) { return b.bone == gThinner->boneName(s.bone); };
    auto b = std::find_if(gThinned.beyond.begin(), gThinned.beyond.end(), same);
    if (b == gThinned.beyond.end()) {
      gThinned.beyond.push_back({gThinner->boneName(s.bone), s});
    } else if (s.degrees > b->worst.degrees || s.distance > b->worst.distance) {
      b->worst = s;
    }
  }
  gThinned.said = true;
  gThinner.reset();
}

const ThinSaid* thinnedSaid() { return gThinned.said ? &gThinned.what : nullptr; }

bool reportThinned() {
  // "  Thin.motion %s: フレーム %lu で上限を超えています, %.3f 度, 距離 %.4f \n"
  constexpr char kBeyondJa[] = "  Thin.motion %s: \x83\x74\x83\x8C\x81\x5B\x83\x80 %lu \x82\xC5\x8F\xE3\x8C\xC0\x82\xF0"
                               "\x92\xB4\x82\xA6\x82\xC4\x82\xA2\x82\xDC\x82\xB7, %.3f \x93\x78, \x8B\x97\x97\xA3 %.4f \n";
  // "  Thin.motion: %lu キーフレームをそのまま残した (数でない回転か位置, または長さ 1 でない回転) \n"
  constexpr char kOddJa[] = "  Thin.motion: %lu \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80\x82\xF0\x82\xBB\x82\xCC"
                            "\x82\xDC\x82\xDC\x8E\x63\x82\xB5\x82\xBD (\x90\x94\x82\xC5\x82\xC8\x82\xA2\x89\xF1\x93\x5D"
                            "\x82\xA9\x88\xCA\x92\x75, \x82\xDC\x82\xBD\x82\xCD\x92\xB7\x82\xB3 1 \x82\xC5\x82\xC8\x82\xA2"
                            "\x89\xF1\x93\x5D) \n";
  // "  Thin.motion: %lld -> %lld キーフレーム, 最大誤差 %.3f 度, 距離 %.4f \n"
  constexpr char kThinnedJa[] = "  Thin.motion: %lld -> %lld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80, "
                                "\x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78, \x8B\x97\x97\xA3 %.4f \n";
  const ThinSaid* said = thinnedSaid();
  if (said == nullptr) return true;
  for (const Thinned::Beyond& b : gThinned.beyond) {
    std::printf(plat::say(kBeyondJa, "  Thin.motion %s: beyond the bound at frame %lu, %.3f deg, %.4f units \n"),
                plat::conText(b.bone.c_str()), static_cast<unsigned long>(b.worst.frame), b.worst.degrees,
                b.worst.distance);
  }
  if (said->odd > 0) {
    std::printf(plat::say(kOddJa, "  Thin.motion: %lu keyframes kept as they stand (a rotation or position that is no "
                                  "number, or a rotation not of length 1) \n"),
                static_cast<unsigned long>(said->odd));
  }
  if (showAtLeast(1)) {
    std::printf(
        plat::say(kThinnedJa, "  Thin.motion: %lld -> %lld keyframes, largest deviation %.3f deg, distance %.4f \n"),
        static_cast<long long>(said->in), static_cast<long long>(said->out), said->worst, said->farthest);
  }
  gTotals.thinIn += said->in, gTotals.thinOut += said->out;
  return said->beyond == 0;
}

}  // namespace torsel
