// PMX and PMD models for the tests, by the published layouts.
#include <algorithm>
#include <bit>
#include <cmath>

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

// The Shift-JIS twin of a UTF-8 bone name (the arm group's characters and ASCII).
std::string toSjis(const std::string& u8) {
  static const char* kParts[][2] = {{"\xE5\xB7\xA6", "\x8D\xB6"}, {"\xE5\x8F\xB3", "\x89\x45"}, {"\xE8\x85\x95", "\x98\x72"},
                                    {"\xE3\x81\xB2", "\x82\xD0"}, {"\xE3\x81\x98", "\x82\xB6"}, {"\xE6\x89\x8B", "\x8E\xE8"},
                                    {"\xE9\xA6\x96", "\x8E\xF1"}, {"\xE6\x8D\xA9", "\x9D\x80"}};
  std::string out;
  for (size_t i = 0; i < u8.size(); i += u8[i] & 0x80 ? 3 : 1) {
    if (!(u8[i] & 0x80)) out += u8[i];  // ASCII as it stands
    for (const auto& p : kParts) out += u8[i] & 0x80 && u8.compare(i, 3, p[0]) == 0 ? p[1] : "";
  }
  return out;
}

int32_t indexOf(const std::vector<ModelBone>& bones, const std::string& name) {
  for (size_t i = 0; i < bones.size(); i++) if (bones[i].name == name) return static_cast<int32_t>(i);
  return -1;
}

// The parent a real rig gives a bone: of the parts of the arm in order (腕, 腕捩, ひじ, 手捩,
// 手首), the nearest before the last one its name begins with that the model has.
int32_t parentOf(const std::vector<ModelBone>& bones, const ModelBone& b) {
  if (!b.parent.empty()) return indexOf(bones, b.parent);
  static const char* kParts[] = {"\xE8\x85\x95", "\xE8\x85\x95\xE6\x8D\xA9", "\xE3\x81\xB2\xE3\x81\x98",
                                 "\xE6\x89\x8B\xE6\x8D\xA9", "\xE6\x89\x8B\xE9\xA6\x96"};
  const std::string side = b.name.substr(0, 3);
  int part = -1;
  for (int k = 0; k < 5; k++) part = b.name.rfind(side + kParts[k], 0) == 0 ? k : part;
  for (int k = part - 1; k >= 0; k--) {
    if (indexOf(bones, side + kParts[k]) >= 0) return indexOf(bones, side + kParts[k]);
  }
  return -1;
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
    const bool append = !b.append.empty();
    w.text(b.name).text("bone").vec3(b.pos).index(parentOf(bones, b)).u32(0);
    w.u16(0x001A | (b.hasFixedAxis ? 0x0400 : 0) | (b.extras ? 0x2921 : 0) | (append ? 0x0100 : 0));
    b.extras ? w.index(0) : w.vec3({0, -1, 0});  // tail bone, or tail offset
    if (b.extras || append) w.index(append ? indexOf(bones, b.append) : 0).f32(append ? b.ratio : 0.5f);
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
  for (const ModelBone& b : bones) {
    const int32_t parent = parentOf(bones, b), append = indexOf(bones, b.append), tail = indexOf(bones, b.tail);
    // Type 9 takes its tail bone's rotation in hundredths (IK field); type 8 turns about the line to its tail.
    w.fixed(toSjis(b.name), 20).u16(parent < 0 ? 0xFFFF : static_cast<unsigned>(parent));
    w.u16(static_cast<unsigned>(std::max(append >= 0 ? append : tail, 0))).u8(append >= 0 ? 9 : tail >= 0 ? 8 : 0);
    w.u16(append >= 0 ? static_cast<unsigned>(std::lround(b.ratio * 100)) : 0).vec3(b.pos);
  }
  return w.u16(0).out;  // IK count
}

std::vector<ModelBone> bonesWithBuiltInAxes() {
  auto f = [](uint32_t bits) { return std::bit_cast<float>(bits); };
  const std::array<float, 3> axes[4] = {{f(0x3E8F2FBA), f(0xBE5B2032), f(0x3C1F69A8)},
                                        {f(0x3E8DB424), f(0xBE573C4F), f(0xBBCED627)},
                                        {f(0x3E911CD2), f(0x3E5E12E8), f(0xBBEC887F)},
                                        {f(0x3E9184E4), f(0x3E5D07C8), f(0x3BD467F7)}};
  const char* names[2][5] = {{kU8LeftArm, kU8LeftArmTwist, kU8LeftElbow, kU8LeftWristTwist, kU8LeftWrist},
                             {kU8RightArm, kU8RightArmTwist, kU8RightElbow, kU8RightWristTwist, kU8RightWrist}};
  // Each limb runs along its axis (the table keeps X positive: the right side's turned
  // back), its twist bone halfway.
  std::vector<ModelBone> bones;
  for (int side = 0; side < 2; side++) {
    std::array<float, 3> at = {side == 0 ? 1.0f : -1.0f, 15, 0};
    for (int k = 0; k < 5; k++) {
      bones.push_back({names[side][k], at, k % 2 == 1, k % 2 == 1 ? axes[2 * side + k / 2] : std::array<float, 3>{}});
      const std::array<float, 3>& a = axes[2 * side + (k == 4 ? 1 : k / 2)];
      const float step = side == 0 ? 3.0f : -3.0f;
      for (int c = 0; c < 3; c++) at[c] += step * a[c];
    }
  }
  return bones;
}

}  // namespace testsupport
