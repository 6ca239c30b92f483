#include "format/vmd_format.h"

#include <cstdio>
#include <cstring>

#include "io/byte_stream.h"
#include "platform/platform.h"

namespace torsel {

int gLastByte = -1;

namespace {

// Where each parameter comes from. Zax and Rax are taken from bytes 32 and
// 33: bytes 2 and 3 hold something else in many files.
constexpr std::array<int, 16> kParamByte = {0, 1, 32, 33, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr std::array<const char*, 16> kParamLabel = {"Xax", "Yax", "Zax", "Rax", "Xay", "Yay", "Zay", "Ray",
                                                     "Xbx", "Ybx", "Zbx", "Rbx", "Xby", "Yby", "Zby", "Rby"};

// Row r of the block repeats the parameters shifted left by r places.
constexpr int kRowSize = 16;

// True when every redundant byte repeats its parameter: rows 1 to 3 repeat
// P[4..15] (bytes 4 to 15) at 19, 34 and 49, and the three bytes before
// them repeat Yax, Zax and Rax.
bool isCanonical(const uint8_t* bz) {
  return bz[16] == bz[1] && bz[17] == bz[32] && bz[18] == bz[33] && bz[48] == bz[33] &&
         std::memcmp(bz + 19, bz + 4, 12) == 0 && std::memcmp(bz + 34, bz + 4, 12) == 0 &&
         std::memcmp(bz + 49, bz + 4, 12) == 0;
}

bool isRedundantByte(int i) {
  int row = i / kRowSize;
  int k = i % kRowSize;
  if (k + row > 15) return false;  // the free bytes at the end of a row
  if (row == 0) return false;      // the parameters themselves
  return !(row == 2 && k < 2);     // bytes 32 and 33 are Zax and Rax
}

}  // namespace

void readNameField(int width, NameField* out) {
  out->lastNul = -1;
  for (int i = 0; i < width; i++) {
    int c = vmdGetByte();
    out->raw[i] = static_cast<uint8_t>(c);
    out->text[i] = static_cast<char>(c);
    if (out->raw[i] == 0) out->lastNul = i;
  }
  out->text[width] = '\0';
  if (out->lastNul < 0) out->lastNul = width;
}

namespace {

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

float leFloat(const uint8_t* p) {
  uint32_t bits = le32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void putLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void putLeFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  putLe32(p, bits);
}

// The name field of a record read in one piece.
void takeNameField(const uint8_t* raw, NameField* out) {
  std::memcpy(out->raw, raw, kNameSize);
  std::memcpy(out->text, raw, kNameSize);
  out->text[kNameSize] = '\0';
  out->lastNul = kNameSize;
  for (int i = kNameSize - 1; i >= 0; i--) {
    if (raw[i] == 0) {
      out->lastNul = i;
      break;
    }
  }
}

}  // namespace

int readBoneKeyframe(BoneKeyframe* kf) {
  uint8_t rec[kBoneKeyframeSize];
  rdGetBytes(rec, kBoneKeyframeSize);
  // A record cut short is dropped whole, wherever the input ended in it.
  if (rdIsClosed()) {
    gLastByte = -1;
    return -1;
  }
  gLastByte = rec[kBoneKeyframeSize - 1];
  takeNameField(rec, &kf->name);
  kf->frameTime = le32(rec + 15);
  kf->pos = {leFloat(rec + 19), leFloat(rec + 23), leFloat(rec + 27)};
  kf->rot = {leFloat(rec + 31), leFloat(rec + 35), leFloat(rec + 39), leFloat(rec + 43)};
  std::memcpy(kf->bz, rec + 47, kBzSize);
  return 0;
}

int readMorphKeyframe(MorphKeyframe* kf) {
  uint8_t rec[kMorphKeyframeSize];
  rdGetBytes(rec, kNameSize);
  if (rdIsClosed()) {
    gLastByte = -1;
    return -1;
  }
  gLastByte = rec[kNameSize - 1];
  rdGetBytes(rec + kNameSize, kMorphKeyframeSize - kNameSize);
  if (rdIsClosed()) return -1;
  takeNameField(rec, &kf->name);
  kf->frameTime = le32(rec + 15);
  kf->value = leFloat(rec + 19);
  return 0;
}

std::array<uint8_t, 16> bzParams(const uint8_t* bz) {
  std::array<uint8_t, 16> p;
  for (int i = 0; i < 16; i++) p[i] = bz[kParamByte[i]];
  return p;
}

void checkBz(const uint8_t* bz) {
  if (isCanonical(bz)) return;
  const std::array<uint8_t, 16> p = bzParams(bz);
  for (int i = kRowSize; i < kBzSize; i++) {
    if (!isRedundantByte(i)) continue;
    int param = i % kRowSize + i / kRowSize;
    if (bz[i] == p[param]) continue;
    if (i <= 18) {
      std::printf("  bz[%d](=%02X)!=%s(=%02X) \n", i, bz[i], kParamLabel[param], p[param]);
    } else {
      std::printf("  bz[%d]!=%s \n", i, kParamLabel[param]);
    }
  }
}

void canonicalBz(const uint8_t* bz, uint8_t* out) {
  if (isCanonical(bz)) {
    std::memcpy(out, bz, kBzSize);
    return;
  }
  const std::array<uint8_t, 16> p = bzParams(bz);
  // Row r repeats the parameters from P[r]; its last r bytes are free and
  // keep the input's, as do bytes 2 and 3.
  std::memcpy(out, bz, kBzSize);
  for (int row = 0; row < 4; row++) {
    std::memcpy(out + kRowSize * row, p.data() + row, static_cast<size_t>(kRowSize - row));
  }
  out[2] = bz[2];
  out[3] = bz[3];
}

void printBoneKeyframe(int32_t block, const BoneKeyframe& kf, bool withPos) {
  auto d = [](float v) { return static_cast<double>(v); };
  std::printf("Block %ld \n", static_cast<long>(block));
  std::printf("  bone name = %s \n", plat::conText(kf.name.text));
  std::printf("  frame time = %ld \n", static_cast<long>(static_cast<int32_t>(kf.frameTime)));
  if (withPos) std::printf("  pos (X,Y,Z) = %g %g %g \n", d(kf.pos.x), d(kf.pos.y), d(kf.pos.z));
  std::printf("  rot (X,Y,Z,W) = %g %g %g %g \n", d(kf.rot.x), d(kf.rot.y), d(kf.rot.z), d(kf.rot.w));
}

void printMorphKeyframe(int32_t block, const MorphKeyframe& kf) {
  std::printf("Morph block %ld \n", static_cast<long>(block));
  std::printf("  morph name = %s \n", plat::conText(kf.name.text));
  std::printf("  frame time = %ld \n", static_cast<long>(static_cast<int32_t>(kf.frameTime)));
  std::printf("  value = %g \n", static_cast<double>(kf.value));
}

int writeBoneKeyframe(const BoneKeyframe& kf, const uint8_t* name, const Quat& rot) {
  wrPutBytes(name, kNameSize);
  if (wrIsClosed()) return -1;
  uint8_t numbers[4 + 12 + 16];
  putLe32(numbers, kf.frameTime);
  putLeFloat(numbers + 4, kf.pos.x);
  putLeFloat(numbers + 8, kf.pos.y);
  putLeFloat(numbers + 12, kf.pos.z);
  putLeFloat(numbers + 16, rot.x);
  putLeFloat(numbers + 20, rot.y);
  putLeFloat(numbers + 24, rot.z);
  putLeFloat(numbers + 28, rot.w);
  if (wrPutBytes(numbers, sizeof numbers) != 0) return -1;
  uint8_t block[kBzSize];
  canonicalBz(kf.bz, block);
  return wrPutBytes(block, kBzSize);
}

int writeMorphKeyframe(const MorphKeyframe& kf) {
  wrPutBytes(kf.name.raw, kNameSize);
  if (wrIsClosed()) return -1;
  uint8_t numbers[8];
  putLe32(numbers, kf.frameTime);
  putLeFloat(numbers + 4, kf.value);
  return wrPutBytes(numbers, sizeof numbers);
}

}  // namespace torsel
