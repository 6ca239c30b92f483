#include "math/quat.h"

#include <cmath>

namespace torsel {
namespace {

using E = Extended;

constexpr double kShortLimit = 1e-6;
constexpr double kCipLimit = 0.9;

float toFloat(E v) { return static_cast<float>(v); }

// (1 − d)/2 and (1 + d)/2 under the square root: the half-angle sine and
// cosine from a cosine d.
float halfSine(float d) { return d != d ? quietNaN(d) : sqrtF((1.0 - d) * 0.5); }
float halfCosine(float d) { return d != d ? quietNaN(d) : sqrtF((d + 1.0) * 0.5); }

}  // namespace

Quat rotationBetween(Quat u, Quat v) {
  Quat e = vecCross(u, v);
  float s = vecLength(e);
  float d = toFloat(vecDot(u, v));
  if (s < kShortLimit) return d < 0.0f ? Quat{0.0f, 0.0f, 0.0f, -1.0f} : kIdentity;
  e = {divF(e.x, s), divF(e.y, s), divF(e.z, s), e.w};
  float h = halfSine(d);
  float k = halfCosine(d);
  return {mulF(e.x, h), mulF(e.y, h), mulF(e.z, h), k};
}

int rotationAboutAxis(Quat a, Quat b, Vec3 n, Quat* out, float* cip) {
  // The parts of a and b across n, as unit directions.
  Quat ends[2] = {a, b};
  for (Quat& p : ends) {
    float along = toFloat(vecDot(p, n));
    p = {toFloat(E(p.x) - E(along) * n.x), toFloat(E(p.y) - E(along) * n.y), toFloat(E(p.z) - E(along) * n.z),
         p.w};
    float len = vecLength(p);
    if (len < kShortLimit) {
      *out = kIdentity;
      return -1;
    }
    p = {divF(p.x, len), divF(p.y, len), divF(p.z, len), p.w};
  }
  const Quat& pa = ends[0];
  const Quat& pb = ends[1];

  Quat e = vecCross(pa, pb);
  float s = vecLength(e);
  float d = toFloat(vecDot(pa, pb));
  if (s < kShortLimit) {
    *out = d < 0.0f ? Quat{0.0f, 0.0f, 0.0f, -1.0f} : kIdentity;
    return 0;
  }
  e = {divF(e.x, s), divF(e.y, s), divF(e.z, s), e.w};
  *cip = toFloat(vecDot(e, n));
  const int code = std::fabs(*cip) < kCipLimit ? 1 : 0;
  float h = halfSine(d);
  float k = halfCosine(d);
  if (*cip < 0.0f) h = -h;
  *out = {mulF(n.x, h), mulF(n.y, h), mulF(n.z, h), k};
  return code;
}

}  // namespace torsel
