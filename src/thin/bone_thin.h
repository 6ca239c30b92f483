// One bone thinned: from each keyframe kept, the stretch is stretched as
// far as curves fitted to it keep every frame between within the bound,
// and the keyframe there is the next one kept. A frame's rotation can be
// met only where it lies near the great arc between the stretch's ends
// (within the bound); then the progress along the arc that meets it, and
// each position channel's, is a window at that frame's time, which a curve
// must pass through (thin/progress_fit.h).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "thin/progress_fit.h"
#include "thin/stretch_play.h"
#include "thin/thin_options.h"

namespace torsel::thin {

/// What becomes of a keyframe: written or not; written with new curves.
struct KeyFate {
  bool kept = true;
  bool refit = false;
  std::array<uint8_t, 16> params{};  // the curves written, where refit
};

/// The longest stretch, in frames, that a thinned keyframe may span.
inline constexpr uint32_t kLongestStretch = 1u << 14;
/// The frames a bone may judge, per keyframe and in all: then its other
/// keyframes stay as they are, so that no motion takes long.
inline constexpr uint64_t kWorkPerKey = 512, kWorkBase = uint64_t(1) << 22;

class BoneThinner {
 public:
  explicit BoneThinner(const ThinOptions& o);
  /// Thins keys (by frame, one a frame): fixed[k] says a keyframe stays as it
  /// stands, and so do the stretches on either side of it; the first and
  /// last keyframe of every run between stay too. fates: one per key. The
  /// answer: how many keyframes stayed because the work ran out.
  uint64_t thin(const std::vector<PlayedPose>& keys, const std::vector<uint8_t>& fixed, std::vector<KeyFate>* fates);
  const ThinOptions& options() const { return o_; }

 private:
  // The input at each frame after key i's: its rotation seen from key i's, and its position.
  struct Sample {
    DQuat p;
    Vec3 pos;
  };
  void sampleTo(size_t i, uint32_t last);
  bool stretchHolds(size_t i, size_t j, bool windows, uint32_t* stray);
  bool fitStretch(size_t i, size_t j, std::array<uint8_t, 16>* params, uint32_t* stray);
  bool startHolds(size_t i, size_t j, const std::array<uint8_t, 16>& params) const;
  size_t reach(size_t i, size_t end, std::array<uint8_t, 16>* params);

  ThinOptions o_;
  double cosFit_, distanceFit_;
  const std::vector<PlayedPose>* keys_ = nullptr;
  std::vector<Sample> samples_;
  size_t sampledFrom_ = SIZE_MAX, sampledKey_ = 0;
  std::vector<Window> windows_[4];  // X, Y, Z, rotation
  bool constrained_[4] = {};
  ProgressFitter fitter_;
  uint64_t work_ = 0;
  bool still_ = false;  // the bone's position never moves
};

}  // namespace torsel::thin
