// A reader of motion files for checking outputs, written apart from the
// program's own: it trusts nothing and says where a file is inconsistent.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/vmd_builder.h"

namespace testsupport {

struct ReadBone {
  std::string name;  // up to the first NUL
  uint32_t frame;
  std::array<float, 3> pos;
  Rot rot;
  std::array<uint8_t, 64> bz;
  Bytes raw;  // all 111 bytes
};

struct ReadVmd {
  Bytes header;  // 50 bytes
  int32_t boneCount = 0;
  std::vector<ReadBone> bones;
  bool hasMorphSection = false;
  int32_t morphCount = 0;
  std::vector<Bytes> morphs;  // 23 bytes each
  Bytes trailing;
};

/// Parses `data`; false with a reason when a count announces more records
/// than the file holds, or the header is short.
bool readVmd(const Bytes& data, ReadVmd* out, std::string* error);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& data);
bool fileExists(const std::string& path);

}  // namespace testsupport
