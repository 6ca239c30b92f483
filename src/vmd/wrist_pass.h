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

#include "arm/bone_names.h"
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
/// A keyframe that takes 手捩 (or 手首) back at a range's end.
struct WristPin {
  HeldKey key;
  bool wrist;  // 手首's, else 手捩's
};

/// What -W makes of one bone record of the conversion pass: the one
/// question the pass asks of each record.
struct WristRecord {
  bool dropped = false;         // a 手捩 record in the range whose frame the wrist's 手捩 keyframe takes
  bool twistTaken = false;      // an elbow record whose split's 手捩 keyframe that takes
  bool split = false;           // an in-range 手首 record: written with `rest`
  Quat rest = kIdentity;
  // The last in-range 手首 record on its frame carries the side's 手捩
  // keyframe (`hand`), written before it; the first such record also the
  // `before` pins of the range's start, the last the `after` pins of its end.
  bool carrier = false;
  Quat hand = kIdentity;
  const WristPin* pins = nullptr;
  int before = 0, after = 0;
  // The first 手捩 or 手首 record after the range: its stretch now starts at
  // the range's end, on this curve.
  bool recurved = false;
  Curve curve = kLinearCurve;
};

/// The answer for the record `kf` (block from 1) of the known bone `bone`;
/// an in-range 手首 record's split is counted for the lines below.
WristRecord wristRecord(int32_t block, const BoneKeyframe& kf, const KnownBone& bone);

/// The side's part of wristCountDelta.
int32_t wristCountDeltaOf(int side);
/// A planned side's splits and the largest twist moved, all at once.
void wristSetCounts(int side, int32_t splits, double largest);
/// Per side (display level 1 and up) the wrist keyframes split and the
/// largest twist moved; adds the splits to the run's totals.
void wristReport();

}  // namespace torsel
