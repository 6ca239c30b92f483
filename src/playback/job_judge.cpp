// The judging half of a job: over a stretch, the rotations that make the
// deviation (the chain's input, then what the output shows of it), and the
// judge's verdict on them, in parts cut wherever one of them is keyed.
#include <algorithm>
#include <cmath>

#include "playback/plan_parts.h"

namespace torsel::planning {

JobJudge::JobJudge(Group& g, const PlanOptions& o, const Job& j)
    : g_(g), o_(o), j_(j), b_(g[j.bone]), judging_(j.judge) {}

// A swing measured in the wrist's slot: the twist stands before the bone,
// so the bone's own output is taken off the input's side.
bool JobJudge::ownAfterSlot() const { return j_.slot >= 0 && j_.chain.indexOf(j_.bone) > j_.slot; }

Segment JobJudge::along(const Key& ka, const Key& kb, Curve c) {
  Segment s;
  s.f0 = ka.raw.frame, s.f1 = kb.raw.frame, s.curve = c, s.moving = s.f1 > s.f0;
  s.arc = makeArc(toDouble(ka.shown), toDouble(kb.shown));
  return s;
}

// Sorts frames and drops the repeated ones; mostly a handful, already in
// runs of order, where an insertion sort does best.
static void sortFrames(std::vector<uint32_t>* frames) {
  std::vector<uint32_t>& f = *frames;
  if (f.size() > 32) {
    std::sort(f.begin(), f.end());
  } else {
    for (size_t i = 1; i < f.size(); i++) {
      const uint32_t v = f[i];
      size_t k = i;
      for (; k > 0 && f[k - 1] > v; k--) f[k] = f[k - 1];
      f[k] = v;
    }
  }
  f.erase(std::unique(f.begin(), f.end()), f.end());
}

// The segment turned the other way: its conjugate at every frame.
static Segment conjugated(Segment s) {
  s.arc.a = conjugate(s.arc.a);
  s.arc.b = conjugate(s.arc.b);
  return s;
}

// The rotations [s, e] is judged over, the bone's own given: in the range
// the chain's input, then its output (for a swing, the output up to the
// twist bone's slot); outside, the bone's input and itself. The first *nIn
// are the input's; from[i] is the track of each (null: the bone's own).
int JobJudge::movers(uint32_t s, bool in, const Segment& own, Segment* seg, const PlayedTrack** from,
                     int* nIn) const {
  int n = 0;
  auto add = [&](const PlayedTrack* t, const Segment& mine) {
    from[n] = t;
    seg[n++] = t != nullptr ? segmentAt(*t, s) : mine;
  };
  if (!in) {
    add(&b_.in, own);
    *nIn = n;
    add(nullptr, own);
    return n;
  }
  for (int b : j_.chain) add(&g_[b].in, own);
  const bool swing = judging_ == Judging::Swing;
  if (swing && ownAfterSlot()) add(nullptr, conjugated(own));
  *nIn = n;
  for (int i = 0; i < (swing ? j_.slot : j_.chain.n); i++) {
    const int b = j_.chain.at[i];
    add(b == j_.bone ? nullptr : &g_[b].shown(), own);
  }
  return n;
}

// The deviation at f over the rotations seg, the first nIn the input's.
Judged JobJudge::probe(const Segment* seg, int n, int nIn, bool in, uint32_t f) const {
  return judgedAt(seg, n, nIn, in && judging_ == Judging::Swing ? &j_.axis : nullptr, f);
}

double JobJudge::deviationOver(const Segment* seg, int n, int nIn, bool in, uint32_t f) const {
  // The whole chain in the range: the input's side as remembered (chainAt).
  if (!in || judging_ != Judging::Chain) return probe(seg, n, nIn, in, f).d;
  DQuat shown = kIdentityD;
  for (int i = nIn; i < n; i++) shown = i == nIn ? showAt(seg[i], f).rot : multiply(shown, showAt(seg[i], f).rot);
  return deviationOf(chainAt(g_, j_.chain, false, f), shown);
}

double JobJudge::deviationAt(uint32_t f, const Quat& q) const {
  const DQuat own = toDouble(q);
  if (!inside(f, f)) return deviationOf(rotationAt(b_.in, f), own);
  const bool swing = judging_ == Judging::Swing;
  DQuat target = kIdentityD, shown = kIdentityD;
  for (int i = 0; i < j_.chain.n; i++) {
    const int b = j_.chain.at[i];
    const BonePlan& c = g_[b];
    target = multiply(target, rotationAt(c.in, f));
    // The whole chain; for a swing, the bones before the twist bone's slot; else the bone alone.
    const bool shows = judging_ == Judging::Chain ? true : swing ? i < j_.slot : b == j_.bone;
    if (shows) shown = multiply(shown, b == j_.bone ? own : rotationAt(c.shown(), f));
  }
  if (swing && ownAfterSlot()) target = multiply(target, conjugate(own));
  return swing ? swingOff(multiply(conjugate(shown), target), j_.axis) : deviationOf(target, shown);
}

// Every frame in [a, b] where a rotation judged is keyed, and the range's ends.
void JobJudge::cutsOver(uint32_t a, uint32_t b) const {
  std::vector<uint32_t>& cuts = cuts_;
  cuts.assign({a, b});
  auto cutAt = [&](const PlayedTrack& p) {
    const auto& t = p.keys;
    if (t.empty() || t.back().frame <= a || t.front().frame >= b) return;  // none inside
    for (size_t i = keyAfter(p, a); i < t.size() && t[i].frame < b; i++) cuts.push_back(t[i].frame);
  };
  cutAt(b_.in);
  const bool swing = judging_ == Judging::Swing;
  for (int i = 0; i < j_.chain.n; i++) {
    const BonePlan& c = g_[j_.chain.at[i]];
    cutAt(c.in);
    if (j_.chain.at[i] != j_.bone && (judging_ == Judging::Chain || (swing && i < j_.slot))) cutAt(c.shown());
  }
  for (uint64_t end : {uint64_t(o_.from) - 1, uint64_t(o_.from), uint64_t(o_.to), uint64_t(o_.to) + 1}) {
    if (end > a && end < b) cuts.push_back(static_cast<uint32_t>(end));
  }
  sortFrames(&cuts);
}

// The rotations of the part from s: made anew where the last part was not
// judged or lay on the other side of a range end; else, parts being cut at
// every keyframe of the rotations, only those keyed at s move on.
void JobJudge::follow(Parts* p, uint32_t s, bool in, const Segment& own) const {
  if (p->madeFor != int(in)) {
    p->n = movers(s, in, own, p->seg, p->from, &p->nIn);
    p->madeFor = int(in), p->lastAt = UINT32_MAX;
    return;
  }
  size_t on;
  for (int m = 0; m < p->n; m++) {
    if (p->from[m] != nullptr && keyOn(*p->from[m], s, &on)) p->seg[m] = segmentAt(*p->from[m], s);
  }
}

// Judges the part [s, e] over the rotations followed.
Verdict JobJudge::judgePart(Parts* p, uint32_t s, uint32_t e, bool in, double tol) const {
  const int n = p->n, nIn = p->nIn;
  const Segment* seg = p->seg;
  if (e - s > 1) {
    p->lastAt = UINT32_MAX;
    const Vec3* swingAxis = in && judging_ == Judging::Swing ? &j_.axis : nullptr;
    return g_.judge.stretch(s, e, tol, seg, n, nIn, swingAxis, ProbeOf([&](uint32_t f) { return probe(seg, n, nIn, in, f); }));
  }
  // Two frames, no frame between: the first is the last part's end where that was judged.
  Verdict v;
  const double ds = p->lastAt == s ? p->lastD : deviationOver(seg, n, nIn, in, s), de = deviationOver(seg, n, nIn, in, e);
  v.at = s;
  if (!(ds <= v.worst)) v.worst = ds, v.at = s;
  if (!(de <= v.worst)) v.worst = de, v.at = e;
  v.kind = v.worst <= tol ? Verdict::Within : Verdict::Beyond;
  p->lastAt = e, p->lastD = de;
  return v;
}

Found JobJudge::judge(uint32_t a, uint32_t b, const Segment& own) const {
  Found found;
  // Nothing of it is judged; or the judge's work is spent, and the plan
  // stays as it is for the check to answer for.
  if ((judging_ == Judging::None && inside(a, b)) || !g_.judge.workLeft()) {
    found.v.kind = Verdict::Within;
    return found;
  }
  cutsOver(a, b);
  const std::vector<uint32_t>& cuts = cuts_;
  Parts parts;
  for (size_t i = 0; i + 1 < cuts.size(); i++) {
    const uint32_t s = cuts[i], e = cuts[i + 1];
    const bool in = inside(s, e);
    // Across a range end no frame lies between; in the range a bone keyed
    // without judging is not judged.
    if ((!in && !(e < o_.from || s > o_.to)) || (in && judging_ == Judging::None)) {
      parts.madeFor = -1;  // passed over: its keyframes are not followed
      continue;
    }
    follow(&parts, s, in, own);
    // Outside, its keyframes lie on the input's arc: where both run at one
    // pace, the bone plays its input exactly.
    if (!in && isLinear(parts.seg[0].curve) && isLinear(own.curve)) continue;
    const double tol = tolOf(in);
    const Verdict v = judgePart(&parts, s, e, in, tol);
    const double over = v.kind == Verdict::Unproven ? INFINITY : v.worst - tol;
    if (!(over <= found.excess)) found.excess = over, found.v = v;
  }
  if (found.excess == -INFINITY) found.v.kind = Verdict::Within;
  return found;
}

const uint32_t* JobJudge::swingAtIn(uint32_t a, uint32_t b) const {
  if (j_.swingAt == nullptr) return nullptr;
  const auto it = std::upper_bound(j_.swingAt->begin(), j_.swingAt->end(), a);
  return it != j_.swingAt->end() && *it < b ? &*it : nullptr;
}

Found JobJudge::judgeStretchTo(const Key& ka, const Key& kb) const {
  const uint32_t a = ka.raw.frame, b = kb.raw.frame;
  if (b - a < 2) return {};  // no frame between to key
  Found f = judge(a, b, along(ka, kb, rotationCurve(kb.raw)));
  // Where the twist bone could not mend the chain the swing's bone is
  // keyed, its swing within or not: its own keyframe makes it exact there.
  const uint32_t* m = judging_ == Judging::Swing ? swingAtIn(a, b) : nullptr;
  if (f.v.kind == Verdict::Within && m != nullptr && inside(*m, *m)) f.v.kind = Verdict::Beyond, f.v.at = *m;
  return f;
}

}  // namespace torsel::planning
