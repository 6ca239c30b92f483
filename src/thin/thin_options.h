// What thinning a motion is asked and what it answers.
#pragma once

#include <cstdint>
#include <vector>

#include "math/rotation.h"

namespace torsel::thin {

/// The distance that goes with a bound of `degrees`, in MMD's units (one
/// is about 8 cm on a standard model): how far the tip of a bone one unit
/// long, about a hand, moves when the bone turns by the bound.
inline constexpr double distanceFor(double degrees) { return degrees / kDegrees; }

struct ThinOptions {
  double bound = 0.5;                  // degrees: each bone's rotation as played, at every frame
  double distance = distanceFor(0.5);  // units: each bone's position as played, at every frame
  uint32_t from = 0, to = UINT32_MAX;  // keyframes outside stay as they are, and so does the motion there
};

/// A frame that still plays beyond the bound once mended.
struct Stray {
  uint32_t bone = 0;  // the bone's id (Thinner::boneId), or the chain's index
  uint32_t frame = 0;
  double degrees = 0;   // the rotation's deviation there, in the reading that strays more
  double distance = 0;  // the position's, in units
};

/// The most strays a report lists; `strayCount` counts them all.
inline constexpr size_t kMostStrays = 256;

struct ThinReport {
  uint32_t bones = 0;         // bones held
  uint64_t held = 0;          // keyframes held
  uint64_t written = 0;       // keyframes written
  uint64_t shadowed = 0;      // not written: another keyframe of the bone on its frame came later in the file
  uint64_t odd = 0;           // kept as they stand, with their neighbours: a rotation or position that is no
                              // number or a rotation not of length 1
  uint64_t unworked = 0;      // kept because the work allowed for their bone ran out
  uint64_t mended = 0;        // put back by the check
  double worst = 0;           // the largest deviation of any bone at any frame, degrees, in either reading
  double farthest = 0;        // the largest distance, units
  uint64_t strayCount = 0;    // frames beyond the bound once mended (none where the check could mend)
  std::vector<Stray> strays;  // the first kMostStrays of them
};

}  // namespace torsel::thin
