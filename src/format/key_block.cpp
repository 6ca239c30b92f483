#include "format/key_block.h"

#include <algorithm>
#include <array>

#include "format/vmd_format.h"

namespace torsel {
namespace {

constexpr int kFreeBytes[6] = {31, 46, 47, 61, 62, 63};

}  // namespace

Curve rotationCurve(const HeldKey& k) { return {k.params[3], k.params[7], k.params[11], k.params[15]}; }

void setRotationCurve(HeldKey* k, Curve c) {
  k->params[3] = c.x1;
  k->params[7] = c.y1;
  k->params[11] = c.x2;
  k->params[15] = c.y2;
}

void packBlock(const uint8_t* bz, HeldKey* k) {
  const std::array<uint8_t, 16> params = bzParams(bz);
  std::copy(params.begin(), params.end(), k->params);
  k->kept[0] = bz[2];
  k->kept[1] = bz[3];
  for (int i = 0; i < 6; i++) k->kept[2 + i] = bz[kFreeBytes[i]];
}

void unpackBlock(const HeldKey& k, uint8_t* bz) {
  for (int row = 0; row < 4; row++) {
    for (int i = 0; i + row < 16; i++) bz[16 * row + i] = k.params[i + row];
  }
  bz[2] = k.kept[0];
  bz[3] = k.kept[1];
  for (int i = 0; i < 6; i++) bz[kFreeBytes[i]] = k.kept[2 + i];
}

HeldKey heldKeyOf(const BoneKeyframe& kf) {
  HeldKey k = {kf.frameTime, kf.pos, kf.rot, {}, {}};
  packBlock(kf.bz, &k);
  return k;
}

}  // namespace torsel
