// The four bone pairs: each source bone whose keyframes are split and the
// twist bone that receives the split-off twist. Order everywhere: left arm,
// left elbow, right arm, right elbow.
#pragma once

#include <array>
#include <cstdint>

#include "arm/bone_names.h"
#include "arm/separation.h"
#include "math/quat.h"
#include "run/run_settings.h"

namespace torsel {

inline constexpr int kPairCount = 4;

/// A pair, as the table below gives it.
struct BonePair {
  const char* sourceBone;    // Shift-JIS
  const char* twistBone;     // Shift-JIS
  Side side;
  bool needsHandTwist;       // active only when handTwist is set
  const char* verifyFormat;  // its verification line: the pre-scan's count, the pass's
};

/// What the pre-scan learns of a pair in one file.
struct PairScan {
  /// The record count: how many of the file's source keyframes are in range.
  int32_t reccnt = 0;
  uint8_t sourceAtFrom = 0;  // 0xFF: a source keyframe at fromFrame
  uint8_t twistAtFrom = 0;   // 0xFF: a twist keyframe at fromFrame
  Quat twistRotAtFrom = kIdentity;  // rotation of the last such twist keyframe
};

/// Left, right; the elbow pair of side s is pair 2s + 1.
inline constexpr int kWristSides = 2;

/// The four pairs.
extern const std::array<BonePair, kPairCount> kPairs;
extern std::array<PairScan, kPairCount> gScans;

enum class PairRole { Source, Twist };

/// The pair whose source or twist bone `bone` is, ignoring whether it is
/// active; -1 for any other bone.
int pairOf(const KnownBone& bone, PairRole* role);

/// As pairOf, but an elbow pair is not found while the run's handTwist is 0.
int findPair(const KnownBone& bone, PairRole* role, const RunSettings& run);

/// An elbow pair is converted only where the run's handTwist is set.
bool pairIsActive(int pair, const RunSettings& run);

/// Both the pair's bones keyed at the start frame: the twist bone's rotation
/// there is merged into the twist inserted, and its keyframe dropped.
bool pairMergesAtFrom(int pair);
/// True for a twist keyframe at `frameTime` that is dropped so.
bool pairDropsAtFrom(int pair, uint32_t frameTime, const RunSettings& run);

/// Keyframes the pair adds to the output's bone count.
int32_t pairFrameCountDelta(int pair, const RunSettings& run);

}  // namespace torsel
