#include "arm/separation.h"

#include <limits>

namespace torsel {
namespace {

constexpr double kShortLimit = 1e-6;
// splitAbout compares a float with the float nearest 1e-6, not with 1e-6.
constexpr float kShortTwist = 1e-6f;
constexpr double kAlignedLimit = 0.99;
constexpr Quat kXTarget = {1.0f, 0.0f, 0.0f, 0.0f};

// (target, axis) pairs handed to rotationAboutAxis, and the step they show.
struct Swing {
  Quat target;
  Vec3 axis;
  SplitStep step;
};
constexpr Swing kSwingY = {{1, 0, 0, 0}, {0, 1, 0}, SplitStep::SwingAboutY};
constexpr Swing kSwingZ = {{1, 0, 0, 0}, {0, 0, 1}, SplitStep::SwingAboutZ};
constexpr Swing kTwistY = {{0, 1, 0, 0}, {1, 0, 0}, SplitStep::TwistOfY};
constexpr Swing kTwistZ = {{0, 0, 1, 0}, {1, 0, 0}, SplitStep::TwistOfZ};

struct Axes {
  Quat ex, ey, ez;
};

// Where a split's steps go: `steps` (null when nobody shows them) and
// `warnings` (null when nobody asked), the same trace but for a quiet split.
struct Tracing {
  SplitTrace* steps;
  SplitTrace* warnings;
  void add(SplitStep step, const Quat& v) const {
    if (steps != nullptr) steps->add(step, v);
  }
  void addAxes(SplitStep x, const Axes& a) const {
    add(x, a.ex);
    add(static_cast<SplitStep>(static_cast<int>(x) + 1), a.ey);
    add(static_cast<SplitStep>(static_cast<int>(x) + 2), a.ez);
  }
};

// Turns all three axes by p.
void rotateAxes(Axes* a, const Quat& p) {
  a->ex = quatRotate(p, a->ex);
  a->ey = quatRotate(p, a->ey);
  a->ez = quatRotate(p, a->ez);
}

Quat swing(const Quat& from, const Swing& s, const Tracing& rec) {
  Quat result;
  float cip = 0.0f;
  if (rotationAboutAxis(from, s.target, s.axis, &result, &cip) == 1 && rec.warnings != nullptr) {
    rec.warnings->add(SplitStep::Stray, {cip, 0.0f, 0.0f, 0.0f});
  }
  rec.add(s.step, result);
  return result;
}

// Methods 3-5: the inverse of q's twist about the pair's axis, signed by the side.
Quat cancelOnAxis(const SeparationInput& in) {
  const Quat& q = in.q;
  Vec3 axis = in.r;
  const bool flip = in.side == Side::Left ? q.x < 0.0f : q.x > 0.0f;
  if (flip) axis = {-axis.x, -axis.y, -axis.z};
  axis = vecUnit(axis);
  const Quat a = {axis.x, axis.y, axis.z, 0.0f};
  const Quat align = rotationBetween(a, kXTarget);
  // q seen in the frame whose X axis is the twist axis.
  const Quat f = quatMultiply(align, quatMultiply(q, quatConjugate(align)));
  const float m = sqrtToFloat(static_cast<Extended>(f.w) * f.w + static_cast<Extended>(f.x) * f.x);
  if (m < kShortLimit) return kIdentity;
  const float x = divF(f.x, m);
  const float w = divF(f.w, m);
  return {-mulF(x, a.x), -mulF(x, a.y), -mulF(x, a.z), w};
}

// Method 2: the inverse of q's twist about local X.
Quat cancelOnX(const Quat& q) {
  const float m = sqrtToFloat(static_cast<Extended>(q.w) * q.w + static_cast<Extended>(q.x) * q.x);
  if (m < kShortLimit) return kIdentity;
  return {divF(-q.x, m), 0.0f, 0.0f, divF(q.w, m)};
}

// Methods 0 and 1: X swung home (method 0: the shortest way, in `align`),
// then the turn about X that brings Z home, the inverse of the twist.
Quat cancelBySwings(int method, Axes axes, Quat* align, const Tracing& rec) {
  if (method == 0) {
    *align = rotationBetween(axes.ex, kXTarget);
    rec.add(SplitStep::SwingHome, *align);
    rotateAxes(&axes, *align);
    rec.addAxes(SplitStep::HomeX, axes);
  } else {
    rotateAxes(&axes, swing(axes.ex, kSwingY, rec));
    rotateAxes(&axes, swing(axes.ex, kSwingZ, rec));
  }
  swing(axes.ey, kTwistY, rec);  // shown for the record; the Z axis decides
  const Quat n = swing(axes.ez, kTwistZ, rec);
  // The axes turned home serve only the lines.
  if (rec.steps != nullptr) {
    rotateAxes(&axes, n);
    if (axes.ex.x < kAlignedLimit || axes.ey.y < kAlignedLimit || axes.ez.z < kAlignedLimit) {
      rec.addAxes(SplitStep::OffX, axes);
    }
  }
  return n;
}

// The twist t found about local X (methods 0-2), carried over to the
// pair's axis.
Quat onPairAxis(const Vec3& r, const Quat& t) {
  Vec3 u = vecUnit(r);
  if (u.x < 0.0f) u = {-u.x, -u.y, -u.z};
  return {mulF(u.x, t.x), mulF(u.y, t.x), mulF(u.z, t.x), t.w};
}

}  // namespace

SeparationResult separateTwist(const SeparationInput& in, SplitTrace* trace) {
  const Quat& q = in.q;
  const int mode = in.method;
  const Tracing rec = {in.quiet ? nullptr : trace, trace};
  // The turned axes take part in methods 0 and 1; the others only show them.
  Axes axes{};
  if (rec.steps != nullptr || mode == 0 || mode == 1) axes = {quatAxisX(q), quatAxisY(q), quatAxisZ(q)};
  rec.addAxes(SplitStep::AxisX, axes);

  Quat n = kIdentity;  // the cancel rotation, inverse of the twist
  Quat align = kIdentity;
  if (mode >= 3 && mode <= 5) {
    n = cancelOnAxis(in);
    rec.add(SplitStep::CancelOnAxis, n);
  } else if (mode == 2) {
    n = cancelOnX(q);
    rec.add(SplitStep::CancelOnX, n);
  } else if (mode == 0 || mode == 1) {
    n = cancelBySwings(mode, axes, &align, rec);
  }
  const Quat t = quatConjugate(n);  // the twist
  Quat tw = mode >= 0 && mode <= 2 ? onPairAxis(in.r, t) : t;
  if (in.frameTime == in.fromFrame && in.sourceAtFrom && in.twistAtFrom) {
    tw = mode == 5 ? quatMultiply(tw, in.twistRotAtFrom) : quatMultiply(in.twistRotAtFrom, tw);
  }
  const Quat kept = mode == 0 ? quatConjugate(align) : mode == 4 ? quatMultiply(q, n) : quatMultiply(n, q);
  rec.add(SplitStep::Twist, tw);
  rec.add(SplitStep::Source, q);
  rec.add(SplitStep::Kept, kept);
  return {tw, kept};
}

void splitAbout(const Vec3& a, Quat q, Quat* twist, Quat* rest) {
  // The twist is q's part along the axis, whichever side it is taken on.
  const float along = static_cast<float>(vecDot(q, a));
  const float m = sqrtToFloat(static_cast<Extended>(q.w) * q.w + static_cast<Extended>(along) * along);
  if (!(m >= kShortTwist && m <= std::numeric_limits<float>::max())) {
    *twist = kIdentity;
    *rest = q;
    return;
  }
  float x = divF(along, m), w = divF(q.w, m);
  if (w < 0.0f) x = -x, w = -w;
  *twist = {mulF(x, a.x), mulF(x, a.y), mulF(x, a.z), w};
  *rest = quatMultiply(quatConjugate(*twist), q);
}

}  // namespace torsel
