#include "playback/curve.h"

#include <algorithm>
#include <cmath>

namespace torsel {
namespace {

// x or y of the cubic from 0 to 1 with inner control values a and b.
double bezier(double a, double b, double t) {
  const double u = 1 - t;
  return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
}

// The curve parameter t at which x(t) = x, where x(t) rises from 0 to 1.
// Newton steps, kept inside a bracket that halves where a step would leave it.
double solveT(double x1, double x2, double x) {
  double lo = 0, hi = 1, t = x;
  for (int i = 0; i < 64; i++) {
    const double f = bezier(x1, x2, t) - x;
    if (std::fabs(f) < 1e-13) break;
    (f > 0 ? hi : lo) = t;
    const double slope = 3 * (1 - t) * (1 - t) * x1 + 6 * (1 - t) * t * (x2 - x1) + 3 * t * t * (1 - x2);
    const double next = slope > 0 ? t - f / slope : -1;
    t = next > lo && next < hi ? next : (lo + hi) / 2;
  }
  return t;
}

// babylon-mmd's solver: halving from t = 1/2 fifteen times, stopping within
// 1e-5 of x; its y is the one of the last t it tried.
CurvePoint bisect(double x1, double x2, double y1, double y2, double x) {
  double step = 0.5, t = 0.5, tried = t;
  for (int i = 0; i < 15; i++) {
    tried = t;
    const double f = bezier(x1, x2, t) - x;
    if (std::fabs(f) < 1e-5) break;
    step *= 0.5;
    t += f < 0 ? step : -step;
  }
  return {tried, bezier(y1, y2, tried)};
}

// The least and the largest of c0 (1-t)^2 + 2 c1 (1-t) t + c2 t^2 over [0, 1]:
// a slope of the cubic with control values a and b is 3 times it, with
// c0 = a, c1 = b - a, c2 = 1 - b.
void slopeRange(double a, double b, double* lo, double* hi) {
  const double c0 = a, c1 = b - a, c2 = 1 - b;
  *lo = std::min(c0, c2), *hi = std::max(c0, c2);
  if (const double den = c0 - 2 * c1 + c2; den != 0) {
    const double t = (c0 - c1) / den;
    if (t > 0 && t < 1) {
      const double v = c0 * (1 - t) * (1 - t) + 2 * c1 * (1 - t) * t + c2 * t * t;
      *lo = std::min(*lo, v), *hi = std::max(*hi, v);
    }
  }
  *lo *= 3, *hi *= 3;
}

// A control point as a byte: time within 0 to 127; progress up to 255 where
// the curve cut overshoots (a piece of a curve within 0 to 127 stays within it).
// The progress at a keyframe's own frame, as the players that bisect read
// it, that a cut curve may show.
constexpr double kFlatStart = 2e-4;

uint8_t toParam(double v, double most = 1.0) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, most) * 127)); }

}  // namespace

CurveKind curveKind(Curve c) {
  if (isLinear(c) || (c.x1 <= 127 && c.y1 <= 127 && c.x2 <= 127 && c.y2 <= 127)) return CurveKind::Plain;
  return c.x1 <= 127 && c.x2 <= 127 ? CurveKind::Overshoot : CurveKind::Wild;
}

CurvePoint curveAt(Curve c, double x) {
  if (x <= 0) return {0, 0};
  if (x >= 1) return {1, 1};
  if (isLinear(c)) return {x, x};  // y(t) = x(t): y = x, whichever t is found
  const double x1 = c.x1 / 127.0, x2 = c.x2 / 127.0, y1 = c.y1 / 127.0, y2 = c.y2 / 127.0;
  // Where x(t) runs back and forth no root is the root: read as babylon-mmd reads it.
  if (c.x1 > 127 || c.x2 > 127) return bisect(x1, x2, y1, y2, x);
  const double t = solveT(x1, x2, x);
  return {t, bezier(y1, y2, t)};
}

CurvePoint bisectedAt(Curve c, double x) {
  return bisect(c.x1 / 127.0, c.x2 / 127.0, c.y1 / 127.0, c.y2 / 127.0, x);
}

double bisectionSpread(Curve c) {
  if (curveKind(c) == CurveKind::Wild) return 0;  // read so by both
  // The bisection ends where x(t) is within 1e-5 of x, or within 2^-15 of
  // the root's t: so t lies within either of the root's, and y moves at
  // most its steepest slope times that.
  double xLo, xHi, yLo, yHi;
  slopeRange(c.x1 / 127.0, c.x2 / 127.0, &xLo, &xHi);
  slopeRange(c.y1 / 127.0, c.y2 / 127.0, &yLo, &yHi);
  if (!(xLo > 1e-3)) return INFINITY;  // flat in time somewhere: only frames tell
  return std::max(std::fabs(yLo), std::fabs(yHi)) * std::max(1e-5 / xLo, std::ldexp(1.0, -15));
}

