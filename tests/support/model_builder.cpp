// PMX and PMD models for the tests, by the published layouts.
#include <bit>

#include "support/harness.h"

namespace testsupport {
namespace {

struct Writer {
  Bytes out;
  bool utf8 = false;
  int n = 2;  // index size
  Writer& u8(unsigned v) { return out.push_back(static_cast<uint8_t>(v)), *this; }
  Writer& u16(unsigned v) { return u8(v), u8(v >> 8); }
  Writer& u32(uint32_t v) { return putU32(&out, v), *this; }
  Writer& f32(float v, int times = 1) {
    for (int i = 0; i < times; i++) u32(std::bit_cast<uint32_t>(v));
    return *this;
  }
  Writer& vec3(const std::array<float, 3>& v) { return f32(v[0]).f32(v[1]).f32(v[2]); }
  Writer& index(int32_t v) {
    for (int i = 0; i < n; i++) u8(static_cast<uint32_t>(v) >> (8 * i));
    return *this;
  }
  Writer& fixed(const std::string& s, size_t width) {
    for (size_t i = 0; i < width; i++) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
    return *this;
  }
  // UTF-8 as given, or as UTF-16LE (ASCII and three-byte sequences only).
  Writer& text(const std::string& s) {
    Bytes b(s.begin(), s.end());
    if (!utf8) b.clear();
    for (size_t i = 0; i < s.size() && !utf8;) {
      auto c = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[i + k])); };
      unsigned cp = c(0) < 0x80 ? c(0) : (c(0) & 0x0F) << 12 | (c(1) & 0x3F) << 6 | (c(2) & 0x3F);
      i += c(0) < 0x80 ? 1 : 3;
      b.push_back(static_cast<uint8_t>(cp)), b.push_back(static_cast<uint8_t>(cp >> 8));
    }
    u32(static_cast<uint32_t>(b.size()));
    return out.insert(out.end(), b.begin(), b.end()), *this;
  }
};

// The Shift-JIS twin of a UTF-8 bone name, character by character.
std::string toSjis(const std::string& u8) {
  static const char* kParts[][2] = {{"\xE5\xB7\xA6", "\x8D\xB6"}, {"\xE5\x8F\xB3", "\x89\x45"}, {"\xE8\x85\x95", "\x98\x72"},
                                    {"\xE3\x81\xB2", "\x82\xD0"}, {"\xE3\x81\x98", "\x82\xB6"}, {"\xE6\x89\x8B", "\x8E\xE8"},
                                    {"\xE9\xA6\x96", "\x8E\xF1"}, {"\xE6\x8D\xA9", "\x9D\x80"}};
  std::string out;
  for (size_t i = 0; i < u8.size(); i += 3) {
    for (const auto& p : kParts) out += u8.compare(i, 3, p[0]) == 0 ? p[1] : "";
  }
  return out;
}

}  // namespace

Bytes buildPmx(const std::vector<ModelBone>& bones, const PmxOptions& o) {
  Writer w{{}, o.utf8, o.indexSize};
  const unsigned n = static_cast<unsigned>(o.indexSize);
  w.fixed("PMX ", 4).f32(o.version).u8(8).u8(o.utf8).u8(static_cast<unsigned>(o.extraUvs));
  for (int k = 0; k < 6; k++) w.u8(n);
  w.text("\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88").text("test").text("c").text("comment");  // テスト
  // One vertex of every weight type: BDEF1, BDEF2, BDEF4, SDEF, and QDEF in 2.1.
  const int types = o.version >= 2.1f ? 5 : 4;
  w.u32(static_cast<uint32_t>(types));
  for (int t = 0; t < types; t++) {
    w.f32(0.25f, 8 + 4 * o.extraUvs).u8(static_cast<unsigned>(t));
    for (int k = 0; k < (t == 0 ? 1 : t == 1 || t == 3 ? 2 : 4); k++) w.index(0);
    w.f32(0.5f, t == 0 ? 0 : t == 1 ? 1 : t == 3 ? 10 : 4).f32(1.0f);
  }
  w.u32(3).index(0).index(1).index(2).u32(2).text("a.png").text("toon.bmp").u32(2);
  for (unsigned m = 0; m < 2; m++) {  // an own toon texture, then a shared one
    w.text("mat").text("material").f32(0.5f, 11).u8(0x10).f32(0.1f, 5).index(0).index(-1).u8(0).u8(m);
    (m == 0 ? w.index(1) : w.u8(3)).text("memo").u32(3);
  }
  w.u32(static_cast<uint32_t>(bones.size()));
  for (const ModelBone& b : bones) {
    w.text(b.name).text("bone").vec3(b.pos).index(-1).u32(0);
    w.u16(0x001A | (b.hasFixedAxis ? 0x0400 : 0) | (b.extras ? 0x2921 : 0));
    b.extras ? w.index(0).index(0).f32(0.5f) : w.vec3({0, -1, 0});  // tail bone and inheritance, or tail offset
    if (b.hasFixedAxis) w.vec3(b.fixedAxis);
    // Local axes, an external parent, and IK with two links, one limited.
    if (b.extras) w.f32(0.5f, 6).u32(7).index(0).u32(40).f32(0.1f).u32(2).index(0).u8(0).index(1).u8(1).f32(-1, 6);
  }
  return w.u32(0).out;  // morphs and the rest are never read
}

Bytes buildPmd(const std::vector<ModelBone>& bones) {
  Writer w;
  w.fixed("Pmd", 3).f32(1.0f).fixed("\x83\x7E\x83\x4E", 20).fixed("comment", 256);  // ミク
  w.u32(2).fixed("vertex", 76).u32(3).fixed("", 6).u32(1).fixed("material", 70);
  w.u16(static_cast<unsigned>(bones.size()));
  for (const ModelBone& b : bones) w.fixed(toSjis(b.name), 20).u16(0xFFFF).u16(0).u8(0).u16(0).vec3(b.pos);
  return w.u16(0).out;  // IK count
}

std::vector<ModelBone> bonesWithBuiltInAxes() {
  auto f = [](uint32_t bits) { return std::bit_cast<float>(bits); };
  return {{kU8LeftArm, {1, 15, 0}},
          {kU8LeftArmTwist, {2, 14, 0}, true, {f(0x3E8F2FBA), f(0xBE5B2032), f(0x3C1F69A8)}},
          {kU8LeftElbow, {3, 13, 0}},
          {kU8LeftWristTwist, {4, 12, 0}, true, {f(0x3E8DB424), f(0xBE573C4F), f(0xBBCED627)}},
          {kU8LeftWrist, {5, 11, 0}},
          {kU8RightArm, {-1, 15, 0}},
          {kU8RightArmTwist, {-2, 14, 0}, true, {f(0x3E911CD2), f(0x3E5E12E8), f(0xBBEC887F)}},
          {kU8RightElbow, {-3, 13, 0}},
          {kU8RightWristTwist, {-4, 12, 0}, true, {f(0x3E9184E4), f(0x3E5D07C8), f(0x3BD467F7)}},
          {kU8RightWrist, {-5, 11, 0}}};
}

}  // namespace testsupport
