#include "playback/planner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "playback/judge.h"

namespace torsel {
namespace {

// A planner that rounds otherwise than the players keeps this much of the bound.
constexpr double kMargin = 0.99;
// Outside the range every bone plays its input: a curve cut at a range end
// strays from it by its rounding, keyed again beyond this share of the bound.
constexpr double kOutsideShare = 0.25;
// Where no turn of a twist bone brings its chain within this share of its
// tolerance, the limb's swing is judged there (to within the same share)
// and the twist bone planned again, so often; the rest of the tolerance
// is the room the twist bone plays within.
constexpr double kSwingShare = 0.95;
constexpr int kMostMends = 8;
// Keyframes one stretch of the first ones may gain: where that does not
// bring it within the bound, no keyframe will.
constexpr int kMostAdded = 256;

struct BonePlan {
  Track held;                     // the input's keyframes as they stand
  int32_t heldCount = 0;          // its records, several on one frame included
  PlayedTrack in;                 // the input as played
  Track out;                      // to write
  PlayedTrack outPlayed;          // and as played
  std::vector<uint8_t> verbatim;  // per output keyframe: the input's own, on its own stretch
  // Per output keyframe, what judging the stretch that ends there found in
  // the range: kept so that a plan made again can take it over.
  std::vector<double> worst;
  std::vector<uint32_t> worstAt;
  std::vector<uint8_t> beyond;
  bool planned = false;
  double outside = 0;             // the largest deviation from its input outside the range
};
std::array<BonePlan, kGroupBones> gBones;
ChainReport gReports[kArmSides][kChains];

// What a bone is keyed with in the range (outside it: its input).
enum class Value {
  Kept,       // the limb's part of method 4's split of what the chain plays
  Twist,      // the turn about the axis of what the chain needs from the bone
  Residual,   // what the chain needs from the bone
  Identity,   // a fold's twist bone
  HandTwist,  // -W: 手捩's twist with the wrist's twist
};
enum class Judge {
  None,   // not judged in the range: keyed at its frames only
  Swing,  // a limb's swing against the split of what its chain plays
  Chain,  // the whole chain
};

struct Job {
  int bone = 0;
  Judge judge = Judge::None;
  int in[kArmBones] = {}, nIn = 0;      // the chain's bones, in the order they turn
  int events[3] = {}, nEvents = 0;      // bones whose keyframes in the range key this one too
  int lead[3] = {}, nLead = 0;          // bones whose input curves its stretches may follow
  Value first = Value::Kept;            // at its own keyframes in the range
  Value other = Value::Kept;            // elsewhere in the range
  Vec3 axis = {};                       // of length 1: the twist axis
  Vec3 splitAxis = {};                  // Kept: the pair's axis, as method 4 takes it
  Side side = Side::Left;
  int wrist = -1;                       // HandTwist: the wrist bone
  bool dropInRange = false;             // a fold's twist: its keyframes in the range go
  bool mends = false;                   // a twist bone: where it cannot mend the chain, the limb may
  const std::vector<uint32_t>* swingAt = nullptr;  // Swing: judged only on stretches holding these frames
  double tol = 0;
};

// A bone's plan made once, to be made again where the bones before it
// changed: over `changed` (open spans) it is planned anew, elsewhere taken over.
struct Earlier {
  BonePlan plan;
  std::vector<std::pair<uint32_t, uint32_t>> changed;
};

bool inRange(const PlanOptions& o, uint32_t f) { return o.from <= f && f <= o.to; }

// An axis scaled to length 1 in float steps, as the wrist's split takes it.
Vec3 unitOf(const Vec3& v) {
  const float len = vecLength(v);
  return {divF(v.x, len), divF(v.y, len), divF(v.z, len)};
}

bool keyedInRange(const PlanOptions& o, int bone) {
  for (const HeldKey& k : gBones[static_cast<size_t>(bone)].in.keys) {
    if (inRange(o, k.frame)) return true;
  }
  return false;
}

// The product of what bones play at f: the input's, or the output's.
DQuat chainAt(const int* bones, int n, bool output, uint32_t f) {
  DQuat c = kIdentityD;
  for (int i = 0; i < n; i++) {
    const BonePlan& b = gBones[static_cast<size_t>(bones[i])];
    c = multiply(c, rotationAt(output ? b.outPlayed : b.in, f));
  }
  return c;
}

// What the chain needs from the job's bone at f: the input's chain less the
// output's bones before and after it.
DQuat residualAt(const Job& j, uint32_t f, const DQuat& target) {
  DQuat before = kIdentityD, after = kIdentityD;
  bool past = false;
  for (int i = 0; i < j.nIn; i++) {
    const int b = j.in[i];
    if (b == j.bone) {
      past = true;
      continue;
    }
    const DQuat r = rotationAt(gBones[static_cast<size_t>(b)].outPlayed, f);
    (past ? after : before) = past ? multiply(after, r) : multiply(before, r);
  }
  return unit(multiply(multiply(conjugate(before), target), conjugate(after)));
}

// The wrist's twist about the axis as the wrist plays at f.
Quat wristTwistAt(const Job& j, uint32_t f) {
  Quat twist, rest;
  splitAbout(j.axis, toFloat(rotationAt(gBones[static_cast<size_t>(j.wrist)].in, f)), &twist, &rest);
  return twist;
}

// The job's value at f; with `needed`, what the chain needs from the bone
// there, where the value is taken from that.
Quat valueAt(const Job& j, Value v, uint32_t f, DQuat* needed = nullptr) {
  const DQuat target = chainAt(j.in, j.nIn, false, f);
  if (needed != nullptr && (v == Value::Twist || v == Value::Residual)) *needed = residualAt(j, f, target);
  switch (v) {
    case Value::Kept: {
      // Method 4 on what the chain plays, nothing merged at a start frame; normalised
      // before it is narrowed: huge components would overflow a float.
      const SeparationInput in = {.q = toFloat(unit(target)), .r = j.splitAxis, .side = j.side, .frameTime = f,
                                  .method = 4, .quiet = true};
      return separateTwist(in).kept;
    }
    case Value::Twist:
      return toFloat(twistAbout(residualAt(j, f, target), j.axis));
    case Value::Residual:
      return toFloat(residualAt(j, f, target));
    case Value::Identity:
      return kIdentity;
    case Value::HandTwist:
      return toFloat(twistAbout(residualAt(j, f, multiply(target, toDouble(wristTwistAt(j, f)))), j.axis));
  }
  return kIdentity;
}

// One planned keyframe, its rotation as written and as played.
struct Key {
  HeldKey raw;
  Quat shown;
  bool verbatim;      // the input's own keyframe as it stands
  double d = NAN;     // how far it leaves the chain at its own frame, where known
};

// What judging a stretch found: the part that strays the most beyond its
// tolerance (to be keyed), and the worst of every part on each side of the
// range's ends (to be reported).
struct Found {
  Verdict v;
  double excess = -INFINITY;  // v's deviation less its tolerance; infinite when unproven
  double inside = 0, outside = 0;
  uint32_t insideAt = 0;
};

// What a job found of the chain it plans, in the range.
struct JobResult {
  double worst = 0;
  uint32_t at = 0;
  bool beyond = false;
  std::vector<uint32_t> mend;  // frames where the limb strays more than a twist can mend
  std::vector<std::pair<uint32_t, uint32_t>> changed;  // a limb's stretches keyed anew
};

// Plans one bone: its first keyframes, then more wherever it strays.
class JobRunner {
 public:
  JobRunner(const PlanOptions& o, const Job& j, const Earlier* earlier = nullptr)
      : o_(o), j_(j), b_(gBones[static_cast<size_t>(j.bone)]), rule_(o.rule[j.bone]), judge_(j.judge),
        earlier_(earlier) {}

