// The VMD motion file as this program reads and writes it: a 50-byte
// header, the bone keyframe count and records, the morph keyframe count and
// records, then anything else (kept as it is). Little-endian throughout;
// names are Shift-JIS bytes that are compared and copied, never converted.
#pragma once

#include <array>
#include <cstdint>

#include "io/byte_stream.h"
#include "math/quat.h"

namespace torsel {

inline constexpr int kMagicSize = 30;
inline constexpr int kModelNameSize = 20;
inline constexpr int kNameSize = 15;
inline constexpr int kBzSize = 64;
inline constexpr int kBoneKeyframeSize = 111;
inline constexpr int kMorphKeyframeSize = 23;
inline constexpr int kBoneCountOffset = kMagicSize + kModelNameSize;
static_assert(kNameSize + 4 + 12 + 16 + kBzSize == kBoneKeyframeSize);
static_assert(kNameSize + 4 + 4 == kMorphKeyframeSize);

/// "Vocaloid Motion Data 0002": only bytes 0-3 and 21-24 are tested.
inline constexpr char kMagic[] = "Vocaloid Motion Data 0002";
inline bool isTestedMagicByte(int i) { return (i >= 0 && i <= 3) || (i >= 21 && i <= 24); }

/// A fixed-width name field: the raw bytes, the name up to the first NUL,
/// and the index of the last NUL (the width when there is none).
struct NameField {
  uint8_t raw[kModelNameSize];
  char text[kModelNameSize + 1];
  int lastNul;
};

struct BoneKeyframe {
  NameField name;
  uint32_t frameTime;
  Vec3 pos;
  Quat rot;
  /// The interpolation block: the four channels' curve parameters, each
  /// repeated (bzParams, checkBz and canonicalBz say which bytes are which).
  uint8_t bz[kBzSize];
};

struct MorphKeyframe {
  NameField name;
  uint32_t frameTime;
  float value;
};

/// The byte most recently read by readNameField or vmdGetByte, -1 after the
/// end; the write-failure message names it.
extern int gLastByte;

/// rdGetByte that remembers the byte in gLastByte. Inline: trailing data is
/// copied through it byte by byte.
inline int vmdGetByte() {
  gLastByte = rdGetByte();
  return gLastByte;
}

/// Reads a name field of `width` bytes (15 or 20).
void readNameField(int width, NameField* out);

/// Reads one bone keyframe; -1 when the input ended inside it.
int readBoneKeyframe(BoneKeyframe* kf);
/// Reads one morph keyframe; -1 when the input ended inside it.
int readMorphKeyframe(MorphKeyframe* kf);

/// The 16 interpolation parameters in canonical order (Xax Yax Zax Rax Xay ...).
std::array<uint8_t, 16> bzParams(const uint8_t* bz);

/// Prints one line for every redundant byte that disagrees with its parameter.
void checkBz(const uint8_t* bz);

/// The block rebuilt from its parameters. Bytes 2 and 3 (the physics switch
/// in newer files) and the free bytes 31, 46, 47 and 61-63 keep their input.
void canonicalBz(const uint8_t* bz, uint8_t* out);

/// The listing of a bone keyframe: block number, name, frame, position
/// (when `withPos`) and rotation.
void printBoneKeyframe(int32_t block, const BoneKeyframe& kf, bool withPos);
/// The listing of a morph keyframe.
void printMorphKeyframe(int32_t block, const MorphKeyframe& kf);

/// Writes a bone keyframe with `rot` in place of its own and the name field
/// `name`; checks the stream after the name, the numbers and the block.
/// 0, or -1 once the output has failed.
int writeBoneKeyframe(const BoneKeyframe& kf, const uint8_t* name, const Quat& rot);
/// Writes a morph keyframe unchanged. 0 or -1.
int writeMorphKeyframe(const MorphKeyframe& kf);

}  // namespace torsel
