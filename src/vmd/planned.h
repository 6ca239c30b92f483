// The arm group's planned keyframes in a conversion (-K, -U, and -W with
// -K): the plan's options taken from the run, the records they replace,
// the bone count they change, and what the run says of them.
#pragma once

#include <cstdint>

#include "arm/bone_names.h"
#include "format/vmd_format.h"
#include "playback/plan_options.h"

namespace torsel {

/// The arm-group bone (playback/planner.h) a known bone is, or -1.
int armGroupBone(const KnownBone& known);
/// An arm-group bone's name, Shift-JIS.
const char* armGroupBoneName(int bone);

/// Pre-scan: a plan made anew for the motion (when -K or -U plans and it
/// is not only checked), the last one dropped.
void plannedStart();
/// Pre-scan: holds a keyframe of the arm group.
void plannedHold(const BoneKeyframe& kf, const KnownBone& known);
/// Once the planned sides are written: the plan dropped, its reports kept.
void plannedDrop();
/// The plan's options: the run's, and the axes of the model in use.
PlanOptions plannedOptions();
/// Plans the file held, with the run's options and the model in use; a
/// motion thinned, its sides handed over from the thinning one at a time.
void plannedPlan();
/// Keyframes the plan adds to the bone count: its bones' planned keyframes
/// less their records, and the plain conversion's for the pairs it leaves.
int32_t plannedCountDelta();
/// True for a record of a planned bone: the records of its side give way
/// to the side's planned keyframes.
bool plannedReplaces(const KnownBone& known);
/// Writes a side's planned keyframes, frame by frame (on each frame the
/// twist bones before their limbs). The number written, or -1.
int32_t writePlannedSide(int side);
/// The lines of display level 1 (keyframes added, or twist keyframes
/// folded, and the largest deviation, per chain), at every level each
/// chain beyond its bound, and the run's totals. True when every chain
/// planned plays within its bound.
bool reportPlanned();
/// A chain the run reports once planned, as reportPlanned says it, and
/// the arm-group bone it is named by; null for one it says nothing of.
const ChainReport* plannedChain(int side, int chain, int* limb);

}  // namespace torsel
