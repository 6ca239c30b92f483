// Rotations in double, as a player computes them: products, angles, the
// twist and swing about an axis, a fixed axis's rule and the slerp. Every
// platform computes the same bits (no library sin or atan: their series in
// plain arithmetic), so every platform plans the same keyframes; the float
// arithmetic that writes bytes is in math/quat.h.
#pragma once

#include <numbers>

#include "math/quat.h"

namespace torsel {

/// Degrees per radian.
inline constexpr double kDegrees = 180 / std::numbers::pi;

/// sin by its series: to 1e-16 up to pi/2 (within 1e-10 up to 3).
double sinSmall(double a);
/// The angle, 0 to pi/2, whose sine and cosine are in the ratio s : c (both
/// at least 0); a NaN passes on.
double angleOf(double s, double c);

/// A rotation in double: what a player computes, never written as it stands.
struct DQuat {
  double x, y, z, w;
};
inline constexpr DQuat kIdentityD = {0, 0, 0, 1};
inline DQuat toDouble(const Quat& q) { return {q.x, q.y, q.z, q.w}; }
/// Rounded to float; a NaN becomes the quiet NaN 0x7FC00000.
Quat toFloat(const DQuat& q);
/// The Hamilton product (inline: the planner forms products by the million).
inline DQuat multiply(const DQuat& p, const DQuat& r) {
  return {p.x * r.w + p.w * r.x + p.y * r.z - p.z * r.y, p.y * r.w + p.w * r.y + p.z * r.x - p.x * r.z,
          p.z * r.w + p.w * r.z + p.x * r.y - p.y * r.x, p.w * r.w - p.x * r.x - p.y * r.y - p.z * r.z};
}
inline DQuat conjugate(const DQuat& q) { return {-q.x, -q.y, -q.z, q.w}; }
/// The angle in degrees of the turn from a to b, sign and scale aside.
double angleBetween(const DQuat& a, const DQuat& b);
/// q scaled to length 1; a zero q stays zero.
DQuat unit(const DQuat& q);
/// A keyframe's rotation as the players take it: scaled to length 1; one
/// that is no rotation (all zeros, or a part that is no finite number) is
/// the identity, as the field's readers take the all-zero one.
DQuat asRotation(const Quat& q);

/// A bone's fixed axis, where the model in use gives it one.
struct AxisRule {
  bool fixed = false;
  Vec3 axis = {};
};
/// The rotation a player shows for the keyframe rotation q: on a fixed axis,
/// q's own angle about the axis, its sign by the side of the axis q's own
/// axis points to (a rotation without an axis gives the identity).
DQuat played(const AxisRule& rule, const Quat& q);

/// The twist of q about the unit axis a (its part along a, scaled to length
/// 1, W not negative); the identity where q has no such part.
DQuat twistAbout(const DQuat& q, const Vec3& a);
/// The angle in degrees from r to the nearest twist about the unit axis a:
/// what no turn about a can mend.
double swingOff(const DQuat& r, const Vec3& a);

/// The angle in degrees between what the input shows (in) and the output
/// (out); a NaN counts as the farthest there is, 180.
double deviationOf(const DQuat& in, const DQuat& out);

/// The shortest slerp from a to b, set up once for many points along it.
struct Arc {
  DQuat a, b;
  double theta = 0, invSine = 0;  // half the turn, in radians; 1 over its sine
  bool linear = true;             // so short a turn that a blend serves
  bool flipped = false;           // b turned to its other sign, the shorter way
};
Arc makeArc(DQuat a, DQuat b);
/// makeArc but for 1 over its sine (0): what a track keeps of an arc.
Arc arcTurn(DQuat a, DQuat b);
/// The arc makeArc makes of two rotations, from its ends (of length 1, b on
/// a's side) and its half turn: what a track keeps of it, made whole again.
Arc arcOf(const DQuat& a, const DQuat& b, double theta, bool linear);
/// The point at progress s (0 gives a, 1 gives b; beyond, further along).
DQuat arcAt(const Arc& arc, double s);
/// The whole turn of an arc, in degrees.
double arcDegrees(const Arc& arc);
/// The shortest slerp from a to b at s.
DQuat slerp(DQuat a, DQuat b, double s);

}  // namespace torsel
