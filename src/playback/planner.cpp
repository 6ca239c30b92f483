// The sides' jobs, in the order they are planned, each bone against the
// bones before it; then every chain checked frame by frame (check.cpp) and
// reported.
#include "playback/planner.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "playback/plan_parts.h"

namespace torsel {
namespace planning {
namespace {

// The judge's work on a side, in rotations evaluated: several times what any
// real motion asks (a dance of 6,000 frames a tenth of it); a hostile one
// is then planned as far as it goes and the rest reported.
constexpr uint64_t kJudgeWork = uint64_t(3) << 20, kJudgeWorkPerKey = 256;
ChainReport gReports[kArmSides][kChains];

bool keyedInRange(const PlanOptions& o, int bone) {
  for (const PlayedKey& k : bonePlan(bone).in.keys) {
    if (inRange(o, k.frame)) return true;
  }
  return false;
}

}  // namespace

namespace {

// What the jobs of one side share.
struct SidePlan {
  const PlanOptions& o;
  int side;
  double t;  // the bound, less the margin
  int bone(ArmBone b) const { return groupBone(side, b); }
  Vec3 unitAxis(int pair) const { return unitOf(o.axis[side][pair]); }
  Side which() const { return side == 0 ? Side::Left : Side::Right; }
  ChainReport& report(Chain c) const { return gReports[side][c]; }
};

// A limb keyed with its split at its own keyframes, and by its swing where
// its twist bone cannot mend the chain.
Job limbSplit(const SidePlan& p, int limb, int twist, int pair, double share, const std::vector<uint32_t>* mend) {
  return {.bone = limb, .judge = Judge::Swing, .chain = {limb, twist}, .leads = {limb}, .first = Value::Kept,
          .other = Value::Kept, .axis = p.unitAxis(pair), .splitAxis = p.o.axis[p.side][pair], .side = p.which(),
          .slot = 1, .swingAt = mend, .tol = p.t * share * kSwingShare};
}

// A twist bone keyed against the chain, at its limb's keyframes and its own.
Job twistOfChain(const SidePlan& p, int limb, int twist, int pair, double share) {
  return {.bone = twist, .judge = Judge::Chain, .chain = {limb, twist}, .events = {limb, twist},
          .leads = {limb, twist}, .first = Value::Twist, .other = Value::Twist, .axis = p.unitAxis(pair),
          .mender = limb, .tol = p.t * share};
}

// A fold: the twist bone rests in the range, and the limb carries the chain.
Job twistAway(const SidePlan& p, int limb, int twist, double share) {
  return {.bone = twist, .chain = {limb, twist}, .first = Value::Identity, .other = Value::Identity,
          .dropInRange = true, .tol = p.t * share};
}
Job limbCarries(const SidePlan& p, int limb, int twist, double share) {
  return {.bone = limb, .judge = Judge::Chain, .chain = {limb, twist}, .events = {limb, twist},
          .leads = {limb, twist}, .first = Value::Residual, .other = Value::Residual, .tol = p.t * share};
}

// -W: the whole hand, from the arm to the wrist.
Bones handChain(const SidePlan& p) {
  return {p.bone(kArm), p.bone(kArmTwist), p.bone(kElbow), p.bone(kHandTwist), p.bone(kWrist)};
}

// -W: the elbow keyed with its split at its own keyframes; the hand mends
// what its swing strays between them. Outside the range it plays its input
// wherever the hand does.
Job elbowSplit(const SidePlan& p) {
  return {.bone = p.bone(kElbow), .chain = {p.bone(kElbow), p.bone(kHandTwist)}, .leads = {p.bone(kElbow)},
          .span = handChain(p), .first = Value::Kept, .other = Value::Kept, .axis = p.unitAxis(1),
          .splitAxis = p.o.axis[p.side][1], .side = p.which(), .tol = p.t};
}

// -W: 手首 keyed with what the hand needs of it and 手捩 together, less the
// turn about the forearm (that goes to 手捩), and by its swing where 手捩
// cannot mend the hand.
Job wristRest(const SidePlan& p, const std::vector<uint32_t>* mend) {
  return {.bone = p.bone(kWrist), .judge = Judge::Swing, .chain = handChain(p), .leads = {p.bone(kWrist)},
          .first = Value::Rest, .other = Value::Rest, .axis = p.unitAxis(1), .slot = kHandTwist, .swingAt = mend,
          .tol = p.t * kSwingShare};
}

// -W: 手捩 keyed against the whole hand, at every keyframe of 手捩 and 手首
// in the range (and of ひじ, where the elbows are split).
Job handTwist(const SidePlan& p) {
  Job j = {.bone = p.bone(kHandTwist), .judge = Judge::Chain, .chain = handChain(p),
           .events = {p.bone(kHandTwist), p.bone(kWrist)},
           .leads = {p.bone(kWrist), p.bone(kHandTwist), p.bone(kElbow)}, .first = Value::Twist,
           .other = Value::Twist, .axis = p.unitAxis(1), .mender = p.bone(kWrist), .tol = p.t};
  if (p.o.elbows) j.events.at[j.events.n++] = p.bone(kElbow);
  return j;
}

// Runs a job for a chain, which the check then answers for.
JobResult run(const SidePlan& p, const Job& j, Chain chain, const Earlier* earlier = nullptr) {
  p.report(chain).planned = true;
  return runJob(p.o, j, earlier);
}

// Where a bone's output changed from one plan to the next: the open span
// around every keyframe not in both alike, between its neighbours in either.
std::vector<std::pair<uint32_t, uint32_t>> changedBetween(const BonePlan::Output& before,
                                                          const BonePlan::Output& after) {
  const std::vector<PlayedKey> &x = before.played.keys, &y = after.played.keys;
  auto bits = [](const Quat& q) {
    return std::array{std::bit_cast<uint32_t>(q.x), std::bit_cast<uint32_t>(q.y), std::bit_cast<uint32_t>(q.z),
                      std::bit_cast<uint32_t>(q.w)};
  };
  std::vector<uint32_t> frames;  // every frame either keys, and whether it differs
  std::vector<bool> differs;
  size_t i = 0, k = 0;
  while (i < x.size() || k < y.size()) {
    const bool inBefore = i < x.size() && (k == y.size() || x[i].frame <= y[k].frame);
    const bool inAfter = k < y.size() && (i == x.size() || y[k].frame <= x[i].frame);
    bool same = inBefore && inAfter;
    if (same) {
      const Curve c = x[i].curve, d = y[k].curve;
      same = bits(before.rot[i]) == bits(after.rot[k]) && c.x1 == d.x1 && c.y1 == d.y1 && c.x2 == d.x2 &&
             c.y2 == d.y2;
    }
    frames.push_back(inBefore ? x[i].frame : y[k].frame);
    differs.push_back(!same);
    i += inBefore, k += inAfter;
  }
  std::vector<std::pair<uint32_t, uint32_t>> spans;
  for (size_t n = 0; n < frames.size(); n++) {
    if (!differs[n]) continue;
    const uint32_t lo = n > 0 ? frames[n - 1] : 0, hi = n + 1 < frames.size() ? frames[n + 1] : UINT32_MAX;
    if (!spans.empty() && lo <= spans.back().second) {
      spans.back().second = std::max(spans.back().second, hi);
    } else {
      spans.push_back({lo, hi});
    }
  }
  return spans;
}

// The bone that carries a swing keyed first, then the twist bone against the
// chain; where the twist bone cannot mend it, the first is keyed there too
// and the twist bone planned again, in rounds.
void planPair(const SidePlan& p, Job swing, const Job& twist, Chain chain) {
  constexpr int kMostMends = 8;
  std::vector<uint32_t> mend;
  swing.swingAt = &mend;
  run(p, swing, chain);
  Earlier earlier, swingEarlier;
  for (int round = 0;; round++) {
    const JobResult r = run(p, twist, chain, round == 0 ? nullptr : &earlier);
    if (r.mend.empty() || round == kMostMends) break;
    mend.insert(mend.end(), r.mend.begin(), r.mend.end());
    std::sort(mend.begin(), mend.end());
    mend.erase(std::unique(mend.begin(), mend.end()), mend.end());
    earlier.plan = std::move(bonePlan(twist.bone).out);
    // The first bone's keyframes depend on the input alone: taken over but where its swing is judged.
    swingEarlier.plan = std::move(bonePlan(swing.bone).out);
    run(p, swing, chain, &swingEarlier);
    earlier.changed = changedBetween(swingEarlier.plan, bonePlan(swing.bone).out);
    swingEarlier.plan = {};
    if (earlier.changed.empty()) break;  // keyed nowhere anew: nothing mends
  }
}

void planFold(const SidePlan& p, int limb, int twist, double share, Chain chain) {
  for (const HeldKey& k : bonePlan(twist).held) p.report(chain).folded += inRange(p.o, k.frame);
  run(p, twistAway(p, limb, twist, share), chain);
  run(p, limbCarries(p, limb, twist, share), chain);
}

// -W: the elbow's split, 手首 and 手捩 against the hand.
void planHand(const SidePlan& p) {
  const PlanOptions& o = p.o;
  if (!keyedInRange(o, p.bone(kWrist)) && !keyedInRange(o, p.bone(kHandTwist)) &&
      !(o.elbows && keyedInRange(o, p.bone(kElbow)))) {
    return;
  }
  if (o.elbows) run(p, elbowSplit(p), kElbowChain);
  planPair(p, wristRest(p, nullptr), handTwist(p), kHandChain);
}

void planSide(const PlanOptions& o, int side) {
  const SidePlan p = {o, side, o.bound * kMargin};
  const int A = p.bone(kArm), AT = p.bone(kArmTwist), E = p.bone(kElbow), HT = p.bone(kHandTwist);
  const bool both = o.elbows || o.wrist;  // a side's chains then share the bound
  const double armShare = both ? 0.5 : 1.0;
  p.report(kArmChain).share = o.bound * armShare;
  p.report(kElbowChain).share = o.bound * 0.5;
  p.report(kHandChain).share = o.bound;
  if (o.fold) {
    if (keyedInRange(o, AT)) planFold(p, A, AT, o.elbows ? 0.5 : 1.0, kArmChain);
    if (o.elbows && keyedInRange(o, HT)) planFold(p, E, HT, 0.5, kElbowChain);
    return;
  }
  if (keyedInRange(o, A) || keyedInRange(o, AT)) {
    planPair(p, limbSplit(p, A, AT, 0, armShare, nullptr), twistOfChain(p, A, AT, 0, armShare), kArmChain);
  }
  if (o.elbows && !o.wrist && (keyedInRange(o, E) || keyedInRange(o, HT))) {
    planPair(p, limbSplit(p, E, HT, 1, 0.5, nullptr), twistOfChain(p, E, HT, 1, 0.5), kElbowChain);
  }
  if (o.wrist) planHand(p);
}

// -W splits every wrist record in the range: counted before one a frame is left.
void countWristSplits(const PlanOptions& o) {
  for (int side = 0; side < kArmSides; side++) {
    for (const HeldKey& k : bonePlan(groupBone(side, kWrist)).held) {
      if (!inRange(o, k.frame)) continue;
      Quat twist, rest;
      splitAbout(unitOf(o.axis[side][1]), k.rot, &twist, &rest);
      ChainReport& r = gReports[side][kHandChain];
      r.splits++;
      r.twist = std::max(r.twist, angleBetween(kIdentityD, toDouble(twist)));
    }
  }
}

}  // namespace
}  // namespace planning

using namespace planning;

void planReset() {
  for (int b = 0; b < kGroupBones; b++) bonePlan(b) = BonePlan{};
  for (auto& side : gReports) {
    for (ChainReport& r : side) r = ChainReport{};
  }
}

void planHold(int bone, const HeldKey& k) {
  BonePlan& b = bonePlan(bone);
  b.held.push_back(k);
  b.heldCount++;
}

void plan(const PlanOptions& o) {
  if (o.wrist && !o.fold) countWristSplits(o);
  for (int b = 0; b < kGroupBones; b++) {
    makeTrack(&bonePlan(b).held);
    bonePlan(b).held.shrink_to_fit();
  }
  // A side at a time, so that only one side's working tracks are held.
  for (int side = 0; side < kArmSides; side++) {
    const int first = groupBone(side, kArm), end = groupBone(side + 1, kArm);
    uint64_t keys = 0;
    for (int b = first; b < end; b++) {
      bonePlan(b).in = playedTrack(bonePlan(b).held, o.rule[b]);
      keys += bonePlan(b).held.size();
    }
    // The work grows with the keyframes, whatever frames they span; the
    // planner and the check each have their own.
    setJudgeWork(kJudgeWork + kJudgeWorkPerKey * keys);
    planSide(o, side);
    // Where the plan ran out of work, the check says how far it strays but keys nothing more.
    const bool mend = judgeWorkLeft();
    setJudgeWork(kJudgeWork + kJudgeWorkPerKey * keys);
    checkSide(o, side, mend, gReports[side]);
    // Planned and checked: only what is written stays.
    for (int b = first; b < end; b++) bonePlan(b).in = {}, bonePlan(b).out.verbatim = {};
  }
}

bool planReplaces(int bone) { return bonePlan(bone).planned; }
size_t planKeyCount(int bone) { return bonePlan(bone).out.rot.size(); }
HeldKey planKey(int bone, size_t i) { return writtenKey(bonePlan(bone), i); }
int32_t planHeldCount(int bone) { return bonePlan(bone).heldCount; }
const ChainReport& planReport(int side, Chain chain) { return gReports[side][chain]; }

}  // namespace torsel
