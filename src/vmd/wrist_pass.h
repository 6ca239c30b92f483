// The wrist's twist onto the hand twist bone (-W). A hand turned about the
// forearm and keyed on 手首 wrings the skin at the wrist alone, while 手捩,
// which drives the forearm's helper bones, stays still. Every 手首 keyframe
// in the frame range is split about the forearm axis (the elbow pair's) into
// q = twist ⊗ rest, the twist on the parent's side: 手首 keeps the rest and
// 手捩 is keyed at the same frame with what it plays there times the twist,
// so that 手捩 ⊗ 手首 is unchanged at the keyframe. One 手捩 keyframe a
// frame: those the input or the elbow's split put on such a frame go. At
// each end of the range 手捩 is keyed again with what it played without
// -W, so that outside the range the hand plays as before.
//
// This is the split keyframe by keyframe, as the conversion pass writes it
// (it prints and adds to the run's totals); with -K the planner keys the
// hand chain as a whole (playback/planner.h).
#pragma once

#include <cstdint>

#include "format/key_block.h"
#include "format/vmd_format.h"
#include "math/quat.h"

namespace torsel {

/// Forgets what was held for the last file.
void wristReset();
/// Holds a keyframe of 手首, 手捩 or ひじ (pre-scan, file order, block from 1).
void wristHold(const BoneKeyframe& kf, int32_t block);
/// After the pre-scan: the rotation each side's 手捩 plays at the wrist's
/// keyframes in the range, the 手捩 records that give way, and the keyframes
/// that take 手捩 back at the range's ends.
void wristPlan();

/// Records -W adds to the bone count: a 手捩 keyframe per wrist frame and
/// the pins at the range's ends, less the 手捩 records it replaces.
int32_t wristCountDelta();
/// A 手捩 record (the input's, or an elbow's twist) at `frame` in the
/// range, replaced by the one the wrist keys there.
bool wristAbsorbs(int side, uint32_t frame);
/// A keyframe that takes 手捩 (or 手首) back at a range's end.
struct WristPin {
  HeldKey key;
  bool wrist;  // 手首's, else 手捩's
};
/// For an in-range 手首 record: true when it is the last on its frame, the
/// one before which the side's 手捩 keyframe is written, with its rotation;
/// at the first such frame also the `before` pins of the range's start, at
/// the last the `after` pins of its end, in `pins` (written with it).
bool wristCarrier(int side, int32_t block, uint32_t frame, Quat* hand, const WristPin** pins, int* before,
                  int* after);
/// For the first 手捩 or 手首 record after the range: true with the curve
/// of its stretch, which now starts at the range's end.
bool wristRecurve(int side, int32_t block, Curve* curve);
/// The side's part of wristCountDelta.
int32_t wristCountDeltaOf(int side);
/// Counts one split and its twist, for the lines below; or, planned, all
/// of a side's at once.
void wristCount(int side, const Quat& twist);
void wristSetCounts(int side, int32_t splits, double largest);
/// Per side (display level 1 and up) the wrist keyframes split and the
/// largest twist moved; adds the splits to the run's totals.
void wristReport();

}  // namespace torsel
