// PMD: fixed-size records, Shift-JIS names.
#include <cstdio>
#include <cstring>

#include "model/model_read.h"
#include "platform/platform.h"

namespace torsel::modelread {
namespace {

// Every bone's position, and the twist bones' tails, for the axes that
// their type fixes (from the bone to its tail).
Vec3 gPmdPositions[65536];
int32_t gPmdTail[kBoneCount];

// One bone record: name, parent, tail, type, IK (a ratio for type 9), position.
void readBone(int32_t index, ModelAxes* out) {
  uint8_t name[21] = {};
  readBytes(name, 20);
  const uint32_t parent = readUnsigned(2);
  const uint32_t tail = readUnsigned(2);
  const uint32_t type = readUnsigned(1);
  const auto ik = static_cast<int16_t>(readUnsigned(2));
  const Vec3 pos = gPmdPositions[index] = readVec3();
  // Type 8 turns about the line to its tail only; type 9 takes a share of
  // its tail bone's rotation, in hundredths in the IK field.
  const BoneRecord b = {.name = name,
                        .nameLen = static_cast<int>(std::strlen(reinterpret_cast<char*>(name))),
                        .index = index,
                        .parent = parent == 0xFFFF ? -1 : static_cast<int32_t>(parent),
                        .pos = pos,
                        .hasFixedAxis = false,
                        .fixedAxis = {0, 0, 0},
                        .appends = type == 9,
                        .appendParent = type == 9 ? static_cast<int32_t>(tail) : -1,
                        .ratio = type == 9 ? static_cast<float>(ik) / 100.0f : 0.0f};
  const int found = noteBone(b, NameEncoding::ShiftJis, out);
  if (found >= 0 && type == 8) gPmdTail[found] = static_cast<int32_t>(tail);
}

}  // namespace

void readPmd(ModelAxes* out) {
  for (int32_t& t : gPmdTail) t = -1;
  out->encoding = NameEncoding::ShiftJis;
  if (readFloat() != 1.0f) setBad();
  uint8_t name[21] = {};
  readBytes(name, 20);
  std::snprintf(out->name, sizeof out->name, "%s", plat::conText(reinterpret_cast<const char*>(name)));
  skip(256);  // comment
  const uint32_t vertices = readUnsigned(4);
  skip(static_cast<int64_t>(vertices) * 38);
  const uint32_t faceIndices = readUnsigned(4);
  skip(static_cast<int64_t>(faceIndices) * 2);
  const uint32_t materials = readUnsigned(4);
  skip(static_cast<int64_t>(materials) * 70);
  const uint32_t bones = readUnsigned(2);
  if (bones > left() / 39) setBad();
  noteBoneCount(static_cast<int32_t>(bones));
  for (uint32_t b = 0; b < bones && !bad(); b++) readBone(static_cast<int32_t>(b), out);
  // Its axis runs from the bone to its tail; a tail that is no bone counts
  // as the first bone, as players read it.
  for (int k = 0; k < kBoneCount && !bad(); k++) {
    if (gPmdTail[k] < 0) continue;
    const Vec3 tail = gPmdPositions[static_cast<uint32_t>(gPmdTail[k]) < bones ? gPmdTail[k] : 0];
    const Vec3& pos = gBones[k].pos;
    gBones[k].hasFixedAxis = true;
    gBones[k].fixedAxis = {subF(tail.x, pos.x), subF(tail.y, pos.y), subF(tail.z, pos.z)};
  }
}

}  // namespace torsel::modelread
