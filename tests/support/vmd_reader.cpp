#include "support/vmd_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace testsupport {
namespace {

uint32_t u32(const Bytes& d, size_t at) {
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 | static_cast<uint32_t>(d[at + 2]) << 16 |
         static_cast<uint32_t>(d[at + 3]) << 24;
}

float f32(const Bytes& d, size_t at) {
  uint32_t v = u32(d, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

}  // namespace

bool readVmd(const Bytes& d, ReadVmd* out, std::string* error) {
  *out = ReadVmd{};
  if (d.size() < 54) {
    *error = "header shorter than 54 bytes";
    return false;
  }
  out->header.assign(d.begin(), d.begin() + 50);
  out->boneCount = static_cast<int32_t>(u32(d, 50));
  size_t at = 54;
  if (out->boneCount < 0 || (d.size() - at) / 111 < static_cast<size_t>(out->boneCount)) {
    *error = "bone count " + std::to_string(out->boneCount) + " exceeds the records present";
    return false;
  }
  for (int32_t i = 0; i < out->boneCount; i++, at += 111) {
    ReadBone b;
    b.raw.assign(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + 111));
    const char* name = reinterpret_cast<const char*>(&d[at]);
    b.name.assign(name, strnlen(name, 15));
    b.frame = u32(d, at + 15);
    for (int k = 0; k < 3; k++) b.pos[static_cast<size_t>(k)] = f32(d, at + 19 + 4 * static_cast<size_t>(k));
    b.rot = {f32(d, at + 31), f32(d, at + 35), f32(d, at + 39), f32(d, at + 43)};
    std::memcpy(b.bz.data(), &d[at + 47], 64);
    out->bones.push_back(b);
  }
  if (d.size() - at < 4) {
    out->trailing.assign(d.begin() + static_cast<long>(at), d.end());
    if (!out->trailing.empty()) {
      *error = "a morph count cut short";
      return false;
    }
    return true;
  }
  out->hasMorphSection = true;
  out->morphCount = static_cast<int32_t>(u32(d, at));
  at += 4;
  if (out->morphCount < 0 || (d.size() - at) / 23 < static_cast<size_t>(out->morphCount)) {
    *error = "morph count " + std::to_string(out->morphCount) + " exceeds the records present";
    return false;
  }
  for (int32_t i = 0; i < out->morphCount; i++, at += 23) {
    out->morphs.emplace_back(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + 23));
  }
  out->trailing.assign(d.begin() + static_cast<long>(at), d.end());
  return true;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace testsupport
