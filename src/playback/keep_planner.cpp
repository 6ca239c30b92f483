#include "playback/keep_planner.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "playback/stretch_judge.h"
#include "playback/wrist_split.h"
#include "twist/bone_pairs.h"
#include "twist/run_settings.h"
#include "twist/separation.h"

namespace torsel {
namespace {

// The bound of a fold without -K, in tenths of a degree: a fold always keeps the motion.
constexpr int32_t kFoldBound = 5;

struct PairPlan {
  Track held[2];    // source, twist, as the input holds them
  Track played[2];  // the same as a player shows them: turned onto their fixed axes
  Track twistLeft;  // folding: the twist keyframes outside the range, and pins at its ends
  Track leftPlayed;
  bool planned = false;
  int32_t heldCount = 0, folded = 0;
  std::vector<KeepFrame> frames;
  double deviation = 0;
};
std::array<PairPlan, kPairCount> gPlans;

// Method 4 on a composite rotation, without the plain conversion's lines.
SeparationResult splitComposite(int pair, Quat c) {
  const BonePair& p = gPairs[static_cast<size_t>(pair)];
  const int8_t level = gSettings.displayLevel;
  gSettings.displayLevel = 0;
  SeparationResult r = separateTwist(
      {c, {p.restQuat.x, p.restQuat.y, p.restQuat.z}, p.side, 0, false, false, kIdentity, p.twistBone, false});
  gSettings.displayLevel = level;
  return r;
}

Track playedTrack(int pair, bool twist, const Track& t) {
  Track played = t;
  for (HeldKey& k : played) k.rot = toFloat(shownRotation(pair, twist, k.rot));
  return played;
}

// The input curve of a bone over the output stretch [fa, fb]; false where
// the bone holds still (or the stretch spans its keyframes).
bool curveFor(const Track& k, uint32_t fa, uint32_t fb, Curve* c) {
  const size_t i = keyAfter(k, fa);
  if (i == 0 || i == k.size()) return false;
  const HeldKey &k0 = k[i - 1], &k1 = k[i];
  if (fb > k1.frame) return false;  // across keyframes folded away: no one curve
  const double span = double(k1.frame - k0.frame);
  *c = fa == k0.frame && fb == k1.frame ? rotationCurve(k1)
                                        : cutCurve(rotationCurve(k1), (fa - k0.frame) / span, (fb - k0.frame) / span);
  return true;
}

// The rotation to write where the input plays on: a keyframe of its own as
// it stands, between keyframes what the player shows there.
Quat inputRotation(const Track& raw, const Track& played, uint32_t f) {
  const size_t i = keyAfter(raw, f);
  if (i > 0 && raw[i - 1].frame == f) return raw[i - 1].rot;
  return toFloat(rotationAt(played, f));
}

// Plans one pair: keeping (both bones keyed on every planned frame, the
// composite split) or folding (the source alone keyed, carrying the
// composite less what is left on the twist bone).
class Planner {
 public:
  Planner(int pair, double bound, PairPlan* plan, bool fold)
      : pair_(pair), s_(plan->held[0]), t_(plan->held[1]), ps_(plan->played[0]), pt_(plan->played[1]),
        left_(plan->leftPlayed), fold_(fold),
        bound_(bound), out_(&plan->frames) {}

  // The keyframes at f: in the range split (or folded), outside it the
  // input's own playback.
  KeepFrame keyAt(uint32_t f) const {
    KeepFrame k = {keyToCut(s_, f), keyToCut(t_, f), !fold_};
    k.source.frame = k.twist.frame = f;
    k.source.pos = positionAt(s_, f);
    k.twist.pos = positionAt(t_, f);
    const DQuat s = rotationAt(ps_, f), t = rotationAt(pt_, f);
    if (!inFrameRange(f)) {
      k.source.rot = inputRotation(s_, ps_, f);
      k.twist.rot = inputRotation(t_, pt_, f);
    } else if (fold_) {
      const DQuat left = rotationAt(left_, f);
      k.source.rot = toFloat(unit(multiply(multiply(s, t), {-left.x, -left.y, -left.z, left.w})));
    } else {
      // Normalised before it is narrowed: huge components would overflow a float.
      SeparationResult r = splitComposite(pair_, toFloat(unit(wristTwisted(pair_, f, multiply(s, t)))));
      k.source.rot = r.kept;
      k.twist.rot = r.twist;
    }
    return k;
  }

