#include "model/model_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "arm/bone_names.h"
#include "io/byte_stream.h"
#include "io/path_util.h"
#include "platform/platform.h"

namespace torsel {
namespace {

// The bones a model is asked for; their names, in each encoding, are the known bones'.
enum Bone { kLeftArm, kLeftElbow, kRightArm, kRightElbow, kLeftArmTwist, kLeftWristTwist, kRightArmTwist,
            kRightWristTwist, kLeftWrist, kRightWrist, kBoneCount };

constexpr KnownBone kAsked[kBoneCount] = {
    {BoneRole::Arm, 0},      {BoneRole::Elbow, 0},     {BoneRole::Arm, 1},      {BoneRole::Elbow, 1},
    {BoneRole::ArmTwist, 0}, {BoneRole::HandTwist, 0}, {BoneRole::ArmTwist, 1}, {BoneRole::HandTwist, 1},
    {BoneRole::Wrist, 0},    {BoneRole::Wrist, 1},
};
const BoneName& nameOf(int bone) { return boneName(kAsked[bone].side, kAsked[bone].role); }

// For each pair: the source bone, its twist bone and the next bone of the limb.
constexpr struct {
  Bone source, twist, next;
} kPairBones[kPairCount] = {
    {kLeftArm, kLeftArmTwist, kLeftElbow},
    {kLeftElbow, kLeftWristTwist, kLeftWrist},
    {kRightArm, kRightArmTwist, kRightElbow},
    {kRightElbow, kRightWristTwist, kRightWrist},
};

enum class Encoding { Utf16, Utf8, ShiftJis };

struct FoundBone {
  bool present;
  Vec3 pos;
  bool hasFixedAxis;
  Vec3 fixedAxis;
};

FoundBone gBones[kBoneCount];
// PMD: every bone's position, and the twist bones' tails, for the axes
// that their type fixes (from the bone to its tail).
Vec3 gPmdPositions[65536];
int32_t gPmdTail[kBoneCount];
int64_t gSize = 0;
bool gBad = false;  // cut short or damaged: sticky, tested once per section

int64_t left() { return gSize - rdCount(); }

// Claims n more bytes of the file; false (and the file is bad) past its end.
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

// A PMX text: its byte length, then the bytes. Up to `cap` bytes are kept
// in `dst` (the length in *kept, -1 when longer); the rest is skipped.
void readText(uint8_t* dst, int cap, int* kept) {
  int32_t len = readInt32();
  if (len < 0) gBad = true;
  if (gBad) {
    *kept = -1;
    return;
  }
  if (len <= cap) {
    readBytes(dst, len);
    *kept = len;
  } else {
    skip(len);
    *kept = -1;
  }
}

void skipText() {
  int32_t len = readInt32();
  if (len < 0) gBad = true;
  skip(len);
}

// Notes a bone the pairs ask for; returns which (its first holder only), or -1.
int noteBone(const uint8_t* name, int len, Encoding enc, Vec3 pos, bool hasFixed, Vec3 fixed) {
  if (len < 0) return -1;
  std::string_view got(reinterpret_cast<const char*>(name), static_cast<size_t>(len));
  for (int b = 0; b < kBoneCount; b++) {
    const BoneName& name = nameOf(b);
    std::string_view want = enc == Encoding::Utf16 ? name.utf16 : enc == Encoding::Utf8 ? name.utf8 : name.sjis;
    if (got == want && !gBones[b].present) {
      gBones[b] = {true, pos, hasFixed, fixed};
      return b;
    }
  }
  return -1;
}

bool validIndexSize(int size) { return size == 1 || size == 2 || size == 4; }

// PMX 2.0 and 2.1: everything before the bones is stepped over by its own
// layout; the bones are read up to the last one.
void readPmx(ModelAxes* out) {
  float version = readFloat();
  if (!(version >= 2.0f && version < 3.0f)) gBad = true;
  int globals = static_cast<int>(readUnsigned(1));
  if (globals < 8) gBad = true;
  uint8_t g[8] = {};
  readBytes(g, 8);
  skip(globals - 8);
  const Encoding enc = g[0] == 0 ? Encoding::Utf16 : Encoding::Utf8;
  const int extraUvs = g[1];
  const int vertexIndex = g[2], textureIndex = g[3], boneIndex = g[5];
  if (g[0] > 1 || extraUvs > 4 || !validIndexSize(vertexIndex) || !validIndexSize(textureIndex) ||
      !validIndexSize(g[4]) || !validIndexSize(boneIndex) || !validIndexSize(g[6]) || !validIndexSize(g[7])) {
    gBad = true;
  }
  if (gBad) return;

  uint8_t name[sizeof out->name / 4];
  int nameLen = 0;
  readText(name, sizeof name, &nameLen);
  if (nameLen >= 0) {
    if (enc == Encoding::Utf16) {
      std::snprintf(out->name, sizeof out->name, "%s", plat::conFromUtf16(name, nameLen & ~1));
    } else {
      char utf8[sizeof name + 1];
      std::memcpy(utf8, name, static_cast<size_t>(nameLen));
      utf8[nameLen] = '\0';
      std::snprintf(out->name, sizeof out->name, "%s", plat::conFromUtf8(utf8));
    }
  }
  skipText();  // English name
  skipText();  // comment
  skipText();  // English comment

  const int32_t vertices = readInt32();
  const int minVertex = 32 + 16 * extraUvs + 1 + boneIndex + 4;
  if (vertices < 0 || vertices > left() / minVertex) gBad = true;
  for (int32_t v = 0; v < vertices && !gBad; v++) {
    skip(32 + 16 * extraUvs);
    switch (readUnsigned(1)) {
      case 0: skip(boneIndex); break;                    // BDEF1
      case 1: skip(2 * boneIndex + 4); break;            // BDEF2
      case 2: skip(4 * boneIndex + 16); break;           // BDEF4
      case 3: skip(2 * boneIndex + 4 + 36); break;       // SDEF
      case 4: skip(4 * boneIndex + 16); break;           // QDEF (2.1)
      default: gBad = true; break;
    }
    skip(4);  // edge scale
  }

  const int32_t faceIndices = readInt32();
  if (faceIndices < 0) gBad = true;
  skip(static_cast<int64_t>(faceIndices) * vertexIndex);

  const int32_t textures = readInt32();
  if (textures < 0 || textures > left() / 4) gBad = true;
  for (int32_t t = 0; t < textures && !gBad; t++) skipText();

  const int32_t materials = readInt32();
  if (materials < 0 || materials > left() / 8) gBad = true;
  for (int32_t m = 0; m < materials && !gBad; m++) {
    skipText();
    skipText();
    skip(65);                       // colours, flags, edge
    skip(2 * textureIndex + 1);     // texture, sphere map, sphere mode
    int sharedToon = static_cast<int>(readUnsigned(1));
    skip(sharedToon == 0 ? textureIndex : 1);
    skipText();                     // memo
    skip(4);                        // face count
  }

  const int32_t bones = readInt32();
  if (bones < 0 || bones > left() / 8) gBad = true;
  for (int32_t b = 0; b < bones && !gBad; b++) {
    uint8_t boneName[64];
    int boneNameLen = 0;
    readText(boneName, sizeof boneName, &boneNameLen);
    skipText();
    Vec3 pos = readVec3();
    skip(boneIndex + 4);  // parent, layer
    uint32_t flags = readUnsigned(2);
    skip((flags & 0x0001) != 0 ? boneIndex : 12);        // tail: bone or offset
    if ((flags & 0x0300) != 0) skip(boneIndex + 4);       // inherited rotation or move
    Vec3 fixed = {0, 0, 0};
    if ((flags & 0x0400) != 0) fixed = readVec3();        // fixed axis
    if ((flags & 0x0800) != 0) skip(24);                  // local axes
    if ((flags & 0x2000) != 0) skip(4);                   // external parent
    if ((flags & 0x0020) != 0) {                          // IK
      skip(boneIndex + 8);
      int32_t links = readInt32();
      if (links < 0 || links > left() / (boneIndex + 1)) gBad = true;
      for (int32_t l = 0; l < links && !gBad; l++) {
        skip(boneIndex);
        if (readUnsigned(1) != 0) skip(24);
      }
    }
    if (!gBad) noteBone(boneName, boneNameLen, enc, pos, (flags & 0x0400) != 0, fixed);
  }
}

// PMD: fixed-size records, Shift-JIS names.
void readPmd(ModelAxes* out) {
  if (readFloat() != 1.0f) gBad = true;
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
  if (bones > left() / 39) gBad = true;
  for (uint32_t b = 0; b < bones && !gBad; b++) {
    uint8_t boneName[21] = {};
    readBytes(boneName, 20);
    skip(2);  // parent
    const uint32_t tail = readUnsigned(2);
    const bool twist = readUnsigned(1) == 8;  // a twist bone turns about its fixed axis only
    skip(2);  // IK parent
    const Vec3 pos = gPmdPositions[b] = readVec3();
    const int found = noteBone(boneName, static_cast<int>(std::strlen(reinterpret_cast<char*>(boneName))),
                               Encoding::ShiftJis, pos, false, {0, 0, 0});
    if (found >= 0 && twist) gPmdTail[found] = static_cast<int32_t>(tail);
  }
  // Its axis runs from the bone to its tail; a tail that is no bone counts
  // as the first bone, as players read it.
  for (int k = 0; k < kBoneCount && !gBad; k++) {
    if (gPmdTail[k] < 0) continue;
    const Vec3 tail = gPmdPositions[static_cast<uint32_t>(gPmdTail[k]) < bones ? gPmdTail[k] : 0];
    const Vec3& pos = gBones[k].pos;
    gBones[k].hasFixedAxis = true;
    gBones[k].fixedAxis = {subF(tail.x, pos.x), subF(tail.y, pos.y), subF(tail.z, pos.z)};
  }
}

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void resolvePairs(ModelAxes* out) {
  for (int i = 0; i < kPairCount; i++) {
    const FoundBone& twist = gBones[kPairBones[i].twist];
    const FoundBone& source = gBones[kPairBones[i].source];
    const FoundBone& next = gBones[kPairBones[i].next];
    out->hasSource[i] = source.present;
    out->hasTwist[i] = twist.present;
    out->hasNext[i] = next.present;
    // A limb bone with a fixed axis of its own is turned onto it too.
    if (source.hasFixedAxis && finite(source.fixedAxis) && std::isfinite(vecLength(source.fixedAxis)) &&
        vecLength(source.fixedAxis) != 0.0f) {
      out->sourceFixed[i] = true;
      out->sourceAxis[i] = source.fixedAxis;
    }
    Vec3 axis;
    if (twist.present && twist.hasFixedAxis) {
      axis = twist.fixedAxis;
      out->fixed[i] = true;
    } else if (source.present && next.present) {
      axis = {subF(next.pos.x, source.pos.x), subF(next.pos.y, source.pos.y), subF(next.pos.z, source.pos.z)};
    } else {
      continue;
    }
    // Every use divides by the length: it must be a float, and not zero.
    const float length = finite(axis) ? vecLength(axis) : 0.0f;
    if (!std::isfinite(length) || length == 0.0f) {
      out->noDirection[i] = true;
      continue;
    }
    if (axis.x < 0.0f) axis = {-axis.x, -axis.y, -axis.z};
    out->axis[i] = axis;
    out->found[i] = true;
  }
}

}  // namespace

const char* missingBone(const ModelAxes& m, const bool pairs[kPairCount], bool fold, bool wrists) {
  for (int i = 0; i < kPairCount; i++) {
    const bool wrist = wrists && i % 2 == 1;  // the elbow pair of a side
    if (!pairs[i] && !wrist) continue;
    const bool axis = !fold || wrist;
    const auto& bones = kPairBones[i];
    if (!m.hasSource[i]) return nameOf(bones.source).sjis.data();
    if (axis && !m.hasTwist[i]) return nameOf(bones.twist).sjis.data();
    if ((wrist || (axis && !m.fixed[i])) && !m.hasNext[i]) return nameOf(bones.next).sjis.data();
  }
  return nullptr;
}

bool isModelPath(const char* path) {
  char ext[plat::kPathMax];
  if (std::strlen(path) >= sizeof ext) return false;
  pathExtPart(ext, path);
  return (prefixMatchNoCase(ext, ".PMX") == 0 || prefixMatchNoCase(ext, ".PMD") == 0) && std::strlen(ext) == 4;
}

int readModelAxes(const char* path, ModelAxes* out, char* reason, int reasonSize) {
  *out = ModelAxes{};
  for (FoundBone& b : gBones) b = FoundBone{};
  for (int32_t& t : gPmdTail) t = -1;
  gBad = false;
  if (rdOpen(path) != 0) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "cannot be opened");
    return -1;
  }
  gSize = rdSize();
  // The stream counts in 32 bits; no model comes near 2 GiB.
  if (gSize > 0x7FFFFFFF) gSize = -1;
  uint8_t magic[4] = {};
  readBytes(magic, 3);
  if (gSize < 0 || gBad) {
    gBad = false;
    magic[0] = 0;  // too short or no regular file: no model
  }
  if (std::memcmp(magic, "PMX", 3) == 0) {
    readBytes(magic + 3, 1);
    if (magic[3] == ' ') {
      readPmx(out);
    } else {
      magic[0] = 0;
    }
  } else if (std::memcmp(magic, "Pmd", 3) == 0) {
    readPmd(out);
  }
  const bool known = magic[0] == 'P';
  const bool failed = rdHasFailed() != 0;
  rdClose();
  if (!known) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "not a PMX or PMD model");
    return -1;
  }
  if (gBad || failed) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "cut short or damaged");
    return -1;
  }
  resolvePairs(out);
  return 0;
}

}  // namespace torsel