double progressTravel(Curve c, const CurvePoint& p, const CurvePoint& q) {
  switch (curveKind(c)) {
    case CurveKind::Plain:
      return std::fabs(q.y - p.y);
    case CurveKind::Wild:
      return INFINITY;
    case CurveKind::Overshoot:
      break;
  }
  // y'(t) / 3 = A t^2 + B t + C: the progress turns back where it is 0.
  const double y1 = c.y1 / 127.0, y2 = c.y2 / 127.0;
  const double a = 3 * y1 - 3 * y2 + 1, b = 2 * y2 - 4 * y1, k = y1;
  const double t1 = std::min(p.t, q.t), t2 = std::max(p.t, q.t);
  double turns[2];
  int n = 0;
  if (std::fabs(a) < 1e-12) {
    if (b != 0) turns[n++] = -k / b;
  } else if (const double disc = b * b - 4 * a * k; disc > 0) {
    turns[n++] = (-b - std::sqrt(disc)) / (2 * a);
    turns[n++] = (-b + std::sqrt(disc)) / (2 * a);
  }
  std::sort(turns, turns + n);
  double travel = 0, from = t1;
  for (int i = 0; i < n; i++) {
    if (turns[i] <= t1 || turns[i] >= t2) continue;
    travel += std::fabs(bezier(y1, y2, turns[i]) - bezier(y1, y2, from));
    from = turns[i];
  }
  return travel + std::fabs(bezier(y1, y2, t2) - bezier(y1, y2, from));
}

const CurveMemo::Facts& CurveMemo::find(Curve c) {
  const uint32_t bytes = uint32_t(c.x1) | uint32_t(c.y1) << 8 | uint32_t(c.x2) << 16 | uint32_t(c.y2) << 24;
  Facts& f = facts_[(bytes * 2654435761u) >> 22];
  if (f.known && f.bytes == bytes) return f;
  const auto up = [](double v) { return std::nextafter(static_cast<float>(v), INFINITY); };
  f = {.bytes = bytes, .known = true, .start = up(std::fabs(bisectedAt(c, 0).y)), .spread = up(bisectionSpread(c))};
  return f;
}

Curve cutCurve(Curve c, double xa, double xb) {
  // de Casteljau at the two times, in both coordinates; then the piece
  // between them, scaled to the unit square.
  struct P {
    double x, y;
  };
  auto lerp = [](P a, P b, double t) { return P{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; };
  P p[4] = {{0, 0}, {c.x1 / 127.0, c.y1 / 127.0}, {c.x2 / 127.0, c.y2 / 127.0}, {1, 1}};
  const double ta = curveAt(c, xa).t, tb = curveAt(c, xb).t;
  // The right part from ta: p[0] becomes the point at ta.
  P ab = lerp(p[0], p[1], ta), bc = lerp(p[1], p[2], ta), cd = lerp(p[2], p[3], ta);
  P abc = lerp(ab, bc, ta), bcd = lerp(bc, cd, ta);
  P q[4] = {lerp(abc, bcd, ta), bcd, cd, p[3]};
  // Then its left part up to tb, in the right part's own parameter.
  const double t = ta < 1 ? (tb - ta) / (1 - ta) : 1;
  ab = lerp(q[0], q[1], t), bc = lerp(q[1], q[2], t), cd = lerp(q[2], q[3], t);
  abc = lerp(ab, bc, t), bcd = lerp(bc, cd, t);
  const P r[4] = {q[0], ab, abc, lerp(abc, bcd, t)};
  const double w = r[3].x - r[0].x, h = r[3].y - r[0].y;
  // No progress there: any curve serves. Progress that falls (an overshoot coming
  // back) runs the other way along the stretch between the two keyframes.
  if (!(w > 1e-12) || !(std::fabs(h) > 1e-12)) return kLinearCurve;
  constexpr double kMostY = 255 / 127.0;
  Curve cut = {toParam((r[1].x - r[0].x) / w), toParam((r[1].y - r[0].y) / h, kMostY), toParam((r[2].x - r[0].x) / w),
               toParam((r[2].y - r[0].y) / h, kMostY)};
  // A piece cut where x(t) flattens starts flat, and the players that bisect
  // it show its keyframe's own frame some way along: its start is lifted
  // off the flat until they show it where it stands. A piece that starts
  // where its curve starts keeps the curve's own start, which they read as
  // they read the curve's.
  // (From x1 = 13 up, the halving reads every start within it.)
  while (xa > 0 && cut.x1 < 13 && std::fabs(bisectedAt(cut, 0).y) > kFlatStart) cut.x1++;
  return cut;
}

}  // namespace torsel
