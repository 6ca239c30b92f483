// The settings of one run and its totals: process-wide, fixed before the
// first file. They live in the lowest layer that reads them.
#pragma once

#include <cstdint>

namespace torsel {

struct RunSettings {
  int8_t convMode = 12;        // -M, low 8 bits
  /// The separation method, 0 to 5: convMode with bit value 8 cleared.
  int8_t subMode = 4;
  /// 8 when the elbows are converted too, their twist keyed on the hand
  /// twist bones 手捩 (convMode 8 and up with bit value 8); else 0.
  uint8_t handTwist = 8;
  int32_t fromFrame = 0;       // -F
  int32_t toFrame = 9999999;   // -T
  // Console detail, in bands: 1 adds the per-pair lines and the headers of
  // converted, twist and shoulder keyframes; 2-9 list every record
  // (positions from 3); 10 and up keep the level-1 lines only.
  int8_t displayLevel = 0;     // -D, low 8 bits
  uint8_t checkMode = 0;       // -C: 0xFF to validate and list only
  int32_t refPosture = 0;      // -R, reported only
  uint8_t noDialog = 0;        // -ND: 0xFF to print the summary, not show a box
  int32_t keepMotion = 0;      // -K: the playback bound in tenths of a degree; 0 or less: off
  int32_t thinMotion = 0;      // -S: every bone's keyframes thinned within tenths of a degree; 0 or less: off
  uint8_t unfoldTwist = 0;     // -U: 0xFF to fold the twist bones back into their sources
  uint8_t wristTwist = 0;      // -W: 0xFF to move the wrists' twist onto the hand twist bones
};

struct RunTotals {
  int32_t leftArm = 0;
  int32_t leftElbow = 0;
  int32_t rightArm = 0;
  int32_t rightElbow = 0;
  int32_t convertedFileCount = 0;
  int32_t keepAdded = 0;       // keyframes -K added beyond a plain conversion's
  int32_t twistFolded = 0;     // twist keyframes -U folded away
  int32_t wristSplit = 0;      // wrist keyframes -W split
  int64_t thinIn = 0;          // -S: bone keyframes read and written
  int64_t thinOut = 0;
};

extern RunSettings gSettings;
extern RunTotals gTotals;

/// fromFrame <= t <= toFrame, compared as unsigned 32-bit numbers.
inline bool inFrameRange(uint32_t t, const RunSettings& run) {
  return static_cast<uint32_t>(run.fromFrame) <= t && t <= static_cast<uint32_t>(run.toFrame);
}
inline bool inFrameRange(uint32_t t) { return inFrameRange(t, gSettings); }

/// -K, -U or -S: the arm-group keyframes are planned, not converted one by one.
inline bool planningPairs() {
  return gSettings.keepMotion > 0 || gSettings.unfoldTwist != 0 || gSettings.thinMotion > 0;
}
/// -S: every bone's keyframes are thinned.
inline bool thinningMotion() { return gSettings.thinMotion > 0; }

inline bool showAtLeast(int level) { return gSettings.displayLevel >= level; }
inline bool showBetween(int low, int high) {
  return gSettings.displayLevel >= low && gSettings.displayLevel <= high;
}

}  // namespace torsel
