// Writes small PMX and PMD models for the tests, by the published layouts.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "support/vmd_builder.h"

namespace testsupport {

// Bone names in UTF-8, as escapes.
inline constexpr char kU8LeftArm[] = "\xE5\xB7\xA6\xE8\x85\x95";                        // 左腕
inline constexpr char kU8LeftElbow[] = "\xE5\xB7\xA6\xE3\x81\xB2\xE3\x81\x98";          // 左ひじ
inline constexpr char kU8LeftWrist[] = "\xE5\xB7\xA6\xE6\x89\x8B\xE9\xA6\x96";          // 左手首
inline constexpr char kU8LeftArmTwist[] = "\xE5\xB7\xA6\xE8\x85\x95\xE6\x8D\xA9";       // 左腕捩
inline constexpr char kU8LeftWristTwist[] = "\xE5\xB7\xA6\xE6\x89\x8B\xE6\x8D\xA9";     // 左手捩
inline constexpr char kU8RightArm[] = "\xE5\x8F\xB3\xE8\x85\x95";                       // 右腕
inline constexpr char kU8RightElbow[] = "\xE5\x8F\xB3\xE3\x81\xB2\xE3\x81\x98";         // 右ひじ
inline constexpr char kU8RightWrist[] = "\xE5\x8F\xB3\xE6\x89\x8B\xE9\xA6\x96";         // 右手首
inline constexpr char kU8RightArmTwist[] = "\xE5\x8F\xB3\xE8\x85\x95\xE6\x8D\xA9";      // 右腕捩
inline constexpr char kU8RightWristTwist[] = "\xE5\x8F\xB3\xE6\x89\x8B\xE6\x8D\xA9";    // 右手捩
inline constexpr char kU8Center[] = "\xE3\x82\xBB\xE3\x83\xB3\xE3\x82\xBF\xE3\x83\xBC";  // センター

struct ModelBone {
  std::string name;  // UTF-8
  std::array<float, 3> pos;
  std::optional<std::array<float, 3>> fixedAxis;
  bool tailIsBone = false;
  bool inherits = false;
  bool localAxes = false;
  bool externalParent = false;
  int ikLinks = -1;  // -1: no IK
};

struct PmxOptions {
  bool utf8 = false;
  int extraUvs = 0;
  int vertexIndex = 2, textureIndex = 1, materialIndex = 1, boneIndex = 2, morphIndex = 1, rigidIndex = 1;
  float version = 2.0f;
  std::string name = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
};

/// A PMX model with a few vertices of every weight type, faces, textures,
/// materials (shared and own toon) and the given bones.
Bytes buildPmx(const std::vector<ModelBone>& bones, const PmxOptions& options = {});

/// A PMD model with the given bones (names converted to Shift-JIS).
Bytes buildPmd(const std::vector<ModelBone>& bones, const std::string& sjisName = "pmd");

/// Bones whose twist axes equal the built-in ones: every twist bone has a
/// fixed axis with the built-in X, Y and Z.
std::vector<ModelBone> bonesWithBuiltInAxes();

}  // namespace testsupport
