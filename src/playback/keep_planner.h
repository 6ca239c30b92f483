// Keep the motion (-K): a player interpolates a limb and its twist bone each
// on its own, so a split that is exact at the keyframes drifts between them.
// The planner holds the keyframes of each converted pair's two bones, splits
// their composite rotation at the union of both bones' keyframe frames, and
// keys both bones again at the worst frame of any stretch that plays back
// beyond the bound, until none does. Bones with a fixed axis play as MMD
// plays them: each keyframe turned onto the axis. Only keyframes in the frame range are
// split; outside it the bones keep the input's own playback.
//
// Fold the twist back (-U): the same, the other way: the source bone alone
// is keyed with the composite, and the twist keyframes in the range go.
#pragma once

#include <cstdint>
#include <vector>

#include "playback/player.h"
#include "vmd/vmd_format.h"

namespace torsel {

/// A pair's keyframes on one frame: both bones when keeping, the source
/// (or a twist keyframe left) when folding.
struct KeepFrame {
  HeldKey source, twist;
  bool hasTwist = true, hasSource = true;
};

/// The bound every planned pair plays within, in tenths of a degree: -K's,
/// or for a fold without it half a degree.
int32_t keepBound();
/// The bound planned within, in degrees: keepBound() less a margin of 1 %,
/// so that a player rounding otherwise stays within it.
double keepPlannedDegrees();
/// The rotation a player shows for a keyframe of the pair's source or twist
/// bone: turned onto the bone's fixed axis where it has one.
DQuat shownRotation(int pair, bool twist, const Quat& rot);
/// Forgets the keyframes held for the last file.
void keepReset();
/// Holds a keyframe of an active pair's source or twist bone, in file order.
void keepHold(int pair, bool twist, const BoneKeyframe& kf);
/// Plans every pair that has a keyframe in the frame range (folding: a
/// twist keyframe there): within keepBound() per chain (half of it where
/// both a side's pairs are converted, so that the wrist stays within it
/// too; under -W the share of keepShare, and the elbow pair keeps the
/// wrist's twist too), as a player shows the bones: turned onto their
/// fixed axes.
void keepPlan();
/// True when the pair's records are replaced by its planned keyframes.
bool keepPlanned(int pair);
/// The planned frames in order; write the twist before the source.
const std::vector<KeepFrame>& keepFrames(int pair);
/// Records held (replaced), twist keyframes folded, and the largest
/// deviation left, in degrees.
int32_t keepHeldCount(int pair);
int32_t keepFoldedCount(int pair);
double keepDeviation(int pair);

}  // namespace torsel