  // Emits a planned frame; its own deviation counts too.
  void emit(const KeepFrame& k) {
    out_->push_back(k);
    const uint32_t f = k.source.frame;
    worst_ = std::max(worst_, deviationOf(inputAt(f), multiply(shownSource(k), shownTwist(k, f))));
  }

  // Keys both bones at the worst frame between a and b, and again in each
  // part, until every frame plays back within the bound; gives every frame
  // reached the curves of the stretch before it, and emits them in order
  // (not b itself).
  void fill(const KeepFrame& a, KeepFrame* b) {
    auto fit = [this](const KeepFrame& from, KeepFrame* to, uint32_t* at) { return fitCurves(from, to, at); };
    auto key = [this](uint32_t f) { return keyAt(f); };
    auto put = [this](const KeepFrame& k) { emit(k); };
    worst_ = std::max(worst_, fillStretch(a, b, bound_, fit, key, put));
  }

  double worst() const { return worst_; }

 private:
  // A stretch between two output keyframes under one choice of curves.
  struct Stretch {
    uint32_t fa, fb;
    Segment in[2], left;  // the input's source and twist; folding, the twist left
    Arc out[2];           // the output's source and twist, between its keyframes as shown
    Curve lead, twist;
    Segment wrist;        // under -W, an elbow pair's wrist, whose twist joins the input
    bool wristOn;
  };

  DQuat inputAt(uint32_t f) const { return wristTwisted(pair_, f, multiply(rotationAt(ps_, f), rotationAt(pt_, f))); }
  DQuat shownSource(const KeepFrame& k) const { return shownRotation(pair_, false, k.source.rot); }
  DQuat shownTwist(const KeepFrame& k, uint32_t f) const {
    return fold_ ? rotationAt(left_, f) : shownRotation(pair_, true, k.twist.rot);
  }

  // One frame of a stretch: the deviation, and the progress of the
  // rotations that make it: the input's source and twist, the output's
  // source and twist, and under -W the wrist whose twist joins the input.
  Judged probe(const Stretch& s, uint32_t f) const {
    const Shown is = showAt(s.in[0], f), it = showAt(s.in[1], f);
    const double x = double(f - s.fa) / double(s.fb - s.fa);
    const double ys = curveProgress(s.lead, x);
    const bool sameCurve = s.twist.x1 == s.lead.x1 && s.twist.y1 == s.lead.y1 && s.twist.x2 == s.lead.x2 &&
                           s.twist.y2 == s.lead.y2;
    const Shown ot = fold_ ? showAt(s.left, f) : Shown{{}, sameCurve ? ys : curveProgress(s.twist, x)};
    const DQuat t = fold_ ? ot.rot : arcAt(s.out[1], ot.y);
    const DQuat in = wristTwisted(pair_, f, multiply(is.rot, it.rot));
    Judged j = {deviationOf(in, multiply(arcAt(s.out[0], ys), t)), {is.y, it.y, ys, ot.y}};
    if (s.wristOn) {
      const Shown w = showAt(s.wrist, f);
      j.y[4] = w.y;
      j.reach = wristReach(pair_ / 2, w.rot);
    }
    return j;
  }

