#include "playback/judge.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace torsel {
namespace {

// A slerp turns at most this much faster than on average (the linear blend
// of rotations less than 4 degrees apart), and float steps add less than
// this many degrees.
constexpr double kSpeedSlack = 1.01;
constexpr double kRoundingSlack = 1e-4;

// v turned by the rotation p: p v p*.
void turned(const DQuat& p, const double* v, double* out) {
  const double tx = 2 * (p.y * v[2] - p.z * v[1]), ty = 2 * (p.z * v[0] - p.x * v[2]);
  const double tz = 2 * (p.x * v[1] - p.y * v[0]);
  out[0] = v[0] + p.w * tx + (p.y * tz - p.z * ty);
  out[1] = v[1] + p.w * ty + (p.z * tx - p.x * tz);
  out[2] = v[2] + p.w * tz + (p.x * ty - p.y * tx);
}

}  // namespace

namespace detail {

Shape shapeOf(const Segment* s, int n, int nIn, const Vec3* swingAxis) {
  Shape h;
  h.nIn = nIn;
  h.swingAxis = swingAxis;
  h.usable = nIn >= 0;
  for (int i = 0; i < n && h.usable; i++) {
    const Segment& g = s[i];
    h.group[i] = -1;  // a rotation that does not turn leads no group
    if (!g.moving || !(g.arc.theta > 0)) continue;
    if (curveKind(g.curve) != CurveKind::Plain) h.usable = false;
    const DQuat r = multiply(conjugate(g.arc.a), g.arc.b);
    const double len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    if (!(len > 0)) continue;
    h.axis[i][0] = r.x / len, h.axis[i][1] = r.y / len, h.axis[i][2] = r.z / len;
    h.turn[i] = 2 * g.arc.theta;
    h.perFrame[i] = (i < nIn ? h.turn[i] : -h.turn[i]) / double(g.f1 - g.f0);
    h.group[i] = isLinear(g.curve) ? -1 : i;
    for (int k = 0; k < i && h.group[i] == i; k++) {
      const Segment& o = s[k];
      if (h.group[k] == k && o.f0 == g.f0 && o.f1 == g.f1 && o.curve.x1 == g.curve.x1 &&
          o.curve.y1 == g.curve.y1 && o.curve.x2 == g.curve.x2 && o.curve.y2 == g.curve.y2) {
        h.group[i] = k;
      }
    }
    // A blend's angle differs from the even turn by under 0.033 theta^3.
    if (g.arc.linear) h.blend[i] = 2 * 0.05 * g.arc.theta * g.arc.theta * g.arc.theta;
  }
  return h;
}

void noteRates(const Shape& h, int n, Judged* j) {
  double sums[kMostMovers + 1][3] = {};  // [0]: the linear curves; [1 + k]: group k
  for (int i = 0; i < n; i++) {
    if (!(h.turn[i] > 0)) continue;
    double w[3];
    turned(j->prefix[i], h.axis[i], w);
    const int g = h.group[i];
    const double c = g < 0 ? h.perFrame[i] : (i < h.nIn ? h.turn[i] : -h.turn[i]);
    for (int k = 0; k < 3; k++) sums[g + 1][k] += c * w[k];
  }
  double twist[3] = {0, 0, 0};
  if (h.swingAxis != nullptr && h.nIn > 0) {
    const double a[3] = {h.swingAxis->x, h.swingAxis->y, h.swingAxis->z};
    const double len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    if (len > 0) {
      const double u[3] = {a[0] / len, a[1] / len, a[2] / len};
      turned(j->prefix[h.nIn - 1], u, twist);
    }
  }
  // Splits v into its parts across and along the twist axis.
  auto split = [&](const double* v, double* across, double* along) {
    const double on = v[0] * twist[0] + v[1] * twist[1] + v[2] * twist[2];
    const double x = v[0] - on * twist[0], y = v[1] - on * twist[1], z = v[2] - on * twist[2];
    *across = std::sqrt(x * x + y * y + z * z), *along = std::fabs(on);
  };
  split(sums[0], &j->rate, &j->rateAlong);
  for (int i = 0; i < n; i++) {
    j->shared[i] = j->sharedAlong[i] = 0;
    if (h.group[i] == i) split(sums[i + 1], &j->shared[i], &j->sharedAlong[i]);
  }
}

double upperBound(const Shape& h, const Segment* s, int n, const Judged& p, const Judged& q, uint32_t g1,
                  uint32_t g2) {
  const double len = double(g2 - g1);
  double turn = 0, sides[2] = {0, 0}, squares[2] = {0, 0}, blends = 0;
  double shared[2] = {0, 0}, along[2] = {p.rateAlong * len, q.rateAlong * len};  // from p, from q
  for (int i = 0; i < n; i++) {
    if (!s[i].moving) continue;
    const double travel = progressTravel(s[i].curve, p.at[i], q.at[i]);
    turn += arcDegrees(s[i].arc) * travel;
    if (!h.usable || !(h.turn[i] > 0)) continue;
    const double most = h.turn[i] * travel + h.blend[i];
    sides[i < h.nIn ? 0 : 1] += most;
    squares[i < h.nIn ? 0 : 1] += most * most;
    blends += h.blend[i];
    if (h.group[i] == i) {
      shared[0] += p.shared[i] * travel, shared[1] += q.shared[i] * travel;
      along[0] += p.sharedAlong[i] * travel, along[1] += q.sharedAlong[i] * travel;
    }
  }
  double upper = (p.d + q.d + turn * kSpeedSlack) / 2;
  if (h.usable) {
    // From each end: its deviation, the shared curves' part, and what the
    // products differ from single turns, the twist taken up on the output's
    // side. h(S) is at most 1 / (2 (1 - S / 3)), its series bounded by a
    // geometric one, for S < 1; beyond, no bound from that end.
    double from[2];
    for (int e = 0; e < 2; e++) {
      const double out = sides[1] + along[e], outSquares = squares[1] + along[e] * along[e];
      auto products = [](double sum, double sq) { return (sum * sum - sq) / (4 * (1 - sum / 3)); };
      const double rest = shared[e] + blends + products(sides[0], squares[0]) + products(out, outSquares);
      from[e] = sides[0] < 1 && out < 1 ? (e ? q.d : p.d) + rest * kDegrees : INFINITY;
    }
    // The larger of the two ends' smaller bound: from p onwards, from q back.
    const double a = p.rate * kDegrees, b = q.rate * kDegrees;
    double second = std::min(from[0] + a * len, from[1] + b * len);
    if (from[0] < INFINITY && from[1] < INFINITY && a + b > 0) {
      const double t = std::clamp((from[1] - from[0] + b * len) / (a + b), 0.0, len);
      second = std::min(from[0] + a * t, from[1] + b * (len - t));
    }
    upper = std::min(upper, second);
  }
  upper += kRoundingSlack;
  return upper == upper ? upper : INFINITY;
}

}  // namespace detail

