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
// A side's planned bones write at most this many times the keyframes its
// arm group holds in the input, and this many more: past that the plan
// keys no further and reports the chains beyond.
constexpr size_t kKeyGrowth = 8, kKeyGrowthFloor = 1024;

bool keyedInRange(const Group& g, const PlanOptions& o, int bone) {
  for (const PlayedKey& k : g[bone].in.keys) {
    if (inRange(o, k.frame)) return true;
  }
  return false;
}

}  // namespace

namespace {

// What the jobs of one side share.
struct SidePlan {
  Group& g;
  const PlanOptions& o;
  int side;
  double room;             // the bound, less the margin
  ChainReport* reports;    // the side's, by chain
  int bone(ArmBone b) const { return groupBone(side, b); }
  bool keyed(int bone) const { return keyedInRange(g, o, bone); }
  Vec3 unitAxis(int pair) const { return vecUnit(o.axis[side][pair]); }
  Side which() const { return side == 0 ? Side::Left : Side::Right; }
  ChainReport& report(Chain c) const { return reports[c]; }
};

// A limb keyed with its split at its own keyframes, and by its swing where
// its twist bone cannot mend the chain.
Job limbSplit(const SidePlan& p, int limb, int twist, int pair, double share, const std::vector<uint32_t>* mend) {
  return {.bone = limb, .judge = Judging::Swing, .chain = {limb, twist}, .leads = {limb}, .first = Value::Kept,
          .other = Value::Kept, .axis = p.unitAxis(pair), .splitAxis = p.o.axis[p.side][pair], .side = p.which(),
          .slot = 1, .swingAt = mend, .tol = p.room * share * kSwingShare};
}

// A twist bone keyed against the chain, at its limb's keyframes and its own.
Job twistOfChain(const SidePlan& p, int limb, int twist, int pair, double share) {
  return {.bone = twist, .judge = Judging::Chain, .chain = {limb, twist}, .events = {limb, twist},
          .leads = {limb, twist}, .first = Value::Twist, .other = Value::Twist, .axis = p.unitAxis(pair),
          .mender = limb, .tol = p.room * share};
}

// A fold: the twist bone rests in the range, and the limb carries the chain.
Job twistAway(const SidePlan& p, int limb, int twist, double share) {
  return {.bone = twist, .chain = {limb, twist}, .first = Value::Identity, .other = Value::Identity,
          .dropInRange = true, .tol = p.room * share};
}
Job limbCarries(const SidePlan& p, int limb, int twist, double share) {
  return {.bone = limb, .judge = Judging::Chain, .chain = {limb, twist}, .events = {limb, twist},
          .leads = {limb, twist}, .first = Value::Residual, .other = Value::Residual, .tol = p.room * share};
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
          .splitAxis = p.o.axis[p.side][1], .side = p.which(), .tol = p.room};
}

// -W: 手首 keyed with what the hand needs of it and 手捩 together, less the
// turn about the forearm (that goes to 手捩), and by its swing where 手捩
// cannot mend the hand.
Job wristRest(const SidePlan& p, const std::vector<uint32_t>* mend) {
  return {.bone = p.bone(kWrist), .judge = Judging::Swing, .chain = handChain(p), .leads = {p.bone(kWrist)},
          .first = Value::Rest, .other = Value::Rest, .axis = p.unitAxis(1), .slot = kHandTwist, .swingAt = mend,
          .tol = p.room * kSwingShare};
}

// -W: 手捩 keyed against the whole hand, at every keyframe of 手捩 and 手首
// in the range (and of ひじ, where the elbows are split).
Job twistOfHand(const SidePlan& p) {
  Job j = {.bone = p.bone(kHandTwist), .judge = Judging::Chain, .chain = handChain(p),
           .events = {p.bone(kHandTwist), p.bone(kWrist)},
           .leads = {p.bone(kWrist), p.bone(kHandTwist), p.bone(kElbow)}, .first = Value::Twist,
           .other = Value::Twist, .axis = p.unitAxis(1), .mender = p.bone(kWrist), .tol = p.room};
  if (p.o.elbows) j.events.at[j.events.n++] = p.bone(kElbow);
  return j;
}

