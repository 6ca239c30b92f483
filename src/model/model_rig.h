// The rig check: what of the arm group a model cannot play as intended,
// judged from what its reader found, and said to the user before any
// motion is converted. It refuses nothing: a warning is a warning.
#pragma once

#include <cstdint>

#include "model/model_file.h"

namespace torsel {

/// A fixed axis further than this off its limb's direction turns the next
/// joint out of line with every twist: at 3 degrees a half turn swings the
/// forearm 6 degrees, where a hand starts to show it. Rigs made with bone
/// directions snapped lie within hundredths of a degree.
inline constexpr double kRigAxisToleranceDeg = 3.0;
/// A twist bone further than this share of its limb's length from the line
/// between the limb and the next joint (about 3 degrees seen from the limb)
/// turns that joint off its place.
inline constexpr double kRigPlaceTolerance = 0.05;

enum class RigFault : uint8_t { MissingTwist, AxisOff, TwistOffLimb, NextOffTwist, OutOfPlace, HelperAdrift };

struct RigFinding {
  RigFault fault;
  int8_t pair;    // for a helper, the pair it is named for
  int8_t helper;  // its index in ModelAxes::helpers, or -1
  double angle;   // AxisOff: the degrees off
};

inline constexpr int kMaxRigFindings = 4 * kPairCount + kMaxRigHelpers;

struct RigReport {
  RigFinding findings[kMaxRigFindings];
  int count;
  double axisAngle[kPairCount];  // each twist bone's fixed axis off its limb in degrees; -1: not judged
};

/// Judges the arm group of `m`. A fold (-U) writes no twist bone: one
/// missing is no fault then.
void judgeRig(const ModelAxes& m, bool fold, RigReport* out);

/// Prints every fault as a warning in the user's language; with `listing`
/// (-C, -D1) also each helper's append and its ratio; with `alone` (-C with
/// a model and no motion) also each twist bone's axis and the count.
void reportRig(const ModelAxes& m, bool fold, bool listing, bool alone);

}  // namespace torsel