  // Gives b the curves under which the stretch from a plays back best: the
  // twist split off the limb moves with the limb, so both bones follow the
  // limb's input curve (the twist bone's where the limb holds still), unless
  // the twist bone following its own does better. Returns the largest
  // deviation left, at the frame `at`.
  double fitCurves(const KeepFrame& a, KeepFrame* b, uint32_t* at) {
    const uint32_t fa = a.source.frame, fb = b->source.frame;
    Curve lead = kLinearCurve, own = kLinearCurve, hand = kLinearCurve;
    if (!curveFor(s_, fa, fb, &lead) && !curveFor(t_, fa, fb, &lead)) wristCurve(pair_, fa, fb, &lead);
    const bool twistMoves = !fold_ && curveFor(t_, fa, fb, &own);
    // Under -W the twist bone carries the wrist's twist too: its curve may serve better.
    const bool handMoves = !fold_ && wristCurve(pair_, fa, fb, &hand);
    if (fb - fa < 2) {  // no frame between: nothing to judge
      setRotationCurve(&b->source, lead);
      setRotationCurve(&b->twist, lead);
      *at = fa;
      return 0;
    }
    Stretch s = {fa, fb, {segmentAt(ps_, fa), segmentAt(pt_, fa)}, segmentAt(left_, fa),
                 {makeArc(shownSource(a), shownSource(*b)), makeArc(shownTwist(a, fa), shownTwist(*b, fb))}, lead, lead,
                 {}, false};
    s.wristOn = wristArc(pair_, fa, &s.wrist);
    auto turn = [](const Segment& g) { return g.moving ? arcDegrees(g.arc) : 0; };
    Turns turns;
    turns.angle[0] = turn(s.in[0]);
    turns.angle[1] = turn(s.in[1]);
    turns.angle[2] = arcDegrees(s.out[0]);
    turns.angle[3] = fold_ ? turn(s.left) : arcDegrees(s.out[1]);
    if (s.wristOn) {
      turns.twistOf = 4;
      turns.twistAngle = turn(s.wrist);
    }
    double best = -1;
    const Curve twistCurves[3] = {lead, twistMoves ? own : hand, hand};
    for (int c = 0; c < 1 + twistMoves + handMoves; c++) {
      s.twist = twistCurves[c];
      uint32_t worstAt = 0;
      const double worst = judgeStretch(fa, fb, bound_, turns, [&](uint32_t f) { return probe(s, f); }, &worstAt);
      if (best < 0 || worst < best) {
        best = worst;
        *at = worstAt;
        setRotationCurve(&b->source, lead);
        setRotationCurve(&b->twist, s.twist);
      }
      if (!(best > bound_)) break;
    }
    return best;
  }

