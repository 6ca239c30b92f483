#include "thin/bone_thin.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace torsel::thin {
namespace {

// Fitted within this share of the bound, so that what the players round
// otherwise (a blend for short turns, floats) stays within the whole.
constexpr double kFitShare = 0.999;

// The angle, 0 to pi/2, whose sine and cosine are in the ratio s : c (both
// at least 0), as angleOf but with as many terms of its series as the
// argument needs: windows take it twice a frame. Plain arithmetic, so every
// platform finds the same bits.
double quickAngle(double s, double c) {
  if (!(s > 0)) return 0;
  const bool steep = s > c;
  double x = steep ? c / s : s / c;
  int halvings = 0;
  for (; x > 0.125; halvings++) x = x / (1 + std::sqrt(1 + x * x));
  const double x2 = x * x;
  double sum = x, power = x;
  for (int n = 3; power > 1e-15 * sum; n += 2) {
    power *= x2;
    sum += (n % 4 == 3 ? -power : power) / n;
  }
  const double a = sum * double(1 << halvings);
  return steep ? std::numbers::pi / 2 - a : a;
}

void setChannel(std::array<uint8_t, 16>* params, int c, Curve curve) {
  (*params)[c] = curve.x1, (*params)[4 + c] = curve.y1, (*params)[8 + c] = curve.x2, (*params)[12 + c] = curve.y2;
}

}  // namespace

BoneThinner::BoneThinner(const ThinOptions& o)
    : o_(o),
      cosFit_(sinSmall(std::numbers::pi / 2 - o.bound * kFitShare / kDegrees / 2)),
      distanceFit_(o.distance * kFitShare) {}

void BoneThinner::sampleTo(size_t i, uint32_t last) {
  const std::vector<PlayedPose>& keys = *keys_;
  if (sampledFrom_ != i) samples_.clear(), sampledFrom_ = i, sampledKey_ = i;
  const DQuat notA = conjugate(keys[i].rot);
  uint32_t f = keys[i].frame + 1 + static_cast<uint32_t>(samples_.size());
  while (f <= last) {
    while (sampledKey_ + 1 < keys.size() && keys[sampledKey_ + 1].frame <= f) sampledKey_++;
    const PlayedPose& a = keys[sampledKey_];
    if (a.frame == f || sampledKey_ + 1 == keys.size()) {
      samples_.push_back({multiply(notA, a.rot), a.pos});
      f++;
      continue;
    }
    // Frames between two of the input's keyframes, as the input plays them.
    const StretchPlay play(a, keys[sampledKey_ + 1]);
    for (; f <= last && f < keys[sampledKey_ + 1].frame; f++) {
      samples_.push_back({multiply(notA, play.rotation(f, false)), play.position(f, false)});
    }
  }
}

