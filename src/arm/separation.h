// Splitting one keyframe rotation q into a twist about the limb's own axis
// and a kept rotation, by one of six methods (the run's subMode).
#pragma once

#include <cstdint>

#include "math/quat.h"
#include "run/run_settings.h"

namespace torsel {

enum class Side : uint8_t { Left, Right };

/// What the pairs and the separation need to know of one bone keyframe.
struct KeyframeView {
  int32_t block;        // running block number in the file, from 1
  const char* name;     // bone name, NUL-terminated Shift-JIS
  int lastNul;          // last-NUL index of the name field
  uint32_t frameTime;
  Quat rot;
};

/// Everything a split reads, built with designated initializers. The fields
/// without a default must be named (-Wextra warns where one is left out);
/// the rest left out merge nothing and print no more than the display level.
struct SeparationInput {
  Quat q;                       // the keyframe's rotation, as read
  Vec3 r;                       // the pair's rest axis, not normalised
  Side side;
  uint32_t frameTime;
  // The start frame and what the pair's pre-scan found on it: where both
  // bones are keyed there, the twist bone's rotation is merged into the twist.
  uint32_t fromFrame = 0;
  bool sourceAtFrom = false;
  bool twistAtFrom = false;
  Quat twistRotAtFrom = kIdentity;
  const char* twistBone = "";   // named in the export line
  bool rightArm = false;        // the right-arm pair prints extra lines at frame 778
  int8_t method;                // the separation method, 0 to 5: the run's subMode
  int8_t displayLevel = 0;      // the run's: from 1 up the split's lines are printed
  bool quiet = false;           // print nothing: a split the planner weighs
};

struct SeparationResult {
  Quat twist;  // Tw: rotation of the added twist keyframe
  Quat kept;   // K: replaces q in the source keyframe
};

/// Splits q by in.method and, unless quiet, prints the diagnostic lines of
/// in.displayLevel. Never fails: degenerate input falls back to
/// fixed rotations. A method outside 0..5 yields Tw = identity and K = q.
SeparationResult separateTwist(const SeparationInput& in);

/// Splits q about the unit axis a into q = twist ⊗ rest, the twist on the
/// parent's side, the rest without a turn about the axis; a half turn
/// across it keeps q whole. In float steps, as the wrist's split writes it.
void splitAbout(const Vec3& a, Quat q, Quat* twist, Quat* rest);

/// "Block", name, frame time and rotation of a keyframe a pair or the
/// shoulder check looks at; printed at display level exactly 1.
void printKeyframeHeader(const KeyframeView& kf, int displayLevel);

/// Diagnostics of a shoulder keyframe: its header and, in the run's range,
/// its rotated axes. Changes and counts nothing.
void shoulderDiagnostics(const KeyframeView& kf, const RunSettings& run);

}  // namespace torsel
