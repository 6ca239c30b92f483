// How far a stretch between two keyframes strays, judged without visiting
// every frame. The angle between rotations is a distance that products do
// not stretch, and so is the distance from a rotation to the turns about an
// axis: the deviation between what two players show changes no faster than
// the rotations that make it turn. A slerp turns by its whole angle times
// the progress its curve travels. Between two judged frames g1 and g2 every
// frame therefore lies within (d1 + d2 + T) / 2, d1 and d2 the deviations
// there and T the whole turn of every rotation between them.
//
// Where the output follows the input closely that bound is far too wide:
// both chains turn a lot, their difference little. Seen from a judged frame
// g, each chain moves by a product of turns about axes fixed in the world
// (a slerp turns about a fixed axis of its start, and a product carries
// each factor's axis into the world by the rotations before it). So the
// deviation at f is at most the deviation at g plus the angle between the
// two chains' moves, and that is at most the difference of the sums of
// their turn vectors, plus what each product differs from one turn about
// its sum: at most h(S) (S^2 - the sum of each turn's square) / 2 for turns
// of S radians in all, h(S) = (e^S - 1 - S) / S^2, nothing for one. On linear
// curves every turn grows in step with the frame, so the difference grows
// by a rate known at g; on one shared curve by its progress. A limb's swing
// is its distance to the twists about its axis: a turn about that axis
// (carried into the world by the input at g) costs nothing there, so the
// part of the difference along it moves to the output's side as one more
// turn, and only the rest grows the bound.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "playback/player.h"

