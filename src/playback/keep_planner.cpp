#include "playback/keep_planner.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "playback/wrist_split.h"
#include "twist/bone_pairs.h"
#include "twist/run_settings.h"
#include "twist/separation.h"

namespace torsel {
namespace {

// Planned below the bound, so that a player rounding otherwise stays within it.
constexpr double kMargin = 0.99;
// A stretch longer than this is judged on as many frames, evenly spread.
constexpr uint32_t kMostSamples = 65536;

struct PairPlan {
  Track held[2];  // source, twist
  Track twistLeft;  // folding: the twist keyframes outside the range, and pins at its ends
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

// The keyframe whose stretch a new one at f cuts: its other channels and
// kept bytes go on.
HeldKey baseKey(const Track& k, uint32_t f) {
  if (k.empty()) {
    HeldKey h{};
    for (int i = 0; i < 16; i++) h.params[i] = i < 8 ? 20 : 107;
    return h;
  }
  const size_t i = keyAfter(k, f);
  return i > 0 && k[i - 1].frame == f ? k[i - 1] : k[std::min(i, k.size() - 1)];
}

// Plans one pair: keeping (both bones keyed on every planned frame, the
// composite split) or folding (the source alone keyed, carrying the
// composite less what is left on the twist bone).
class Planner {
 public:
  Planner(int pair, double bound, PairPlan* plan, bool fold)
      : pair_(pair), s_(plan->held[0]), t_(plan->held[1]), left_(plan->twistLeft), fold_(fold), bound_(bound),
        out_(&plan->frames) {}

  // The keyframes at f: in the range split (or folded), outside it the
  // input's own playback.
  KeepFrame keyAt(uint32_t f) const {
    KeepFrame k = {baseKey(s_, f), baseKey(t_, f), !fold_};
    k.source.frame = k.twist.frame = f;
    k.source.pos = positionAt(s_, f);
    k.twist.pos = positionAt(t_, f);
    const DQuat s = rotationAt(s_, f), t = rotationAt(t_, f);
    if (!inFrameRange(f)) {
      k.source.rot = toFloat(s);
      k.twist.rot = toFloat(t);
    } else if (fold_) {
      const DQuat left = rotationAt(left_, f);
      k.source.rot = toFloat(multiply(multiply(s, t), {-left.x, -left.y, -left.z, left.w}));
    } else {
      SeparationResult r = splitComposite(pair_, toFloat(wristTwisted(pair_, f, t_.empty() ? s : multiply(s, t))));
      k.source.rot = r.kept;
      k.twist.rot = r.twist;
    }
    return k;
  }

  void emit(const KeepFrame& k) { out_->push_back(k); }

  // Keys both bones at the worst frame between a and b, and again in each
  // part, until every frame plays back within the bound; gives every frame
  // reached the curves of the stretch before it, and emits them in order
  // (not b itself).
  void fill(KeepFrame a, KeepFrame* b) {
    std::vector<KeepFrame> ends = {*b};  // right ends still to reach, nearest last
    for (;;) {
      uint32_t at = 0;
      const double dev = fitCurves(a, &ends.back(), &at);
      if (dev > bound_) {
        ends.push_back(keyAt(at));
        continue;
      }
      worst_ = std::max(worst_, dev);
      if (ends.size() == 1) break;
      a = ends.back();
      ends.pop_back();
      emit(a);
    }
    *b = ends.back();
  }

  double worst() const { return worst_; }

 private:
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
    const uint32_t step = std::max<uint32_t>(1, (fb - fa) / kMostSamples);
    input_.clear();
    for (uint64_t f = uint64_t(fa) + step; f < fb; f += step) {
      const DQuat c = multiply(rotationAt(s_, uint32_t(f)), rotationAt(t_, uint32_t(f)));
      input_.push_back(wristTwisted(pair_, uint32_t(f), c));
    }
    double best = -1;
    const Curve twistCurves[3] = {lead, twistMoves ? own : hand, hand};
    for (int c = 0; c < 1 + twistMoves + handMoves; c++) {
      const Curve& ct = twistCurves[c];
      double worst = 0;
      uint32_t worstAt = 0;
      for (size_t i = 0; i < input_.size(); i++) {
        const uint64_t f = fa + (i + 1) * uint64_t(step);
        const double x = double(f - fa) / double(fb - fa);
        const DQuat s = slerp(toDouble(a.source.rot), toDouble(b->source.rot), curveProgress(lead, x));
        const DQuat t = fold_ ? rotationAt(left_, uint32_t(f))
                              : slerp(toDouble(a.twist.rot), toDouble(b->twist.rot), curveProgress(ct, x));
        const double d = angleBetween(input_[i], multiply(s, t));
        if (d > worst) {  // a NaN never counts
          worst = d;
          worstAt = uint32_t(f);
        }
      }
      if (best < 0 || worst < best) {
        best = worst;
        *at = worstAt;
        setRotationCurve(&b->source, lead);
        setRotationCurve(&b->twist, ct);
      }
      if (!(best > bound_)) break;
    }
    return best;
  }

  int pair_;
  const Track &s_, &t_, &left_;
  bool fold_;
  double bound_;
  std::vector<KeepFrame>* out_;
  double worst_ = 0;
  std::vector<DQuat> input_;  // the input's composite over the stretch judged
};

// The twist keyframes a fold leaves: those outside the range, and where
// some inside go, the input's twist pinned at the range's ends, so that
// outside the range the twist bone plays as before.
void leaveTwist(PairPlan* plan, uint32_t first, uint32_t last) {
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
    HeldKey k = baseKey(t, static_cast<uint32_t>(pin));
    k.frame = static_cast<uint32_t>(pin);
    k.pos = positionAt(t, k.frame);
    k.rot = toFloat(rotationAt(t, k.frame));
    plan->twistLeft.push_back(k);
  }
  makeTrack(&plan->twistLeft);
  for (size_t i = 1; i < plan->twistLeft.size(); i++) {
    Curve c = kLinearCurve;
    curveFor(t, plan->twistLeft[i - 1].frame, plan->twistLeft[i].frame, &c);
    setRotationCurve(&plan->twistLeft[i], c);
  }
}

void planPair(int pair, double bound, bool fold) {
  PairPlan& plan = gPlans[static_cast<size_t>(pair)];
  makeTrack(&plan.held[0]);
  makeTrack(&plan.held[1]);
  std::vector<uint32_t> frames;
  for (const Track& k : plan.held) {
    for (const HeldKey& h : k) frames.push_back(h.frame);
  }
  wristFrames(pair, &frames);
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  if (frames.empty()) return;
  const uint32_t first = frames.front(), last = frames.back();
  if (fold) leaveTwist(&plan, first, last);
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

void keepReset() { gPlans = {}; }

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
  // hand's own rest takes a share too). A fold without
  // -K keys the source where either bone was keyed, and no more.
  const bool fold = gSettings.unfoldTwist != 0;
  double bound = gSettings.keepMotion / 10.0 * kMargin * keepShare(false);
  if (gSettings.keepMotion <= 0) bound = INFINITY;
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
