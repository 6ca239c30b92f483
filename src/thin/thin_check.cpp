#include "thin/thin_check.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace torsel::thin {
namespace {

// Poses played frame by frame, the frames asked never going back; with a
// memo, each stretch's slack measured.
class PoseCursor {
 public:
  explicit PoseCursor(const std::vector<PlayedPose>& poses, size_t from = 0, CurveMemo* memo = nullptr)
      : p_(poses), k_(from), memo_(memo) {}
  const StretchPlay& at(uint32_t f) {
    while (k_ + 1 < p_.size() && p_[k_ + 1].frame <= f) k_++;
    // Before the first keyframe and after the last, a pose held.
    const bool moving = k_ + 1 < p_.size() && p_[k_].frame <= f;
    if (!p_.empty() && (k_ != builtKey_ || moving != builtMoving_)) {
      play_ = moving ? StretchPlay(p_[k_], p_[k_ + 1]) : StretchPlay(p_[k_]);
      if (memo_ != nullptr) play_.measureSlack(memo_);
      builtKey_ = k_, builtMoving_ = moving;
    }
    return play_;
  }

 private:
  const std::vector<PlayedPose>& p_;
  size_t k_, builtKey_ = SIZE_MAX;
  CurveMemo* memo_;
  bool builtMoving_ = false;
  StretchPlay play_;
};

// Tallies a frame's deviations into a check: the largest, and the frames beyond.
class Tally {
 public:
  Tally(double bound, double distance, Checked* c)
      : bound_(bound),
        distance_(distance),
        cosBound_(sinSmall(std::numbers::pi / 2 - bound / kDegrees / 2)),
        cosWorst_(sinSmall(std::numbers::pi / 2 - c->worst / kDegrees / 2)),
        c_(c) {}
  // Whether a frame precisely at in and out, at `distance`, could in a
  // reading parted by up to `degrees` and `units` pass the bound or the
  // largest found so far: else that reading need not be played.
  bool mayPass(const DQuat& in, const DQuat& out, double distance, double degrees, double units) const {
    if (degrees == 0 && units == 0) return false;  // the readings agree there
    if (distance + units > std::min(distance_, c_->farthest)) return true;
    const double room = std::min(bound_, c_->worst) - degrees;
    const double dot = std::fabs(in.x * out.x + in.y * out.y + in.z * out.z + in.w * out.w);
    return !(room > 0 && dot > sinSmall(std::numbers::pi / 2 - room / kDegrees / 2) + 1e-12);
  }
  void note(uint32_t f, const DQuat& in, const DQuat& out, double distance) {
    // The angle only where it may pass the bound or the largest so far:
    // below them the cosine of half of it tells enough.
    const double dot = std::fabs(in.x * out.x + in.y * out.y + in.z * out.z + in.w * out.w);
    double degrees = 0;
    if (!(dot > cosBound_ + 1e-12 && dot > cosWorst_ + 1e-12)) degrees = deviationOf(in, out);
    if (!(degrees <= c_->worst)) c_->worst = degrees, c_->worstAt = f, cosWorst_ = dot;
    if (distance > c_->farthest) c_->farthest = distance;
    if (degrees <= bound_ && distance <= distance_) return;
    if (f == lastStray_ && c_->strayCount > 0) {  // the other reading of a frame already beyond
      if (!c_->strays.empty() && c_->strays.back().frame == f) {
        c_->strays.back().degrees = std::max(c_->strays.back().degrees, degrees);
        c_->strays.back().distance = std::max(c_->strays.back().distance, distance);
      }
      return;
    }
    lastStray_ = f;
    if (c_->strayCount++ < kMostStrays) c_->strays.push_back({0, f, degrees, distance});
  }

