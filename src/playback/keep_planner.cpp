#include "playback/keep_planner.h"

#include <algorithm>
#include <array>

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
  bool planned = false;
  int32_t heldCount = 0;
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

// The input curve of a bone over the output stretch [fa, fb], which never
// spans one of the bone's keyframes; false where the bone holds still.
bool curveFor(const Track& k, uint32_t fa, uint32_t fb, Curve* c) {
  const size_t i = keyAfter(k, fa);
  if (i == 0 || i == k.size()) return false;
  const HeldKey &k0 = k[i - 1], &k1 = k[i];
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

class Planner {
 public:
  Planner(int pair, double bound, PairPlan* plan)
      : pair_(pair), s_(plan->held[0]), t_(plan->held[1]), bound_(bound), out_(&plan->frames) {}

  // Both bones keyed at f: split in the range, the input's own outside it.
  KeepFrame keyAt(uint32_t f) const {
    KeepFrame k = {baseKey(s_, f), baseKey(t_, f)};
    k.source.frame = k.twist.frame = f;
    k.source.pos = positionAt(s_, f);
    k.twist.pos = positionAt(t_, f);
    const DQuat s = rotationAt(s_, f), t = rotationAt(t_, f);
    if (inFrameRange(f)) {
      SeparationResult r = splitComposite(pair_, t_.empty() ? toFloat(s) : toFloat(multiply(s, t)));
      k.source.rot = r.kept;
      k.twist.rot = r.twist;
    } else {
      k.source.rot = toFloat(s);
      k.twist.rot = toFloat(t);
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
    Curve lead = kLinearCurve, own = kLinearCurve;
    if (!curveFor(s_, fa, fb, &lead)) curveFor(t_, fa, fb, &lead);
    const bool twistMoves = curveFor(t_, fa, fb, &own);
    const uint32_t step = std::max<uint32_t>(1, (fb - fa) / kMostSamples);
    input_.clear();
    for (uint64_t f = uint64_t(fa) + step; f < fb; f += step) {
      input_.push_back(multiply(rotationAt(s_, uint32_t(f)), rotationAt(t_, uint32_t(f))));
    }
    double best = -1;
    const Curve twistCurves[2] = {lead, own};
    for (int c = 0; c < (twistMoves ? 2 : 1); c++) {
      const Curve& ct = twistCurves[c];
      double worst = 0;
      uint32_t worstAt = 0;
      for (size_t i = 0; i < input_.size(); i++) {
        const uint64_t f = fa + (i + 1) * uint64_t(step);
        const double x = double(f - fa) / double(fb - fa);
        const DQuat s = slerp(toDouble(a.source.rot), toDouble(b->source.rot), curveProgress(lead, x));
        const DQuat t = slerp(toDouble(a.twist.rot), toDouble(b->twist.rot), curveProgress(ct, x));
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
  const Track &s_, &t_;
  double bound_;
  std::vector<KeepFrame>* out_;
  double worst_ = 0;
  std::vector<DQuat> input_;  // the input's composite over the stretch judged
};

void planPair(int pair, double bound) {
  PairPlan& plan = gPlans[static_cast<size_t>(pair)];
  makeTrack(&plan.held[0]);
  makeTrack(&plan.held[1]);
  std::vector<uint32_t> frames;
  for (const Track& k : plan.held) {
    for (const HeldKey& h : k) frames.push_back(h.frame);
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  plan.planned = std::any_of(frames.begin(), frames.end(), inFrameRange);
  if (!plan.planned) return;
  Planner planner(pair, bound, &plan);
  KeepFrame prev = planner.keyAt(frames[0]);
  planner.emit(prev);
  for (size_t i = 1; i < frames.size(); i++) {
    KeepFrame next = planner.keyAt(frames[i]);
    planner.fill(prev, &next);
    planner.emit(next);
    prev = next;
  }
  plan.deviation = planner.worst();
  gConvCounts[static_cast<size_t>(pair)] = gScans[static_cast<size_t>(pair)].reccnt;
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
  // the wrist, their product, then stays within the whole.
  const double bound = gSettings.keepMotion / 10.0 * kMargin / (gSettings.handTwist ? 2 : 1);
  for (int i = 0; i < kPairCount; i++) {
    if (pairIsActive(i)) planPair(i, bound);
  }
}

bool keepPlanned(int pair) { return gPlans[static_cast<size_t>(pair)].planned; }
const std::vector<KeepFrame>& keepFrames(int pair) { return gPlans[static_cast<size_t>(pair)].frames; }
int32_t keepHeldCount(int pair) { return gPlans[static_cast<size_t>(pair)].heldCount; }
double keepDeviation(int pair) { return gPlans[static_cast<size_t>(pair)].deviation; }

}  // namespace torsel
