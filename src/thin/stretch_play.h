// What a bone shows from one keyframe to the next, in either reading of
// the curves: as the player shows it (src/playback/player.cpp) and as
// babylon-mmd solves the curves (halving), which reads the first keyframe's
// own frame as time 0 of the stretch. Set up once, played frame by frame.
#pragma once

#include <cstdint>

#include "format/key_block.h"
#include "math/rotation.h"
#include "playback/curve.h"

namespace torsel::thin {

/// A keyframe as played: its frame, rotation (of length 1, on the bone's
/// fixed axis where it has one), position and the 16 curve parameters of
/// the stretch that ends there.
struct PlayedPose {
  uint32_t frame = 0;
  DQuat rot = kIdentityD;
  Vec3 pos = {0, 0, 0};
  const uint8_t* params = nullptr;
};

/// The rotation curve, and the position channel c's curve (X 0, Y 1, Z 2).
inline Curve channelCurve(const uint8_t* params, int c) {
  return {params[c], params[4 + c], params[8 + c], params[12 + c]};
}
inline constexpr int kRotationChannel = 3;

class StretchPlay {
 public:
  /// From a to b (b later); or held at a alone (the identity when none).
  StretchPlay() = default;
  StretchPlay(const PlayedPose& a, const PlayedPose& b);
  explicit StretchPlay(const PlayedPose& a);
  /// Works out how far the two readings can part (slackDegrees,
  /// slackDistance), from what the bisecting players make of the curves.
  void measureSlack(CurveMemo* memo);
  /// What it shows at frame f (a's frame to b's), read precisely or by
  /// halving: a's frame by halving is time 0 of the stretch, which the
  /// halving finds only near 0.
  DQuat rotation(uint32_t f, bool halving) const;
  Vec3 position(uint32_t f, bool halving) const;
  /// Once measured, how far the two readings can part at frame f: degrees,
  /// and units.
  double slackDegrees(uint32_t f) const { return inside(f) ? slackDegrees_ : f == a_.frame ? startDegrees_ : 0; }
  double slackDistance(uint32_t f) const { return inside(f) ? slackDistance_ : f == a_.frame ? startDistance_ : 0; }

 private:
  bool inside(uint32_t f) const { return moving_ && f > a_.frame && f < b_.frame; }
  // Where the halving reads the stretch as under way: inside it, and at a's frame.
  bool underWay(uint32_t f, bool halving) const {
    return moving_ && f < b_.frame && (f > a_.frame || (halving && f == a_.frame));
  }
  double progress(int channel, uint32_t f, bool halving) const;
  PlayedPose a_, b_;
  Arc arc_;
  bool moving_ = false;
  double slackDegrees_ = 0, slackDistance_ = 0;
  double startDegrees_ = 0, startDistance_ = 0;  // at a's frame
};

}  // namespace torsel::thin
