// Quaternion and vector arithmetic with fixed summation orders and rounding
// points: the output bytes of a conversion depend on every one of them.
// Sums of products are formed in extended precision (long double) and
// rounded once to float32 when stored; square roots take a double and are
// rounded to float32 before use.
#pragma once

namespace torsel {

/// X, Y, Z, W as in a keyframe; W is the scalar part.
struct Quat {
  float x, y, z, w;
};

struct Vec3 {
  float x, y, z;
};

using Extended = long double;

inline constexpr Quat kIdentity = {0.0f, 0.0f, 0.0f, 1.0f};

/// Hamilton product p ⊗ r: r is applied first, then p.
Quat quatMultiply(Quat p, Quat r);
/// (−X, −Y, −Z, W).
Quat quatConjugate(Quat p);
/// p ⊗ (v ⊗ conj(p)): the direction v (W = 0) rotated by p.
Quat quatRotate(Quat p, Quat v);
/// u × v with W = 0.
template <typename U, typename V>
Quat vecCross(const U& u, const V& v) {
  return {static_cast<float>(static_cast<Extended>(u.y) * v.z - static_cast<Extended>(u.z) * v.y),
          static_cast<float>(static_cast<Extended>(u.z) * v.x - static_cast<Extended>(u.x) * v.z),
          static_cast<float>(static_cast<Extended>(u.x) * v.y - static_cast<Extended>(u.y) * v.x), 0.0f};
}
/// u · v in extended precision, summed Y, X, Z; callers round it.
template <typename U, typename V>
Extended vecDot(const U& u, const V& v) {
  return static_cast<Extended>(u.y) * v.y + static_cast<Extended>(u.x) * v.x + static_cast<Extended>(u.z) * v.z;
}
/// The X, Y and Z axes turned by q (W = 0); length |q|² for non-unit q.
Quat quatAxisX(Quat q);
Quat quatAxisY(Quat q);
Quat quatAxisZ(Quat q);

/// sqrt of an extended-precision sum, through double, rounded to float32.
float sqrtToFloat(Extended sum);
/// Length of the X, Y, Z part, squares summed Y, X, Z.
template <typename V>
float vecLength(const V& v) {
  return sqrtToFloat(static_cast<Extended>(v.y) * v.y + static_cast<Extended>(v.x) * v.x +
                     static_cast<Extended>(v.z) * v.z);
}

/// The rotation that turns unit direction u onto unit direction v. Parallel
/// inputs give (0,0,0,1), opposite ones (0,0,0,−1).
Quat rotationBetween(Quat u, Quat v);

/// The rotation about the unit axis n that turns the part of a across n onto
/// the direction of the part of b across n. Code −1 (identity result) when a
/// projection is shorter than 1e-6; 1 when the turning axis found strays from
/// n (a warning line is printed); else 0.
int rotationAboutAxis(Quat a, Quat b, Vec3 n, Quat* out);

}  // namespace torsel
