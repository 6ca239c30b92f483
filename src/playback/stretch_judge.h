// How far a stretch between two keyframes strays, judged without visiting
// every frame. The angle between rotations is a distance that products do
// not stretch, so the deviation between what two players show changes no
// faster than the rotations that make it turn; a slerp turns by its whole
// angle times the change of its curve's progress. Between two judged
// frames g1 and g2 every frame therefore lies within (d1 + d2 + T) / 2,
// d1 and d2 the deviations there and T the whole turn between them.
//
// A twist taken off a rotation (its part about an axis) turns faster than
// the rotation where little of the rotation lies along the axis: with
// `reach` the length of that part (the twist's quaternion before it is
// scaled to length 1), it turns at most angle / reach as fast, and reach
// shrinks no faster than the rotation's quaternion moves.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace torsel {

inline constexpr int kMostTurns = 5;

/// A frame judged: the deviation, the progress of each rotation along its
/// arc, and for the twist rotation its reach.
struct Judged {
  double d = 0;
  double y[kMostTurns] = {};
  double reach = 1;
};

/// The rotations of a stretch: the whole angle of each arc, in degrees;
/// and a twist taken off the arc `twistOf` (-1: none), that arc's angle
/// `twistAngle`.
struct Turns {
  double angle[kMostTurns] = {};
  int twistOf = -1;
  double twistAngle = 0;
};

/// A stretch of up to this many frames is judged at every frame.
inline constexpr uint32_t kDenseFrames = 64;
/// A longer stretch still unproven after this many frames judged is answered
/// as beyond the bound at the middle of its widest gap, to be keyed there.
inline constexpr int kMostJudged = 2048;

namespace detail {

// A slerp turns at most this much faster than on average (the linear blend
// of rotations less than 4 degrees apart), and float steps of a twist's
// split add less than this many degrees.
inline constexpr double kSpeedSlack = 1.01;
inline constexpr double kRoundingSlack = 1e-4;

inline double upperBound(const Turns& t, const Judged& p, const Judged& q) {
  double turn = 0;
  for (int i = 0; i < kMostTurns; i++) turn += t.angle[i] * std::fabs(q.y[i] - p.y[i]);
  if (t.twistOf >= 0) {
    const double dy = std::fabs(q.y[t.twistOf] - p.y[t.twistOf]), angle = t.twistAngle;
    const double reach = std::max(p.reach, q.reach) - angle * (std::numbers::pi / 360) * dy;
    if (!(reach > 1e-3)) return INFINITY;  // the twist may flip inside: only frames tell
    turn += angle * dy / reach;
  }
  return (p.d + q.d + turn * kSpeedSlack) / 2 + kRoundingSlack;
}

}  // namespace detail

/// The largest deviation over the frames strictly inside [fa, fb], and
/// where (`at`): a short stretch frame by frame; a longer one at frames
/// chosen where the bound is widest, until the bound proves every frame
/// within `bound`, or a frame beyond it is found near the worst, or too
/// many are judged. `probe(f)` judges frame f.
template <class Probe>
double judgeStretch(uint32_t fa, uint32_t fb, double bound, const Turns& turns, const Probe& probe, uint32_t* at) {
  double found = 0;
  *at = fa;
  if (fb - fa <= kDenseFrames) {
    for (uint32_t f = fa + 1; f < fb; f++) {
      const double d = probe(f).d;
      if (d > found) {
        found = d;
        *at = f;
      }
    }
    return found;
  }
  struct Gap {  // frames not all judged yet; `upper` bounds every one inside
    uint32_t g1, g2;
    Judged p1, p2;
    double upper;
    bool operator<(const Gap& o) const { return upper < o.upper; }
  };
  std::vector<Gap> gaps;
  auto push = [&](uint32_t g1, uint32_t g2, const Judged& p1, const Judged& p2) {
    if (g2 - g1 < 2) return;  // no frame inside
    gaps.push_back({g1, g2, p1, p2, detail::upperBound(turns, p1, p2)});
    std::push_heap(gaps.begin(), gaps.end());
  };
  push(fa, fb, probe(fa), probe(fb));
  for (int judged = 0; !gaps.empty(); judged++) {
    std::pop_heap(gaps.begin(), gaps.end());
    const Gap g = gaps.back();
    gaps.pop_back();
    if (found > bound ? g.upper <= found + bound / 4 : g.upper <= bound) break;
    const uint32_t m = g.g1 + (g.g2 - g.g1) / 2;
    if (judged == kMostJudged) {
      if (found > bound) break;
      *at = m;
      return std::max(g.upper, 2 * bound);
    }
    const Judged pm = probe(m);
    if (pm.d > found) {
      found = pm.d;
      *at = m;
    }
    if (found > 2 * bound) break;  // far beyond: keyed here, no need to look for the worst
    push(g.g1, m, g.p1, pm);
    push(m, g.g2, pm, g.p2);
  }
  return found;
}

/// Keys the stretch from a to b at its worst frame, and again in each part,
/// until every frame plays within `bound`: `fit(a, &b, &at)` gives b the
/// curves that play best and answers the largest deviation left and where,
/// `keyAt(f)` the keyframe at f; the keyframes reached are handed to
/// `emit` in order (not b itself). Returns the largest deviation left.
template <class Key, class Fit, class KeyAt, class Emit>
double fillStretch(Key a, Key* b, double bound, const Fit& fit, const KeyAt& keyAt, const Emit& emit) {
  std::vector<Key> ends = {*b};  // right ends still to reach, nearest last
  double worst = 0;
  for (;;) {
    uint32_t at = 0;
    const double dev = fit(a, &ends.back(), &at);
    if (dev > bound) {
      ends.push_back(keyAt(at));
      continue;
    }
    worst = std::max(worst, dev);
    if (ends.size() == 1) break;
    a = ends.back();
    ends.pop_back();
    emit(a);
  }
  *b = ends.back();
  return worst;
}

}  // namespace torsel