  JobResult run() {
    uint32_t lo = UINT32_MAX, hi = 0;
    auto spanOf = [&](int bone) {
      const Track& t = gBones[static_cast<size_t>(bone)].in.keys;
      if (!t.empty()) lo = std::min(lo, t.front().frame), hi = std::max(hi, t.back().frame);
    };
    for (int i = 0; i < j_.nIn; i++) spanOf(j_.in[i]);
    for (int i = 0; i < j_.nEvents; i++) spanOf(j_.events[i]);
    spanOf(j_.bone);
    b_.planned = true;
    b_.out.clear(), b_.outPlayed = {}, b_.verbatim.clear(), b_.worst.clear(), b_.worstAt.clear(), b_.beyond.clear();
    std::vector<uint32_t> frames;
    for (const HeldKey& k : b_.in.keys) {
      if (!(j_.dropInRange && inRange(o_, k.frame))) frames.push_back(k.frame);
    }
    for (int i = 0; i < j_.nEvents; i++) {
      for (const HeldKey& k : gBones[static_cast<size_t>(j_.events[i])].in.keys) {
        if (inRange(o_, k.frame)) frames.push_back(k.frame);
      }
    }
    // Both sides of each end of the range, where it cuts the chain's keyframes.
    if (lo <= hi && o_.from > lo && o_.from <= hi) frames.push_back(o_.from - 1), frames.push_back(o_.from);
    if (lo <= hi && o_.to >= lo && o_.to < hi) frames.push_back(o_.to), frames.push_back(o_.to + 1);
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    if (frames.empty()) return result_;

    // Held before its first keyframe and after its last while others move:
    // keyed at the chain's ends where that strays.
    if (lo < frames.front() && judge(lo, frames.front(), held(firstKey(frames.front()).shown)).v.kind !=
                                   Verdict::Within) {
      frames.insert(frames.begin(), lo);
    }
    if (frames.back() < hi && judge(frames.back(), hi, held(firstKey(frames.back()).shown)).v.kind != Verdict::Within) {
      frames.push_back(hi);
    }
    append(firstKey(frames[0]));
    for (size_t i = 1; i < frames.size(); i++) {
      if (takeOver(frames[i])) continue;
      const Key k = firstKey(frames[i]);
      // Where a twist bone's own keyframe cannot bring the chain near enough,
      // the limb has to mend it (where the limb is keyed too, it is exact).
      const uint32_t f = k.raw.frame;
      size_t on;
      if (j_.mends && inside(f, f) && !keyOn(gBones[static_cast<size_t>(j_.in[0])].out, f, &on) &&
          (k.d == k.d ? k.d : deviationAt(f, k.shown)) > j_.tol * kSwingShare) {
        result_.mend.push_back(f);
      }
      fill(k);
    }
    Track shown = std::move(b_.outPlayed.keys);
    setPlayed(&b_.outPlayed, std::move(shown));
    return result_;
  }

