// Shift-JIS bone, morph and message texts used by the tests.
#pragma once

namespace testsupport {

inline constexpr char kLeftArm[] = "\x8D\xB6\x98\x72";               // 左腕
inline constexpr char kLeftArmTwist[] = "\x8D\xB6\x98\x72\x9D\x80";  // 左腕捩
inline constexpr char kRightArm[] = "\x89\x45\x98\x72";              // 右腕
inline constexpr char kRightArmTwist[] = "\x89\x45\x98\x72\x9D\x80"; // 右腕捩
inline constexpr char kLeftElbow[] = "\x8D\xB6\x82\xD0\x82\xB6";     // 左ひじ
inline constexpr char kRightElbow[] = "\x89\x45\x82\xD0\x82\xB6";    // 右ひじ
inline constexpr char kLeftWristTwist[] = "\x8D\xB6\x8E\xE8\x9D\x80";   // 左手捩
inline constexpr char kRightWristTwist[] = "\x89\x45\x8E\xE8\x9D\x80";  // 右手捩
inline constexpr char kLeftShoulder[] = "\x8D\xB6\x8C\xA8";          // 左肩
inline constexpr char kRightShoulder[] = "\x89\x45\x8C\xA8";         // 右肩
inline constexpr char kCenter[] = "\x83\x5A\x83\x93\x83\x5E\x81\x5B"; // センター

/// ここに「左腕捩」データがあるとまずい.
inline constexpr char kLeftArmStray[] =
    "\x82\xB1\x82\xB1\x82\xC9\x81\x75\x8D\xB6\x98\x72\x9D\x80\x81\x76\x83\x66\x81\x5B\x83\x5E"
    "\x82\xAA\x82\xA0\x82\xE9\x82\xC6\x82\xDC\x82\xB8\x82\xA2. \n";

}  // namespace testsupport
