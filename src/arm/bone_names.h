// The bones Torsel knows by name, and the one look-up from a name to its
// role: per side the arm group in the order its bones turn (腕, 腕捩, ひじ,
// 手捩, 手首), and the shoulder, which is only diagnosed. Every other name
// is no business of the program's.
#pragma once

#include <cstdint>
#include <string_view>

namespace torsel {

/// A known bone's role on its side; the arm group's in the order of
/// playback's ArmBone.
enum class BoneRole : uint8_t { Arm, ArmTwist, Elbow, HandTwist, Wrist, Shoulder, None };
inline constexpr int kKnownRoles = 6;  // per side, None aside
inline constexpr int kBoneSides = 2;   // left, right

/// A bone's name in each encoding that files name it in: Shift-JIS
/// (motions, poses, PMD models), UTF-16LE and UTF-8 (PMX models).
struct BoneName {
  std::string_view sjis, utf16, utf8;
};

/// The side's bone of `role` (not None).
const BoneName& boneName(int side, BoneRole role);
/// The same name in Shift-JIS, NUL-terminated.
inline const char* sjisName(int side, BoneRole role) { return boneName(side, role).sjis.data(); }

/// What a known name stands for.
struct KnownBone {
  BoneRole role = BoneRole::None;
  int side = 0;
};
/// The known bone a NUL-terminated Shift-JIS name is, compared byte for
/// byte; role None for any other name.
KnownBone knownBone(const char* name);

}  // namespace torsel
