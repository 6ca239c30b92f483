// A pair's keyframe in a pass, over a motion or a pose: a source keyframe
// converted (split, counted, its lines printed), a twist bone's kept or
// dropped, a shoulder's diagnosed; the pass's counts, and the lines that
// verify them against the pre-scan's.
#pragma once

#include <cstdint>

#include "arm/separation.h"
#include "run/run_settings.h"

namespace torsel {

/// What the pass needs to know of one bone keyframe it hands a pair.
struct KeyframeView {
  int32_t block;        // running block number in the file, from 1
  const char* name;     // bone name, NUL-terminated Shift-JIS
  int lastNul;          // last-NUL index of the name field
  uint32_t frameTime;
  Quat rot;
};

enum class PairAction { Ordinary, Convert, Drop };

/// For a source keyframe: Ordinary out of the run's range; otherwise
/// Convert, with the twist rotation and the kept rotation in `result` (the
/// run's method, its start frame's merge), its lines printed by the run's
/// display level, and the pair's count up.
PairAction convertSourceKeyframe(int pair, const KeyframeView& kf, const RunSettings& run, SeparationResult* result);

/// For a twist keyframe: Drop when it was merged into the inserted one at
/// fromFrame; otherwise Ordinary (with a warning when in range).
PairAction filterTwistKeyframe(int pair, const KeyframeView& kf, const RunSettings& run);

/// Diagnostics of a shoulder keyframe: its header and, in the run's range,
/// its rotated axes. Changes and counts nothing.
void shoulderDiagnostics(const KeyframeView& kf, const RunSettings& run);

/// Zeroes the conversion counts at the start of a pass.
void resetPairCounts();
/// Counts `count` source keyframes of the pair as converted at once (a plan's).
void setPairCount(int pair, int32_t count);
/// The pair's source keyframes converted in the current file's pass, and
/// its twist keyframes in range the file held already.
int32_t pairConverted(int pair);
int32_t pairStrays(int pair);

/// The verification lines (display level 1 and up) and the addition of the
/// file's counts to the run totals.
void reportPairCounts(const RunSettings& run);

}  // namespace torsel
