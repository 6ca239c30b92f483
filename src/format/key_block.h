// A bone keyframe as the planner and the wrist's pass hold it: its frame,
// position and rotation, and its 64-byte interpolation block packed to the
// 16 parameters and the 8 bytes a rebuilt block keeps (format/vmd_format.h
// says which bytes repeat which parameter).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "math/quat.h"

namespace torsel {

struct BoneKeyframe;  // format/vmd_format.h

/// A keyframe of an arm-group bone held in memory (56 bytes): its block
/// packed to the parameters and the bytes a rebuilt block keeps.
struct HeldKey {
  uint32_t frame;
  Vec3 pos;
  Quat rot;
  uint8_t params[16];  // canonical order: Xax Yax Zax Rax Xay ... Rby
  uint8_t kept[8];     // block bytes 2, 3, 31, 46, 47, 61, 62, 63
};
static_assert(sizeof(HeldKey) <= 64);

/// The rotation curve: control points (x1, y1), (x2, y2), each a byte read
/// over 127 as it stands (MMD writes 0 to 127; the players take any byte).
struct Curve {
  uint8_t x1, y1, x2, y2;
};
inline constexpr Curve kLinearCurve = {20, 20, 107, 107};

Curve rotationCurve(const HeldKey& k);
void setRotationCurve(HeldKey* k, Curve c);
/// Packs a 64-byte block into a key, and unpacks it in canonical form.
void packBlock(const uint8_t* bz, HeldKey* k);
void unpackBlock(const HeldKey& k, uint8_t* bz);
/// The keyframe read, held: frame, position, rotation and its block packed.
HeldKey heldKeyOf(const BoneKeyframe& kf);

/// Sorts a bone's keyframes, given in file order, by frame (`frameOf`), and
/// keeps one a frame: of several on one frame the last in the file, which
/// is the one a player shows.
template <class Key, class FrameOf>
void keepLastOnFrame(std::vector<Key>* keys, FrameOf frameOf) {
  auto byFrame = [&](const Key& a, const Key& b) { return frameOf(a) < frameOf(b); };
  // A bone's keyframes mostly stand in the file by frame already.
  if (!std::is_sorted(keys->begin(), keys->end(), byFrame)) std::stable_sort(keys->begin(), keys->end(), byFrame);
  size_t out = 0;
  for (size_t i = 0; i < keys->size(); i++) {
    if (i + 1 < keys->size() && frameOf((*keys)[i + 1]) == frameOf((*keys)[i])) continue;
    (*keys)[out++] = (*keys)[i];
  }
  keys->resize(out);
}

}  // namespace torsel
