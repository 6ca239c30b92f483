#include "support/model_builder.h"

#include <bit>
#include <cstring>
#include <map>

namespace testsupport {
namespace {

// UTF-8 (BMP only) to UTF-16LE.
Bytes utf16(const std::string& s) {
  Bytes out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    if (c < 0x80) {
      cp = c;
      i += 1;
    } else if (c < 0xE0) {
      cp = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      i += 2;
    } else {
      cp = (c & 0x0Fu) << 12 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6 |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      i += 3;
    }
    out.push_back(static_cast<uint8_t>(cp));
    out.push_back(static_cast<uint8_t>(cp >> 8));
  }
  return out;
}

// The Shift-JIS bytes of the bone names the tests use.
std::string toSjis(const std::string& utf8) {
  static const std::map<std::string, std::string> table = {
      {kU8LeftArm, "\x8D\xB6\x98\x72"},           {kU8LeftElbow, "\x8D\xB6\x82\xD0\x82\xB6"},
      {kU8LeftWrist, "\x8D\xB6\x8E\xE8\x8E\xF1"}, {kU8LeftArmTwist, "\x8D\xB6\x98\x72\x9D\x80"},
      {kU8LeftWristTwist, "\x8D\xB6\x8E\xE8\x9D\x80"}, {kU8RightArm, "\x89\x45\x98\x72"},
      {kU8RightElbow, "\x89\x45\x82\xD0\x82\xB6"}, {kU8RightWrist, "\x89\x45\x8E\xE8\x8E\xF1"},
      {kU8RightArmTwist, "\x89\x45\x98\x72\x9D\x80"}, {kU8RightWristTwist, "\x89\x45\x8E\xE8\x9D\x80"},
      {kU8Center, "\x83\x5A\x83\x93\x83\x5E\x81\x5B"},
  };
  auto it = table.find(utf8);
  return it != table.end() ? it->second : utf8;
}

struct Writer {
  Bytes out;
  const PmxOptions* o = nullptr;
  void u8(uint8_t v) { out.push_back(v); }
  void u16(uint16_t v) { u8(static_cast<uint8_t>(v)), u8(static_cast<uint8_t>(v >> 8)); }
  void u32(uint32_t v) { putU32(&out, v); }
  void f32(float v) { putF32(&out, v); }
  void vec3(const std::array<float, 3>& v) {
    for (float f : v) f32(f);
  }
  void index(int size, int32_t v) {
    for (int i = 0; i < size; i++) u8(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  void text(const std::string& utf8) {
    Bytes b = o->utf8 ? Bytes(utf8.begin(), utf8.end()) : utf16(utf8);
    u32(static_cast<uint32_t>(b.size()));
    out.insert(out.end(), b.begin(), b.end());
  }
};

}  // namespace

Bytes buildPmx(const std::vector<ModelBone>& bones, const PmxOptions& o) {
  Writer w;
  w.o = &o;
  for (char c : std::string("PMX ")) w.u8(static_cast<uint8_t>(c));
  w.f32(o.version);
  w.u8(8);
  for (int g : {o.utf8 ? 1 : 0, o.extraUvs, o.vertexIndex, o.textureIndex, o.materialIndex, o.boneIndex, o.morphIndex,
                o.rigidIndex}) {
    w.u8(static_cast<uint8_t>(g));
  }
  w.text(o.name);
  w.text("test");
  w.text("\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88");  // コメント
  w.text("comment");

  // Vertices: one of each weight type (QDEF in 2.1 only).
  const int types = o.version >= 2.1f ? 5 : 4;
  w.u32(static_cast<uint32_t>(types));
  for (int t = 0; t < types; t++) {
    for (int k = 0; k < 8 + 4 * o.extraUvs; k++) w.f32(0.25f * static_cast<float>(k));
    w.u8(static_cast<uint8_t>(t));
    const int idx = (t == 0) ? 1 : (t == 1 || t == 3) ? 2 : 4;
    for (int k = 0; k < idx; k++) w.index(o.boneIndex, 0);
    if (t == 1) w.f32(0.5f);
    if (t == 2 || t == 4) {
      for (int k = 0; k < 4; k++) w.f32(0.25f);
    }
    if (t == 3) {
      w.f32(0.5f);
      for (int k = 0; k < 9; k++) w.f32(1.0f);
    }
    w.f32(1.0f);  // edge scale
  }
  w.u32(3);  // one triangle
  for (int k = 0; k < 3; k++) w.index(o.vertexIndex, k);
  w.u32(2);
  w.text("tex\\a.png");
  w.text("tex\\toon.bmp");
  w.u32(2);
  for (int m = 0; m < 2; m++) {
    w.text("mat");
    w.text("material");
    for (int k = 0; k < 11; k++) w.f32(0.5f);  // diffuse, specular, strength, ambient
    w.u8(0x10);
    for (int k = 0; k < 5; k++) w.f32(0.1f);   // edge colour and size
    w.index(o.textureIndex, 0);
    w.index(o.textureIndex, -1);
    w.u8(0);
    w.u8(static_cast<uint8_t>(m));  // own toon texture, then a shared one
    if (m == 0) {
      w.index(o.textureIndex, 1);
    } else {
      w.u8(3);
    }
    w.text("memo");
    w.u32(3);
  }
  w.u32(static_cast<uint32_t>(bones.size()));
  for (const ModelBone& b : bones) {
    w.text(b.name);
    w.text("bone");
    w.vec3(b.pos);
    w.index(o.boneIndex, -1);
    w.u32(0);
    uint16_t flags = 0x0002 | 0x0008 | 0x0010;
    if (b.tailIsBone) flags |= 0x0001;
    if (b.ikLinks >= 0) flags |= 0x0020;
    if (b.inherits) flags |= 0x0100;
    if (b.fixedAxis) flags |= 0x0400;
    if (b.localAxes) flags |= 0x0800;
    if (b.externalParent) flags |= 0x2000;
    w.u16(flags);
    if (b.tailIsBone) {
      w.index(o.boneIndex, 0);
    } else {
      w.vec3({0, -1, 0});
    }
    if (b.inherits) {
      w.index(o.boneIndex, 0);
      w.f32(0.5f);
    }
    if (b.fixedAxis) w.vec3(*b.fixedAxis);
    if (b.localAxes) {
      w.vec3({1, 0, 0});
      w.vec3({0, 0, 1});
    }
    if (b.externalParent) w.u32(7);
    if (b.ikLinks >= 0) {
      w.index(o.boneIndex, 0);
      w.u32(40);
      w.f32(0.1f);
      w.u32(static_cast<uint32_t>(b.ikLinks));
      for (int l = 0; l < b.ikLinks; l++) {
        w.index(o.boneIndex, l);
        w.u8(static_cast<uint8_t>(l % 2));
        if (l % 2) {
          w.vec3({-1, 0, 0});
          w.vec3({0, 0, 0});
        }
      }
    }
  }
  // Morphs and the rest are never read; a morph count closes the file.
  w.u32(0);
  return w.out;
}

Bytes buildPmd(const std::vector<ModelBone>& bones, const std::string& sjisName) {
  Writer w;
  PmxOptions o;
  w.o = &o;
  for (char c : std::string("Pmd")) w.u8(static_cast<uint8_t>(c));
  w.f32(1.0f);
  auto fixed = [&](const std::string& s, size_t width) {
    for (size_t i = 0; i < width; i++) w.u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  };
  fixed(sjisName, 20);
  fixed("comment", 256);
  w.u32(2);
  for (int v = 0; v < 2; v++) fixed("vertex", 38);
  w.u32(3);
  for (int k = 0; k < 3; k++) w.u16(static_cast<uint16_t>(k % 2));
  w.u32(1);
  fixed("material", 70);
  w.u16(static_cast<uint16_t>(bones.size()));
  for (const ModelBone& b : bones) {
    fixed(toSjis(b.name), 20);
    w.u16(0xFFFF);
    w.u16(0);
    w.u8(0);
    w.u16(0);
    w.vec3(b.pos);
  }
  w.u16(0);  // IK count
  return w.out;
}

std::vector<ModelBone> bonesWithBuiltInAxes() {
  auto f = [](uint32_t bits) { return std::bit_cast<float>(bits); };
  std::vector<ModelBone> bones = {
      {kU8Center, {0, 8, 0}, {}},
      {kU8LeftArm, {1, 15, 0}, {}},
      {kU8LeftArmTwist, {2, 14, 0}, std::array<float, 3>{f(0x3E8F2FBA), f(0xBE5B2032), f(0x3C1F69A8)}},
      {kU8LeftElbow, {3, 13, 0}, {}},
      {kU8LeftWristTwist, {4, 12, 0}, std::array<float, 3>{f(0x3E8DB424), f(0xBE573C4F), f(0xBBCED627)}},
      {kU8LeftWrist, {5, 11, 0}, {}},
      {kU8RightArm, {-1, 15, 0}, {}},
      {kU8RightArmTwist, {-2, 14, 0}, std::array<float, 3>{f(0x3E911CD2), f(0x3E5E12E8), f(0xBBEC887F)}},
      {kU8RightElbow, {-3, 13, 0}, {}},
      {kU8RightWristTwist, {-4, 12, 0}, std::array<float, 3>{f(0x3E9184E4), f(0x3E5D07C8), f(0x3BD467F7)}},
      {kU8RightWrist, {-5, 11, 0}, {}},
  };
  return bones;
}

}  // namespace testsupport
