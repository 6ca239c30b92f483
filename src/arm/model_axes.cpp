#include "arm/model_axes.h"

#include <bit>
#include <cstdint>

#include "platform/platform.h"

namespace torsel {
namespace {

constexpr Quat fromBits(uint32_t x, uint32_t y, uint32_t z, uint32_t w) {
  return {std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z), std::bit_cast<float>(w)};
}

// "Oru式初音ミク・アペンド(Ver1.00)"
constexpr char kBuiltInNameJa[] =
    "Oru\x8E\xAE\x8F\x89\x89\xB9\x83\x7E\x83\x4E\x81\x45\x83\x41\x83\x79\x83\x93\x83\x68(Ver1.00)";

}  // namespace

// Taken from the model by its bit patterns, so no decimal rounding enters.
const std::array<Quat, kPairCount> setupRestQuats = {
    fromBits(0x3E8F2FBA, 0xBE5B2032, 0x3C1F69A8, 0x3F6F96E1),  // left arm
    fromBits(0x3E8DB424, 0xBE573C4F, 0xBBCED627, 0x3F700981),  // left elbow
    fromBits(0x3E911CD2, 0x3E5E12E8, 0xBBEC887F, 0x3F6F22C0),  // right arm
    fromBits(0x3E9184E4, 0x3E5D07C8, 0x3BD467F7, 0x3F6F22AF),  // right elbow
};

ModelInUse builtInModel() {
  ModelInUse model;
  for (int i = 0; i < kPairCount; i++) {
    const Quat& restQuat = setupRestQuats[static_cast<size_t>(i)];
    // The built-in model's twist bones turn about the same axes.
    model.pairs[static_cast<size_t>(i)] = {.twistAxis = {restQuat.x, restQuat.y, restQuat.z}, .twistFixed = true, .source = {}};
  }
  return model;
}

namespace {
ModelInUse gModelInUse = builtInModel();
}  // namespace

void useModel(const ModelInUse& model) { gModelInUse = model; }

const PairAxes& pairAxes(int pair) { return gModelInUse.pairs[static_cast<size_t>(pair)]; }

const char* modelInUseName() {
  if (gModelInUse.name != nullptr) return gModelInUse.name;
  return plat::say(kBuiltInNameJa, "Oru-type Miku Append Ver1.00");
}

DQuat shownRotation(int pair, bool twist, const Quat& rot) {
  const PairAxes& a = pairAxes(pair);
  return played(twist ? a.twistRule() : a.source, rot);
}

SeparationInput pairSeparationInput(int pair, uint32_t frameTime, Quat rot, const RunSettings& run) {
  const PairScan& scan = gScans[static_cast<size_t>(pair)];
  return {.q = rot,
          .r = pairAxes(pair).twistAxis,
          .side = kPairs[static_cast<size_t>(pair)].side,
          .frameTime = frameTime,
          .fromFrame = static_cast<uint32_t>(run.fromFrame),
          .sourceAtFrom = scan.sourceAtFrom != 0,
          .twistAtFrom = scan.twistAtFrom != 0,
          .twistRotAtFrom = scan.twistRotAtFrom,
          .method = run.subMode};
}

void wristSplit(int side, Quat q, Quat* twist, Quat* rest) {
  splitAbout(vecUnit(pairAxes(2 * side + 1).twistAxis), q, twist, rest);
}

}  // namespace torsel
