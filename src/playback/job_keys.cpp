// The keying half of a job: the bone's first keyframes (its own and those
// of the bones that key it too, the range's ends), then, stretch by
// stretch, more at the worst frame until every frame plays within the
// tolerance, each stretch under the lead curve that plays it best.
#include <algorithm>
#include <cmath>

#include "playback/plan_parts.h"

namespace torsel::planning {
namespace {

// Keyframes one stretch of the first ones may gain: where that does not
// bring it within the bound, no keyframe will.
constexpr int kMostAdded = 256;

Segment held(const Quat& q) {
  Segment s;
  s.arc = makeArc(toDouble(q), toDouble(q));
  return s;
}

class JobRunner {
 public:
  JobRunner(Group& g, const PlanOptions& o, const Job& j, const Earlier* earlier)
      : g_(g), o_(o), j_(j), b_(g[j.bone]), rule_(o.rule[j.bone]), judge_(g, o, j), earlier_(earlier) {}

  JobResult run() {
    b_.planned = true;
    b_.out = {};
    std::vector<uint32_t> frames = firstFrames();
    if (frames.empty()) return result_;
    // Room for the first keyframes and an eighth more: the tracks seldom grow twice over.
    const size_t room = frames.size() + frames.size() / 8 + 16;
    b_.out.played.keys.reserve(room), b_.out.rot.reserve(room), b_.out.verbatim.reserve(room);
    append(firstKey(frames[0]));
    for (size_t i = 1; i < frames.size(); i++) {
      if (takeOver(frames[i])) continue;
      const Key k = firstKey(frames[i]);
      noteMend(k);
      fill(k);
    }
    setTurns(&b_.out.played);
    b_.out.played.keys.shrink_to_fit(), b_.out.rot.shrink_to_fit(), b_.out.verbatim.shrink_to_fit();
    return result_;
  }

 private:
  // The first frames: the bone's own keyframes (but those a fold drops),
  // the events' in the range, both sides of each range end that cuts the
  // chain's keyframes, and the chain's ends where holding the first or last
  // keyframe strays; mend frames no stretch of those holds.
  std::vector<uint32_t> firstFrames() {
    uint32_t lo = UINT32_MAX, hi = 0;
    auto spanOf = [&](int bone) {
      const auto& t = g_[bone].in.keys;
      if (!t.empty()) lo = std::min(lo, t.front().frame), hi = std::max(hi, t.back().frame);
    };
    for (int b : j_.chain) spanOf(b);
    for (int b : j_.events) spanOf(b);
    for (int b : j_.span) spanOf(b);
    spanOf(j_.bone);
    std::vector<uint32_t> frames;
    for (const PlayedKey& k : b_.basis().keys) {
      if (!(j_.dropInRange && inRange(o_, k.frame))) frames.push_back(k.frame);
    }
    for (int b : j_.events) {
      for (const PlayedKey& k : g_[b].basis().keys) {
        if (inRange(o_, k.frame)) frames.push_back(k.frame);
      }
    }
    if (lo <= hi && o_.from > lo && o_.from <= hi) frames.push_back(o_.from - 1), frames.push_back(o_.from);
    if (lo <= hi && o_.to >= lo && o_.to < hi) frames.push_back(o_.to), frames.push_back(o_.to + 1);
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    addLoneMends(&frames);
    if (frames.empty()) return frames;
    // Held before its first keyframe and after its last while others move.
    if (lo < frames.front() && judge_.judge(lo, frames.front(), held(firstKey(frames.front()).shown)).v.kind !=
                                   Verdict::Within) {
      frames.insert(frames.begin(), lo);
    }
    if (frames.back() < hi &&
        judge_.judge(frames.back(), hi, held(firstKey(frames.back()).shown)).v.kind != Verdict::Within) {
      frames.push_back(hi);
    }
    return frames;
  }

  // A frame where the swing's bone is to be keyed that none of its
  // stretches holds (it has no keyframe around it) is a first keyframe.
  void addLoneMends(std::vector<uint32_t>* frames) const {
    if (j_.swingAt == nullptr) return;
    const size_t n = frames->size();
    for (uint32_t m : *j_.swingAt) {
      if (n == 0 || m < frames->front() || m > (*frames)[n - 1]) frames->push_back(m);
    }
    if (frames->size() == n) return;
    std::sort(frames->begin(), frames->end());
    frames->erase(std::unique(frames->begin(), frames->end()), frames->end());
  }

