#include "arm/model_axes.h"

#include <bit>
#include <cstdint>
#include <cstdio>

#include "arm/bone_pairs.h"
#include "platform/platform.h"

namespace torsel {
namespace {

constexpr Quat fromBits(uint32_t x, uint32_t y, uint32_t z, uint32_t w) {
  return {std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z), std::bit_cast<float>(w)};
}

// "Oru式初音ミク・アペンド(Ver1.00)さんセットアップ \n"
constexpr char kSetupLineJa[] =
    "Oru\x8E\xAE\x8F\x89\x89\xB9\x83\x7E\x83\x4E\x81\x45\x83\x41\x83\x79\x83\x93\x83\x68"
    "(Ver1.00)\x82\xB3\x82\xF1\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76 \n";

// "Oru式初音ミク・アペンド(Ver1.00)"
constexpr char kModelNameJa[] =
    "Oru\x8E\xAE\x8F\x89\x89\xB9\x83\x7E\x83\x4E\x81\x45\x83\x41\x83\x79\x83\x93\x83\x68(Ver1.00)";

const char* gModelInUse = nullptr;

}  // namespace

// Taken from the model by its bit patterns, so no decimal rounding enters.
const std::array<Quat, 4> setupRestQuats = {
    fromBits(0x3E8F2FBA, 0xBE5B2032, 0x3C1F69A8, 0x3F6F96E1),  // left arm
    fromBits(0x3E8DB424, 0xBE573C4F, 0xBBCED627, 0x3F700981),  // left elbow
    fromBits(0x3E911CD2, 0x3E5E12E8, 0xBBEC887F, 0x3F6F22C0),  // right arm
    fromBits(0x3E9184E4, 0x3E5D07C8, 0x3BD467F7, 0x3F6F22AF),  // right elbow
};

void copySetupRestQuats() {
  for (size_t i = 0; i < gPairs.size(); i++) {
    const Quat& q = setupRestQuats[i];
    gPairs[i].restQuat = q;
    // The built-in model's twist bones turn about the same axes.
    gPairs[i].twistFixed = true;
    gPairs[i].twistAxis = {q.x, q.y, q.z};
    gPairs[i].sourceFixed = false;
  }
}

const char* modelInUse() {
  if (gModelInUse != nullptr) return gModelInUse;
  return plat::say(kModelNameJa, "Oru-type Miku Append Ver1.00");
}

void setModelInUse(const char* name) { gModelInUse = name; }

void printModelSetupLine() {
  std::printf("%s", plat::say(kSetupLineJa, "Converting setup: Model [Oru-type Miku Append Ver1.00] \n"));
}

}  // namespace torsel
