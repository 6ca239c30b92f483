// The lines a split shows: its steps from display level 1 up, its warnings
// at every level, and the shoulders' turned axes.
#pragma once

#include "arm/separation.h"

namespace torsel {

/// Which of a split's lines are shown, and the twist bone they name.
struct SplitLines {
  bool steps = false;             // display level 1 and up
  bool homeAxes = false;          // the axes swung home, at any level: the right arm's at frame 778
  const char* twistBone = "";     // Shift-JIS, named in the twist's line
};

/// Prints what `trace` holds of a split, as `how` says; warnings always.
void printSplit(const SplitTrace& trace, const SplitLines& how);

/// The three lines of q's turned axes (ex, ey, ez).
void printTurnedAxes(const Quat& q);

}  // namespace torsel
