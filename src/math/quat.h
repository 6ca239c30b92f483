// Quaternion and vector arithmetic with fixed summation orders and rounding
// points: the output bytes of a conversion depend on every one of them.
// Sums of products are formed in extended precision (long double) and
// rounded once to float32 when stored; square roots take a double and are
// rounded to float32 before use.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#if TORSEL_SOFT_EXTENDED
#include "math/soft_extended.h"
#endif

namespace torsel {

/// X, Y, Z, W as in a keyframe; W is the scalar part.
struct Quat {
  float x, y, z, w;
};

struct Vec3 {
  float x, y, z;
};

#if TORSEL_SOFT_EXTENDED
using Extended = SoftExtended;
#else
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double is not the x87 format here: configure with -DTORSEL_SOFT_EXTENDED=ON");
using Extended = long double;
#endif

// A NaN from a float step comes out as x86's SSE makes it, on every
// platform (others choose other NaNs, WebAssembly any): the first NaN
// operand, quieted, else the negative default NaN of an invalid operation.
inline float quietNaN(float a) { return std::bit_cast<float>(std::bit_cast<uint32_t>(a) | 0x400000u); }
inline float nanFrom(float a, float b) {
  return a != a ? quietNaN(a) : b != b ? quietNaN(b) : std::bit_cast<float>(0xFFC00000u);
}
inline float mulF(float a, float b) {
  const float r = a * b;
  return r == r ? r : nanFrom(a, b);
}
inline float divF(float a, float b) {
  const float r = a / b;
  return r == r ? r : nanFrom(a, b);
}
inline float subF(float a, float b) {
  const float r = a - b;
  return r == r ? r : nanFrom(a, b);
}
/// sqrt of a double, rounded to float; a NaN as x86 gives it (a NaN
/// operand's top bits, quieted).
inline float sqrtF(double v) {
  if (v != v) {
    const uint64_t b = std::bit_cast<uint64_t>(v);
    return std::bit_cast<float>(static_cast<uint32_t>(b >> 63) << 31 | 0x7FC00000u | (static_cast<uint32_t>(b >> 29) & 0x3FFFFFu));
  }
  const double r = std::sqrt(v);
  return r == r ? static_cast<float>(r) : std::bit_cast<float>(0xFFC00000u);
}

inline constexpr Quat kIdentity = {0.0f, 0.0f, 0.0f, 1.0f};

/// Hamilton product p ⊗ r: r is applied first, then p.
inline Quat quatMultiply(Quat p, Quat r) {
  using E = Extended;
  return {static_cast<float>(E(p.x) * r.w + E(p.w) * r.x + E(p.y) * r.z - E(p.z) * r.y),
          static_cast<float>(E(p.y) * r.w + E(p.w) * r.y + E(p.z) * r.x - E(p.x) * r.z),
          static_cast<float>(E(p.z) * r.w + E(p.w) * r.z + E(p.x) * r.y - E(p.y) * r.x),
          static_cast<float>(E(p.w) * r.w - E(p.x) * r.x - E(p.y) * r.y - E(p.z) * r.z)};
}
/// (−X, −Y, −Z, W).
inline Quat quatConjugate(Quat p) { return {-p.x, -p.y, -p.z, p.w}; }
/// p ⊗ (v ⊗ conj(p)): the direction v (W = 0) rotated by p.
inline Quat quatRotate(Quat p, Quat v) { return quatMultiply(p, quatMultiply(v, quatConjugate(p))); }
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
inline Quat quatAxisX(Quat q) {
  using E = Extended;
  return {static_cast<float>(E(q.w) * q.w + E(q.x) * q.x - E(q.y) * q.y - E(q.z) * q.z),
          static_cast<float>((E(q.z) * q.w + E(q.x) * q.y) * 2.0),
          static_cast<float>((E(q.x) * q.z - E(q.y) * q.w) * 2.0), 0.0f};
}
inline Quat quatAxisY(Quat q) {
  using E = Extended;
  return {static_cast<float>((E(q.x) * q.y - E(q.z) * q.w) * 2.0),
          static_cast<float>(E(q.w) * q.w + E(q.y) * q.y - E(q.x) * q.x - E(q.z) * q.z),
          static_cast<float>((E(q.x) * q.w + E(q.z) * q.y) * 2.0), 0.0f};
}
inline Quat quatAxisZ(Quat q) {
  using E = Extended;
  return {static_cast<float>((E(q.y) * q.w + E(q.x) * q.z) * 2.0),
          static_cast<float>((E(q.y) * q.z - E(q.x) * q.w) * 2.0),
          static_cast<float>(E(q.w) * q.w + E(q.z) * q.z - E(q.x) * q.x - E(q.y) * q.y), 0.0f};
}

/// sqrt of an extended-precision sum, through double, rounded to float32.
inline float sqrtToFloat(Extended sum) { return sqrtF(static_cast<double>(sum)); }
/// Length of the X, Y, Z part, squares summed Y, X, Z.
template <typename V>
float vecLength(const V& v) {
  return sqrtToFloat(static_cast<Extended>(v.y) * v.y + static_cast<Extended>(v.x) * v.x +
                     static_cast<Extended>(v.z) * v.z);
}

/// v scaled to length 1 in float steps: each part divided by vecLength(v).
inline Vec3 vecUnit(const Vec3& v) {
  const float len = vecLength(v);
  return {divF(v.x, len), divF(v.y, len), divF(v.z, len)};
}

/// The rotation that turns unit direction u onto unit direction v. Parallel
/// inputs give (0,0,0,1), opposite ones (0,0,0,−1).
Quat rotationBetween(Quat u, Quat v);

/// The rotation about the unit axis n that turns the part of a across n onto
/// the direction of the part of b across n. Code −1 (identity result) when a
/// projection is shorter than 1e-6; 1 when the turning axis found strays from
/// n (|cip| < 0.9, the cosine between them in `cip`: the caller warns); else 0.
int rotationAboutAxis(Quat a, Quat b, Vec3 n, Quat* out, float* cip);

}  // namespace torsel
