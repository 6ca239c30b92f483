// A keyframe's rotation curve as the players read its four bytes: a cubic
// Bezier from (0, 0) to (1, 1) whose x is the time between two keyframes
// and whose y the progress of the turn. Solved for t at a time, its
// progress travel between two times bounded, and cut into the curve of a
// part of the stretch.
#pragma once

#include "format/key_block.h"

namespace torsel {

/// How a curve's bytes stand: all within 0 to 127 (its progress rises from
/// 0 to 1), a y past 127 (the progress may overshoot and come back), or an
/// x past 127 (time runs back and forth: each player solves it its own way).
enum class CurveKind { Plain, Overshoot, Wild };
CurveKind curveKind(Curve c);
/// Control points on the diagonal: the progress is the time itself.
inline bool isLinear(Curve c) { return c.x1 == c.y1 && c.x2 == c.y2; }
/// The curve at time x (0 to 1): its parameter t and its progress y. An x
/// past 127 is solved as babylon-mmd solves it: halving from t = 1/2.
struct CurvePoint {
  double t, y;
};
CurvePoint curveAt(Curve c, double x);
inline double curveProgress(Curve c, double x) { return curveAt(c, x).y; }
/// The curve as the players that bisect it read it (babylon-mmd, three.js):
/// halving from t = 1/2 fifteen times, stopping once x(t) is within 1e-5 of
/// x, the progress of the last t tried. They read a keyframe's own frame as
/// time 0 of the stretch after it, where a curve whose x starts flat comes
/// out some way along.
CurvePoint bisectedAt(Curve c, double x);
/// How far the bisected progress can lie from the exact one at any time
/// inside the stretch (0 < x < 1); infinite where x(t) flattens anywhere,
/// and there only the frames tell.
double bisectionSpread(Curve c);
/// How far the progress travels between two points of the curve: their
/// difference where it only rises, every rise and fall between where it
/// overshoots; where time runs back and forth, no bound (infinity).
double progressTravel(Curve c, const CurvePoint& p, const CurvePoint& q);
/// What the bisecting players make of curves, worked out once a curve: how
/// far along they read its start, and its bisection spread.
class CurveMemo {
 public:
  double start(Curve c) { return find(c).start; }
  double spread(Curve c) { return find(c).spread; }

 private:
  struct Facts {
    uint32_t bytes = 0;
    bool known = false;
    float start = 0, spread = 0;  // rounded up: bounds stay bounds
  };
  const Facts& find(Curve c);
  Facts facts_[1024];
};

/// The part of the curve between times xa < xb, scaled to the unit square
/// and rounded to whole parameters within 0 to 127.
Curve cutCurve(Curve c, double xa, double xb);

}  // namespace torsel
