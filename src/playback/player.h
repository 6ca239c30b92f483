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
#include "math/quat.h"
#include "math/rotation.h"
#include "playback/curve.h"

namespace torsel {

/// A bone's keyframes sorted by frame, one a frame (the last in the file).
using Track = std::vector<HeldKey>;
/// Sorts keyframes given in file order into a track.
void makeTrack(Track* keys);
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
/// The position shown at `frame`: each channel along its own curve; with
/// `after`, keyAfter(t, frame) already found.
Vec3 positionAt(const Track& t, uint32_t frame);
Vec3 positionAt(const Track& t, uint32_t frame, size_t after);
/// As keyToCut, with `after` = keyAfter(t, frame) already found.
HeldKey keyToCut(const Track& t, uint32_t frame, size_t after);

/// A keyframe as played: its frame, its rotation curve, the rotation it
/// shows, and the turn of the stretch that ends there (an Arc but for its
/// two ends, which are the keyframes' own), worked out once: what the
/// planner looks up again and again.
struct PlayedKey {
  uint32_t frame = 0;
  Curve curve = kLinearCurve;
  Quat rot = kIdentity;
  double theta = 0;  // as in Arc
  bool linear = true;
  bool flip = false;              // the end turned to its other sign, the shorter way
};
/// A bone's keyframes as played.
struct PlayedTrack {
  std::vector<PlayedKey> keys;
  mutable size_t cursor = 0;  // where the last look-up ended: the next is mostly near
  mutable size_t arcAt = 0;   // the stretch whose arc was made last (0: none), and its arc
  mutable Arc arc;
};
/// The keyframe as played with the rotation `rot` (its stretch's turn
/// still to be worked out).
inline PlayedKey playedKey(const HeldKey& k, const Quat& rot) { return {k.frame, rotationCurve(k), rot}; }
/// The track of keys with their rotations as played under `rule`.
PlayedTrack playedTrack(const Track& t, const AxisRule& rule);
/// Works out the turn of every stretch, once its keyframes stand.
void setTurns(PlayedTrack* p);
/// Index of the first keyframe after `frame`, found from where the last
/// look-up ended (inline: the planner looks up by the million, mostly there).
size_t keyAfterFar(const PlayedTrack& t, uint32_t frame);
inline size_t keyAfter(const PlayedTrack& t, uint32_t frame) {
  const size_t c = t.cursor, n = t.keys.size();
  if (c <= n && (c == 0 || t.keys[c - 1].frame <= frame) && (c == n || t.keys[c].frame > frame)) return c;
  return keyAfterFar(t, frame);
}
bool keyOn(const PlayedTrack& t, uint32_t frame, size_t* index);
DQuat rotationAt(const PlayedTrack& t, uint32_t frame);
/// The rotation at `frame` as the players that bisect the curve show it
/// (curve.h): a keyframe's own frame, and any before the first, read as time
/// 0 of the stretch after it.
DQuat bisectedRotationAt(const PlayedTrack& t, uint32_t frame);
Segment segmentAt(const PlayedTrack& t, uint32_t frame);
bool curveOver(const PlayedTrack& t, uint32_t fa, uint32_t fb, Curve* c);

}  // namespace torsel
