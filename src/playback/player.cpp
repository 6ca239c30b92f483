#include "playback/player.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// Where x(t) runs back and forth no root is the root: babylon-mmd halves
// from t = 1/2 fifteen times (stopping within 1e-5), and its y is the one of
// the last t it tried.
CurvePoint solveWild(double x1, double x2, double y1, double y2, double x) {
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

// A control point as a byte: time within 0 to 127; progress up to 255 where
// the curve cut overshoots (a piece of a curve within 0 to 127 stays within it).
uint8_t toParam(double v, double most = 1.0) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, most) * 127)); }

// One curve of the block: the channel's control points, scaled to 0..1.
double progress(const HeldKey& k, int channel, double x) {
  return curveProgress({k.params[channel], k.params[4 + channel], k.params[8 + channel], k.params[12 + channel]}, x);
}

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
  if (c.x1 > 127 || c.x2 > 127) return solveWild(x1, x2, y1, y2, x);
  const double t = solveT(x1, x2, x);
  return {t, bezier(y1, y2, t)};
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
  return {toParam((r[1].x - r[0].x) / w), toParam((r[1].y - r[0].y) / h, kMostY), toParam((r[2].x - r[0].x) / w),
          toParam((r[2].y - r[0].y) / h, kMostY)};
}

void makeTrack(Track* keys) {
  std::stable_sort(keys->begin(), keys->end(), [](const HeldKey& a, const HeldKey& b) { return a.frame < b.frame; });
  // Of several keyframes on one frame the last in the file stays.
  size_t out = 0;
  for (size_t i = 0; i < keys->size(); i++) {
    if (i + 1 < keys->size() && (*keys)[i + 1].frame == (*keys)[i].frame) continue;
    (*keys)[out++] = (*keys)[i];
  }
  keys->resize(out);
}

Track playedTrack(const Track& t, const AxisRule& rule) {
  Track shown = t;
  for (HeldKey& k : shown) k.rot = toFloat(played(rule, k.rot));
  return shown;
}

HeldKey keyToCut(const Track& t, uint32_t frame) {
  if (t.empty()) {
    HeldKey h{};
    for (int i = 0; i < 16; i++) h.params[i] = i < 8 ? 20 : 107;
    return h;
  }
  const size_t i = keyAfter(t, frame);
  return i > 0 && t[i - 1].frame == frame ? t[i - 1] : t[std::min(i, t.size() - 1)];
}

size_t keyAfter(const Track& t, uint32_t frame) {
  return static_cast<size_t>(
      std::upper_bound(t.begin(), t.end(), frame, [](uint32_t f, const HeldKey& k) { return f < k.frame; }) -
      t.begin());
}

bool keyOn(const Track& t, uint32_t frame, size_t* index) {
  const size_t i = keyAfter(t, frame);
  if (i == 0 || t[i - 1].frame != frame) return false;
  *index = i - 1;
  return true;
}

DQuat rotationAt(const Track& t, uint32_t frame) {
  if (t.empty()) return kIdentityD;
  const size_t i = keyAfter(t, frame);
  if (i == 0) return toDouble(t.front().rot);
  const HeldKey& k0 = t[i - 1];
  if (i == t.size() || k0.frame == frame) return toDouble(k0.rot);
  const HeldKey& k1 = t[i];
  const double x = double(frame - k0.frame) / double(k1.frame - k0.frame);
  return slerp(toDouble(k0.rot), toDouble(k1.rot), curveProgress(rotationCurve(k1), x));
}

namespace {

// curveOver with i the first keyframe after fa.
bool curveFrom(const Track& t, size_t i, uint32_t fa, uint32_t fb, Curve* c) {
  if (i == 0 || i == t.size() || fb > t[i].frame) return false;
  const HeldKey &k0 = t[i - 1], &k1 = t[i];
  const double span = double(k1.frame - k0.frame);
  *c = fa == k0.frame && fb == k1.frame ? rotationCurve(k1)
                                        : cutCurve(rotationCurve(k1), (fa - k0.frame) / span, (fb - k0.frame) / span);
  return true;
}

}  // namespace

