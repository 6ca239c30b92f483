// Poses end to end: worked figures in each mode, poses with nothing to
// convert byte for byte, bad poses refused with their line, and a failed
// output that leaves nothing behind (the rest of a pose's file safety is
// the motions': the same stream and temporary file). babylon-mmd applies
// converted poses (tests/player).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

float f(uint32_t bits) { return std::bit_cast<float>(bits); }
// The built-in left arm and right elbow axes, and turns about them or across them.
const Rot kArmAxis = {f(0x3E8F2FBA), f(0xBE5B2032), f(0x3C1F69A8), 0};
const Rot kElbowAxis = {f(0x3E9184E4), f(0x3E5D07C8), f(0x3BD467F7), 0};
Rot about(const Rot& a, double angle) { return turn(a.x, a.y, a.z, angle); }
Rot across(const Rot& a, double angle) { return turn(a.y, -a.x, 0, angle); }
const Rot kRest = {0, 0, 0, 1};
constexpr size_t npos = std::string::npos;
constexpr char kHead[] = "\x93\xAA";  // 頭
// Names as MMD writes a model's long ones: cut at its byte limit inside a
// character (後ろ髪ア and a lead byte), and whole past a motion's 15 bytes.
constexpr char kCutName[] = "\x8C\xE3\x82\xEB\x94\xAF\x83\x41\x83";
const std::string kLongName = "\x83\x58\x83\x4A\x81\x5B\x83\x67\x91\x4F_L2_IK";  // スカート前_L2_IK: 19 bytes

// The bones with ten more after them, so that the blocks number past ten.
std::vector<PoseBone> withTenMore(std::vector<PoseBone> bones) {
  bones.insert(bones.end(), 10, PoseBone{kHead});
  return bones;
}

class Poses : public TempDirTest {
 protected:
  // The pose as pose.VPD: any case of the extension makes a pose.
  RunResult run(const Bytes& pose, const std::string& options, const RunOptions& how = {}) {
    writeFile(dir_ + "/pose.VPD", pose);
    std::vector<std::string> args = {"-ND", dir_ + "/pose.VPD"};  // options, wherever they stand
    std::istringstream words(options);
    for (std::string w; words >> w;) args.push_back(w);
    return runProgram(args, how);
  }
  std::string out() { return dir_ + "/pose-cnv.vpd"; }
};

TEST_F(Poses, WorkedFiguresInEveryMode) {
  // Turns about the arm's and the forearm's axes, and swings across them.
  const Rot arm3 = about(kArmAxis, 0.3), arm5 = about(kArmAxis, 0.5), arm9 = about(kArmAxis, 0.9);
  const Rot hand7 = about(kElbowAxis, 0.7), swing = across(kArmAxis, 0.6);
  const Rot bend = across(kElbowAxis, 0.4);
  const std::array<float, 3> moved = {1, 2, 3};
  const struct { const char* options; std::vector<PoseBone> in, out; } cases[] = {
      // An arm turned about its own axis: the turn lands on 腕捩, added after it, not moved.
      {"-M12", {{kCenter, kRest, moved}, {kLeftArm, arm9, moved}},
       {{kCenter, kRest, moved}, {kLeftArm, kRest, moved}, {kLeftArmTwist, arm9}}},
      // 腕捩's own turn merged in its own block; the swing stays on the limb's last block.
      {"-M4", {{kLeftArm}, {kLeftArm, multiply(swing, arm9)}, {kHead}, {kLeftArmTwist, arm3}},
       {{kLeftArm}, {kLeftArm, swing}, {kHead}, {kLeftArmTwist, about(kArmAxis, 1.2)}}},
      // A fold: the limb takes limb ⊗ twist (added before its twist bone), the twist bone rests.
      {"-U", {{kLeftArmTwist, arm5}, {kLeftArm, swing}},
       {{kLeftArmTwist}, {kLeftArm, multiply(swing, arm5)}}},
      {"-U", {{kLeftArmTwist, arm5}}, {{kLeftArm, arm5}, {kLeftArmTwist}}},
      // -W: the wrist's turn about the forearm onto 手捩: after ひじ, else before 手首.
      {"-W -M4", {{kRightElbow}, {kHead}, {kRightWrist, multiply(hand7, bend)}},
       {{kRightElbow}, {kRightWristTwist, hand7}, {kHead}, {kRightWrist, bend}}},
      {"-W -M9", {{kRightWrist, hand7}}, {{kRightWristTwist, hand7}, {kRightWrist}}},
      {"-M12", withTenMore({{kLeftArm, arm9}}), withTenMore({{kLeftArm}, {kLeftArmTwist, arm9}})},
      {"-W", {{kRightElbow, about(kElbowAxis, 0.4)}, {kRightWrist, about(kElbowAxis, 0.3)}},
       {{kRightElbow}, {kRightWristTwist, hand7}, {kRightWrist}}},
      {"-M12", {{kCutName}, {kLeftArm, arm9}, {kLongName + kLongName}},
       {{kCutName}, {kLeftArm}, {kLeftArmTwist, arm9}, {kLongName + kLongName}}},
  };
  for (const auto& c : cases) for (const bool cut : {false, true}) {  // cut: no last line end
    Bytes in = buildVpd(c.in);
    in.resize(in.size() - 4 * cut);
    const RunResult r = run(in, c.options);
    const Bytes bytes = readFile(out());
    const std::string text(bytes.begin(), bytes.end());
    std::vector<PoseBone> got;
    std::string error;
    const bool read = r.status == 0 && readVpd(bytes, &got, &error) && got.size() == c.out.size();
    ASSERT_TRUE(read && r.out.find("\npose-cnv.vpd \n") != npos) << c.options << error << r.out;
    for (size_t i = 0; i < got.size(); i++) {  // in order, numbered on, a blank line before each
      const std::string head = "\r\n\r\nBone" + std::to_string(i) + "{" + got[i].name + "\r\n";
      const bool same = got[i].name == c.out[i].name && got[i].pos == c.out[i].pos;
      EXPECT_TRUE(same && text.find(head) != npos && angleBetween(got[i].rot, c.out[i].rot) < 0.01)
          << c.options << " bone " << i;
    }
  }
}