namespace torsel {

/// The most rotations one stretch is judged over (a hand chain's ten).
inline constexpr int kMostMovers = 10;

/// A frame judged: the deviation, and where each rotation stands on its
/// curve; for the second bound, each side's product up to each rotation
/// (set by the probe) and the rates of the difference (set by the judge).
struct Judged {
  double d = 0;
  CurvePoint at[kMostMovers] = {};
  DQuat prefix[kMostMovers] = {};
  // Radians a frame on the linear curves, and per unit of progress on each
  // shared curve: across the twist axis, and along it (for a swing).
  double rate = 0, rateAlong = 0;
  double shared[kMostMovers] = {}, sharedAlong[kMostMovers] = {};
};

/// What a stretch was found to be: within the tolerance at every frame;
/// beyond it at `at` (where a keyframe mends it best); or not proven within
/// the work allowed, to be keyed at `at` and judged again in parts.
struct Verdict {
  enum Kind { Within, Beyond, Unproven } kind = Within;
  double worst = 0;  // the largest deviation judged
  uint32_t at = 0;
};

/// Where a curve's time runs back and forth (an x past 127), only frames
/// tell: a stretch of up to this many is judged at every frame.
inline constexpr uint32_t kDenseWildFrames = 1024;
/// A longer stretch still unproven after this many frames judged is keyed
/// in the middle of its widest gap and judged again in parts.
inline constexpr int kMostJudged = 2048;

namespace detail {

// A slerp turns at most this much faster than on average (the linear blend
// of rotations less than 4 degrees apart), and float steps add less than
// this many degrees.
inline constexpr double kSpeedSlack = 1.01;
inline constexpr double kRoundingSlack = 1e-4;

// How the two chains' moves differ, set once a stretch: each turning
// rotation's axis (in its start's frame), whole turn, side and curve group.
struct Shape {
  bool usable = false;  // no curve overshooting
  int nIn = 0;
  const Vec3* swingAxis = nullptr;    // a swing's twist axis; none: compared by angle
  double axis[kMostMovers][3] = {};
  double turn[kMostMovers] = {};      // radians; 0: held, or no turn
  double perFrame[kMostMovers] = {};  // signed turn a frame, on a linear curve
  int group[kMostMovers] = {};        // -1: linear; else the first rotation on the same curve and frames
  double blend[kMostMovers] = {};     // how far a blend strays from an even turn, twice
};

inline Shape shapeOf(const Segment* s, int n, int nIn, const Vec3* swingAxis) {
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

// v turned by the rotation p: p v p*.
inline void turned(const DQuat& p, const double* v, double* out) {
  const double tx = 2 * (p.y * v[2] - p.z * v[1]), ty = 2 * (p.z * v[0] - p.x * v[2]);
  const double tz = 2 * (p.x * v[1] - p.y * v[0]);
  out[0] = v[0] + p.w * tx + (p.y * tz - p.z * ty);
  out[1] = v[1] + p.w * ty + (p.z * tx - p.x * tz);
  out[2] = v[2] + p.w * tz + (p.x * ty - p.y * tx);
}

// The rates of the difference of the two chains' turn vectors at j.
inline void noteRates(const Shape& h, int n, Judged* j) {
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

// Every frame between p and q (at frames g1 < g2) lies within this; no
// number (a NaN) is no bound.
inline double upperBound(const Shape& h, const Segment* s, int n, const Judged& p, const Judged& q, uint32_t g1,
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

/// Judges the frames fa to fb, both included, over the rotations `s` (n of
/// them; each one segment for the whole stretch): `probe(f)` judges frame f.
/// It is judged at frames chosen where the bound is widest, until it proves
/// every frame within `tol`, or finds one beyond it near the worst, or has
/// judged too many; one whose curves give no bound, at every frame.
/// The first nIn rotations are the input chain's, the rest the output's,
/// compared by the angle between them or, given the twist axis, by the
/// output's swing off the input's (nIn < 0: some other way).
template <class Probe>
Verdict judgeStretch(uint32_t fa, uint32_t fb, double tol, const Segment* s, int n, int nIn, const Vec3* swingAxis,
                     const Probe& probe) {
  Verdict v;
  v.at = fa;
  auto note = [&](uint32_t f, double d) {
    if (!(d <= v.worst)) v.worst = d, v.at = f;  // a NaN counts as the worst
  };
  bool wild = false;
  for (int i = 0; i < n; i++) wild = wild || (s[i].moving && curveKind(s[i].curve) == CurveKind::Wild);
  if (wild && fb - fa <= kDenseWildFrames) {
    for (uint32_t f = fa;; f++) {
      note(f, probe(f).d);
      if (f == fb) break;
    }
    v.kind = v.worst <= tol ? Verdict::Within : Verdict::Beyond;
    return v;
  }
  if (wild) {  // too long to judge frame by frame: parts of it may be
    v.kind = Verdict::Unproven;
    v.at = fa + (fb - fa) / 2;
    return v;
  }
  struct Gap {  // frames not all judged yet; `upper` bounds every one inside
    uint32_t g1, g2;
    uint32_t p1, p2;  // their frames judged, in `judged`
    double upper;
    bool operator<(const Gap& o) const { return upper < o.upper; }
  };
  // Kept from call to call for their room: judging runs one stretch at a time.
  static std::vector<Judged> judged;
  static std::vector<Gap> gaps;
  static std::vector<bool> rated;  // the judged frames' rates noted
  judged.clear(), gaps.clear(), rated.clear();
  const detail::Shape shape = detail::shapeOf(s, n, nIn, swingAxis);
  static const detail::Shape firstOnly;
  auto judge = [&](uint32_t f) {
    judged.push_back(probe(f));
    rated.push_back(false);
  };
  auto push = [&](uint32_t g1, uint32_t g2, uint32_t p1, uint32_t p2) {
    if (g2 - g1 < 2) return;  // no frame inside
    double upper = detail::upperBound(firstOnly, s, n, judged[p1], judged[p2], g1, g2);
    // The second bound only where the first leaves frames unproven: below
    // the tolerance the gap is done either way.
    if (shape.usable && !(upper <= tol)) {
      for (uint32_t p : {p1, p2}) {
        if (!rated[p]) detail::noteRates(shape, n, &judged[p]), rated[p] = true;
      }
      upper = detail::upperBound(shape, s, n, judged[p1], judged[p2], g1, g2);
    }
    gaps.push_back({g1, g2, p1, p2, upper});
    std::push_heap(gaps.begin(), gaps.end());
  };
  judge(fa);
  judge(fb);
  note(fa, judged[0].d);
  note(fb, judged[1].d);
  push(fa, fb, 0, 1);
  while (!gaps.empty()) {
    std::pop_heap(gaps.begin(), gaps.end());
    const Gap g = gaps.back();
    gaps.pop_back();
    const bool beyond = !(v.worst <= tol);
    // Beyond: look on only where something worse than found may lie.
    if (beyond ? g.upper <= v.worst + tol / 4 : g.upper <= tol) break;
    const uint32_t m = g.g1 + (g.g2 - g.g1) / 2;
    if (judged.size() == kMostJudged + 2) {
      if (beyond) break;
      v.kind = Verdict::Unproven;
      v.at = m;
      return v;
    }
    judge(m);
    note(m, judged.back().d);
    if (!(v.worst <= 2 * tol)) break;  // far beyond: keyed here, no need to look for the worst
    const uint32_t pm = static_cast<uint32_t>(judged.size() - 1);
    push(g.g1, m, g.p1, pm);
    push(m, g.g2, pm, g.p2);
  }
  v.kind = v.worst <= tol ? Verdict::Within : Verdict::Beyond;
  return v;
}

}  // namespace torsel