// Whether the stretch from key i to key j can hold: every frame between
// near the arc from i's rotation to j's, and near each position channel's
// line. With `windows`, each constrained channel's windows are set too.
bool BoneThinner::stretchHolds(size_t i, size_t j, bool windows, uint32_t* stray) {
  const PlayedPose &a = (*keys_)[i], &b = (*keys_)[j];
  const uint32_t len = b.frame - a.frame;
  sampleTo(i, b.frame - 1);
  work_ += len;
  // Seen from a, the arc turns by 2h about n: at progress s it is (n sin sh, cos sh).
  const Arc arc = makeArc(a.rot, b.rot);
  const DQuat v = multiply(conjugate(arc.a), arc.b);
  const double sinH = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), cosH = v.w, h = arc.theta;
  const bool turns = sinH > 0 && h > 0;
  const double n[3] = {turns ? v.x / sinH : 0, turns ? v.y / sinH : 0, turns ? v.z / sinH : 0};
  const double blend = arc.linear ? 0.05 * h * h * h : 0;  // a short turn's blend strays from the slerp
  const double c2 = cosFit_ * cosFit_;
  const float pa[3] = {a.pos.x, a.pos.y, a.pos.z}, pb[3] = {b.pos.x, b.pos.y, b.pos.z};
  bool varies[3];
  int moving = 0;
  for (int c = 0; c < 3; c++) {
    varies[c] = pa[c] != pb[c];
    for (uint32_t k = 0; !still_ && !varies[c] && k + 1 < len; k++) varies[c] = (&samples_[k].pos.x)[c] != pa[c];
    moving += varies[c];
  }
  // Each moving channel its share of the distance, so that together they keep within it.
  const double tau = moving > 0 ? distanceFit_ / std::sqrt(double(moving)) : 0;
  constrained_[kRotationChannel] = turns;
  for (int c = 0; c < 3; c++) constrained_[c] = pa[c] != pb[c];
  for (int c = 0; c < 4 && windows; c++) windows_[c].resize(constrained_[c] ? len - 1 : 0);
  // From the far end, where a stretch too long strays first.
  for (uint32_t k = len - 1; k >= 1; k--) {
    const Sample& s = samples_[k - 1];
    const double x = double(k) / double(len);
    *stray = a.frame + k;
    double pw = s.p.w, pn = s.p.x * n[0] + s.p.y * n[1] + s.p.z * n[2];
    if (pw < 0) pw = -pw, pn = -pn;
    const double rho2 = pw * pw + pn * pn;
    if (!(rho2 >= c2)) return false;  // off the arc by more than the bound
    // Nearest to a point beyond an end of the arc: within the bound of that end, or of nothing.
    if (pn < 0 && !(pw >= cosFit_)) return false;
    if (pn * cosH > pw * sinH && !(pw * cosH + pn * sinH >= cosFit_)) return false;
    if (windows && turns) {
      // Within the bound where the half angle sh lies within w of phi.
      const double phi = pn >= 0 ? quickAngle(pn, pw) : -quickAngle(-pn, pw);
      const double w = quickAngle(std::sqrt(rho2 - c2), cosFit_) - blend;
      if (!(w >= 0)) return false;
      windows_[kRotationChannel][k - 1] = {x, (phi - w) / h, (phi + w) / h};
    }
    for (int c = 0; c < 3; c++) {
      if (!varies[c]) continue;
      const double p = (&s.pos.x)[c];
      if (pa[c] == pb[c]) {
        if (!(std::fabs(p - pa[c]) <= tau)) return false;
        continue;
      }
      double lo = (p - tau - pa[c]) / (double(pb[c]) - pa[c]), hi = (p + tau - pa[c]) / (double(pb[c]) - pa[c]);
      if (lo > hi) std::swap(lo, hi);
      if (!(hi >= 0 && lo <= 1)) return false;
      if (windows) windows_[c][k - 1] = {x, lo, hi};
    }
  }
  return true;
}

// The stretch from key i to key j with a curve fitted to each channel.
bool BoneThinner::fitStretch(size_t i, size_t j, std::array<uint8_t, 16>* params, uint32_t* stray) {
  if (!stretchHolds(i, j, true, stray)) return false;
  for (const int c : {kRotationChannel, 0, 1, 2}) {
    Curve curve = kStraight;
    if (constrained_[c] && !holdsStraight(windows_[c])) {
      const Fitted fitted = fitter_.fit(windows_[c]);
      work_ += 8 * windows_[c].size();
      if (!fitted.ok) return *stray = (*keys_)[i].frame + 1 + static_cast<uint32_t>(fitted.firstStray), false;
      curve = fitted.curve;
    }
    setChannel(params, c, curve);
  }
  if (!startHolds(i, j, *params)) return *stray = (*keys_)[i].frame + 1, false;
  return true;
}

