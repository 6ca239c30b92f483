#include "vmd/vmd_format.h"

#include <cstdio>
#include <cstring>

#include "io/byte_stream.h"

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

bool isRedundantByte(int i) {
  int row = i / kRowSize;
  int k = i % kRowSize;
  if (k + row > 15) return false;  // the free bytes at the end of a row
  if (row == 0) return false;      // the parameters themselves
  return !(row == 2 && k < 2);     // bytes 32 and 33 are Zax and Rax
}

}  // namespace

int vmdGetByte() {
  gLastByte = rdGetByte();
  return gLastByte;
}

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

int readBoneKeyframe(BoneKeyframe* kf) {
  readNameField(kNameSize, &kf->name);
  if (rdIsClosed()) return -1;
  kf->frameTime = static_cast<uint32_t>(rdGetInt32());
  kf->pos.x = rdGetFloat32();
  kf->pos.y = rdGetFloat32();
  kf->pos.z = rdGetFloat32();
  kf->rot.x = rdGetFloat32();
  kf->rot.y = rdGetFloat32();
  kf->rot.z = rdGetFloat32();
  kf->rot.w = rdGetFloat32();
  if (rdIsClosed()) return -1;
  for (uint8_t& b : kf->bz) b = static_cast<uint8_t>(vmdGetByte());
  return rdIsClosed();
}

int readMorphKeyframe(MorphKeyframe* kf) {
  readNameField(kNameSize, &kf->name);
  if (rdIsClosed()) return -1;
  kf->frameTime = static_cast<uint32_t>(rdGetInt32());
  kf->value = rdGetFloat32();
  return rdIsClosed();
}

std::array<uint8_t, 16> bzParams(const uint8_t* bz) {
  std::array<uint8_t, 16> p;
  for (int i = 0; i < 16; i++) p[i] = bz[kParamByte[i]];
  return p;
}

void checkBz(const uint8_t* bz) {
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
  const std::array<uint8_t, 16> p = bzParams(bz);
  for (int i = 0; i < kBzSize; i++) {
    int param = i % kRowSize + i / kRowSize;
    out[i] = param <= 15 ? p[param] : bz[i];
  }
  out[2] = bz[2];
  out[3] = bz[3];
}

int writeBoneKeyframe(const BoneKeyframe& kf, const uint8_t* name, const Quat& rot) {
  for (int i = 0; i < kNameSize; i++) wrPutByte(name[i]);
  if (wrIsClosed()) return -1;
  wrPutInt32(static_cast<int32_t>(kf.frameTime));
  wrPutFloat32(kf.pos.x);
  wrPutFloat32(kf.pos.y);
  wrPutFloat32(kf.pos.z);
  wrPutFloat32(rot.x);
  wrPutFloat32(rot.y);
  wrPutFloat32(rot.z);
  wrPutFloat32(rot.w);
  if (wrIsClosed()) return -1;
  uint8_t block[kBzSize];
  canonicalBz(kf.bz, block);
  for (uint8_t b : block) wrPutByte(b);
  return wrIsClosed();
}

int writeMorphKeyframe(const MorphKeyframe& kf) {
  for (int i = 0; i < kNameSize; i++) wrPutByte(kf.name.raw[i]);
  if (wrIsClosed()) return -1;
  wrPutInt32(static_cast<int32_t>(kf.frameTime));
  wrPutFloat32(kf.value);
  return wrIsClosed();
}

}  // namespace torsel
