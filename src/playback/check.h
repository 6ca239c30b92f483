// The plan's verdict, made true: every chain the plan answers for is played
// with the input and the output at every frame of its span, and where a
// frame strays beyond the chain's share of the bound, the chain's bones are
// keyed there with what makes the chain exact and it is played again. Where
// a side's spans hold more frames than the check plays, the longest
// stretches are proven by the judge instead (judge.h).
#pragma once

#include <cstdint>

#include "playback/planner.h"

namespace torsel {

/// The most frames the check plays on one side, all its chains together.
inline constexpr uint64_t kMostCheckedFrames = uint64_t(1) << 18;

/// Checks the chains of `side` the plan answers for (reports[c].planned),
/// keys where they stray (with `mend`), and sets each report's worst, its
/// frame and whether it is beyond.
void checkSide(const PlanOptions& o, int side, bool mend, ChainReport* reports);

}  // namespace torsel