// babylon-mmd reads key i's own frame as time 0 of the stretch after it,
// solved by halving, which lands near 0 only: the stretch to j must show
// there what the input's next stretch shows.
bool BoneThinner::startHolds(size_t i, size_t j, const std::array<uint8_t, 16>& params) const {
  const std::vector<PlayedPose>& keys = *keys_;
  PlayedPose b = keys[j];
  b.params = params.data();
  const uint32_t f = keys[i].frame;
  const StretchPlay in(keys[i], keys[i + 1]), out(keys[i], b);
  const Vec3 p = in.position(f, true), q = out.position(f, true);
  const double x = double(p.x) - q.x, y = double(p.y) - q.y, z = double(p.z) - q.z;
  const double distance = std::sqrt(x * x + y * y + z * z);
  return deviationOf(in.rotation(f, true), out.rotation(f, true)) <= o_.bound * kFitShare && distance <= distanceFit_;
}

// The farthest keyframe up to `end` that the stretch from i can reach.
size_t BoneThinner::reach(size_t i, size_t end, std::array<uint8_t, 16>* params) {
  const std::vector<PlayedPose>& keys = *keys_;
  auto byFrame = [](uint32_t f, const PlayedPose& k) { return f < k.frame; };
  const uint32_t limit = keys[i].frame + std::min(kLongestStretch, UINT32_MAX - keys[i].frame);
  const size_t most =
      size_t(std::upper_bound(keys.begin() + i + 1, keys.begin() + end + 1, limit, byFrame) - keys.begin()) - 1;
  if (most <= i + 1) return i + 1;
  // How far the frames stay near the arcs: galloping, then halving.
  size_t good = i + 1, bad = most + 1;
  uint32_t stray = 0;
  for (size_t d = 2;; d *= 2) {
    const size_t j = std::min(i + d, most);
    if (!stretchHolds(i, j, false, &stray)) {
      bad = j;
      break;
    }
    good = j;
    if (j == most) break;
  }
  while (bad - good > 1) {
    const size_t mid = good + (bad - good) / 2;
    (stretchHolds(i, mid, false, &stray) ? good : bad) = mid;
  }
  // Then curves, from the farthest down: the next try ends at the keyframe
  // before the first frame the last one left, or halfway, whichever is farther.
  size_t held = i + 1;
  bad = good + 1;
  for (size_t j = good; j > held;) {
    std::array<uint8_t, 16> trial{};
    if (fitStretch(i, j, &trial, &stray)) {
      held = j, *params = trial;
      if (bad - held <= 1) break;
      j = held + (bad - held) / 2;
      continue;
    }
    bad = j;
    const size_t before =
        size_t(std::upper_bound(keys.begin() + i, keys.begin() + j, stray, byFrame) - keys.begin()) - 1;
    j = std::max(before, held + (bad - held) / 2);
    if (j >= bad) j = bad - 1;
  }
  return held;
}

uint64_t BoneThinner::thin(const std::vector<PlayedPose>& keys, const std::vector<uint8_t>& fixed,
                           std::vector<KeyFate>* fates) {
  keys_ = &keys;
  sampledFrom_ = SIZE_MAX;
  work_ = 0;
  fates->assign(keys.size(), KeyFate{});
  still_ = std::all_of(keys.begin(), keys.end(), [&](const PlayedPose& k) {
    return k.pos.x == keys[0].pos.x && k.pos.y == keys[0].pos.y && k.pos.z == keys[0].pos.z;
  });
  const uint64_t budget = kWorkPerKey * keys.size() + kWorkBase;
  uint64_t unworked = 0;
  for (size_t k = 0; k < keys.size(); k++) {
    if (fixed[k]) continue;
    size_t end = k;
    while (end + 1 < keys.size() && !fixed[end + 1]) end++;
    for (size_t i = k; i < end;) {
      if (work_ > budget) {
        unworked += end - i - 1;
        break;
      }
      std::array<uint8_t, 16> params{};
      const size_t j = reach(i, end, &params);
      for (size_t m = i + 1; m < j; m++) (*fates)[m].kept = false;
      if (j > i + 1) (*fates)[j].refit = true, (*fates)[j].params = params;
      i = j;
    }
    k = end;
  }
  return unworked;
}

}  // namespace torsel::thin