namespace {

const detail::Shape kFirstOnly;  // the first bound alone

Verdict unproven(uint32_t fa, uint32_t fb) {
  Verdict v;
  v.kind = Verdict::Unproven;
  v.at = fa + (fb - fa) / 2;
  return v;
}

void note(Verdict* v, uint32_t f, double d) {
  if (!(d <= v->worst)) v->worst = d, v->at = f;  // a NaN counts as the worst
}

}  // namespace

Judged judgedAt(const Segment* seg, int n, int nIn, const Vec3* swingAxis, uint32_t f) {
  Judged j;
  DQuat target = kIdentityD, shown = kIdentityD;
  for (int i = 0; i < n; i++) {
    const Shown s = showAt(seg[i], f);
    j.at[i] = s.at;
    DQuat& product = i < nIn ? target : shown;
    product = i == 0 || i == nIn ? s.rot : multiply(product, s.rot);
    j.prefix[i] = product;
  }
  j.d = swingAxis != nullptr ? swingOff(multiply(conjugate(shown), target), *swingAxis) : deviationOf(target, shown);
  return j;
}

// Takes the work of one frame judged over n rotations; false once it is spent.
bool Judge::spend(int n) {
  if (work_ < uint64_t(n)) return work_ = 0, false;
  work_ -= uint64_t(n);
  return true;
}

