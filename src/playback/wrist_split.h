// The wrist's twist onto the hand twist bone (-W). A hand turned about the
// forearm and keyed on 手首 wrings the skin at the wrist alone, while 手捩,
// which drives the forearm's helper bones, stays still. Every 手首 keyframe
// in the frame range is split about the forearm axis (the elbow pair's) into
// q = twist ⊗ rest, the twist on the parent's side: 手首 keeps the rest and
// 手捩 is keyed at the same frame with what it plays there times the twist,
// so that 手捩 ⊗ 手首 is unchanged at the keyframe. One 手捩 keyframe a
// frame: those the input or the elbow's split put on such a frame go.
//
// With -K the hand chain (the wrist chain ⊗ 手首) is kept too: the elbow
// pair keeps ひじ ⊗ 手捩 ⊗ twist, the wrist's twist as the wrist plays it,
// and 手首 alone (手捩 too where the elbows are not converted) is planned
// to play its rest within a share of the bound.
#pragma once

#include <cstdint>
#include <vector>

#include "playback/player.h"
#include "twist/quat.h"
#include "vmd/vmd_format.h"

namespace torsel {

/// Left, right; the elbow pair of side s is pair 2s + 1.
inline constexpr int kWristSides = 2;

enum class WristRole { None, Wrist, HandTwist };
/// 手首 or 手捩 of either side, with the side.
WristRole wristRole(const char* name, int* side);

/// Splits q about the side's forearm axis into q = twist ⊗ rest, the rest
/// without a turn about the axis; a half turn across it keeps q whole.
void wristSplit(int side, Quat q, Quat* twist, Quat* rest);

/// Forgets what was held for the last file.
void wristReset();
/// Holds a keyframe of 手首, 手捩 or ひじ (pre-scan, file order, block from 1).
void wristHold(const BoneKeyframe& kf, int32_t block);
/// After the pre-scan: the rotation each side's 手捩 plays at the wrist's
/// keyframes in the range, and the 手捩 records that give way.
void wristPlan();
/// -K: the share of the bound a chain is planned within: the arm's, the
/// elbow's (ひじ ⊗ 手捩, or 手捩 alone under -W), or with `hand` the hand's
/// own 手首; together they keep the hand chain within the whole.
double keepShare(bool hand);
/// -K, before the pairs are planned: the wrists' tracks.
void wristPrepare();
/// -K: for an elbow pair under -W and f in the range, c ⊗ the twist of the
/// wrist as it plays at f; else c.
DQuat wristTwisted(int pair, uint32_t f, const DQuat& c);
/// -K: for an elbow pair under -W, the wrist's keyframe frames in the range.
void wristFrames(int pair, std::vector<uint32_t>* frames);
/// -K: for an elbow pair under -W and a stretch from fa in the range, the
/// wrist's rotation there; false where the wrist's twist plays no part.
bool wristArc(int pair, uint32_t fa, Segment* wrist);
/// How much of the wrist's rotation w lies along the side's forearm axis:
/// the length of its twist before it is scaled to 1.
double wristReach(int side, const DQuat& w);
/// -K: for an elbow pair under -W, the wrist's input curve over [fa, fb];
/// false where the wrist holds still there or is keyed within it.
bool wristCurve(int pair, uint32_t fa, uint32_t fb, Curve* c);
/// -K: the planned keyframes of a side's 手首 (role Wrist) or, where the
/// elbow pair is not converted, its 手捩; null where the records stay.
const Track* wristKept(int side, WristRole role);
/// 左手首 or 右手首, Shift-JIS.
const char* wristBone(int side);

/// Records -W adds to the bone count: a 手捩 keyframe per wrist frame, less
/// the 手捩 records it replaces.
int32_t wristCountDelta();

/// A 手捩 record (the input's, or an elbow's twist) at `frame` in the
/// range, replaced by the one the wrist keys there.
bool wristAbsorbs(int side, uint32_t frame);
/// For an in-range 手首 record: true when it is the last on its frame, the
/// one before which the side's 手捩 keyframe is written, with its rotation.
bool wristCarrier(int side, int32_t block, uint32_t frame, Quat* handTwist);
/// Counts one split and its twist, for the lines below.
void wristCount(int side, const Quat& twist);
/// Per side (display level 1 and up) the wrist keyframes split and the
/// largest twist moved; adds the splits to the run's totals.
void wristReport();

}  // namespace torsel