 private:
  bool inside(uint32_t s, uint32_t e) const { return s >= o_.from && e <= o_.to; }
  double tolOf(bool in) const { return in ? j_.tol : j_.tol * kOutsideShare; }

  // A first keyframe: the earlier plan's where nothing before it changed.
  Key firstKey(uint32_t f) const {
    size_t i;
    if (earlier_ != nullptr && !changedNear(f, f) && keyOn(earlier_->plan.out, f, &i)) {
      const BonePlan& e = earlier_->plan;
      return {e.out[i], e.outPlayed.keys[i].rot, e.verbatim[i] != 0};
    }
    return keyAt(f, true);
  }

  // True where the bones before it changed on [a, b].
  bool changedNear(uint32_t a, uint32_t b) const {
    // The spans come in order and apart: only the last one starting before b can meet [a, b].
    const auto& c = earlier_->changed;
    auto it = std::lower_bound(c.begin(), c.end(), b, [](const auto& span, uint32_t f) { return span.first < f; });
    if (it == c.begin()) return false;
    --it;
    return a < it->second || (a == b && it->first < a && a < it->second);
  }

  // The first frame strictly inside (a, b) where a limb's swing is to be
  // judged (a mend frame), or null.
  const uint32_t* swingAtIn(uint32_t a, uint32_t b) const {
    if (j_.swingAt == nullptr) return nullptr;
    const auto it = std::upper_bound(j_.swingAt->begin(), j_.swingAt->end(), a);
    return it != j_.swingAt->end() && *it < b ? &*it : nullptr;
  }
  bool swingNear(uint32_t a, uint32_t b) const { return swingAtIn(a, b) != nullptr; }

  // Takes over the earlier plan's stretch from the last keyframe written to
  // f, keyframes and findings, where nothing before it changed there.
  bool takeOver(uint32_t f) {
    if (earlier_ == nullptr) return false;
    const BonePlan& e = earlier_->plan;
    const uint32_t a = b_.out.back().frame;
    size_t first, end;
    if (changedNear(a, f) || swingNear(a, f) || !keyOn(e.out, a, &first) || !keyOn(e.out, f, &end)) return false;
    for (size_t i = first + 1; i <= end; i++) {
      append({e.out[i], e.outPlayed.keys[i].rot, e.verbatim[i] != 0});
      note(e.worst[i], e.worstAt[i], e.beyond[i] != 0);
    }
    return true;
  }

  // What judging the stretch ending at the last keyframe written found.
  void note(double worst, uint32_t at, bool beyond) {
    b_.worst.back() = worst, b_.worstAt.back() = at, b_.beyond.back() = beyond;
    if (!(worst <= result_.worst)) result_.worst = worst, result_.at = at;
    result_.beyond = result_.beyond || beyond;
  }

