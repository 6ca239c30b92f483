// Splitting one keyframe rotation q into a twist about the limb's own axis
// and a kept rotation, by one of six methods (the run's subMode). Nothing
// here prints: what a split meets on its way comes back in a trace, which
// the pass that writes the split prints (pass/split_lines.h).
#pragma once

#include <cstdint>

#include "math/quat.h"

namespace torsel {

enum class Side : uint8_t { Left, Right };

/// Everything a split reads, built with designated initializers. The fields
/// without a default must be named (-Wextra warns where one is left out);
/// the rest left out merge nothing.
struct SeparationInput {
  Quat q;                       // the keyframe's rotation, as read
  Vec3 r;                       // the pair's twist axis, not normalised
  Side side;
  uint32_t frameTime;
  // The start frame and what the pair's pre-scan found on it: where both
  // bones are keyed there, the twist bone's rotation is merged into the twist.
  uint32_t fromFrame = 0;
  bool sourceAtFrom = false;
  bool twistAtFrom = false;
  Quat twistRotAtFrom = kIdentity;
  int8_t method;                // the separation method, 0 to 5: the run's subMode
  bool quiet = false;           // a split weighed, not written: its trace keeps the warnings only
};

struct SeparationResult {
  Quat twist;  // Tw: rotation of the added twist keyframe
  Quat kept;   // K: replaces q in the source keyframe
};

/// A step of a split that its lines show, in the order a split meets them.
enum class SplitStep : uint8_t {
  AxisX, AxisY, AxisZ,        // q's turned axes
  CancelOnAxis,               // methods 3-5: the cancel rotation about the twist axis
  CancelOnX,                  // method 2: the cancel rotation about local X
  SwingHome,                  // method 0: the shortest swing that brings X home
  HomeX, HomeY, HomeZ,        // method 0: the axes after that swing
  SwingAboutY, SwingAboutZ,   // method 1: the swings about Y, then Z
  TwistOfY, TwistOfZ,         // methods 0 and 1: the turns about X that bring Y, then Z home
  OffX, OffY, OffZ,           // methods 0 and 1: the axes turned home, where one strays
  Stray,                      // a turning axis found off its axis: its cosine in v.x (a warning)
  Twist, Source, Kept,        // Tw, q, K
};

/// What a split met, step by step: fixed room for the most a method meets.
struct SplitTrace {
  struct Entry {
    SplitStep step;
    Quat v;
  };
  static constexpr int kCapacity = 24;
  Entry entries[kCapacity];
  int count = 0;
  void add(SplitStep step, const Quat& v) {
    if (count < kCapacity) entries[count++] = {step, v};
  }
};

/// Splits q by in.method. Never fails: degenerate input falls back to
/// fixed rotations; a method outside 0..5 yields Tw = identity and K = q.
/// With a trace, its steps (only its warnings when in.quiet) are added to it.
SeparationResult separateTwist(const SeparationInput& in, SplitTrace* trace = nullptr);

/// Splits q about the unit axis a into q = twist ⊗ rest, the twist on the
/// parent's side, the rest without a turn about the axis; a half turn
/// across it keeps q whole. In float steps, as the wrist's split writes it.
void splitAbout(const Vec3& a, Quat q, Quat* twist, Quat* rest);

}  // namespace torsel
