#include "thin/progress_fit.h"

#include <algorithm>
#include <cmath>

#include "playback/curve.h"

namespace torsel::thin {
namespace {

// Least squares sees at most this many windows, spread evenly; the bytes
// found are then judged over all of them.
constexpr size_t kMostSampled = 10;
// Rounds of trying the eight byte neighbours of the best curve so far.
constexpr int kNeighbourRounds = 3;
// A rounded curve this many widths outside a window is too far for nearby bytes.
constexpr double kHopeless = 2;
// Time kept this many bytes off flat at either end (x1 at least, x2 at most
// 127 less), where babylon-mmd's halving reads a curve furthest from MMD:
// at x1 = 2 it reads the keyframe's own frame (time 0) at most 3.7e-4 of the
// way along, at x1 = 0 up to 4.6 %. Letting go of it where a fit pressed on
// it won almost nothing (0.1 % of keyframes on baked motions) at a tenth
// more work.
constexpr int kOffFlat = 2;

// One coordinate of the curve with inner control values a and b, as a
// polynomial in t (Horner's rule: a third of the work of the Bernstein form).
struct Cubic {
  double c1, c2, c3;
  Cubic(double a, double b) : c1(3 * a), c2(3 * b - 6 * a), c3(1 + 3 * a - 3 * b) {}
  double at(double t) const { return ((c3 * t + c2) * t + c1) * t; }
  double slopeAt(double t) const { return (3 * c3 * t + 2 * c2) * t + c1; }
};

// t with x(t) = x (x(t) rises: plain bytes), Newton from t0 inside a bracket.
double solveT(const Cubic& c, double x, double t0) {
  double lo = 0, hi = 1, t = t0;
  for (int i = 0; i < 40; i++) {
    const double f = c.at(t) - x;
    if (std::fabs(f) < 1e-10) break;
    (f > 0 ? hi : lo) = t;
    const double d = c.slopeAt(t);
    const double next = d > 0 ? t - f / d : -1;
    t = next > lo && next < hi ? next : (lo + hi) / 2;
  }
  return t;
}

// a x = b for a symmetric 4 x 4 a, by elimination with partial pivoting;
// false where it is singular.
bool solve4(double a[4][4], double b[4], double x[4]) {
  for (int c = 0; c < 4; c++) {
    int pivot = c;
    for (int r = c + 1; r < 4; r++) {
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    }
    if (!(std::fabs(a[pivot][c]) > 1e-300)) return false;
    std::swap(a[c], a[pivot]);
    std::swap(b[c], b[pivot]);
    for (int r = c + 1; r < 4; r++) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < 4; k++) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (int c = 3; c >= 0; c--) {
    double v = b[c];
    for (int k = c + 1; k < 4; k++) v -= a[c][k] * x[k];
    x[c] = v / a[c][c];
  }
  return true;
}

}  // namespace

// babylon-mmd stops within 1e-5 of the time, or after fifteen halvings
// from 1/2 within 2^-15 of the root: its t is at most that far (over the
// slowest x goes) off the root, its progress that times the fastest y goes.
double halvingSlack(Curve c) { return bisectionSpread(c) * 1.01; }

namespace {

uint8_t toByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 127)); }

}  // namespace

// Window k as a sample: its middle, weighed by its width (within 0 to 1).
ProgressFitter::Sample ProgressFitter::sampleOf(size_t k, const Window& w, double t) {
  const double lo = std::max(w.lo, 0.0), hi = std::min(w.hi, 1.0), width = std::max(hi - lo, 1e-9);
  const double weight = 1 / (width * width);
  return {.window = k, .x = w.x, .s = (lo + hi) / 2, .weight = weight, .t = t, .width = 1 / std::sqrt(weight)};
}

namespace {

}  // namespace

bool holdsStraight(const std::vector<Window>& w) {
  static const double slack = halvingSlack(kStraight);
  return std::all_of(w.begin(), w.end(), [](const Window& k) { return k.x >= k.lo + slack && k.x <= k.hi - slack; });
}

