#include "arm/separation.h"

#include <cstdio>
#include <limits>

#include "platform/platform.h"
#include "run/run_settings.h"

namespace torsel {
namespace {

constexpr double kShortLimit = 1e-6;
// splitAbout compares a float with the float nearest 1e-6, not with 1e-6.
constexpr float kShortTwist = 1e-6f;
constexpr double kAlignedLimit = 0.99;
constexpr Quat kXTarget = {1.0f, 0.0f, 0.0f, 0.0f};

// (target, axis) pairs handed to rotationAboutAxis.
struct Swing {
  Quat target;
  Vec3 axis;
  const char* line;
};
constexpr Swing kSwingY = {{1, 0, 0, 0}, {0, 1, 0}, "  ex =>Yaxis=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n"};
constexpr Swing kSwingZ = {{1, 0, 0, 0}, {0, 0, 1}, "  ex'=>Zaxis=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n"};
constexpr Swing kTwistY = {{0, 1, 0, 0}, {1, 0, 0}, "  ey'=>Xaxis=>(0,1,0) (X,Y,Z,W) = %g %g %g %g \n"};
constexpr Swing kTwistZ = {{0, 0, 1, 0}, {1, 0, 0}, "  ez'=>Xaxis=>(0,0,1) (X,Y,Z,W) = %g %g %g %g \n"};

constexpr const char* kExLine = "  ex => (X,Y,Z) = %g %g %g (%g) \n";
constexpr const char* kEyLine = "  ey => (X,Y,Z) = %g %g %g (%g) \n";
constexpr const char* kEzLine = "  ez => (X,Y,Z) = %g %g %g (%g) \n";

double d(float v) { return static_cast<double>(v); }

void printQuat(const char* format, const Quat& v) { std::printf(format, d(v.x), d(v.y), d(v.z), d(v.w)); }

struct Axes {
  Quat ex, ey, ez;
};

Axes rotatedAxes(const Quat& q) { return {quatAxisX(q), quatAxisY(q), quatAxisZ(q)}; }

void printAxes(const Axes& a) {
  std::printf("  ex (X,Y,Z) = %g %g %g \n", d(a.ex.x), d(a.ex.y), d(a.ex.z));
  std::printf("  ey (X,Y,Z) = %g %g %g \n", d(a.ey.x), d(a.ey.y), d(a.ey.z));
  std::printf("  ez (X,Y,Z) = %g %g %g \n", d(a.ez.x), d(a.ez.y), d(a.ez.z));
}

// Turns all three axes by p; `trace` prints each right after its turn.
void rotateAxes(Axes* a, const Quat& p, bool trace) {
  a->ex = quatRotate(p, a->ex);
  if (trace) printQuat(kExLine, a->ex);
  a->ey = quatRotate(p, a->ey);
  if (trace) printQuat(kEyLine, a->ey);
  a->ez = quatRotate(p, a->ez);
  if (trace) printQuat(kEzLine, a->ez);
}

Quat swing(const Quat& from, const Swing& s, bool verbose) {
  Quat result;
  rotationAboutAxis(from, s.target, s.axis, &result);
  if (verbose) printQuat(s.line, result);
  return result;
}

// v / |v| over X, Y, Z, with W = 0.
Quat normalised(Quat v) {
  float s = vecLength(v);
  return {divF(v.x, s), divF(v.y, s), divF(v.z, s), 0.0f};
}

}  // namespace

SeparationResult separateTwist(const SeparationInput& in) {
  const Quat& q = in.q;
  const int mode = in.method;
  const bool verbose = !in.quiet && in.displayLevel >= 1;

  // The turned axes take part in methods 0 and 1; the others only show them.
  Axes axes{};
  if (verbose || mode == 0 || mode == 1) axes = rotatedAxes(q);
  if (verbose) printAxes(axes);

  Quat n = kIdentity;  // the cancel rotation, inverse of the twist
  Quat t = kIdentity;  // the twist
  Quat align = kIdentity;

  if (mode >= 3 && mode <= 5) {
    Quat a = {in.r.x, in.r.y, in.r.z, 0.0f};
    bool flip = in.side == Side::Left ? q.x < 0.0f : q.x > 0.0f;
    if (flip) a = {-a.x, -a.y, -a.z, 0.0f};
    a = normalised(a);
    align = rotationBetween(a, kXTarget);
    // q seen in the frame whose X axis is the twist axis.
    Quat f = quatMultiply(align, quatMultiply(q, quatConjugate(align)));
    float m = sqrtToFloat(static_cast<Extended>(f.w) * f.w + static_cast<Extended>(f.x) * f.x);
    if (!(m < kShortLimit)) {
      float x = divF(f.x, m);
      float w = divF(f.w, m);
      n = {-mulF(x, a.x), -mulF(x, a.y), -mulF(x, a.z), w};
    }
    t = quatConjugate(n);
    if (verbose) printQuat("  (vecn)=> (X,Y,Z,W) = %g %g %g %g \n", n);
  } else if (mode == 2) {
    float m = sqrtToFloat(static_cast<Extended>(q.w) * q.w + static_cast<Extended>(q.x) * q.x);
    if (!(m < kShortLimit)) n = {divF(-q.x, m), 0.0f, 0.0f, divF(q.w, m)};
    t = quatConjugate(n);
    if (verbose) printQuat("  (xc)=> (X,Y,Z,W) = %g %g %g %g \n", n);
  } else if (mode == 0 || mode == 1) {
    if (mode == 0) {
      align = rotationBetween(axes.ex, kXTarget);
      if (verbose) printQuat("  ex=>(min)=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n", align);
      rotateAxes(&axes, align, !in.quiet && in.rightArm && in.frameTime == 778);
    } else {
      rotateAxes(&axes, swing(axes.ex, kSwingY, verbose), false);
      rotateAxes(&axes, swing(axes.ex, kSwingZ, verbose), false);
    }
    swing(axes.ey, kTwistY, verbose);  // printed for the record; the Z axis decides
    n = swing(axes.ez, kTwistZ, verbose);
    t = quatConjugate(n);
    // The axes turned home serve only the check lines.
    if (verbose) {
      rotateAxes(&axes, n, false);
      if (axes.ex.x < kAlignedLimit || axes.ey.y < kAlignedLimit || axes.ez.z < kAlignedLimit) {
        printQuat(kExLine, axes.ex);
        printQuat(kEyLine, axes.ey);
        printQuat(kEzLine, axes.ez);
      }
    }
  }

  Quat tw = t;
  if (mode >= 0 && mode <= 2) {
    // The twist found about the local X axis, carried over to the rest axis.
    Quat u = normalised({in.r.x, in.r.y, in.r.z, 0.0f});
    if (u.x < 0.0f) u = {-u.x, -u.y, -u.z, 0.0f};
    tw = {mulF(u.x, t.x), mulF(u.y, t.x), mulF(u.z, t.x), t.w};
  }

  if (in.frameTime == in.fromFrame && in.sourceAtFrom && in.twistAtFrom) {
    tw = mode == 5 ? quatMultiply(tw, in.twistRotAtFrom) : quatMultiply(in.twistRotAtFrom, tw);
  }
  if (verbose) {
    std::printf("  => exporting to %s x-rot (X,Y,Z,W) = %g %g %g %g \n", plat::conText(in.twistBone), d(tw.x),
                d(tw.y), d(tw.z), d(tw.w));
  }

  Quat kept;
  if (mode == 0) {
    kept = quatConjugate(align);
  } else if (mode == 4) {
    kept = quatMultiply(q, n);
  } else {
    kept = quatMultiply(n, q);
  }
  if (verbose) {
    printQuat("  org (X,Y,Z,W) = %g %g %g %g \n", q);
    printQuat("  cnv (X,Y,Z,W) = %g %g %g %g \n", kept);
  }
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

void printKeyframeHeader(const KeyframeView& kf, int displayLevel) {
  if (displayLevel != 1) return;
  std::printf("Block %ld \n", static_cast<long>(kf.block));
  if (kf.lastNul >= 1) std::printf("  bone name = %s \n", plat::conText(kf.name));
  std::printf("  frame time = %ld \n", static_cast<long>(static_cast<int32_t>(kf.frameTime)));
  printQuat("  rot (X,Y,Z,W) = %g %g %g %g \n", kf.rot);
}

void shoulderDiagnostics(const KeyframeView& kf, const RunSettings& run) {
  printKeyframeHeader(kf, run.displayLevel);
  if (inFrameRange(kf.frameTime, run) && run.displayLevel >= 1) printAxes(rotatedAxes(kf.rot));
}

}  // namespace torsel