  int pair_;
  const Track &s_, &t_, &ps_, &pt_, &left_;
  bool fold_;
  double bound_;
  std::vector<KeepFrame>* out_;
  double worst_ = 0;
};

// The twist keyframes a fold leaves: those outside the range, and where
// some inside go, the input's twist pinned at the range's ends, so that
// outside the range the twist bone plays as before.
void leaveTwist(int pair, PairPlan* plan, uint32_t first, uint32_t last) {
  const Track& t = plan->held[1];
  for (const HeldKey& k : t) {
    if (inFrameRange(k.frame)) {
      plan->folded++;
    } else {
      plan->twistLeft.push_back(k);
    }
  }
  const uint64_t from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  for (uint64_t pin : {from - 1, to + 1}) {
    if (plan->folded == 0 || pin < first || pin > last) continue;
    HeldKey k = keyToCut(t, static_cast<uint32_t>(pin));
    k.frame = static_cast<uint32_t>(pin);
    k.pos = positionAt(t, k.frame);
    k.rot = inputRotation(t, plan->played[1], k.frame);
    plan->twistLeft.push_back(k);
  }
  makeTrack(&plan->twistLeft);
  for (size_t i = 1; i < plan->twistLeft.size(); i++) {
    Curve c = kLinearCurve;
    curveFor(t, plan->twistLeft[i - 1].frame, plan->twistLeft[i].frame, &c);
    setRotationCurve(&plan->twistLeft[i], c);
  }
  plan->leftPlayed = playedTrack(pair, true, plan->twistLeft);
}

void planPair(int pair, double bound, bool fold) {
  PairPlan& plan = gPlans[static_cast<size_t>(pair)];
  for (int b = 0; b < 2; b++) {
    makeTrack(&plan.held[b]);
    plan.played[b] = playedTrack(pair, b == 1, plan.held[b]);
  }
  std::vector<uint32_t> frames;
  for (const Track& k : plan.held) {
    for (const HeldKey& h : k) frames.push_back(h.frame);
  }
  wristFrames(pair, &frames);
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  if (frames.empty()) return;
  const uint32_t first = frames.front(), last = frames.back();
  if (fold) leaveTwist(pair, &plan, first, last);
  plan.planned = fold ? plan.folded > 0 : std::any_of(frames.begin(), frames.end(), inFrameRange);
  if (!plan.planned) return;
  // Both sides of each end of the range, where it cuts the motion.
  const uint32_t from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  for (uint64_t end : {uint64_t(from) - 1, uint64_t(from), uint64_t(to), uint64_t(to) + 1}) {
    if (end >= first && end <= last) frames.push_back(static_cast<uint32_t>(end));
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  Planner planner(pair, bound, &plan, fold);
  KeepFrame prev = planner.keyAt(frames[0]);
  planner.emit(prev);
  for (size_t i = 1; i < frames.size(); i++) {
    KeepFrame next = planner.keyAt(frames[i]);
    planner.fill(prev, &next);
    planner.emit(next);
    prev = next;
  }
  plan.deviation = planner.worst();
  if (fold) {  // the twist keyframes left join the frames, each on its own
    for (const HeldKey& k : plan.twistLeft) plan.frames.push_back({k, k, true, false});
    std::stable_sort(plan.frames.begin(), plan.frames.end(),
                     [](const KeepFrame& a, const KeepFrame& b) { return a.source.frame < b.source.frame; });
  }
}

}  // namespace

DQuat shownRotation(int pair, bool twist, const Quat& rot) {
  const BonePair& p = gPairs[static_cast<size_t>(pair)];
  if (twist ? p.twistFixed : p.sourceFixed) return ontoAxis(toDouble(rot), twist ? p.twistAxis : p.sourceAxis);
  return toDouble(rot);
}

void keepReset() { gPlans = {}; }

int32_t keepBound() { return gSettings.keepMotion > 0 ? gSettings.keepMotion : kFoldBound; }

double keepPlannedDegrees() { return keepBound() / 10.0 * 0.99; }

void keepHold(int pair, bool twist, const BoneKeyframe& kf) {
  PairPlan& plan = gPlans[static_cast<size_t>(pair)];
  HeldKey k = {kf.frameTime, kf.pos, kf.rot, {}, {}};
  packBlock(kf.bz, &k);
  plan.held[twist ? 1 : 0].push_back(k);
  plan.heldCount++;
}

void keepPlan() {
  // Where a side's arm and elbow are both converted, each chain gets half:
  // the wrist, their product, then stays within the whole (with -W the
  // hand's own rest takes a share too).
  const bool fold = gSettings.unfoldTwist != 0;
  const double bound = keepPlannedDegrees() * keepShare(false);
  for (int i = 0; i < kPairCount; i++) {
    if (!pairIsActive(i)) continue;
    planPair(i, bound, fold);
    // Every source keyframe in the range was taken care of, also by a fold with nothing to fold.
    gConvCounts[static_cast<size_t>(i)] = gScans[static_cast<size_t>(i)].reccnt;
  }
}

bool keepPlanned(int pair) { return gPlans[static_cast<size_t>(pair)].planned; }
const std::vector<KeepFrame>& keepFrames(int pair) { return gPlans[static_cast<size_t>(pair)].frames; }
int32_t keepHeldCount(int pair) { return gPlans[static_cast<size_t>(pair)].heldCount; }
int32_t keepFoldedCount(int pair) { return gPlans[static_cast<size_t>(pair)].folded; }
double keepDeviation(int pair) { return gPlans[static_cast<size_t>(pair)].deviation; }

}  // namespace torsel
