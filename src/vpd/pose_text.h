// The VPD pose file as this program reads and writes it: Shift-JIS text,
// the line "Vocaloid Pose Data file", the model line ("name;" and a
// comment), the bone count ("n;"), then blocks: "BoneK{name", a statement
// of three numbers (the translation), one of four (the rotation quaternion
// x, y, z, w), "}". MMM adds "MorphK{name" blocks with one number (the
// weight). "//" starts a comment to the end of its line. The text is held
// whole and written back piece by piece, so that what is not converted
// keeps its bytes.
#pragma once

#include <cstdint>

#include "format/vmd_format.h"
#include "math/quat.h"

namespace torsel {

/// A pose is a page of text. One of up to 1 MiB and 16,384 blocks, its
/// indices of up to 9 digits, converts, and so does every pose made from
/// it, however often converted: conversions add only bones of the arm
/// group a pose lacks (eight at most, ever), each a few hundred bytes at
/// most, move indices on by as many and rewrite ten rotations at most.
/// What is read holds that room beyond; nothing larger is written.
inline constexpr int32_t kMaxPoseSize = (1 << 20) + (1 << 16);
inline constexpr int kMaxPoseBlocks = 16384 + 8;
inline constexpr int kMaxPoseIndexDigits = 10;
inline constexpr char kPoseMagic[] = "Vocaloid Pose Data file";

/// One block, as offsets into the text: each span from its first byte to
/// just past its last.
struct PoseBlock {
  int32_t at;                   // "Bone" or "Morph"
  int32_t numberAt, numberEnd;  // the block's index, its digits
  int32_t nameAt, nameEnd;      // the rest of the line after '{'
  int32_t transAt, transEnd;    // the translation's numbers (a morph's weight)
  int32_t rotAt, rotEnd;        // the rotation's numbers; a morph: both transEnd
  int32_t end;                  // past the line of its closing brace
  bool morph;
  Vec3 pos;                     // a morph's weight in x
  Quat rot;
};

struct PoseText {
  uint8_t text[kMaxPoseSize];
  int32_t size;
  int32_t modelAt, modelEnd;  // the model's name, before its ';'
  int32_t countAt, countEnd;  // the bone count's digits
  int32_t count;
  bool crlf;                  // the first line ends in CR LF
  int blocks, bones;
  PoseBlock block[kMaxPoseBlocks];
};

extern PoseText gPose;

/// Reads the pose at `path` into gPose and checks all of it: Shift-JIS
/// text (a name may end in the lead byte of a character cut short, as
/// MMD cuts long names), the header, the model line, the count against
/// the bone blocks, every block closed, every number a finite float, names
/// of a byte or more, no rotation of length zero. 0; -1 when it cannot be
/// opened or read; 2, with the reason and its line printed, when it is no
/// pose.
int32_t readPoseText(const char* path);

/// A converted pose that would pass what readPoseText takes: the reason
/// printed, and the status of no pose.
int32_t refusePoseOutput();

/// A block's name, NUL-terminated, cut to `cap` bytes at a character's end.
void poseBlockName(const PoseBlock& b, char* out, int cap);

/// The model's name from its line, NUL-terminated, cut to `cap` bytes at a
/// character's end.
void poseModelName(char* out, int cap);

/// Room for any number formatPoseNumber writes.
inline constexpr int kPoseNumberSize = 64;
/// `v` as "%f" writes it (six decimals, the exact value rounded half to
/// even, "-" for any negative), whatever the C runtime. Returns the length.
int formatPoseNumber(float v, char* out);

}  // namespace torsel