TEST_F(Poses, NothingToConvertComesOutByteIdentical) {
  auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
  const std::string lf = text(buildVpd({{kCenter, kRest, {1, 2, 3}}, {kHead, kRest}}, "\n"));
  const struct { std::string pose; const char* options; } cases[] = {
      // LF; MMM's morph block (あ); no wrist.
      {lf + "Morph0{\x82\xA0\n  0.500000;\t// weight\n}\n", "-W"},
      // CR LF; no limb of a pair mode 4 converts.
      {text(buildVpd({{kCenter, kRest, {1, -2, 3.25f}}, {kLeftArmTwist, about(kArmAxis, 1)},
                      {kLeftElbow}, {kRightWristTwist}, {kHead, kRest}})), "-M4 -F9 -K5"},
      // Terse, out of order, no last line end; no twist bone to fold.
      {"Vocaloid Pose Data file\n// note\nm.osm;2;Bone7{a\n0,0,0;-0.5,0.5,0.5,+.5;}\n"
       "Bone3{b b\n1,2,3;0,0,0,1;}", "-U"},
      // Names cut inside a character (the model's too) and long; an index of ten digits.
      {replaceAll(replaceAll(text(buildVpd({{kCutName, kRest, {1, 2, 3}}, {kLongName, about(kArmAxis, 1)}})), "miku",
                             "miku\x83"), "Bone1{", "Bone9999999999{"), "-W"},
  };
  for (const auto& c : cases) {
    const RunResult r = run(Bytes(c.pose.begin(), c.pose.end()), c.options);
    EXPECT_TRUE(r.status == 0 && text(readFile(out())) == c.pose) << c.options << r.out;
  }
}

