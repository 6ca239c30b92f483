#include "math/rotation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace torsel {
namespace {

// sin and atan by their series, in plain arithmetic, so that every platform
// computes the same bits and so plans the same keyframes (a library's sin
// may differ in its last digit). The coefficients are exact at compile time:
// products, not divisions, in the loops the planner runs most.
constexpr auto kSinTerms = [] {
  std::array<double, 11> c{};  // x^(2n+1) / (2n+1)!, with its sign
  double term = 1;
  for (int n = 0; n < 11; n++) {
    c[n] = term;
    term /= -double((2 * n + 2) * (2 * n + 3));
  }
  return c;
}();
constexpr auto kAtanTerms = [] {
  std::array<double, 12> c{};
  for (int n = 0; n < 12; n++) c[n] = 1.0 / (2 * n + 1);
  return c;
}();

double atanSmall(double x) {  // 0 <= x <= 1
  int halvings = 0;
  for (; x > 0.1; halvings++) x = x / (1 + std::sqrt(1 + x * x));
  const double x2 = x * x;
  double sum = x, power = x;
  for (int n = 1; n < 12; n++) {
    power *= -x2;
    sum += power * kAtanTerms[n];
  }
  return sum * (1 << halvings);
}

}  // namespace

// To 1e-16 up to pi/2, and within 1e-10 up to 3 (an overshooting curve's
// far end): the terms to the 21st power, by Horner's rule.
double sinSmall(double a) {
  const double a2 = a * a;
  double sum = kSinTerms[10];
  for (int n = 9; n >= 0; n--) sum = sum * a2 + kSinTerms[static_cast<size_t>(n)];
  return sum * a;
}

double angleOf(double s, double c) {
  if (!(s > 0)) return s == 0 ? 0 : s;  // no turn, or a NaN passed on
  return s <= c ? atanSmall(s / c) : std::numbers::pi / 2 - atanSmall(c / s);
}

Quat toFloat(const DQuat& q) {
  // Which NaN an operation passes on depends on its operands' order, which
  // the compiler may change: every NaN written is the one quiet NaN.
  auto f = [](double v) { return v == v ? static_cast<float>(v) : std::bit_cast<float>(0x7FC00000u); };
  return {f(q.x), f(q.y), f(q.z), f(q.w)};
}

double angleBetween(const DQuat& a, const DQuat& b) {
  const DQuat d = multiply(conjugate(a), b);
  return 2 * angleOf(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), std::fabs(d.w)) * kDegrees;
}

DQuat unit(const DQuat& q) {
  const double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(n > 0)) return q;
  const double r = 1 / n;
  return {q.x * r, q.y * r, q.z * r, q.w * r};
}

DQuat asRotation(const Quat& q) {
  // Components come from floats: their squares never overflow a double.
  const DQuat d = toDouble(q);
  const double n2 = d.x * d.x + d.y * d.y + d.z * d.z + d.w * d.w;
  if (!(n2 > 0) || !std::isfinite(n2)) return kIdentityD;
  return unit(d);
}

DQuat played(const AxisRule& rule, const Quat& q) {
  const DQuat u = asRotation(q);
  if (!rule.fixed) return u;
  const double v = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
  const double ax = rule.axis.x, ay = rule.axis.y, az = rule.axis.z, a = std::sqrt(ax * ax + ay * ay + az * az);
  if (!(v > 0) || !(a > 0)) return kIdentityD;
  const double k = (u.x * ax + u.y * ay + u.z * az < 0 ? -v : v) / a;
  return {ax * k, ay * k, az * k, u.w};
}

DQuat twistAbout(const DQuat& q, const Vec3& a) {
  const double along = q.x * a.x + q.y * a.y + q.z * a.z, m = std::sqrt(along * along + q.w * q.w);
  if (!(m > 1e-12)) return kIdentityD;
  const double s = q.w < 0 ? -1 / m : 1 / m;
  return {a.x * along * s, a.y * along * s, a.z * along * s, q.w * s};
}

double swingOff(const DQuat& r, const Vec3& a) {
  const double along = r.x * a.x + r.y * a.y + r.z * a.z;
  const double perp2 = r.x * r.x + r.y * r.y + r.z * r.z - along * along;
  return 2 * angleOf(std::sqrt(std::max(perp2, 0.0)), std::sqrt(along * along + r.w * r.w)) * kDegrees;
}

double deviationOf(const DQuat& in, const DQuat& out) {
  const double d = angleBetween(in, out);
  return d == d ? d : 180;
}

Arc arcTurn(DQuat a, DQuat b) {
  Arc arc;
  arc.a = unit(a);
  arc.b = unit(b);
  double dot = arc.a.x * arc.b.x + arc.a.y * arc.b.y + arc.a.z * arc.b.z + arc.a.w * arc.b.w;
  if (dot < 0) {
    arc.b = {-arc.b.x, -arc.b.y, -arc.b.z, -arc.b.w};
    arc.flipped = true;
    dot = -dot;
  }
  // A rotation's dot with itself may round above 1: its sine is then 0, not a NaN.
  dot = std::min(dot, 1.0);
  arc.theta = angleOf(std::sqrt((1 - dot) * (1 + dot)), dot);
  arc.linear = !(dot < 0.9995);
  return arc;
}

Arc makeArc(DQuat a, DQuat b) {
  Arc arc = arcTurn(a, b);
  if (!arc.linear) arc.invSine = 1 / sinSmall(arc.theta);
  return arc;
}

Arc arcOf(const DQuat& a, const DQuat& b, double theta, bool linear) {
  Arc arc = {.a = a, .b = b, .theta = theta, .linear = linear};
  if (!linear) arc.invSine = 1 / sinSmall(theta);
  return arc;
}

DQuat arcAt(const Arc& arc, double s) {
  double wa = 1 - s, wb = s;
  if (!arc.linear) {
    wa = sinSmall(wa * arc.theta) * arc.invSine;
    wb = sinSmall(wb * arc.theta) * arc.invSine;
  }
  const DQuat &a = arc.a, &b = arc.b;
  const DQuat q = {wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w};
  return arc.linear ? unit(q) : q;  // a slerp stays of length 1; a blend does not
}

double arcDegrees(const Arc& arc) { return 2 * arc.theta * kDegrees; }

DQuat slerp(DQuat a, DQuat b, double s) { return arcAt(makeArc(a, b), s); }

}  // namespace torsel
