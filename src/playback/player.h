// How a player shows a motion between its keyframes: per bone, keyframes by
// frame (of several on one frame the last in the file wins), the first held
// before it and the last after it, and between two keyframes the shortest
// slerp of their rotations at the progress that the later keyframe's
// rotation curve gives. Computed in double: these figures judge, they are
// never written. Used by the keep-the-motion planner.
#pragma once

#include <cstdint>
#include <vector>

#include "twist/quat.h"

namespace torsel {

/// A keyframe of an arm-group bone held in memory (56 bytes): its block
/// packed to the parameters and the bytes a rebuilt block keeps.
struct HeldKey {
  uint32_t frame;
  Vec3 pos;
  Quat rot;
  uint8_t params[16];  // canonical order: Xax Yax Zax Rax Xay ... Rby
  uint8_t kept[8];     // block bytes 2, 3, 31, 46, 47, 61, 62, 63
};
static_assert(sizeof(HeldKey) <= 64);

/// The rotation curve: control points (x1, y1), (x2, y2), each 0 to 127.
struct Curve {
  uint8_t x1, y1, x2, y2;
};
inline constexpr Curve kLinearCurve = {20, 20, 107, 107};

Curve rotationCurve(const HeldKey& k);
void setRotationCurve(HeldKey* k, Curve c);
/// Packs a 64-byte block into a key, and unpacks it in canonical form.
void packBlock(const uint8_t* bz, HeldKey* k);
void unpackBlock(const HeldKey& k, uint8_t* bz);

struct DQuat {
  double x, y, z, w;
};
DQuat toDouble(const Quat& q);
/// Rounded to float; a NaN becomes the quiet NaN 0x7FC00000.
Quat toFloat(const DQuat& q);
DQuat multiply(const DQuat& p, const DQuat& r);
/// The angle in degrees of the turn from a to b, sign and scale aside.
double angleBetween(const DQuat& a, const DQuat& b);
/// The shortest slerp from a to b, set up once for many points along it.
struct Arc {
  DQuat a, b;
  double theta = 0, invSine = 0;  // half the turn, in radians; 1 over its sine
  bool linear = true;          // so short a turn that a blend serves
};
Arc makeArc(DQuat a, DQuat b);
DQuat arcAt(const Arc& arc, double s);
/// The whole turn of an arc, in degrees.
double arcDegrees(const Arc& arc);
/// The shortest slerp from a to b at s (0 gives a).
DQuat slerp(DQuat a, DQuat b, double s);
/// q scaled to length 1.
DQuat unit(const DQuat& q);
/// The rotation a player shows for the keyframe rotation q of a bone whose
/// fixed axis is `axis`: q's own angle about the axis, its sign by the side
/// of the axis q's own axis points to; a rotation without an axis gives the
/// identity.
DQuat ontoAxis(const DQuat& q, const Vec3& axis);

/// The angle in degrees between what the input shows (in) and the output
/// (out); where the input shows a rotation and the output none (a NaN),
/// the farthest there is, 180.
double deviationOf(const DQuat& in, const DQuat& out);

/// The progress y at time x (0 to 1) on the curve from (0,0) to (1,1).
double curveProgress(Curve c, double x);
/// The part of the curve between times xa < xb, scaled to the unit square
/// and rounded to whole parameters.
Curve cutCurve(Curve c, double xa, double xb);

/// A bone's keyframes sorted by frame, one a frame (the last in the file).
using Track = std::vector<HeldKey>;
/// Sorts keyframes given in file order into a track.
void makeTrack(Track* keys);
/// The keyframe whose stretch a new one at `frame` cuts (its other channels
/// and kept bytes go on); linear curves for a bone without keyframes.
HeldKey keyToCut(const Track& t, uint32_t frame);
/// Index of the first keyframe after `frame` (keys.size() when none).
size_t keyAfter(const Track& t, uint32_t frame);
/// The rotation shown at `frame`; the identity for a bone without keyframes.
DQuat rotationAt(const Track& t, uint32_t frame);
/// A track's rotation from one keyframe to the next (or held before the
/// first and after the last): what it shows at every frame from f0 to f1.
struct Segment {
  uint32_t f0 = 0, f1 = 0;
  Curve curve = kLinearCurve;
  Arc arc;
  bool moving = false;
};
/// The segment that holds `frame` (f0 <= frame < f1 where it moves).
Segment segmentAt(const Track& t, uint32_t frame);
/// The rotation a segment shows at `frame`, and its progress y along the
/// arc: the rotation turns by the arc's degrees times the change of y, so
/// this bounds how far it turns between two frames.
struct Shown {
  DQuat rot;
  double y;
};
Shown showAt(const Segment& s, uint32_t frame);
/// The position shown at `frame`: each channel along its own curve.
Vec3 positionAt(const Track& t, uint32_t frame);

}  // namespace torsel
