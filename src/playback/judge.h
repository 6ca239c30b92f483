// How far a stretch between two keyframes strays, judged without visiting
// every frame. The angle between rotations is a distance that products do
// not stretch, and so is the distance from a rotation to the turns about an
// axis: the deviation between what two players show changes no faster than
// the rotations that make it turn. A slerp turns by its whole angle times
// the progress its curve travels. Between two judged frames g1 and g2 every
// frame therefore lies within (d1 + d2 + T) / 2, d1 and d2 the deviations
// there and T the whole turn of every rotation between them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "playback/player.h"

namespace torsel {

/// The most rotations one stretch is judged over (a hand chain's ten).
inline constexpr int kMostMovers = 10;

/// A frame judged: the deviation, and where each rotation stands on its curve.
struct Judged {
  double d = 0;
  CurvePoint at[kMostMovers] = {};
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

// Every frame between p and q lies within this; no number (a NaN) is no bound.
inline double upperBound(const Segment* s, int n, const Judged& p, const Judged& q) {
  double turn = 0;
  for (int i = 0; i < n; i++) {
    if (s[i].moving) turn += arcDegrees(s[i].arc) * progressTravel(s[i].curve, p.at[i], q.at[i]);
  }
  const double upper = (p.d + q.d + turn * kSpeedSlack) / 2 + kRoundingSlack;
  return upper == upper ? upper : INFINITY;
}

}  // namespace detail

/// Judges the frames fa to fb, both included, over the rotations `s` (n of
/// them; each one segment for the whole stretch): `probe(f)` judges frame f.
/// It is judged at frames chosen where the bound is widest, until it proves
/// every frame within `tol`, or finds one beyond it near the worst, or has
/// judged too many; one whose curves give no bound, at every frame.
template <class Probe>
Verdict judgeStretch(uint32_t fa, uint32_t fb, double tol, const Segment* s, int n, const Probe& probe) {
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
  judged.clear(), gaps.clear();
  auto push = [&](uint32_t g1, uint32_t g2, uint32_t p1, uint32_t p2) {
    if (g2 - g1 < 2) return;  // no frame inside
    gaps.push_back({g1, g2, p1, p2, detail::upperBound(s, n, judged[p1], judged[p2])});
    std::push_heap(gaps.begin(), gaps.end());
  };
  judged.push_back(probe(fa));
  judged.push_back(probe(fb));
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
    judged.push_back(probe(m));
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
