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

/// Frame f judged over the rotations s (n of them, the first nIn the
/// input's): the deviation by angle, or given the twist axis by the output's
/// swing off the input's, with each rotation's point and each side's products.
Judged judgedAt(const Segment* s, int n, int nIn, const Vec3* swingAxis, uint32_t f);

/// What judges one frame of a stretch: the deviation there, where each
/// rotation stands on its curve and each side's products (see Judged).
struct Probe {
  virtual Judged at(uint32_t frame) const = 0;

 protected:
  ~Probe() = default;
};

/// A Probe over a callable that takes a frame: Judge::stretch(..., ProbeOf(f)).
/// It holds f by reference: made and used within one call.
template <class F>
class ProbeOf final : public Probe {
 public:
  explicit ProbeOf(const F& f) : f_(f) {}
  Judged at(uint32_t frame) const override { return f_(frame); }

 private:
  const F& f_;
};

/// The judge: it judges one stretch at a time, keeping its frames judged and
/// its gaps for their room, within the work it is given.
class Judge {
 public:
  /// The work the judge may still do, in rotations evaluated (a frame judged
  /// costs as many as the stretch has): set before a side is planned and
  /// before it is checked, so that no motion, however hostile, takes long.
  /// Once it is spent a stretch is not proven (Unproven, at its middle).
  void setWork(uint64_t rotations) { work_ = rotations; }
  bool workLeft() const { return work_ > 0; }
  /// Judges the frames fa to fb, both included, over the rotations `s` (n
  /// of them; each one segment for the whole stretch): `probe` judges a
  /// frame. It is judged at frames chosen where the bound is widest, until
  /// it proves every frame within `tol`, or finds one beyond it near the
  /// worst, or has judged too many; one whose curves give no bound, at every
  /// frame. The first nIn rotations are the input chain's, the rest the
  /// output's, compared by the angle between them or, given the twist axis,
  /// by the output's swing off the input's (nIn < 0: some other way).
  Verdict stretch(uint32_t fa, uint32_t fb, double tol, const Segment* s, int n, int nIn, const Vec3* swingAxis,
                  const Probe& probe);

 private:
  // Frames not all judged yet: `upper` bounds every one inside.
  struct Gap {
    uint32_t g1, g2;
    uint32_t p1, p2;  // their frames judged, in judged_
    double upper;
    bool operator<(const Gap& o) const { return upper < o.upper; }
  };
  struct Walk;
  bool spend(int n);
  Verdict everyFrame(uint32_t fa, uint32_t fb, double tol, int n, const Probe& probe);

  std::vector<Judged> judged_;
  std::vector<Gap> gaps_;
  std::vector<bool> rated_;  // the judged frames' rates noted
  uint64_t work_ = UINT64_MAX;
};

// The two bounds, open to the tests.
namespace detail {

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

/// The shape of the rotations s (n of them, the first nIn the input's) for
/// the second bound; not usable where nIn < 0 or a curve is not plain.
Shape shapeOf(const Segment* s, int n, int nIn, const Vec3* swingAxis);
/// The rates of the difference of the two chains' turn vectors at j, from
/// the products the probe set there.
void noteRates(const Shape& h, int n, Judged* j);
/// Every frame between p and q (at frames g1 < g2) lies within this; no
/// number (a NaN) is no bound. A Shape not usable gives the first bound alone.
double upperBound(const Shape& h, const Segment* s, int n, const Judged& p, const Judged& q, uint32_t g1,
                  uint32_t g2);

}  // namespace detail
}  // namespace torsel