  // The keyframe at f: outside the range the bone's own keyframe as it
  // stands, or what its input plays there; in the range the job's value
  // (`first` at the bone's own keyframes there).
  Key keyAt(uint32_t f, bool first) const {
    size_t i;
    const bool own = keyOn(b_.held, f, &i);
    Key k = {keyToCut(b_.held, f), kIdentity, false};
    k.raw.frame = f;
    if (!own) k.raw.pos = positionAt(b_.held, f);
    DQuat needed = {NAN, NAN, NAN, NAN};
    if (!inRange(o_, f)) {
      k.raw.rot = own ? b_.held[i].rot : toFloat(rotationAt(b_.in, f));
      k.verbatim = own;
    } else {
      k.raw.rot = valueAt(j_, own && first && !j_.dropInRange ? j_.first : j_.other, f, &needed);
    }
    k.shown = toFloat(played(rule_, k.raw.rot));
    // Keyed with its input, or with what the chain needs: how far it stays off needs no judging.
    if (!inRange(o_, f)) {
      k.d = deviationOf(rotationAt(b_.in, f), toDouble(k.shown));
    } else if (needed.w == needed.w && judge_ == Judge::Chain) {
      k.d = deviationOf(needed, toDouble(k.shown));
    }
    return k;
  }

  // The bone's own output from ka to kb along curve c, or held at q.
  static Segment along(const Key& ka, const Key& kb, Curve c) {
    Segment s;
    s.f0 = ka.raw.frame, s.f1 = kb.raw.frame, s.curve = c, s.moving = s.f1 > s.f0;
    s.arc = makeArc(toDouble(ka.shown), toDouble(kb.shown));
    return s;
  }
  static Segment held(const Quat& q) {
    Segment s;
    s.arc = makeArc(toDouble(q), toDouble(q));
    return s;
  }

  // The rotations [s, e] is judged over, the bone's own given: in the range
  // the chain's input, then its output (or the limb alone, for its swing);
  // outside, the bone's input and itself. The first *nIn are the input's.
  int movers(uint32_t s, bool in, const Segment& own, Segment* seg, int* nIn) const {
    int n = 0;
    if (!in) {
      seg[n++] = segmentAt(b_.in, s);
      *nIn = n;
      seg[n++] = own;
      return n;
    }
    for (int i = 0; i < j_.nIn; i++) seg[n++] = segmentAt(gBones[static_cast<size_t>(j_.in[i])].in, s);
    *nIn = n;
    if (judge_ == Judge::Swing) {
      seg[n++] = own;
      return n;
    }
    for (int i = 0; i < j_.nIn; i++) {
      seg[n++] = j_.in[i] == j_.bone ? own : segmentAt(gBones[static_cast<size_t>(j_.in[i])].outPlayed, s);
    }
    return n;
  }

  // The deviation at f over the rotations seg, the first nIn the input's.
  Judged probe(const Segment* seg, int n, int nIn, bool in, uint32_t f) const {
    Judged j;
    DQuat target = kIdentityD, shown = kIdentityD;
    for (int i = 0; i < n; i++) {
      const Shown s = showAt(seg[i], f);
      j.at[i] = s.at;
      DQuat& product = i < nIn ? target : shown;
      product = i == 0 || i == nIn ? s.rot : multiply(product, s.rot);
      j.prefix[i] = product;
    }
    j.d = in && judge_ == Judge::Swing ? swingOff(multiply(conjugate(shown), target), j_.axis)
                                        : deviationOf(target, shown);
    return j;
  }

  // The deviation at f with the bone showing q there.
  double deviationAt(uint32_t f, const Quat& q) const {
    const DQuat own = toDouble(q);
    if (!inside(f, f)) return deviationOf(rotationAt(b_.in, f), own);
    DQuat target = kIdentityD, shown = kIdentityD;
    for (int i = 0; i < j_.nIn; i++) {
      const BonePlan& c = gBones[static_cast<size_t>(j_.in[i])];
      target = multiply(target, rotationAt(c.in, f));
      if (judge_ == Judge::Chain || j_.in[i] == j_.bone) shown = multiply(shown, j_.in[i] == j_.bone ? own : rotationAt(c.outPlayed, f));
    }
    return judge_ == Judge::Swing ? swingOff(multiply(conjugate(shown), target), j_.axis) : deviationOf(target, shown);
  }

