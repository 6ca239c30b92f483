// The check: what the thinned motion says of itself rests on nothing the
// fits found. Input and output are played at every frame where they
// differ, in both readings of the curves (precisely, and by halving as
// babylon-mmd does), and compared; a bone's stretch that strays gets its
// input keyframes back, and is played again. Chains (products of bones in
// order, such as 腕 ⊗ 腕捩) are checked the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "playback/player.h"
#include "thin/bone_thin.h"

namespace torsel::thin {

/// What a check measured: the largest deviation (degrees) and distance
/// (units) in either reading, and the frames beyond the bound.
struct Checked {
  double worst = 0, farthest = 0;
  uint32_t worstAt = 0;
  uint64_t mended = 0;  // keyframes put back
  uint64_t strayCount = 0;
  std::vector<Stray> strays;  // the first kMostStrays
};

/// Plays a bone's input (keys, by frame, one a frame) and what `fates`
/// writes of it; mends each stretch that strays beyond the bound by writing
/// the input's keyframes there as they stand, and plays it again.
Checked checkBone(const std::vector<PlayedPose>& keys, std::vector<KeyFate>* fates, const ThinOptions& o);

/// A few bones' input and output tracks (by frame, one a frame) with the
/// fixed axes of the model in use; each chain lists bones by index, in the
/// order they turn. Every frame from the first keyframe of any of a chain's
/// bones to the last is played; each chain's answer names it by its index.
struct ChainBones {
  std::vector<Track> in, out;
  std::vector<AxisRule> rules;
};
std::vector<Checked> checkChains(const ChainBones& bones, const std::vector<std::vector<int>>& chains, double bound);

}  // namespace torsel::thin
