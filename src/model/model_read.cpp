#include "model/model_read.h"

#include <cstring>
#include <string_view>

#include "io/byte_stream.h"

namespace torsel::modelread {
namespace {

constexpr KnownBone kAsked[kBoneCount] = {
    {BoneRole::Arm, 0},      {BoneRole::Elbow, 0},     {BoneRole::Arm, 1},      {BoneRole::Elbow, 1},
    {BoneRole::ArmTwist, 0}, {BoneRole::HandTwist, 0}, {BoneRole::ArmTwist, 1}, {BoneRole::HandTwist, 1},
    {BoneRole::Wrist, 0},    {BoneRole::Wrist, 1},
};

// Every bone's parent, for the chains of the arm group; a model beyond
// that many bones has its chains followed as far as they are kept.
constexpr int32_t kParentsKept = 65536;
int32_t gParents[kParentsKept];
int32_t gBoneCount = 0;
int64_t gSize = 0;
bool gBad = false;

std::string_view nameIn(const BoneName& name, NameEncoding enc) {
  return enc == NameEncoding::Utf16 ? name.utf16 : enc == NameEncoding::Utf8 ? name.utf8 : name.sjis;
}

// A bone that may be a helper of a twist bone: one whose name begins with a
// twist bone's (左腕捩1, 左腕捩連), or one that appends a rotation from a
// twist bone read before it or from a bone still to come.
void noteHelper(const BoneRecord& b, std::string_view name, NameEncoding enc, ModelAxes* out) {
  int8_t namedFor = -1;
  size_t prefix = 0;
  bool appendsTwist = b.appends && b.appendParent > b.index;
  for (int i = 0; i < kPairCount; i++) {
    const FoundBone& twist = gBones[kPairBones[i].twist];
    appendsTwist = appendsTwist || (b.appends && twist.present && twist.index == b.appendParent);
    const std::string_view want = nameIn(nameOf(kPairBones[i].twist), enc);
    if (name.size() > want.size() && name.substr(0, want.size()) == want) {
      namedFor = static_cast<int8_t>(i);
      prefix = want.size();
    }
  }
  if ((namedFor < 0 && !appendsTwist) || out->helperCount == kMaxRigHelpers) return;
  const std::string_view rest = name.substr(prefix);
  const size_t digitLen = enc == NameEncoding::Utf16 ? 2 : 1;
  const bool digit = namedFor >= 0 && rest.size() == digitLen && rest[0] >= '1' && rest[0] <= '3' &&
                     (digitLen == 1 || rest[1] == '\0');
  RigHelper& h = out->helpers[out->helperCount++];
  h = RigHelper{.namedFor = namedFor,
                .number = static_cast<int8_t>(digit ? rest[0] - '0' : 0),
                .follows = -1,
                .appends = b.appends,
                .appendParent = b.appendParent,
                .ratio = b.ratio,
                .name = {},
                .nameLen = static_cast<int>(rest.size() < sizeof h.name ? rest.size() : sizeof h.name)};
  std::memcpy(h.name, rest.data(), static_cast<size_t>(h.nameLen));
}

}  // namespace

const BoneName& nameOf(int bone) { return boneName(kAsked[bone].side, kAsked[bone].role); }

const PairBones kPairBones[kPairCount] = {
    {kLeftArm, kLeftArmTwist, kLeftElbow},
    {kLeftElbow, kLeftWristTwist, kLeftWrist},
    {kRightArm, kRightArmTwist, kRightElbow},
    {kRightElbow, kRightWristTwist, kRightWrist},
};

FoundBone gBones[kBoneCount];

void beginModel(int64_t size) {
  for (FoundBone& b : gBones) b = FoundBone{};
  gBoneCount = 0;
  gSize = size;
  gBad = false;
}

bool bad() { return gBad; }
void setBad() { gBad = true; }
int64_t left() { return gSize - rdCount(); }

bool claim(int64_t n) {
  if (gBad || n < 0 || n > left()) {
    gBad = true;
    return false;
  }
  return true;
}

void skip(int64_t n) {
  if (claim(n) && rdSkip(static_cast<int32_t>(n)) != 0) gBad = true;
}

uint32_t readUnsigned(int size) {
  if (!claim(size)) return 0;
  uint32_t v = 0;
  for (int i = 0; i < size; i++) v |= static_cast<uint32_t>(rdGetByte() & 0xFF) << (8 * i);
  return v;
}

int32_t readIndex(int size) {
  const uint32_t v = readUnsigned(size);
  if (size == 1) return static_cast<int8_t>(v);
  if (size == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

int32_t readInt32() { return static_cast<int32_t>(readUnsigned(4)); }

float readFloat() {
  uint32_t bits = readUnsigned(4);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

Vec3 readVec3() {
  float x = readFloat();
  float y = readFloat();
  float z = readFloat();
  return {x, y, z};
}

void readBytes(uint8_t* dst, int n) {
  if (claim(n)) rdGetBytes(dst, n);
}

void noteBoneCount(int32_t count) { gBoneCount = count; }

int noteBone(const BoneRecord& b, NameEncoding enc, ModelAxes* out) {
  if (b.index < kParentsKept) gParents[b.index] = b.parent;
  if (b.nameLen < 0) return -1;
  const std::string_view got(reinterpret_cast<const char*>(b.name), static_cast<size_t>(b.nameLen));
  noteHelper(b, got, enc, out);
  for (int k = 0; k < kBoneCount; k++) {
    if (got != nameIn(nameOf(k), enc) || gBones[k].present) continue;
    gBones[k] = FoundBone{.present = true, .index = b.index, .pos = b.pos, .hasFixedAxis = b.hasFixedAxis,
                          .fixedAxis = b.fixedAxis};
    return k;
  }
  return -1;
}

int8_t isAncestor(int32_t ancestor, int32_t bone) {
  for (int32_t steps = 0; steps < kParentsKept; steps++) {
    // A parent that is no bone of the file is none, as players take it.
    if (bone < 0 || bone >= gBoneCount) return 0;
    if (bone >= kParentsKept) return -1;
    bone = gParents[bone];
    if (bone == ancestor) return 1;
  }
  return -1;
}

}  // namespace torsel::modelread