// The cost of the parameters p (x1, x2, y1, y2) over the samples, each
// sample's t solved again from its last; with h and g, the normal equations
// of a Gauss-Newton step (the progress depends on x1 and x2 through t).
double ProgressFitter::solve(const double* p, double* h, double* g) {
  double cost = 0, inside = 0;
  std::fill(h, h + 16, 0.0);
  std::fill(g, g + 4, 0.0);
  const Cubic x(p[0], p[1]), y(p[2], p[3]);
  for (Sample& s : samples_) {
    s.t = solveT(x, s.x, s.t);
    const double t = s.t, u = 1 - t, b1 = 3 * u * u * t, b2 = 3 * u * t * t;
    const double r = y.at(t) - s.s;
    const double dx = x.slopeAt(t);
    const double back = dx > 1e-9 ? -y.slopeAt(t) / dx : 0;  // flat in time: x1, x2 held there
    const double j[4] = {back * b1, back * b2, b1, b2};
    for (int a = 0; a < 4; a++) {
      const double wj = s.weight * j[a];
      g[a] += wj * r;
      for (int b = a; b < 4; b++) h[4 * a + b] += wj * j[b];
    }
    cost += s.weight * r * r;
    inside = std::max(inside, r * r * s.weight);
  }
  for (int a = 1; a < 4; a++) {
    for (int b = 0; b < a; b++) h[4 * a + b] = h[4 * b + a];  // symmetric
  }
  inside_ = inside;
  return cost;
}

double ProgressFitter::strayOf(Curve c, double cap) {
  const Cubic x(c.x1 / 127.0, c.x2 / 127.0), y(c.y1 / 127.0, c.y2 / 127.0);
  const double slack = halvingSlack(c);
  double precise = 0, halved = 0;
  for (Sample& s : samples_) {
    if (precise > 0 && 1 + precise >= cap) return 1 + precise;  // no better than the best so far
    const double at = y.at(solveT(x, s.x, s.t));
    precise = std::max(precise, (std::fabs(at - s.s) - s.width / 2) / s.width);
    s.close = std::fabs(at - s.s) + slack > s.width / 2;
  }
  if (precise > 0) return 1 + precise;
  // The halving's reading only where it may leave the window.
  for (const Sample& s : samples_) {
    if (!s.close) continue;
    halved = std::max(halved, (std::fabs(bisectedAt(c, s.x).y - s.s) - s.width / 2) / s.width);
  }
  return std::max(halved, 0.0);
}

bool ProgressFitter::keepsAll(Curve c, const std::vector<Window>& w, size_t* first) {
  const Cubic x(c.x1 / 127.0, c.x2 / 127.0), y(c.y1 / 127.0, c.y2 / 127.0);
  const double slack = halvingSlack(c);
  int left = 0;
  double t = 0;
  for (size_t k = 0; k < w.size() && left < 3; k++) {
    t = solveT(x, w[k].x, t);  // time only goes on: from the last t
    const double at = y.at(t);
    if (at >= w[k].lo && at <= w[k].hi) {
      if (at >= w[k].lo + slack && at <= w[k].hi - slack) continue;
      const double halved = bisectedAt(c, w[k].x).y;
      if (halved >= w[k].lo && halved <= w[k].hi) continue;
    }
    if (left++ == 0) *first = k;
    samples_.push_back(sampleOf(k, w[k], t));  // the window joins the samples, for the next try
  }
  return left == 0;
}

// A plain curve's progress stays within 0 to 1 and never falls: no window
// may lie below one before it. The first that does, or w.size().
size_t ProgressFitter::seed(const std::vector<Window>& w) {
  double floor = 0;
  for (size_t k = 0; k < w.size(); k++) {
    floor = std::max(floor, w[k].lo);
    if (w[k].hi < floor || w[k].lo > 1) return k;
  }
  // The few windows least squares sees, spread evenly.
  const size_t n = std::min(w.size(), kMostSampled);
  samples_.clear();
  for (size_t i = 0; i < n; i++) {
    const size_t at = w.size() <= kMostSampled ? i : i * (w.size() - 1) / (n - 1);
    samples_.push_back(sampleOf(at, w[at], w[at].x));
  }
  return w.size();
}

