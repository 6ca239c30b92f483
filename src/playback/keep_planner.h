// Keep the motion (-K): a player interpolates a limb and its twist bone each
// on its own, so a split that is exact at the keyframes drifts between them.
// The planner holds the keyframes of each converted pair's two bones, splits
// their composite rotation at the union of both bones' keyframe frames, and
// keys both bones again at the worst frame of any stretch that plays back
// beyond the bound, until none does. Only keyframes in the frame range are
// split; outside it the bones keep the input's own playback.
#pragma once

#include <cstdint>
#include <vector>

#include "playback/player.h"
#include "vmd/vmd_format.h"

namespace torsel {

/// Both bones of a pair keyed on one frame.
struct KeepFrame {
  HeldKey source, twist;
};

/// Forgets the keyframes held for the last file.
void keepReset();
/// Holds a keyframe of an active pair's source or twist bone, in file order.
void keepHold(int pair, bool twist, const BoneKeyframe& kf);
/// Plans every pair that has a keyframe in the frame range: within the
/// bound of -K per chain (half of it where both a side's pairs are
/// converted, so that the wrist stays within it too).
void keepPlan();
/// True when the pair's records are replaced by its planned keyframes.
bool keepPlanned(int pair);
/// The planned frames in order; write the twist before the source.
const std::vector<KeepFrame>& keepFrames(int pair);
/// Records held (replaced) and the largest deviation left, in degrees.
int32_t keepHeldCount(int pair);
double keepDeviation(int pair);

}  // namespace torsel