  // Where a twist bone's own keyframe cannot bring the chain near enough,
  // the swing's bone has to mend it (where that is keyed too, it is exact).
  void noteMend(const Key& k) {
    const uint32_t f = k.raw.frame;
    size_t on;
    if (j_.mender < 0 || !judge_.inside(f, f) || keyOn(g_[j_.mender].out.played, f, &on)) return;
    if ((k.known ? k.d : judge_.deviationAt(f, k.shown)) > j_.tol * kSwingShare) result_.mend.push_back(f);
  }

  // A first keyframe: the earlier plan's where nothing before it changed.
  Key firstKey(uint32_t f) const {
    size_t i;
    if (earlier_ != nullptr && !changedNear(f, f) && keyOn(earlier_->plan.played, f, &i)) {
      return keyOf(earlier_->plan, i);
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

  // Takes over the earlier plan's stretch from the last keyframe written to
  // f, where nothing before it changed there.
  bool takeOver(uint32_t f) {
    if (earlier_ == nullptr) return false;
    const BonePlan::Output& e = earlier_->plan;
    const uint32_t a = b_.out.played.keys.back().frame;
    size_t first, end;
    if (changedNear(a, f) || judge_.swingAtIn(a, f) != nullptr || !keyOn(e.played, a, &first) ||
        !keyOn(e.played, f, &end)) {
      return false;
    }
    for (size_t i = first + 1; i <= end; i++) append(keyOf(e, i));
    return true;
  }

  // The keyframe at f: outside the range the bone's own keyframe as it
  // stands, or what its input plays there; in the range the job's value
  // (`first` at the bone's own keyframes there).
  Key keyAt(uint32_t f, bool first) const {
    const HeldKey* on = b_.heldOn(f);
    const bool own = on != nullptr;
    Key k = {keyToCut(b_.held, f, b_.heldAfter(f)), kIdentity};  // its curve, and the frame to come
    k.raw.frame = f;
    DQuat needed;
    bool hasNeeded = false;
    if (!inRange(o_, f)) {
      k.raw.rot = own ? on->rot : toFloat(rotationAt(b_.in, f));
      k.verbatim = own;
    } else {
      const Value v = own && first && !j_.dropInRange ? j_.first : j_.other;
      k.raw.rot = valueAt(g_, j_, v, f, &needed, &hasNeeded);
    }
    k.shown = toFloat(played(rule_, k.raw.rot));
    // Keyed with its input, or with what the chain needs: how far it stays off needs no judging.
    if (!inRange(o_, f)) {
      k.known = true, k.d = deviationOf(rotationAt(b_.in, f), toDouble(k.shown));
    } else if (hasNeeded && judge_.judging() == Judging::Chain) {
      k.known = true, k.d = deviationOf(needed, toDouble(k.shown));
    }
    return k;
  }

  // The curve of [a, b]: outside the range the bone's own input's; in it
  // the lead's (-1: linear).
  Curve curveOf(uint32_t a, uint32_t b, int lead) const {
    Curve c = kLinearCurve;
    if (!judge_.inside(a, b)) {
      curveOver(b_.in, a, b, &c);
    } else if (lead >= 0) {
      curveOver(g_[j_.leads.at[lead]].basis(), a, b, &c);
    }
    return c;
  }

  // Keyframe i of an output, as a key to plan with.
  static Key keyOf(const BonePlan::Output& e, size_t i) {
    Key k = {HeldKey{}, e.played.keys[i].rot, e.verbatim[i] != 0};
    k.raw.frame = e.played.keys[i].frame, k.raw.rot = e.rot[i];
    setRotationCurve(&k.raw, e.played.keys[i].curve);
    return k;
  }
  void append(const Key& k) {
    b_.out.played.keys.push_back(playedKey(k.raw, k.shown));
    b_.out.rot.push_back(k.raw.rot);
    b_.out.verbatim.push_back(k.verbatim);
  }
  Key last() const { return keyOf(b_.out, b_.out.rot.size() - 1); }

  // True when [a, b] is one stretch of the input's own.
  bool ownStretch(uint32_t a, uint32_t b) const {
    const size_t i = b_.heldAfter(a);  // the one after a's
    return i > 0 && b_.held[i - 1].frame == a && i < b_.held.size() && b_.held[i].frame == b;
  }

  // The lead of the stretch from `left` to kb, with kb's curve set from it:
  // outside the range the bone's own input; in it the first of the job's
  // leads that moves there (-1: none, linear).
  int firstLead(const Key& left, Key* kb) const {
    const uint32_t a = left.raw.frame, b = kb->raw.frame;
    int lead = -1;
    Curve curve = kLinearCurve;
    if (!judge_.inside(a, b)) {
      curveOver(b_.in, a, b, &curve);
    } else {
      for (int c = 0; c < j_.leads.n && lead < 0; c++) {
        if (curveOver(g_[j_.leads.at[c]].basis(), a, b, &curve)) lead = c;
      }
    }
    setRotationCurve(&kb->raw, curve);
    return lead;
  }

  // A bone that carries a swing is judged by it where its twist bone could
  // not mend the chain, and where it strays far at the middle already (then
  // it surely must); elsewhere not at all.
  void chooseJudging(const Key& left, const Key& kb) {
    if (j_.swingAt == nullptr) return;
    const uint32_t a = left.raw.frame, b = kb.raw.frame, m = a + (b - a) / 2;
    judge_.setJudging(Judging::Swing);
    const bool far = b - a >= 2 && judge_.inside(a, b) &&
                     judge_.deviationAt(m, toFloat(showAt(JobJudge::along(left, kb, rotationCurve(kb.raw)), m).rot)) >
                         j_.tol;
    judge_.setJudging(judge_.swingAtIn(a, b) != nullptr || far ? Judging::Swing : Judging::None);
  }

  // Judges the stretch to kb under the lead found and under each later lead
  // that moves there; keeps the one that strays the least.
  Found bestLead(const Key& left, Key* kb, int* lead) const {
    const uint32_t a = left.raw.frame, b = kb->raw.frame;
    Found f = judge_.judgeStretchTo(left, *kb);
    for (int c = *lead + 1; b - a >= 2 && *lead >= 0 && c < j_.leads.n && f.v.kind != Verdict::Within; c++) {
      Key other = *kb;
      Curve curve;
      if (!curveOver(g_[j_.leads.at[c]].basis(), a, b, &curve)) continue;
      setRotationCurve(&other.raw, curve);
      const Found g = judge_.judgeStretchTo(left, other);
      if (g.excess < f.excess) f = g, *lead = c, *kb = other;
    }
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
    int lead = firstLead(left, &kb);
    chooseJudging(left, kb);
    Found f = bestLead(left, &kb, &lead);
    std::vector<Key> ends = {kb};  // right ends still to reach, nearest last
    int added = 0;
    for (;;) {
      const uint32_t ra = left.raw.frame, rb = ends.back().raw.frame, at = f.v.at;
      if (f.v.kind != Verdict::Within && at > ra && at < rb && added < kMostAdded && g_.mayKey(j_.bone, ends.size())) {
        Key mid = keyAt(at, false);
        // A keyframe that leaves its own frame beyond the bound mends
        // nothing; a twist bone that leaves it beyond most of it asks the
        // swing's bone to be keyed there.
        const double stays = mid.known ? mid.d : judge_.deviationAt(at, mid.shown), tol = judge_.tolOf(judge_.inside(at, at));
        if (j_.mender >= 0 && stays > tol * kSwingShare && judge_.inside(at, at)) result_.mend.push_back(at);
        if (stays <= tol) {
          setRotationCurve(&ends.back().raw, curveOf(at, rb, lead));
          setRotationCurve(&mid.raw, curveOf(ra, at, lead));
          ends.push_back(mid);
          added++;
          f = judge_.judgeStretchTo(left, mid);
          continue;
        }
      }
      append(ends.back());  // the stretch to it as it stays
      left = ends.back();
      ends.pop_back();
      if (ends.empty()) break;
      f = judge_.judgeStretchTo(left, ends.back());
    }
  }

  Group& g_;
  const PlanOptions& o_;
  const Job& j_;
  BonePlan& b_;
  AxisRule rule_;
  JobJudge judge_;
  const Earlier* earlier_;
  JobResult result_;
};

}  // namespace

JobResult runJob(Group& g, const PlanOptions& o, const Job& j, const Earlier* earlier) {
  return JobRunner(g, o, j, earlier).run();
}

}  // namespace torsel::planning
