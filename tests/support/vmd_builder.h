// Builds motion files byte by byte for the tests, independently of the
// program's own writer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct Rot {
  float x, y, z, w;
};

/// A canonical interpolation block for 16 parameters (bytes 2 and 3 equal to
/// bytes 32 and 33).
std::array<uint8_t, 64> canonicalBlock(const std::array<uint8_t, 16>& params);
/// The canonical block of parameters 20, 21, ... 35.
std::array<uint8_t, 64> defaultBlock();

class VmdBuilder {
 public:
  /// `boneCount` < 0: the count written is the number of bones added.
  explicit VmdBuilder(std::string modelName = "model");
  VmdBuilder& bone(const std::string& name, uint32_t frame, Rot rot, std::array<float, 3> pos = {0, 0, 0});
  VmdBuilder& boneWithBlock(const std::string& name, uint32_t frame, Rot rot, const std::array<uint8_t, 64>& bz);
  /// Adds a raw 15-byte name field instead of a zero-padded name.
  VmdBuilder& boneRawName(const std::array<uint8_t, 15>& field, uint32_t frame, Rot rot);
  VmdBuilder& morph(const std::string& name, uint32_t frame, float value);
  VmdBuilder& noMorphSection();
  VmdBuilder& trailing(const Bytes& bytes);
  VmdBuilder& boneCountOverride(int32_t count);
  VmdBuilder& morphCountOverride(int32_t count);
  Bytes build() const;

 private:
  std::string model_;
  std::vector<Bytes> bones_;
  std::vector<Bytes> morphs_;
  bool morphSection_ = true;
  Bytes trailing_;
  bool boneCountSet_ = false;
  int32_t boneCount_ = 0;
  bool morphCountSet_ = false;
  int32_t morphCount_ = 0;
};

void putU32(Bytes* out, uint32_t v);
void putF32(Bytes* out, float f);

}  // namespace testsupport