TEST_F(Poses, BadPosesAreRefusedWithTheirLine) {
  const Bytes good = buildVpd({{kLeftArm, about(kArmAxis, 1)}, {kHead, kRest}});
  const size_t kRead = (1 << 20) + (1 << 16);
  auto repeat = [](const std::string& s, int n) { std::string r; while (n-- > 0) r += s; return r; };
  const struct { std::string from, to, message, locale = "C"; } cases[] = {
      {"file\r\n", "file x\r\n", "line 1: no \"Vocaloid Pose Data file\" line"},
      {"miku.osm;", "miku.osm", "line 3: the model line has no ';'"},
      {"2;", "3;", "line 4: the count says 3 bones, the blocks are 2"},
      {"}\r\n\r\nBone1", "\r\nBone1", "line 6: a block without its closing brace"},
      {"0.000000,0.000000;", "0.000000,0.0O0000;", "line 7: a number that does not parse"},
      {"0.000000,0.000000;", "0.000000," + std::string(40, '9') + ";", "line 7: a number that"},
      {"0.000000,1.000000;", "0.000000;", "line 13: expected 4 numbers separated by ','"},
      {"0.000000,1.000000;", "0.000000,0.000000;", "line 13: a rotation of length zero"},
      {kHead, kHead + std::string("\x83 x"), "line 11: not Shift-JIS text"},  // a lead byte ends no name here
      {kHead, "\x93\xFF", "line 11: not Shift-JIS text"}, {kHead, "\xFD", "line 11: not Shift-JIS"},
      {"Bone1{", "Bone{", "line 11: expected a Bone or Morph block"},
      {"}\r\n\r\nBone1", "}x\r\n\r\nBone1", "line 9: text after the closing brace"},
      {"}\r\n\r\nBone1", "}\r\n" + std::string(kRead, ' ') + "\r\nBone1", "Illegal pose file: larger than 1114112 bytes"},
      {"}\r\n\r\nBone1", "}\r\n" + repeat("Bone0{a\r\n0,0,0;0,0,0,1;}\r\n", 16391) + "Bone1", "more than 16392 blocks"},
      // Read, but converted (腕捩 added) beyond what is read: by a byte, or an eleventh digit.
      {"}\r\n\r\nBone1", "}\r\n" + std::string(kRead - good.size(), ' ') + "\r\nBone1", "converted, it would pass"},
      {"Bone1{", "Bone9999999999{", "Illegal pose file: converted, it would pass 1114112 bytes"},
      {"Pose Data", "Pose Date",  // ポーズファイルの 1 行
       "\x83\x7C\x81\x5B\x83\x59\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC 1 \x8D\x73", "ja_JP.SJIS"},
  };
  for (const auto& c : cases) {
    const std::string pose = replaceAll(std::string(good.begin(), good.end()), c.from, c.to);
    const RunResult r = run(Bytes(pose.begin(), pose.end()), "-W", {c.locale, -1, "", -1});
    const bool said = r.out.find(c.message) != npos && r.out.find("Error code 2.") != npos;
    EXPECT_TRUE(r.status == 2 && said && listDir(dir_) == "pose.VPD") << c.message << r.out;
  }
}

TEST_F(Poses, OneAtTheLimitsConvertsAndFoldsBack) {
  // 16,384 blocks in 1 MiB, numbered on past 9999 once the twist bones of three limbs are added;
  // 左腕 with a long comment, whose layout its twist bone does not take.
  const Rot arm = about(kArmAxis, 0.9), other = about(kArmAxis, -0.7), elbow = about(kElbowAxis, 0.4);
  const Bytes arms = buildVpd({{kLeftArm, arm}, {kRightArm, other}, {kRightElbow, elbow}});
  std::string text = replaceAll(replaceAll(std::string(arms.begin(), arms.end()), "\n3;", "\n16384;"),
                                "Quat\r\n}\r\n\r\nBone1{", "Quat" + std::string(300, '-') + "\r\n}\r\n\r\nBone1{");
  for (int i = 3; i < 16384; i++) text += "Bone" + std::to_string(i) + "{" + kHead + "\r\n0,0,0;//\r\n0,0,0,1;//\r\n}\r\n";
  text += "// " + std::string((1 << 20) - text.size() - 5, '-') + "\r\n";
  Bytes pose(text.begin(), text.end());
  for (const char* options : {"-M12", "-U"}) {
    const RunResult r = run(pose, options);
    ASSERT_EQ(r.status, 0) << options << r.out.substr(r.out.size() - 300);
    pose = readFile(out());
  }
  std::vector<PoseBone> got;
  std::string error;
  ASSERT_TRUE(readVpd(pose, &got, &error) && got.size() == 16387) << error;
  const PoseBone folded[] = {{kLeftArm, arm},     {kLeftArmTwist},  {kRightArm, other},
                             {kRightArmTwist},    {kRightElbow, elbow}, {kRightWristTwist}};
  for (int i = 0; i < 6; i++) {
    EXPECT_TRUE(got[i].name == folded[i].name && angleBetween(got[i].rot, folded[i].rot) < 0.01) << i;
  }
  const std::string written(pose.begin(), pose.end()), at = "\r\n  0.000000,0.000000,0.000000;";
  EXPECT_NE(written.find(kLeftArmTwist + at + "\r\n  0.000000,0.000000,0.000000,1.000000;\r\n}"), npos);
  EXPECT_NE(written.find(kRightArmTwist + at + "\t\t\t\t// trans x,y,z\r\n"), npos);
}

TEST_F(Poses, AFailedOutputLeavesNothingBehind) {
  ASSERT_EQ(mkdir(out().c_str(), 0755), 0);  // a folder where the output goes
  const RunResult r = run(buildVpd({{kLeftArm, about(kArmAxis, 1)}}), "");
  EXPECT_TRUE(r.status == 4 && r.out.find("Cannot replace file") != npos &&
              listDir(dir_) == "pose-cnv.vpd pose.VPD") << r.out;
}

}  // namespace
