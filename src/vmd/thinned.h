// A motion thinned (-S): every bone record held at the pre-scan, every bone
// thinned within the bound of what it played; the arm group's keyframes, as
// held and as thinned, handed to the plan, which writes its chains; the
// other bones' records written as the thinning says; and what the run says
// of it.
#pragma once

#include <cstdint>

#include "arm/bone_names.h"
#include "format/vmd_format.h"
#include "thin/thinner.h"

namespace torsel {

class Planner;

/// Pre-scan: a thinning made anew for the motion (when -S thins and it is
/// not only checked), the last one dropped.
void thinnedStart();
/// Pre-scan: holds a bone record, the known bone it is.
void thinnedHold(const BoneKeyframe& kf, const KnownBone& known);
/// Thins every bone held, on the fixed axes of the model in use.
void thinnedRun();
/// The arm group's records of a side held.
uint64_t thinnedArmKeys(int side);
/// Hands a side's arm group to the plan: each bone's records as held and as
/// thinned; the thinning lets go of its own.
void thinnedHandOver(int side, Planner* planner);
/// Once planned: a bone the plan took but does not write is written as it
/// stands (a chain the plan judged played it so).
void thinnedSettle();
/// What the thinning takes from the bone count: the records it leaves out
/// of the bones the plan does not write.
int32_t thinnedCountDelta();
/// A record of a bone the plan does not write, in file order: whether it is
/// written, and with which curves.
thin::Thinner::Written thinnedNext(const BoneKeyframe& kf);
/// Once the bone records are written (`written` of them): what the thinning
/// found kept, the thinning dropped.
void thinnedDrop(int32_t written);
/// The lines of display level 1 (keyframes in and out, the largest
/// deviation and distance), at every level the keyframes kept as they stand
/// and each bone beyond the bound, and the run's totals. True when every
/// bone thinned plays within the bound.
bool reportThinned();

/// What the thinning of the file converted last said.
struct ThinSaid {
  int64_t in = 0, out = 0;  // bone records read and written
  double worst = 0;         // degrees, of any bone the thinning wrote
  double farthest = 0;      // units
  uint64_t odd = 0;         // records kept as they stand
  uint64_t beyond = 0;      // frames beyond the bound
};
/// Null unless the file was thinned.
const ThinSaid* thinnedSaid();

}  // namespace torsel
