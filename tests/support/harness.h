// What the tests share: motions written and read back byte by byte, apart
// from the program's own code; the program run as a user runs it; a folder
// of each test's own.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;
struct Rot { float x, y, z, w; };

inline constexpr char kLeftArm[] = "\x8D\xB6\x98\x72";                 // 左腕
inline constexpr char kLeftArmTwist[] = "\x8D\xB6\x98\x72\x9D\x80";    // 左腕捩
inline constexpr char kRightArm[] = "\x89\x45\x98\x72";                // 右腕
inline constexpr char kRightArmTwist[] = "\x89\x45\x98\x72\x9D\x80";   // 右腕捩
inline constexpr char kLeftElbow[] = "\x8D\xB6\x82\xD0\x82\xB6";       // 左ひじ
inline constexpr char kRightElbow[] = "\x89\x45\x82\xD0\x82\xB6";      // 右ひじ
inline constexpr char kLeftWristTwist[] = "\x8D\xB6\x8E\xE8\x9D\x80";  // 左手捩
inline constexpr char kRightWristTwist[] = "\x89\x45\x8E\xE8\x9D\x80"; // 右手捩
inline constexpr char kLeftWrist[] = "\x8D\xB6\x8E\xE8\x8E\xF1";       // 左手首
inline constexpr char kRightWrist[] = "\x89\x45\x8E\xE8\x8E\xF1";      // 右手首
inline constexpr char kLeftShoulder[] = "\x8D\xB6\x8C\xA8";            // 左肩
inline constexpr char kCenter[] = "\x83\x5A\x83\x93\x83\x5E\x81\x5B";  // センター

/// The canonical interpolation block of the parameters base, base+1, ...
std::array<uint8_t, 64> canonicalBlock(int base = 20);

// name: Shift-JIS; NULs inside are written as they stand.
struct Key { std::string name; uint32_t frame; Rot rot; std::array<float, 3> pos = {}; std::array<uint8_t, 64> bz = canonicalBlock(); };
struct Morph { std::string name; uint32_t frame; float value; };

/// A motion file; `morphSection` false ends it after the bone keyframes.
Bytes buildVmd(const std::vector<Key>& bones, const std::vector<Morph>& morphs = {}, bool morphSection = true,
               const Bytes& trailing = {});
void putU32(Bytes* out, uint32_t v);

// name: up to the first NUL; raw: all 111 bytes.
struct ReadBone { std::string name; uint32_t frame; std::array<float, 3> pos; Rot rot; std::array<uint8_t, 64> bz; Bytes raw; };
struct ReadVmd {  // header: 50 bytes; morphCount 0 without a morph section
  Bytes header, trailing;
  int32_t boneCount = 0, morphCount = 0;
  std::vector<ReadBone> bones;
  std::vector<Bytes> morphs;
};
/// Parses a motion, trusting nothing: false, with the reason, when a count
/// announces more records than the file holds or the header is short.
bool readVmd(const Bytes& data, ReadVmd* out, std::string* error);

// Poses (VPD) as MMD writes them: Shift-JIS names, six decimals, comments.
struct PoseBone { std::string name; Rot rot = {0, 0, 0, 1}; std::array<float, 3> pos = {}; };
Bytes buildVpd(const std::vector<PoseBone>& bones, const std::string& eol = "\r\n");
/// The bone blocks of a pose in order, trusting nothing: false, with the
/// reason, when a block is not closed or the count disagrees with them.
bool readVpd(const Bytes& data, std::vector<PoseBone>* bones, std::string* error);

std::string replaceAll(std::string s, const std::string& from, const std::string& to);
Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& data);
bool fileExists(const std::string& path);
/// The names in a folder, sorted, joined by spaces.
std::string listDir(const std::string& dir);

Rot multiply(const Rot& p, const Rot& r);
Rot conj(const Rot& p);
/// `angle` radians about (x, y, z).
Rot turn(double x, double y, double z, double angle);
/// Angle in degrees between two rotations (either sign of a quaternion).
double angleBetween(const Rot& a, const Rot& b);

// locale: LC_ALL; fileSizeLimit: bytes a written file may reach (-1: none);
// program: "" runs the torsel under test; stopAfterMs: stopSignal then (-1: never);
// readBytes: the console's reader goes away after that many bytes (-1: never).
struct RunOptions {
  std::string locale = "C";
  long fileSizeLimit = -1;
  std::string program;
  int stopAfterMs = -1;
  int stopSignal = 15;
  long readBytes = -1;
};
struct RunResult { std::string out; int status = -1; };  // status: exit status, or 128 + signal
/// Runs the program under test (or options.program). The Windows build runs
/// under Wine: absolute paths go in as Z:\ paths and come back as POSIX ones,
/// and "\r\n" reads as "\n".
RunResult runProgram(const std::vector<std::string>& args, const RunOptions& options = {});
bool underWine();

/// 16 hex digits of FNV-1a 64: a short name for a long exact transcript.
std::string digest(const std::string& text);

struct TempDirTest : testing::Test {
  void SetUp() override;
  void TearDown() override;
  std::string dir_;
};

// Models, written by the published PMX and PMD layouts.
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

// name: UTF-8; extras: a tail bone, IK links, inheritance, local axes and an external parent.
// parent: by name ("" the one a real rig gives it: the arm group's bone before it, helpers
// under the limb); append: the bone whose rotation it takes at `ratio`; tail: a PMD twist
// bone's (type 8). A name no bone has is none.
struct ModelBone {
  std::string name; std::array<float, 3> pos; bool hasFixedAxis = false; std::array<float, 3> fixedAxis = {};
  int extras = 0; std::string parent = {}, append = {}; float ratio = 0; std::string tail = {};
};
struct PmxOptions { bool utf8 = false; int extraUvs = 0; int indexSize = 2; float version = 2.0f; };  // index sizes of every kind
Bytes buildPmx(const std::vector<ModelBone>& bones, const PmxOptions& options = {});
Bytes buildPmd(const std::vector<ModelBone>& bones);
/// Every twist bone with a fixed axis of exactly the built-in bits.
std::vector<ModelBone> bonesWithBuiltInAxes();

}  // namespace testsupport
