#include "support/vmd_builder.h"

#include <cstring>

namespace testsupport {

void putU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putF32(Bytes* out, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  putU32(out, v);
}

namespace {
void putName(Bytes* out, const std::string& name, size_t width) {
  for (size_t i = 0; i < width; i++) out->push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
}
}  // namespace

std::array<uint8_t, 64> canonicalBlock(const std::array<uint8_t, 16>& p) {
  std::array<uint8_t, 64> bz{};
  for (int row = 0; row < 4; row++) {
    for (int k = 0; k + row < 16; k++) bz[16 * row + k] = p[k + row];
  }
  return bz;
}

std::array<uint8_t, 64> defaultBlock() {
  std::array<uint8_t, 16> p;
  for (int i = 0; i < 16; i++) p[i] = static_cast<uint8_t>(20 + i);
  return canonicalBlock(p);
}

VmdBuilder::VmdBuilder(std::string modelName) : model_(std::move(modelName)) {}

VmdBuilder& VmdBuilder::bone(const std::string& name, uint32_t frame, Rot rot, std::array<float, 3> pos) {
  Bytes b;
  putName(&b, name, 15);
  putU32(&b, frame);
  for (float v : pos) putF32(&b, v);
  putF32(&b, rot.x);
  putF32(&b, rot.y);
  putF32(&b, rot.z);
  putF32(&b, rot.w);
  auto bz = defaultBlock();
  b.insert(b.end(), bz.begin(), bz.end());
  bones_.push_back(b);
  return *this;
}

VmdBuilder& VmdBuilder::boneWithBlock(const std::string& name, uint32_t frame, Rot rot,
                                      const std::array<uint8_t, 64>& bz) {
  bone(name, frame, rot);
  std::memcpy(bones_.back().data() + 47, bz.data(), 64);
  return *this;
}

VmdBuilder& VmdBuilder::boneRawName(const std::array<uint8_t, 15>& field, uint32_t frame, Rot rot) {
  bone("", frame, rot);
  std::memcpy(bones_.back().data(), field.data(), 15);
  return *this;
}

VmdBuilder& VmdBuilder::morph(const std::string& name, uint32_t frame, float value) {
  Bytes b;
  putName(&b, name, 15);
  putU32(&b, frame);
  putF32(&b, value);
  morphs_.push_back(b);
  return *this;
}

VmdBuilder& VmdBuilder::noMorphSection() {
  morphSection_ = false;
  return *this;
}

VmdBuilder& VmdBuilder::trailing(const Bytes& bytes) {
  trailing_ = bytes;
  return *this;
}

VmdBuilder& VmdBuilder::boneCountOverride(int32_t count) {
  boneCountSet_ = true;
  boneCount_ = count;
  return *this;
}

VmdBuilder& VmdBuilder::morphCountOverride(int32_t count) {
  morphCountSet_ = true;
  morphCount_ = count;
  return *this;
}

Bytes VmdBuilder::build() const {
  Bytes out;
  const char magic[] = "Vocaloid Motion Data 0002";
  for (int i = 0; i < 30; i++) out.push_back(i < 25 ? static_cast<uint8_t>(magic[i]) : 0);
  putName(&out, model_, 20);
  putU32(&out, static_cast<uint32_t>(boneCountSet_ ? boneCount_ : static_cast<int32_t>(bones_.size())));
  for (const Bytes& b : bones_) out.insert(out.end(), b.begin(), b.end());
  if (morphSection_) {
    putU32(&out, static_cast<uint32_t>(morphCountSet_ ? morphCount_ : static_cast<int32_t>(morphs_.size())));
    for (const Bytes& m : morphs_) out.insert(out.end(), m.begin(), m.end());
  }
  out.insert(out.end(), trailing_.begin(), trailing_.end());
  return out;
}

}  // namespace testsupport
