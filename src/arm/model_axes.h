// The model in use: its name and, per pair, the axis a split turns the
// twist about and the fixed axes a player turns the bones on. One record,
// set by useModel alone: the built-in model's at start-up, a model the
// user names once it is read. What reads the axes asks here.
#pragma once

#include <array>

#include "arm/bone_pairs.h"
#include "arm/separation.h"
#include "math/quat.h"
#include "math/rotation.h"
#include "run/run_settings.h"

namespace torsel {

/// Rest-pose quaternions of left arm, left elbow, right arm, right elbow of
/// the model the program is set up for. Only X, Y, Z are read: the
/// direction of the bone's twist axis.
extern const std::array<Quat, kPairCount> setupRestQuats;

/// A pair's axes on the model in use.
struct PairAxes {
  Vec3 twistAxis = {};      // the axis the twist is split off about, not normalised
  bool twistFixed = false;  // the twist bone turns on that axis alone
  AxisRule source;          // the limb's own fixed axis, where it has one
  AxisRule twistRule() const { return {twistFixed, twistAxis}; }
};

struct ModelInUse {
  const char* name = nullptr;  // ready for the console; null: the built-in model's
  std::array<PairAxes, kPairCount> pairs;
};

/// The built-in model: each pair's axis the vector part of its rest
/// quaternion, its twist bone fixed on it, no limb on a fixed axis.
ModelInUse builtInModel();
/// Makes `model` the model in use.
void useModel(const ModelInUse& model);

/// The pair's axes on the model in use.
const PairAxes& pairAxes(int pair);
/// The name of the model in use, ready for the console: the built-in one's
/// in the user's language.
const char* modelInUseName();

/// The rotation a player shows for a keyframe of the pair's source or twist
/// bone on the model in use: on the bone's fixed axis, where it has one.
DQuat shownRotation(int pair, bool twist, const Quat& rot);

/// What the separation of a source keyframe of the pair is given under the
/// run's settings: its axis, side and start-frame data.
SeparationInput pairSeparationInput(int pair, uint32_t frameTime, Quat rot, const RunSettings& run);

/// splitAbout the side's forearm axis: the elbow pair's, of length 1.
void wristSplit(int side, Quat q, Quat* twist, Quat* rest);

}  // namespace torsel