// Runs a job for a chain, which the check then answers for.
JobResult run(const SidePlan& p, const Job& j, Chain chain, const Earlier* earlier = nullptr) {
  p.report(chain).planned = true;
  return runJob(p.g, p.o, j, earlier);
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
    earlier.plan = std::move(p.g[twist.bone].out);
    // The first bone's keyframes depend on the input alone: taken over but where its swing is judged.
    swingEarlier.plan = std::move(p.g[swing.bone].out);
    run(p, swing, chain, &swingEarlier);
    earlier.changed = changedBetween(swingEarlier.plan, p.g[swing.bone].out);
    swingEarlier.plan = {};
    if (earlier.changed.empty()) break;  // keyed nowhere anew: nothing mends
  }
}

void planFold(const SidePlan& p, int limb, int twist, double share, Chain chain) {
  for (const HeldKey& k : p.g[twist].held) p.report(chain).folded += inRange(p.o, k.frame);
  run(p, twistAway(p, limb, twist, share), chain);
  run(p, limbCarries(p, limb, twist, share), chain);
}

// -W, the elbows not split: ひじ, which no job keys, plays what the motion's
// thinning kept of it, and the hand is planned over that.
void playsThinned(BonePlan& b) {
  b.out = {};
  b.out.played = b.thinIn;
  for (const HeldKey& k : b.thinHeld) b.out.rot.push_back(k.rot);
  b.out.verbatim.assign(b.thinHeld.size(), 0);
  b.planned = true;
}

// -W: the elbow's split, 手首 and 手捩 against the hand.
void planHand(const SidePlan& p) {
  const PlanOptions& o = p.o;
  if (!p.keyed(p.bone(kWrist)) && !p.keyed(p.bone(kHandTwist)) && !(o.elbows && p.keyed(p.bone(kElbow)))) {
    return;
  }
  if (o.elbows) {
    run(p, elbowSplit(p), kElbowChain);
  } else if (p.g[p.bone(kElbow)].thinned) {
    playsThinned(p.g[p.bone(kElbow)]);
  }
  planPair(p, wristRest(p, nullptr), twistOfHand(p), kHandChain);
}

void planSide(const SidePlan& p) {
  const PlanOptions& o = p.o;
  const int arm = p.bone(kArm), armTwist = p.bone(kArmTwist), elbow = p.bone(kElbow), handTwist = p.bone(kHandTwist);
  const bool both = o.elbows || o.wrist;  // a side's chains then share the bound
  const double armShare = both ? 0.5 : 1.0;
  p.report(kArmChain).share = o.bound * armShare;
  p.report(kElbowChain).share = o.bound * 0.5;
  p.report(kHandChain).share = o.bound;
  if (o.fold) {
    if (p.keyed(armTwist)) planFold(p, arm, armTwist, o.elbows ? 0.5 : 1.0, kArmChain);
    if (o.elbows && p.keyed(handTwist)) planFold(p, elbow, handTwist, 0.5, kElbowChain);
    return;
  }
  if (p.keyed(arm) || p.keyed(armTwist)) {
    planPair(p, limbSplit(p, arm, armTwist, 0, armShare, nullptr), twistOfChain(p, arm, armTwist, 0, armShare),
             kArmChain);
  }
  if (o.elbows && !o.wrist && (p.keyed(elbow) || p.keyed(handTwist))) {
    planPair(p, limbSplit(p, elbow, handTwist, 1, 0.5, nullptr), twistOfChain(p, elbow, handTwist, 1, 0.5), kElbowChain);
  }
  if (o.wrist) planHand(p);
}

// -W splits every wrist record in the range: counted before one a frame is left.
void countWristSplits(const Group& g, const PlanOptions& o, int side, ChainReport& r) {
  for (const HeldKey& k : g[groupBone(side, kWrist)].held) {
    if (!inRange(o, k.frame)) continue;
    Quat twist, rest;
    splitAbout(vecUnit(o.axis[side][1]), k.rot, &twist, &rest);
    r.splits++;
    r.twist = std::max(r.twist, angleBetween(kIdentityD, toDouble(twist)));
  }
}