bool curveOver(const Track& t, uint32_t fa, uint32_t fb, Curve* c) { return curveFrom(t, keyAfter(t, fa), fa, fb, c); }
bool curveOver(const PlayedTrack& t, uint32_t fa, uint32_t fb, Curve* c) {
  return curveFrom(t.keys, keyAfter(t, fa), fa, fb, c);
}

Segment segmentAt(const Track& t, uint32_t frame) {
  Segment s;
  if (t.empty()) {
    s.arc = makeArc(kIdentityD, kIdentityD);
    return s;
  }
  const size_t i = keyAfter(t, frame);
  s.moving = i > 0 && i < t.size();
  const HeldKey& k0 = t[i > 0 ? i - 1 : 0];
  const HeldKey& k1 = s.moving ? t[i] : k0;
  s.f0 = k0.frame;
  s.f1 = k1.frame;
  s.curve = rotationCurve(k1);
  s.arc = makeArc(toDouble(k0.rot), toDouble(k1.rot));
  return s;
}

Shown showAt(const Segment& s, uint32_t frame) {
  if (!s.moving) return {s.arc.a, {0, 0}};
  const CurvePoint p = curveAt(s.curve, double(frame - s.f0) / double(s.f1 - s.f0));
  return {arcAt(s.arc, p.y), p};
}

void setPlayed(PlayedTrack* p, Track keys) {
  p->keys = std::move(keys);
  p->arcs.resize(p->keys.size());
  for (size_t i = 1; i < p->keys.size(); i++) {
    p->arcs[i] = makeArc(toDouble(p->keys[i - 1].rot), toDouble(p->keys[i].rot));
  }
}

size_t keyAfter(const PlayedTrack& p, uint32_t frame) {
  const Track& t = p.keys;
  auto answers = [&](size_t i) { return (i == 0 || t[i - 1].frame <= frame) && (i == t.size() || t[i].frame > frame); };
  const size_t c = std::min(p.cursor, t.size());
  for (size_t i : {c, c + 1, c + 2, c - 1}) {  // c - 1 wraps past every index when c is 0
    if (i <= t.size() && answers(i)) return p.cursor = i;
  }
  return p.cursor = keyAfter(t, frame);
}

DQuat rotationAt(const PlayedTrack& p, uint32_t frame) {
  const Track& t = p.keys;
  if (t.empty()) return kIdentityD;
  const size_t i = keyAfter(p, frame);
  if (i == 0) return toDouble(t.front().rot);
  if (i == t.size() || t[i - 1].frame == frame) return toDouble(t[i - 1].rot);
  const double x = double(frame - t[i - 1].frame) / double(t[i].frame - t[i - 1].frame);
  return arcAt(p.arcs[i], curveProgress(rotationCurve(t[i]), x));
}

Segment segmentAt(const PlayedTrack& p, uint32_t frame) {
  const Track& t = p.keys;
  Segment s;
  const size_t i = keyAfter(p, frame);
  if (i == 0 || i == t.size()) {  // held: before the first keyframe or after the last
    const DQuat q = t.empty() ? kIdentityD : toDouble(t[i == 0 ? 0 : i - 1].rot);
    s.arc.a = s.arc.b = q;
    s.f0 = s.f1 = t.empty() ? 0 : t[i == 0 ? 0 : i - 1].frame;
    return s;
  }
  s.moving = true;
  s.f0 = t[i - 1].frame;
  s.f1 = t[i].frame;
  s.curve = rotationCurve(t[i]);
  s.arc = p.arcs[i];
  return s;
}

Vec3 positionAt(const Track& t, uint32_t frame) {
  if (t.empty()) return {0, 0, 0};
  const size_t i = keyAfter(t, frame);
  if (i == 0) return t.front().pos;
  const HeldKey& k0 = t[i - 1];
  if (i == t.size() || k0.frame == frame) return k0.pos;
  const HeldKey& k1 = t[i];
  const double x = double(frame - k0.frame) / double(k1.frame - k0.frame);
  auto along = [&](float a, float b, int channel) {
    return toFloat({a + (double(b) - a) * progress(k1, channel, x), 0, 0, 0}).x;
  };
  return {along(k0.pos.x, k1.pos.x, 0), along(k0.pos.y, k1.pos.y, 1), along(k0.pos.z, k1.pos.z, 2)};
}

}  // namespace torsel