// Every frame of a stretch, where only frames tell.
Verdict Judge::everyFrame(uint32_t fa, uint32_t fb, double tol, int n, const Probe& probe) {
  Verdict v;
  v.at = fa;
  for (uint32_t f = fa;; f++) {
    if (!spend(n)) return unproven(fa, fb);
    note(&v, f, probe.at(f).d);
    if (f == fb) break;
  }
  v.kind = v.worst <= tol ? Verdict::Within : Verdict::Beyond;
  return v;
}

// The stretch being judged: its rotations, its shape and its probe.
struct Judge::Walk {
  Judge& judge;
  const Segment* s;
  int n;
  double tol;
  detail::Shape shape;
  const Probe& probe;

  bool at(uint32_t f) {
    if (!judge.spend(n)) return false;
    judge.judged_.push_back(probe.at(f));
    judge.rated_.push_back(false);
    return true;
  }

  // The gap between judged frames p1 (at g1) and p2 (at g2), bounded.
  void push(uint32_t g1, uint32_t g2, uint32_t p1, uint32_t p2) {
    if (g2 - g1 < 2) return;  // no frame inside
    std::vector<Judged>& judged = judge.judged_;
    double upper = detail::upperBound(kFirstOnly, s, n, judged[p1], judged[p2], g1, g2);
    // The second bound only where the first leaves frames unproven: below
    // the tolerance the gap is done either way.
    if (shape.usable && !(upper <= tol)) {
      for (uint32_t p : {p1, p2}) {
        if (!judge.rated_[p]) detail::noteRates(shape, n, &judged[p]), judge.rated_[p] = true;
      }
      upper = detail::upperBound(shape, s, n, judged[p1], judged[p2], g1, g2);
    }
    judge.gaps_.push_back({g1, g2, p1, p2, upper});
    std::push_heap(judge.gaps_.begin(), judge.gaps_.end());
  }
};

Verdict Judge::stretch(uint32_t fa, uint32_t fb, double tol, const Segment* s, int n, int nIn, const Vec3* swingAxis,
                       const Probe& probe) {
  if (fb - fa < 2) return everyFrame(fa, fb, tol, n, probe);  // no frame between the two judged
  bool wild = false;
  for (int i = 0; i < n; i++) wild = wild || (s[i].moving && curveKind(s[i].curve) == CurveKind::Wild);
  if (wild && fb - fa <= kDenseWildFrames) return everyFrame(fa, fb, tol, n, probe);
  if (wild) return unproven(fa, fb);  // too long to judge frame by frame: parts of it may be
  Verdict v;
  v.at = fa;
  judged_.clear(), gaps_.clear(), rated_.clear();
  Walk st = {.judge = *this, .s = s, .n = n, .tol = tol, .shape = detail::shapeOf(s, n, nIn, swingAxis), .probe = probe};
  if (!st.at(fa) || !st.at(fb)) return unproven(fa, fb);
  note(&v, fa, judged_[0].d);
  note(&v, fb, judged_[1].d);
  st.push(fa, fb, 0, 1);
  while (!gaps_.empty()) {
    std::pop_heap(gaps_.begin(), gaps_.end());
    const Gap g = gaps_.back();
    gaps_.pop_back();
    const bool beyond = !(v.worst <= tol);
    // Beyond: look on only where something worse than found may lie.
    if (beyond ? g.upper <= v.worst + tol / 4 : g.upper <= tol) break;
    const uint32_t m = g.g1 + (g.g2 - g.g1) / 2;
    if (judged_.size() == kMostJudged + 2) {
      if (beyond) break;
      v.kind = Verdict::Unproven;
      v.at = m;
      return v;
    }
    if (!st.at(m)) return unproven(fa, fb);
    note(&v, m, judged_.back().d);
    if (!(v.worst <= 2 * tol)) break;  // far beyond: keyed here, no need to look for the worst
    const uint32_t pm = static_cast<uint32_t>(judged_.size() - 1);
    st.push(g.g1, m, g.p1, pm);
    st.push(m, g.g2, pm, g.p2);
  }
  v.kind = v.worst <= tol ? Verdict::Within : Verdict::Beyond;
  return v;
}

}  // namespace torsel