// Levenberg-Marquardt on all four parameters, x1 and x2 kept off flat,
// until every sample lies within a third of its window's width of its middle.
void ProgressFitter::descend(double* p, int rounds) {
  constexpr double lowestX = kOffFlat / 127.0;
  double h[16], g[4];
  double cost = solve(p, h, g), lambda = 1e-3;
  for (int round = 0; round < rounds && cost > 1e-18 && inside_ > 1.0 / 9; round++) {
    double a[4][4], b[4], step[4];
    for (int i = 0; i < 4; i++) {
      for (int j = 0; j < 4; j++) a[i][j] = h[4 * i + j] + (i == j ? lambda * h[4 * i + i] + 1e-12 : 0);
      b[i] = -g[i];
    }
    if (!solve4(a, b, step)) break;
    double q[4], h2[16], g2[4];
    const double before = inside_;
    for (int i = 0; i < 4; i++) q[i] = std::clamp(p[i] + step[i], i == 0 ? lowestX : 0.0, i == 1 ? 1 - lowestX : 1.0);
    t_.resize(samples_.size());
    for (size_t k = 0; k < samples_.size(); k++) t_[k] = samples_[k].t;
    const double next = solve(q, h2, g2);
    if (next < cost) {
      const bool settled = cost - next < 1e-3 * cost;
      std::copy(q, q + 4, p), std::copy(h2, h2 + 16, h), std::copy(g2, g2 + 4, g);
      cost = next, lambda *= 0.3;
      if (settled) break;
    } else {
      inside_ = before;
      for (size_t k = 0; k < samples_.size(); k++) samples_[k].t = t_[k];
      if ((lambda *= 10) > 1e6) break;
    }
  }
}

// The bytes nearest p, then their neighbours, judged on the samples in both
// readings (a precise stray counts before any of the halving's): the best
// found, and how far it strays (0: it keeps them).
Curve ProgressFitter::nearestBytes(const double* p, double* worst) {
  Curve best = {toByte(p[0]), toByte(p[2]), toByte(p[1]), toByte(p[3])};
  *worst = strayOf(best, INFINITY);
  for (int r = 0; r < kNeighbourRounds && *worst > 0 && *worst < 1 + kHopeless; r++) {
    Curve next = best;
    double nextWorst = *worst;
    for (int i = 0; i < 8; i++) {
      Curve c = best;
      uint8_t* byte[4] = {&c.x1, &c.y1, &c.x2, &c.y2};
      const int v = *byte[i / 2] + (i % 2 ? 1 : -1);
      if (v < (i / 2 == 0 ? kOffFlat : 0) || v > (i / 2 == 2 ? 127 - kOffFlat : 127)) continue;
      *byte[i / 2] = static_cast<uint8_t>(v);
      const double d = strayOf(c, nextWorst);
      if (d < nextWorst) next = c, nextWorst = d;
    }
    if (!(nextWorst < *worst)) break;
    best = next, *worst = nextWorst;
  }
  return best;
}

// The first sample c leaves (strayed `worst`), in the precise reading where
// it leaves one there; w.size() for none.
size_t ProgressFitter::firstLeft(Curve c, double worst, size_t none) const {
  size_t first = none;
  const Cubic x(c.x1 / 127.0, c.x2 / 127.0), y(c.y1 / 127.0, c.y2 / 127.0);
  for (const Sample& s : samples_) {
    const double at = worst >= 1 ? y.at(solveT(x, s.x, s.t)) : bisectedAt(c, s.x).y;
    if (std::fabs(at - s.s) > 0.5 * s.width) first = std::min(first, s.window);
  }
  return first;
}

Fitted ProgressFitter::fit(const std::vector<Window>& w) {
  Fitted result;
  if (w.empty()) return result.ok = true, result;
  if (const size_t falls = seed(w); falls < w.size()) return result.firstStray = falls, result;
  // From x1 = 1/3, x2 = 2/3, where t is the time itself; a few rounds at a
  // time, until the bytes nearest keep the samples.
  double p[4] = {1.0 / 3, 2.0 / 3, 1.0 / 3, 2.0 / 3};
  for (int stage = 0; stage < 4; stage++) {
    descend(p, 3);
    if (strayOf({toByte(p[0]), toByte(p[2]), toByte(p[1]), toByte(p[3])}, INFINITY) == 0) break;
  }
  for (int round = 0; round < 4; round++) {
    double worst = 0;
    result.curve = nearestBytes(p, &worst);
    if (worst > 0) return result.firstStray = firstLeft(result.curve, worst, w.size()), result;
    if (keepsAll(result.curve, w, &result.firstStray)) return result.ok = true, result;
    descend(p, 4);  // again, with the windows it left among the samples
  }
  return result;
}

}  // namespace torsel::thin