  // Judges [a, b] with the bone's own output `own`, in parts cut wherever a
  // rotation judged is keyed and at the range's ends.
  Found judge(uint32_t a, uint32_t b, const Segment& own, double tolOverride = 0) const {
    std::vector<uint32_t>& cuts = cuts_;
    cuts.assign({a, b});
    auto cutAt = [&](const PlayedTrack& p) {
      const Track& t = p.keys;
      if (t.empty() || t.back().frame <= a || t.front().frame >= b) return;  // none inside
      for (size_t i = keyAfter(p, a); i < t.size() && t[i].frame < b; i++) cuts.push_back(t[i].frame);
    };
    cutAt(b_.in);
    for (int i = 0; i < j_.nIn; i++) {
      const BonePlan& c = gBones[static_cast<size_t>(j_.in[i])];
      cutAt(c.in);
      if (j_.in[i] != j_.bone && judge_ == Judge::Chain) cutAt(c.outPlayed);
    }
    for (uint64_t end : {uint64_t(o_.from) - 1, uint64_t(o_.from), uint64_t(o_.to), uint64_t(o_.to) + 1}) {
      if (end > a && end < b) cuts.push_back(static_cast<uint32_t>(end));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    Found found;
    for (size_t i = 0; i + 1 < cuts.size(); i++) {
      const uint32_t s = cuts[i], e = cuts[i + 1];
      const bool in = inside(s, e);
      // Across a range end no frame lies between; in the range a bone keyed
      // without judging is not judged.
      if (!in && !(e < o_.from || s > o_.to)) continue;
      if (in && judge_ == Judge::None) continue;
      Segment seg[kMostMovers];
      int nIn = 0;
      const int n = movers(s, in, own, seg, &nIn);
      // Outside, its keyframes lie on the input's arc: where both run at one
      // pace, the bone plays its input exactly.
      if (!in && isLinear(seg[0].curve) && isLinear(own.curve)) continue;
      const double tol = tolOverride > 0 ? tolOverride : tolOf(in);
      const Vec3* swing = in && judge_ == Judge::Swing ? &j_.axis : nullptr;
      const Verdict v =
          judgeStretch(s, e, tol, seg, n, nIn, swing, ProbeOf([&](uint32_t f) { return probe(seg, n, nIn, in, f); }));
      const double over = v.kind == Verdict::Unproven ? INFINITY : v.worst - tol;
      if (!(over <= found.excess)) found.excess = over, found.v = v;
      if (!in) {
        found.outside = std::max(found.outside, v.worst);
      } else if (!(v.worst <= found.inside)) {
        found.inside = v.worst, found.insideAt = v.at;
      }
    }
    if (found.excess == -INFINITY) found.v.kind = Verdict::Within;
    return found;
  }

  // The curve of [a, b]: outside the range the bone's own input's; in it
  // the lead's (-1: linear).
  Curve curveOf(uint32_t a, uint32_t b, int lead) const {
    Curve c = kLinearCurve;
    if (!inside(a, b)) {
      curveOver(b_.in, a, b, &c);
    } else if (lead >= 0) {
      curveOver(gBones[static_cast<size_t>(j_.lead[lead])].in, a, b, &c);
    }
    return c;
  }

  void append(const Key& k) {
    b_.out.push_back(k.raw);
    b_.outPlayed.keys.push_back(k.raw);
    b_.outPlayed.keys.back().rot = k.shown;
    b_.verbatim.push_back(k.verbatim);
    b_.worst.push_back(0), b_.worstAt.push_back(0), b_.beyond.push_back(0);
  }
  Key last() const { return {b_.out.back(), b_.outPlayed.keys.back().rot, b_.verbatim.back() != 0}; }

  // True when [a, b] is one stretch of the input's own.
  bool ownStretch(uint32_t a, uint32_t b) const {
    size_t i;
    return keyOn(b_.held, a, &i) && i + 1 < b_.held.size() && b_.held[i + 1].frame == b;
  }

  // Judges the stretch from ka to kb, kb's curve given. Without a frame
  // between, only kb itself, where that needs judging.
  Found judgeStretchTo(const Key& ka, const Key& kb) const {
    const uint32_t a = ka.raw.frame, b = kb.raw.frame;
    if (b - a >= 2) {
      Found f = judge(a, b, along(ka, kb, rotationCurve(kb.raw)));
      // Where the twist bone could not mend the chain the limb is keyed,
      // its swing within or not: its own keyframe makes it exact there.
      const uint32_t* m = judge_ == Judge::Swing ? swingAtIn(a, b) : nullptr;
      if (f.v.kind == Verdict::Within && m != nullptr && inside(*m, *m)) f.v.kind = Verdict::Beyond, f.v.at = *m;
      return f;
    }
    Found f;
    const bool in = inside(b, b);
    if (in && judge_ == Judge::None) return f;
    const double d = kb.d == kb.d ? kb.d : deviationAt(b, kb.shown);
    f.v.kind = d <= tolOf(in) ? Verdict::Within : Verdict::Beyond, f.v.worst = d, f.v.at = b;
    f.excess = d - tolOf(in);
    (in ? f.inside : f.outside) = d, f.insideAt = b;
    return f;
  }

  // Keys the stretch from the last keyframe written to kb: under the lead
  // curve that plays it best, then again at the worst frame of each part
  // until every frame plays within the tolerance.
  void fill(Key kb) {
    Key left = last();
    const uint32_t a = left.raw.frame, b = kb.raw.frame;
    // The input's own stretch, both ends as they stand, plays as it did.
    if (kb.verbatim && left.verbatim && ownStretch(a, b)) return append(kb);
    kb.verbatim = false;
    // The lead: outside the range the bone's own input; in it the first of
    // the job's leads that moves there, or another that plays it better.
    int lead = -1;
    Curve curve = kLinearCurve;
    if (!inside(a, b)) {
      curveOver(b_.in, a, b, &curve);
    } else {
      for (int c = 0; c < j_.nLead && lead < 0; c++) {
        if (curveOver(gBones[static_cast<size_t>(j_.lead[c])].in, a, b, &curve)) lead = c;
      }
    }
    setRotationCurve(&kb.raw, curve);
    // A limb's swing is judged where its twist bone could not mend the chain,
    // and where it strays far at the middle already (then it surely must).
    if (j_.swingAt != nullptr) {
      judge_ = Judge::Swing;
      const uint32_t m = a + (b - a) / 2;
      const bool far = b - a >= 2 && inside(a, b) &&
                       deviationAt(m, toFloat(showAt(along(left, kb, curve), m).rot)) > j_.tol;
      judge_ = swingNear(a, b) || far ? Judge::Swing : Judge::None;
    }
    Found f = judgeStretchTo(left, kb);
    for (int c = lead + 1; b - a >= 2 && lead >= 0 && c < j_.nLead && f.v.kind != Verdict::Within; c++) {
      Key other = kb;
      if (!curveOver(gBones[static_cast<size_t>(j_.lead[c])].in, a, b, &curve)) continue;
      setRotationCurve(&other.raw, curve);
      const Found g = judgeStretchTo(left, other);
      if (g.excess < f.excess) f = g, lead = c, kb = other;
    }
    std::vector<Key> ends = {kb};  // right ends still to reach, nearest last
    int added = 0;
    for (;;) {
      const uint32_t ra = left.raw.frame, rb = ends.back().raw.frame, at = f.v.at;
      if (f.v.kind != Verdict::Within && at > ra && at < rb && added < kMostAdded) {
        Key mid = keyAt(at, false);
        // A keyframe that leaves its own frame beyond the bound mends
        // nothing; a twist bone that leaves it beyond half of it asks the
        // limb to be keyed there.
        const double stays = mid.d == mid.d ? mid.d : deviationAt(at, mid.shown), tol = tolOf(inside(at, at));
        if (j_.mends && stays > tol * kSwingShare && inside(at, at)) result_.mend.push_back(at);
        if (stays <= tol) {
          setRotationCurve(&ends.back().raw, curveOf(at, rb, lead));
          setRotationCurve(&mid.raw, curveOf(ra, at, lead));
          ends.push_back(mid);
          added++;
          f = judgeStretchTo(left, mid);
          continue;
        }
      }
      // The stretch [ra, rb] as it stays: reported, and its right end written.
      // Not mended, it is beyond where it strays past the bound itself, not
      // only past the plan's margin.
      const double share = j_.tol / kMargin;
      bool beyond =
          f.v.kind != Verdict::Within && (f.v.kind == Verdict::Unproven || f.inside > share || f.outside > share);
      // Outside, kept to a part of the bound: unproven there is beyond only where the bound itself fails.
      if (beyond && !inside(ra, rb) && f.v.kind == Verdict::Unproven && rb - ra >= 2) {
        beyond = judge(ra, rb, along(left, ends.back(), rotationCurve(ends.back().raw)), j_.tol).v.kind != Verdict::Within;
      }
      b_.outside = std::max(b_.outside, f.outside);
      append(ends.back());
      note(f.inside, f.insideAt, beyond);
      left = ends.back();
      ends.pop_back();
      if (ends.empty()) break;
      f = judgeStretchTo(left, ends.back());
    }
    // A limb keyed anew here: what the bones after it need changes over the stretch.
    if (added > 0) result_.changed.push_back({a, b});
  }

  const PlanOptions& o_;
  const Job& j_;
  BonePlan& b_;
  AxisRule rule_;
  Judge judge_;  // the job's, or for a limb the stretch's at hand
  const Earlier* earlier_;
  JobResult result_;
  mutable std::vector<uint32_t> cuts_;  // judge's, kept for its room
};

// The jobs of one side, in the order they are planned: each bone against
// the bones before it. Each chain's last job answers for it.
void planSide(const PlanOptions& o, int side) {
  const int A = groupBone(side, kArm), AT = groupBone(side, kArmTwist), E = groupBone(side, kElbow),
            HT = groupBone(side, kHandTwist), W = groupBone(side, kWrist);
  const double t = o.bound * kMargin;
  auto unitAxis = [&](int pair) { return unitOf(o.axis[side][pair]); };
  const Side s = side == 0 ? Side::Left : Side::Right;
  ChainReport* reports = gReports[side];
  const bool both = o.elbows || o.wrist;  // a side's chains then share the bound
  reports[kArmChain].share = o.bound * (both ? 0.5 : 1.0);
  reports[kElbowChain].share = o.bound * 0.5;
  reports[kHandChain].share = o.bound;
  auto run = [&](const Job& j, Chain chain, const Earlier* earlier = nullptr) {
    JobResult r = JobRunner(o, j, earlier).run();
    ChainReport& c = reports[chain];
    c.planned = true;
    if (j.judge != Judge::Chain) return r;  // the chain's last job answers for it
    // Outside the range the chain strays no more than its bones together.
    double outside = 0;
    for (int i = 0; i < j.nIn; i++) outside += gBones[static_cast<size_t>(j.in[i])].outside;
    c.worst = std::max(r.worst, outside);
    c.at = r.at;
    c.beyond = r.beyond || outside > c.share;
    return r;
  };
  // The limb keyed with its split at its own keyframes, then the twist bone
  // against the chain; where the twist bone cannot mend it, the limb is
  // keyed too and the twist bone planned again.
  auto pairJobs = [&](int limb, int twist, int pair, double share, Chain chain) {
    std::vector<uint32_t> mend;
    Job split;
    split.bone = limb, split.judge = Judge::Swing, split.in[0] = limb, split.in[1] = twist, split.nIn = 2;
    split.lead[0] = limb, split.nLead = 1, split.first = split.other = Value::Kept, split.axis = unitAxis(pair);
    split.splitAxis = o.axis[side][pair], split.side = s, split.tol = t * share * kSwingShare, split.swingAt = &mend;
    Job last = split;
    last.bone = twist, last.judge = Judge::Chain, last.events[0] = limb, last.events[1] = twist, last.nEvents = 2;
    last.lead[0] = limb, last.lead[1] = twist, last.nLead = 2, last.first = last.other = Value::Twist;
    last.mends = true, last.swingAt = nullptr, last.tol = t * share;
    run(split, chain);
    Earlier earlier, limbEarlier;
    for (int round = 0;; round++) {
      const JobResult r = run(last, chain, round == 0 ? nullptr : &earlier);
      if (r.mend.empty() || round == kMostMends) break;
      mend.insert(mend.end(), r.mend.begin(), r.mend.end());
      std::sort(mend.begin(), mend.end());
      mend.erase(std::unique(mend.begin(), mend.end()), mend.end());
      earlier.plan = gBones[static_cast<size_t>(twist)];
      // The limb's keyframes depend on the input alone: taken over but where its swing is judged.
      limbEarlier.plan = gBones[static_cast<size_t>(limb)];
      earlier.changed = run(split, chain, &limbEarlier).changed;
      if (earlier.changed.empty()) break;  // the limb keyed nowhere anew: nothing mends
    }
  };
  // A fold: the twist bone none in the range, the limb the whole chain.
  auto foldJobs = [&](int limb, int twist, double share, Chain chain) {
    Job away;
    away.bone = twist, away.in[0] = limb, away.in[1] = twist, away.nIn = 2, away.first = away.other = Value::Identity;
    away.dropInRange = true, away.tol = t * share;
    run(away, chain);
    Job last = away;
    last.bone = limb, last.judge = Judge::Chain, last.dropInRange = false, last.events[0] = limb;
    last.events[1] = twist, last.nEvents = 2, last.lead[0] = limb, last.lead[1] = twist, last.nLead = 2;
    last.first = last.other = Value::Residual;
    run(last, chain);
  };
  if (o.fold) {
    for (auto [limb, twist, on, chain] : {std::tuple{A, AT, true, kArmChain}, {E, HT, o.elbows, kElbowChain}}) {
      if (!on || !keyedInRange(o, twist)) continue;
      for (const HeldKey& k : gBones[static_cast<size_t>(twist)].held) reports[chain].folded += inRange(o, k.frame);
      foldJobs(limb, twist, chain == kArmChain && !both ? 1.0 : 0.5, chain);
    }
  } else {
    if (keyedInRange(o, A) || keyedInRange(o, AT)) pairJobs(A, AT, 0, both ? 0.5 : 1.0, kArmChain);
    if (o.elbows && !o.wrist && (keyedInRange(o, E) || keyedInRange(o, HT))) {
      pairJobs(E, HT, 1, 0.5, kElbowChain);
    }
  }
  if (!o.wrist || o.fold) return;
  // -W: the elbow's split, 手捩 with the wrist's twist, then 手首 against the hand.
  if (!keyedInRange(o, W) && !keyedInRange(o, HT) && !(o.elbows && keyedInRange(o, E))) return;
  const Vec3 axis = unitAxis(1);
  Job hand;
  hand.in[0] = E, hand.in[1] = HT, hand.nIn = 2, hand.axis = axis, hand.splitAxis = o.axis[side][1], hand.side = s;
  if (o.elbows) {  // its swing strays between its keyframes: 手首 mends the hand
    Job split = hand;
    split.bone = E, split.lead[0] = E, split.nLead = 1, split.first = split.other = Value::Kept, split.tol = t;
    run(split, kElbowChain);
  }
  Job twist = hand;
  twist.bone = HT, twist.wrist = W, twist.first = twist.other = Value::HandTwist, twist.tol = t;
  twist.events[twist.nEvents++] = HT, twist.events[twist.nEvents++] = W;
  if (o.elbows) twist.events[twist.nEvents++] = E;
  twist.lead[0] = W, twist.lead[1] = HT, twist.lead[2] = E, twist.nLead = 3;
  run(twist, kElbowChain);
  Job wrist = hand;
  const int chain[kArmBones] = {A, AT, E, HT, W};
  std::copy(chain, chain + kArmBones, wrist.in);
  wrist.nIn = kArmBones, wrist.bone = W, wrist.judge = Judge::Chain, wrist.wrist = W;
  // At its own keyframes too what the hand needs: the wrist less its twist,
  // and what the bones before it stray by there.
  wrist.first = wrist.other = Value::Residual, wrist.lead[0] = W, wrist.nLead = 1, wrist.tol = t;
  run(wrist, kHandChain);
}

}  // namespace

void planReset() {
  for (BonePlan& b : gBones) b = BonePlan{};
  for (auto& side : gReports) {
    for (ChainReport& r : side) r = ChainReport{};
  }
}

void planHold(int bone, const HeldKey& k) {
  BonePlan& b = gBones[static_cast<size_t>(bone)];
  b.held.push_back(k);
  b.heldCount++;
}

void plan(const PlanOptions& o) {
  for (int i = 0; i < kGroupBones; i++) {
    BonePlan& b = gBones[static_cast<size_t>(i)];
    // -W splits every wrist record in the range: counted before one a frame is left.
    for (const HeldKey& k : b.held) {
      const int side = i / kArmBones;
      if (!o.wrist || o.fold || i % kArmBones != kWrist || !inRange(o, k.frame)) continue;
      Quat twist, rest;
      splitAbout(unitOf(o.axis[side][1]), k.rot, &twist, &rest);
      ChainReport& r = gReports[side][kHandChain];
      r.splits++;
      r.twist = std::max(r.twist, angleBetween(kIdentityD, toDouble(twist)));
    }
    makeTrack(&b.held);
    setPlayed(&b.in, playedTrack(b.held, o.rule[i]));
    b.out = b.held, b.outPlayed = b.in;
    b.verbatim.assign(b.held.size(), 1);
  }
  for (int side = 0; side < kArmSides; side++) planSide(o, side);
}

bool planReplaces(int bone) { return gBones[static_cast<size_t>(bone)].planned; }
const Track& planTrack(int bone) { return gBones[static_cast<size_t>(bone)].out; }
int32_t planHeldCount(int bone) { return gBones[static_cast<size_t>(bone)].heldCount; }
const ChainReport& planReport(int side, Chain chain) { return gReports[side][chain]; }

}  // namespace torsel