// A side planned and checked, its bones' tracks made; then only what is
// written stays.
void planAndCheck(Group& g, const PlanOptions& o, int side, ChainReport* reports) {
  const int first = groupBone(side, kArm), end = groupBone(side + 1, kArm);
  uint64_t keys = 0;
  for (int b = first; b < end; b++) {
    g[b].in = playedTrack(g[b].held, o.rule[b]);
    if (g[b].thinned) g[b].thinIn = playedTrack(g[b].thinHeld, o.rule[b]);
    // Played, what the thinning kept is needed as it stands only by a ひじ no job keys (playsThinned).
    if (!(o.wrist && !o.elbows && b % kArmBones == kElbow)) Track().swap(g[b].thinHeld);
    keys += g[b].held.size();
  }
  // The work grows with the keyframes, whatever frames they span; the
  // planner and the check each have their own.
  g.judge.setWork(kJudgeWork + kJudgeWorkPerKey * keys);
  g.keyCap = kKeyGrowth * keys + kKeyGrowthFloor;
  planSide({.g = g, .o = o, .side = side, .room = o.bound * kMargin, .reports = reports});
  // Where the plan ran out of work, the check says how far it strays but keys nothing more.
  const bool mend = g.judge.workLeft();
  g.judge.setWork(kJudgeWork + kJudgeWorkPerKey * keys);
  checkSide(g, o, side, mend, reports);
  for (int b = first; b < end; b++) g[b].in = {}, g[b].thinIn = {}, g[b].thinHeld = {}, g[b].out.verbatim = {};
  g.inputChains.clear();
}

}  // namespace
}  // namespace planning

using namespace planning;

Planner::Planner() : group_(std::make_unique<Group>()) {}
Planner::~Planner() = default;

void Planner::hold(int bone, const HeldKey& k) {
  BonePlan& b = (*group_)[bone];
  b.held.push_back(k);
  b.heldCount++;
}

void Planner::hold(int bone, Track records) {
  BonePlan& b = (*group_)[bone];
  b.heldCount += static_cast<int32_t>(records.size());
  if (b.held.empty()) b.held.swap(records);
  else b.held.insert(b.held.end(), records.begin(), records.end());
}

void Planner::holdThinned(int bone, Track records) {
  BonePlan& b = (*group_)[bone];
  b.thinHeld.insert(b.thinHeld.end(), records.begin(), records.end());
  b.thinned = true;
}

void Planner::plan(const PlanOptions& o) {
  Group& g = *group_;
  for (int side = 0; side < kArmSides && o.wrist && !o.fold; side++) {
    countWristSplits(g, o, side, reports_[side][kHandChain]);
  }
  for (BonePlan& b : g.bones) {
    makeTrack(&b.held);
    b.held.shrink_to_fit();
    makeTrack(&b.thinHeld);
  }
  // A side at a time, so that only one side's working tracks are held.
  for (int side = 0; side < kArmSides; side++) planAndCheck(g, o, side, reports_[side]);
}

void Planner::plan(const PlanOptions& o, int side) {
  Group& g = *group_;
  const int first = groupBone(side, kArm), end = groupBone(side + 1, kArm);
  if (o.wrist && !o.fold) countWristSplits(g, o, side, reports_[side][kHandChain]);
  for (int b = first; b < end; b++) makeTrack(&g[b].held), makeTrack(&g[b].thinHeld);
  planAndCheck(g, o, side, reports_[side]);
  // Its keyframes as written, and nothing more of the input.
  for (int b = first; b < end; b++) {
    BonePlan& p = g[b];
    for (size_t i = 0; p.planned && i < p.out.rot.size(); i++) p.written.push_back(writtenKey(p, i));
    p.settled = true;
    Track().swap(p.held);
    p.out = BonePlan::Output{};
  }
}

bool Planner::replaces(int bone) const { return (*group_)[bone].planned; }
size_t Planner::keyCount(int bone) const {
  const BonePlan& b = (*group_)[bone];
  return b.settled ? b.written.size() : b.out.rot.size();
}
HeldKey Planner::key(int bone, size_t i) const {
  const BonePlan& b = (*group_)[bone];
  return b.settled ? b.written[i] : writtenKey(b, i);
}
int32_t Planner::heldCount(int bone) const { return (*group_)[bone].heldCount; }

}  // namespace torsel