 private:
  double bound_, distance_, cosBound_, cosWorst_;
  uint32_t lastStray_ = 0;
  Checked* c_;
};

double distanceOf(const Vec3& a, const Vec3& b) {
  const double x = double(a.x) - b.x, y = double(a.y) - b.y, z = double(a.z) - b.z;
  return std::sqrt(x * x + y * y + z * z);
}

// The output's poses from keyframe a to b, both written.
std::vector<PlayedPose> writtenPoses(const std::vector<PlayedPose>& keys, const std::vector<KeyFate>& fates, size_t a,
                                     size_t b) {
  std::vector<PlayedPose> out;
  for (size_t k = a; k <= b; k++) {
    if (!fates[k].kept) continue;
    out.push_back(keys[k]);
    if (fates[k].refit) out.back().params = fates[k].params.data();
  }
  return out;
}

// Plays frames between keyframes a and b of input and output, in both readings.
void playStretch(const std::vector<PlayedPose>& keys, const std::vector<KeyFate>& fates, size_t a, size_t b,
                 CurveMemo* memo, Tally* tally) {
  const std::vector<PlayedPose> written = writtenPoses(keys, fates, a, b);
  PoseCursor in(keys, a, memo), out(written, 0, memo);
  // a's own frame, which the halving players read as time 0 of the stretch
  // after it (and every frame before a bone's first keyframe so).
  const uint32_t fa = keys[a].frame;
  tally->note(fa, in.at(fa).rotation(fa, true), out.at(fa).rotation(fa, true),
              distanceOf(in.at(fa).position(fa, true), out.at(fa).position(fa, true)));
  for (uint32_t f = fa + 1; f < keys[b].frame; f++) {
    const StretchPlay &i = in.at(f), &o = out.at(f);
    const DQuat qi = i.rotation(f, false), qo = o.rotation(f, false);
    const double d = distanceOf(i.position(f, false), o.position(f, false));
    tally->note(f, qi, qo, d);
    if (tally->mayPass(qi, qo, d, i.slackDegrees(f) + o.slackDegrees(f), i.slackDistance(f) + o.slackDistance(f))) {
      tally->note(f, i.rotation(f, true), o.rotation(f, true), distanceOf(i.position(f, true), o.position(f, true)));
    }
  }
}

}  // namespace

Checked checkBone(const std::vector<PlayedPose>& keys, std::vector<KeyFate>* fates, const ThinOptions& o) {
  Checked result;
  CurveMemo memo;
  for (size_t a = 0, b = 1; b < keys.size(); b++) {
    if (!(*fates)[b].kept) continue;
    if (b > a + 1 || (*fates)[b].refit) {  // where the output differs from the input
      // Played from what the check found so far, so that a reading that
      // can beat neither it nor the bound need not be played.
      Checked played;
      played.worst = result.worst, played.worstAt = result.worstAt, played.farthest = result.farthest;
      const Checked before = played;
      Tally tally(o.bound, o.distance, &played);
      playStretch(keys, *fates, a, b, &memo, &tally);
      if (played.strayCount > 0) {
        // Mended: the input's keyframes there, as they stand; played again.
        for (size_t k = a + 1; k < b; k++) (*fates)[k] = KeyFate{};
        (*fates)[b].refit = false;
        result.mended += b - a - 1;
        played = before;
        Tally again(o.bound, o.distance, &played);
        playStretch(keys, *fates, a, b, &memo, &again);
      }
      if (played.worst > result.worst) result.worst = played.worst, result.worstAt = played.worstAt;
      result.farthest = std::max(result.farthest, played.farthest);
      result.strayCount += played.strayCount;
      for (const Stray& s : played.strays) {
        if (result.strays.size() < kMostStrays) result.strays.push_back(s);
      }
    }
    a = b;
  }
  return result;
}

std::vector<Checked> checkChains(const ChainBones& bones, const std::vector<std::vector<int>>& chains, double bound) {
  // Each bone's tracks as played on the model in use.
  std::vector<std::vector<PlayedPose>> in(bones.in.size()), out(bones.out.size());
  auto posesOf = [](const Track& t, const AxisRule& rule, std::vector<PlayedPose>* poses) {
    for (const HeldKey& k : t) poses->push_back({k.frame, played(rule, k.rot), k.pos, k.params});
  };
  for (size_t b = 0; b < bones.in.size(); b++) {
    const AxisRule rule = b < bones.rules.size() ? bones.rules[b] : AxisRule{};
    posesOf(bones.in[b], rule, &in[b]);
    posesOf(bones.out[b], rule, &out[b]);
  }
  std::vector<Checked> results(chains.size());
  for (size_t c = 0; c < chains.size(); c++) {
    uint32_t first = UINT32_MAX, last = 0;
    std::vector<PoseCursor> ins, outs;
    for (const int b : chains[c]) {
      for (const std::vector<PlayedPose>* p : {&in[b], &out[b]}) {
        if (!p->empty()) first = std::min(first, p->front().frame), last = std::max(last, p->back().frame);
      }
      ins.emplace_back(in[b]), outs.emplace_back(out[b]);
    }
    Tally tally(bound, 0, &results[c]);
    for (uint32_t f = first; first <= last; f++) {
      for (const bool halving : {false, true}) {
        DQuat a = kIdentityD, z = kIdentityD;
        for (size_t i = 0; i < ins.size(); i++) {
          a = multiply(a, ins[i].at(f).rotation(f, halving)), z = multiply(z, outs[i].at(f).rotation(f, halving));
        }
        tally.note(f, a, z, 0);
      }
      if (f == last) break;
    }
    for (Stray& s : results[c].strays) s.bone = static_cast<uint32_t>(c);
  }
  return results;
}

}  // namespace torsel::thin
