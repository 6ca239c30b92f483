// PMX 2.0 and 2.1: everything before the bones is stepped over by its own
// layout; the bones are read up to the last one.
#include <cstdio>
#include <cstring>

#include "model/model_read.h"
#include "platform/platform.h"

namespace torsel::modelread {
namespace {

// The header's globals that the sections after it are laid out by.
struct PmxLayout {
  NameEncoding enc;
  int extraUvs;
  int vertexIndex, textureIndex, boneIndex;
};

bool validIndexSize(int size) { return size == 1 || size == 2 || size == 4; }

// A PMX text: its byte length, then the bytes. Up to `cap` bytes are kept
// in `dst` (the length in *kept, -1 when longer); the rest is skipped.
void readText(uint8_t* dst, int cap, int* kept) {
  int32_t len = readInt32();
  if (len < 0) setBad();
  if (bad()) {
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
  if (len < 0) setBad();
  skip(len);
}

PmxLayout readLayout() {
  float version = readFloat();
  if (!(version >= 2.0f && version < 3.0f)) setBad();
  int globals = static_cast<int>(readUnsigned(1));
  if (globals < 8) setBad();
  uint8_t g[8] = {};
  readBytes(g, 8);
  skip(globals - 8);
  const PmxLayout layout = {.enc = g[0] == 0 ? NameEncoding::Utf16 : NameEncoding::Utf8,
                            .extraUvs = g[1],
                            .vertexIndex = g[2],
                            .textureIndex = g[3],
                            .boneIndex = g[5]};
  bool valid = g[0] <= 1 && g[1] <= 4;
  for (int k = 2; k < 8; k++) valid = valid && validIndexSize(g[k]);
  if (!valid) setBad();
  return layout;
}

// The model's name, ready for the console; its English name and comments stepped over.
void readNames(const PmxLayout& layout, ModelAxes* out) {
  uint8_t name[sizeof out->name / 4];
  int nameLen = 0;
  readText(name, sizeof name, &nameLen);
  if (nameLen >= 0) {
    if (layout.enc == NameEncoding::Utf16) {
      std::snprintf(out->name, sizeof out->name, "%s", plat::conFromUtf16(name, nameLen & ~1));
    } else {
      char utf8[sizeof name + 1];
      std::memcpy(utf8, name, static_cast<size_t>(nameLen));
      utf8[nameLen] = '\0';
      std::snprintf(out->name, sizeof out->name, "%s", plat::conFromUtf8(utf8));
    }
  }
  for (int k = 0; k < 3; k++) skipText();
}

void skipVertices(const PmxLayout& layout) {
  const int32_t vertices = readInt32();
  const int b = layout.boneIndex, minVertex = 32 + 16 * layout.extraUvs + 1 + b + 4;
  if (vertices < 0 || vertices > left() / minVertex) setBad();
  for (int32_t v = 0; v < vertices && !bad(); v++) {
    skip(32 + 16 * layout.extraUvs);
    switch (readUnsigned(1)) {
      case 0: skip(b); break;                    // BDEF1
      case 1: skip(2 * b + 4); break;            // BDEF2
      case 2: skip(4 * b + 16); break;           // BDEF4
      case 3: skip(2 * b + 4 + 36); break;       // SDEF
      case 4: skip(4 * b + 16); break;           // QDEF (2.1)
      default: setBad(); break;
    }
    skip(4);  // edge scale
  }
  const int32_t faceIndices = readInt32();
  if (faceIndices < 0) setBad();
  skip(static_cast<int64_t>(faceIndices) * layout.vertexIndex);
}

void skipTexturesAndMaterials(const PmxLayout& layout) {
  const int32_t textures = readInt32();
  if (textures < 0 || textures > left() / 4) setBad();
  for (int32_t t = 0; t < textures && !bad(); t++) skipText();

  const int32_t materials = readInt32();
  if (materials < 0 || materials > left() / 8) setBad();
  for (int32_t m = 0; m < materials && !bad(); m++) {
    skipText();
    skipText();
    skip(65);                              // colours, flags, edge
    skip(2 * layout.textureIndex + 1);     // texture, sphere map, sphere mode
    int sharedToon = static_cast<int>(readUnsigned(1));
    skip(sharedToon == 0 ? layout.textureIndex : 1);
    skipText();                            // memo
    skip(4);                               // face count
  }
}

// One bone: what the rig check and the axes need of it, the rest stepped over.
void readBone(const PmxLayout& layout, int32_t index, ModelAxes* out) {
  const int bi = layout.boneIndex;
  uint8_t name[64];
  BoneRecord b = {.name = name, .nameLen = 0, .index = index, .parent = -1, .pos = {}, .hasFixedAxis = false,
                  .fixedAxis = {0, 0, 0}, .appends = false, .appendParent = -1, .ratio = 0};
  readText(name, sizeof name, &b.nameLen);
  skipText();
  b.pos = readVec3();
  b.parent = readIndex(bi);
  skip(4);  // layer
  const uint32_t flags = readUnsigned(2);
  skip((flags & 0x0001) != 0 ? bi : 12);  // tail: bone or offset
  if ((flags & 0x0300) != 0) {            // append rotation or translation
    b.appends = (flags & 0x0100) != 0;
    b.appendParent = readIndex(bi);
    b.ratio = readFloat();
  }
  b.hasFixedAxis = (flags & 0x0400) != 0;
  if (b.hasFixedAxis) b.fixedAxis = readVec3();
  if ((flags & 0x0800) != 0) skip(24);  // local axes
  if ((flags & 0x2000) != 0) skip(4);   // external parent
  if ((flags & 0x0020) != 0) {          // IK
    skip(bi + 8);
    int32_t links = readInt32();
    if (links < 0 || links > left() / (bi + 1)) setBad();
    for (int32_t l = 0; l < links && !bad(); l++) {
      skip(bi);
      if (readUnsigned(1) != 0) skip(24);
    }
  }
  if (!bad()) noteBone(b, layout.enc, out);
}

}  // namespace

void readPmx(ModelAxes* out) {
  const PmxLayout layout = readLayout();
  if (bad()) return;
  out->encoding = layout.enc;
  readNames(layout, out);
  skipVertices(layout);
  skipTexturesAndMaterials(layout);
  const int32_t bones = readInt32();
  if (bones < 0 || bones > left() / 8) setBad();
  noteBoneCount(bones);
  for (int32_t b = 0; b < bones && !bad(); b++) readBone(layout, b, out);
}

}  // namespace torsel::modelread
