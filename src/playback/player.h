// How a player shows a motion between its keyframes: per bone, keyframes by
// frame (of several on one frame the last in the file wins), the first held
// before it and the last after it, and between two keyframes the shortest
// slerp of their rotations at the progress that the later keyframe's
// rotation curve gives; a bone with a fixed axis turns each keyframe onto
// it. Computed in double: these figures judge, they are never written as
// they stand.
#pragma once

#include <cstdint>
#include <vector>

#include "format/key_block.h"
#include "playback/curve.h"
#include "twist/quat.h"
#include "twist/rotation.h"

namespace torsel {

/// A bone's keyframes sorted by frame, one a frame (the last in the file).
using Track = std::vector<HeldKey>;
/// Sorts keyframes given in file order into a track.
void makeTrack(Track* keys);
/// The same keyframes with their rotations as played under `rule`.
Track playedTrack(const Track& t, const AxisRule& rule);
/// The keyframe whose stretch a new one at `frame` cuts (its other channels
/// and kept bytes go on); linear curves for a bone without keyframes.
HeldKey keyToCut(const Track& t, uint32_t frame);
/// Index of the first keyframe after `frame` (t.size() when none).
size_t keyAfter(const Track& t, uint32_t frame);
/// True with the index of a keyframe on `frame`.
bool keyOn(const Track& t, uint32_t frame, size_t* index);
/// The rotation shown at `frame`; the identity for a bone without keyframes.
DQuat rotationAt(const Track& t, uint32_t frame);
/// The rotation curve of the track over [fa, fb] (cut from its keyframe's
/// own); false where the track holds there or is keyed inside it.
bool curveOver(const Track& t, uint32_t fa, uint32_t fb, Curve* c);
/// A track's rotation from one keyframe to the next (or held before the
/// first and after the last): what it shows at every frame from f0 to f1.
struct Segment {
  uint32_t f0 = 0, f1 = 0;
  Curve curve = kLinearCurve;
  Arc arc;
  bool moving = false;
};
/// The segment that holds `frame` (f0 <= frame < f1 where it moves).
Segment segmentAt(const Track& t, uint32_t frame);
/// The rotation a segment shows at `frame`, with its curve's point there:
/// the rotation turns by the arc's degrees times the progress travelled.
struct Shown {
  DQuat rot;
  CurvePoint at;
};
Shown showAt(const Segment& s, uint32_t frame);
/// The position shown at `frame`: each channel along its own curve.
Vec3 positionAt(const Track& t, uint32_t frame);

/// A track as played, with the arc of each stretch made once: what the
/// planner looks up again and again.
struct PlayedTrack {
  Track keys;
  std::vector<Arc> arcs;      // arcs[i]: from keys[i - 1] to keys[i]
  mutable size_t cursor = 0;  // where the last look-up ended: the next is mostly near
};
void setPlayed(PlayedTrack* p, Track keys);
size_t keyAfter(const PlayedTrack& t, uint32_t frame);
DQuat rotationAt(const PlayedTrack& t, uint32_t frame);
Segment segmentAt(const PlayedTrack& t, uint32_t frame);
bool curveOver(const PlayedTrack& t, uint32_t fa, uint32_t fb, Curve* c);

}  // namespace torsel
