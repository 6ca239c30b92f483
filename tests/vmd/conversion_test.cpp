// The conversion pass end to end: the built program on motions the tests
// write, every output read back by the tests' own reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "support/expected_text.h"
#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

Rot multiply(const Rot& p, const Rot& r) {
  return {p.x * r.w + p.w * r.x + p.y * r.z - p.z * r.y, p.y * r.w + p.w * r.y + p.z * r.x - p.x * r.z,
          p.z * r.w + p.w * r.z + p.x * r.y - p.y * r.x, p.w * r.w - p.x * r.x - p.y * r.y - p.z * r.z};
}
Rot conj(const Rot& p) { return {-p.x, -p.y, -p.z, p.w}; }
bool near(const Rot& a, const Rot& b, float tolerance = 2e-6f) {
  return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance &&
         std::fabs(a.w - b.w) <= tolerance;
}
std::string str(const Rot& q) {
  return "(" + std::to_string(q.x) + ", " + std::to_string(q.y) + ", " + std::to_string(q.z) + ", " +
         std::to_string(q.w) + ")";
}

// A unit rotation of `angle` radians about (x, y, z).
Rot turn(double x, double y, double z, double angle) {
  double len = std::sqrt(x * x + y * y + z * z);
  double s = std::sin(angle / 2) / len;
  return {static_cast<float>(x * s), static_cast<float>(y * s), static_cast<float>(z * s),
          static_cast<float>(std::cos(angle / 2))};
}

std::string nameField(const char* name) {
  std::string field(15, '\0');
  field.replace(0, std::string(name).size(), name);
  return field;
}

class ConversionTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    in_ = dir_ + "/dance.vmd";
    out_ = dir_ + "/dance-cnv.vmd";
  }

  // Converts `file` and reads the output back; the run must succeed.
  ReadVmd convert(const Bytes& file, std::vector<std::string> options = {}, std::string* printed = nullptr) {
    writeFile(in_, file);
    options.insert(options.begin(), "-ND");
    options.push_back(in_);
    RunResult r = runProgram(options);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("=> " + out_ + " \nConversion OK. \n"), std::string::npos) << r.out;
    if (printed != nullptr) *printed = r.out;
    ReadVmd result;
    std::string error;
    EXPECT_TRUE(readVmd(readFile(out_), &result, &error)) << error;
    EXPECT_FALSE(fileExists(out_ + ".tmp"));
    return result;
  }

  std::string in_, out_;
};

TEST_F(ConversionTest, NothingToConvertComesOutByteIdentical) {
  std::array<uint8_t, 64> physicsOff = defaultBlock();
  physicsOff[2] = 99;  // the physics switch of newer files
  physicsOff[3] = 15;
  physicsOff[31] = 0xAB;
  std::array<uint8_t, 15> oddName = {'h', 'e', 'a', 'd', 0, 'x', 'y', 'z'};
  Bytes file = VmdBuilder("\x8F\x89\x89\xB9")
                   .bone(kCenter, 0, turn(0, 1, 0, 0.3), {1, 2, 3})
                   .boneWithBlock(kLeftShoulder, 5, turn(0, 0, 1, 0.2), physicsOff)
                   .boneRawName(oddName, 9, {0, 0, 0, 1})
                   .morph("\x82\xA0", 3, 0.25f)
                   .trailing({0, 0, 0, 0, 1, 2, 3})
                   .build();
  convert(file);
  EXPECT_EQ(readFile(out_), file);
  // Also with the elbows off and a range that includes everything.
  convert(file, {"-M3", "-F0", "-T100"});
  EXPECT_EQ(readFile(out_), file);
}

TEST_F(ConversionTest, WorkedExampleWithStartFrameMerge) {
  const Rot q = turn(0.8, -0.55, 0.1, 0.9);
  const Rot e = turn(0.79, -0.6, 0.03, 0.2);
  const Rot q50 = turn(0.2, 1, 0.3, 0.6);
  Bytes file = VmdBuilder()
                   .bone(kCenter, 0, turn(0, 1, 0, 1), {0.5f, 1, 1.5f})
                   .bone(kLeftArm, 0, q, {0, 2, 0})
                   .bone(kLeftArmTwist, 0, e)
                   .bone(kLeftArm, 50, q50, {0, 3, 0})
                   .build();
  std::string printed;
  ReadVmd out = convert(file, {"-F0", "-T100", "-D1"}, &printed);
  ASSERT_EQ(out.boneCount, 5);
  ASSERT_EQ(out.bones.size(), 5u);
  ReadVmd in;
  std::string error;
  ASSERT_TRUE(readVmd(file, &in, &error));

  EXPECT_EQ(out.bones[0].raw, in.bones[0].raw);
  const struct {
    const char* name;
    uint32_t frame;
  } order[] = {{kCenter, 0}, {kLeftArmTwist, 0}, {kLeftArm, 0}, {kLeftArmTwist, 50}, {kLeftArm, 50}};
  for (size_t i = 0; i < 5; i++) {
    EXPECT_EQ(out.bones[i].name, order[i].name) << i;
    EXPECT_EQ(out.bones[i].frame, order[i].frame) << i;
  }
  // The twist keyframes: the twist bone's name and zeros, the source's
  // frame, position and block.
  for (size_t twist : {1u, 3u}) {
    const ReadBone& t = out.bones[twist];
    const ReadBone& s = out.bones[twist + 1];
    EXPECT_EQ(std::string(t.raw.begin(), t.raw.begin() + 15), nameField(kLeftArmTwist));
    EXPECT_EQ(t.pos, s.pos);
    EXPECT_EQ(t.bz, s.bz);
    EXPECT_EQ(std::string(s.raw.begin(), s.raw.begin() + 15), nameField(kLeftArm));
  }
  EXPECT_EQ(out.bones[2].pos, (std::array<float, 3>{0, 2, 0}));
  // Default method 4 keeps q ⊗ N and twists by conj(N): K ⊗ Tw gives q back.
  const Rot k0 = out.bones[2].rot, k50 = out.bones[4].rot;
  EXPECT_TRUE(near(multiply(k50, out.bones[3].rot), q50)) << str(multiply(k50, out.bones[3].rot));
  // At frame 0 the existing twist E is merged in front: Tw = E ⊗ (conj(K) ⊗ q).
  const Rot merged = multiply(e, multiply(conj(k0), q));
  EXPECT_TRUE(near(out.bones[1].rot, merged)) << str(out.bones[1].rot) << " vs " << str(merged);
  EXPECT_NE(printed.find("  => skipped recording " + std::string(kLeftArmTwist) + " block. \n"), std::string::npos);
  EXPECT_NE(printed.find("max blocks of frames = 4 \n => max blocks of frames = 5 (cnv) \n"), std::string::npos);
  EXPECT_NE(printed.find("  leftarmreccnt (2) : cleftarmreccnt (2)  OK \n"), std::string::npos);
  EXPECT_EQ(printed.find(std::string(kLeftArmStray)), std::string::npos);
}

TEST_F(ConversionTest, ElbowsOnlyInTheHandTwistModes) {
  Bytes file = VmdBuilder()
                   .bone(kLeftElbow, 1, turn(1, 0, 0, 0.5))
                   .bone(kRightWristTwist, 1, turn(1, 0, 0, 0.1))
                   .bone(kRightArm, 2, turn(1, 0.2, 0, 0.5))
                   .build();
  ReadVmd in;
  std::string error;
  ASSERT_TRUE(readVmd(file, &in, &error));
  for (const char* mode : {"-M0", "-M1", "-M2", "-M3", "-M4", "-M5"}) {
    std::string printed;
    ReadVmd out = convert(file, {mode}, &printed);
    ASSERT_EQ(out.bones.size(), 4u) << mode;
    EXPECT_EQ(out.bones[0].raw, in.bones[0].raw) << mode;
    EXPECT_EQ(out.bones[1].raw, in.bones[1].raw) << mode;  // no warning, no drop
    EXPECT_EQ(out.bones[2].name, kRightArmTwist) << mode;
    EXPECT_EQ(printed.find("\x82\xB1\x82\xB1\x82\xC9"), std::string::npos) << mode;
    EXPECT_NE(printed.find(" Right arm    1  frame(s) \ndance-cnv.vmd \n=> 1 file(s), total 1 frame(s)"),
              std::string::npos);
  }
  for (const char* mode : {"-M8", "-M9", "-M10", "-M11", "-M12", "-M13"}) {
    std::string printed;
    ReadVmd out = convert(file, {mode}, &printed);
    ASSERT_EQ(out.bones.size(), 5u) << mode;
    EXPECT_EQ(out.bones[0].name, kLeftWristTwist) << mode;
    EXPECT_EQ(out.bones[1].name, kLeftElbow) << mode;
    EXPECT_EQ(out.bones[2].raw, in.bones[1].raw) << mode;  // a stray twist: kept, warned
    // ここに「右手捩」データがあるとまずい.
    EXPECT_NE(printed.find("\x82\xB1\x82\xB1\x82\xC9\x81\x75\x89\x45\x8E\xE8\x9D\x80\x81\x76"), std::string::npos);
  }
}

TEST_F(ConversionTest, RangeBoundsAreInclusive) {
  Bytes file = VmdBuilder()
                   .bone(kLeftArm, 9, turn(1, 0, 0, 0.5))
                   .bone(kLeftArm, 10, turn(1, 0, 0, 0.5))
                   .bone(kLeftArm, 20, turn(1, 0, 0, 0.5))
                   .bone(kLeftArm, 21, turn(1, 0, 0, 0.5))
                   .build();
  ReadVmd in;
  std::string error;
  ASSERT_TRUE(readVmd(file, &in, &error));
  ReadVmd out = convert(file, {"-F10", "-T20"});
  ASSERT_EQ(out.bones.size(), 6u);
  EXPECT_EQ(out.bones[0].raw, in.bones[0].raw);
  EXPECT_EQ(out.bones[1].name, kLeftArmTwist);
  EXPECT_EQ(out.bones[1].frame, 10u);
  EXPECT_EQ(out.bones[3].name, kLeftArmTwist);
  EXPECT_EQ(out.bones[3].frame, 20u);
  EXPECT_EQ(out.bones[5].raw, in.bones[3].raw);
}

TEST_F(ConversionTest, InterpolationBlocksAreRebuilt) {
  std::array<uint8_t, 64> bz = defaultBlock();
  bz[2] = 0;  // physics on, as many files carry it
  bz[3] = 0;
  bz[20] = 0x7F;
  bz[47] = 0x55;
  std::string printed;
  ReadVmd out = convert(VmdBuilder().boneWithBlock(kCenter, 0, {0, 0, 0, 1}, bz).build(), {}, &printed);
  std::array<uint8_t, 64> want = defaultBlock();
  want[2] = 0;
  want[3] = 0;
  want[47] = 0x55;
  EXPECT_EQ(out.bones[0].bz, want);
  EXPECT_NE(printed.find("  bz[20]!=Yay \n"), std::string::npos);
}

TEST_F(ConversionTest, MorphSectionsAndTrailingBytes) {
  Bytes bones = VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.4)).noMorphSection().build();
  ReadVmd out = convert(bones);
  EXPECT_FALSE(out.hasMorphSection);
  EXPECT_EQ(out.bones.size(), 2u);

  Bytes morphs = VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.4)).morph("a", 1, 0.5f).morph("b", 2, 1).build();
  Bytes cut(morphs.begin(), morphs.end() - 10);
  out = convert(cut);
  EXPECT_EQ(out.morphCount, 1);  // the count now says what is there
  ASSERT_EQ(out.morphs.size(), 1u);
  EXPECT_EQ(out.morphs[0], Bytes(morphs.end() - 46, morphs.end() - 23));

  Bytes trailing = {'c', 'a', 'm', 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  std::string printed;
  out = convert(VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.4)).morph("a", 1, 0.5f).trailing(trailing).build(),
                {"-D2"}, &printed);
  EXPECT_EQ(out.trailing, trailing);
  EXPECT_NE(printed.find("Unrecognized data bytes found. \n63 61 6D 00 00 00 00 01 02 03 04 05 06 07 08 09 \n"
                         "0A 0B 0C 0D \nUnrecognized block: Total 20 bytes.\n"),
            std::string::npos)
      << printed;
  // At level 0 nothing is said about them.
  out = convert(VmdBuilder().morph("a", 1, 0.5f).trailing(trailing).build(), {}, &printed);
  EXPECT_EQ(out.trailing, trailing);
  EXPECT_EQ(printed.find("Unrecognized"), std::string::npos);
}

TEST_F(ConversionTest, HeaderCountAlwaysMatchesTheRecords) {
  // Two twist keyframes at the start frame: both are dropped.
  Bytes twice = VmdBuilder()
                    .bone(kLeftArmTwist, 0, turn(1, 0, 0, 0.1))
                    .bone(kLeftArm, 0, turn(1, 0, 0, 0.4))
                    .bone(kLeftArmTwist, 0, turn(1, 0, 0, 0.2))
                    .build();
  ReadVmd out = convert(twice);
  EXPECT_EQ(out.boneCount, 2);
  EXPECT_EQ(out.bones.size(), 2u);

  // The input announces more keyframes than it holds.
  Bytes shortFile = VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.4)).boneCountOverride(5).noMorphSection().build();
  std::string printed;
  out = convert(shortFile, {"-D1"}, &printed);
  EXPECT_EQ(out.boneCount, 2);
  EXPECT_NE(printed.find(" => max blocks of frames = 6 (cnv) \n"), std::string::npos);

  // A negative count reads no keyframe.
  out = convert(VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.4)).boneCountOverride(-3).noMorphSection().build());
  EXPECT_EQ(out.boneCount, 0);
}

TEST_F(ConversionTest, DisplayLevelOneLines) {
  Bytes file = VmdBuilder()
                   .bone(kLeftShoulder, 0, {0, 0, 0, 1})
                   .bone(kLeftArm, 0, {0, 0, 0, 1})
                   .bone(kRightArm, 200, {0, 0, 0, 1})
                   .morph("m", 0, 1)
                   .build();
  std::string printed;
  convert(file, {"-D1", "-T100"}, &printed);
  const std::string arm = kLeftArm, shoulder = kLeftShoulder, right = kRightArm;
  const std::string expected =
      "Reading from: " + in_ + " \nWriting to  : " + out_ + " \nmodel name = model \n" +
      "max blocks of frames = 3 \n => max blocks of frames = 4 (cnv) \n" +
      // The shoulder: header, then its axes, in range.
      "Block 1 \n  bone name = " + shoulder + " \n  frame time = 0 \n  rot (X,Y,Z,W) = 0 0 0 1 \n" +
      "  ex (X,Y,Z) = 1 0 0 \n  ey (X,Y,Z) = 0 1 0 \n  ez (X,Y,Z) = 0 0 1 \n" +
      // The converted arm keyframe.
      "Block 2 \n  bone name = " + arm + " \n  frame time = 0 \n  rot (X,Y,Z,W) = 0 0 0 1 \n" +
      "  ex (X,Y,Z) = 1 0 0 \n  ey (X,Y,Z) = 0 1 0 \n  ez (X,Y,Z) = 0 0 1 \n" +
      "  (vecn)=> (X,Y,Z,W) = -0 0 -0 1 \n" + "  => exporting to " + kLeftArmTwist +
      " x-rot (X,Y,Z,W) = 0 -0 0 1 \n" + "  org (X,Y,Z,W) = 0 0 0 1 \n  cnv (X,Y,Z,W) = 0 0 0 1 \n" +
      // Out of range: header only.
      "Block 3 \n  bone name = " + right + " \n  frame time = 200 \n  rot (X,Y,Z,W) = 0 0 0 1 \n" +
      "\nMorph exist. \nmax morph frames = 1 \n => max morph frames = 1 (cnv) \n\n" +
      "  leftarmreccnt (1) : cleftarmreccnt (1)  OK \n" + "  leftelbowreccnt (0) : cleftelbowreccnt (0)  OK \n" +
      "  rightarmreccnt (0) : crightarmreccnt (0)  OK \n" + "  rightelbowreccnt (0) : crightelbowreccnt (0)  OK \n" +
      "\n=> " + out_ + " \nConversion OK. \n";
  size_t start = printed.find("Reading from: ");
  ASSERT_NE(start, std::string::npos) << printed;
  EXPECT_EQ(printed.substr(start, expected.size()), expected);
}

TEST_F(ConversionTest, TheSampleInEveryMode) {
  Bytes sample = readFile(TORSEL_SAMPLE);
  ASSERT_FALSE(sample.empty());
  ReadVmd in;
  std::string error;
  ASSERT_TRUE(readVmd(sample, &in, &error)) << error;
  for (int mode : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13}) {
    ReadVmd out = convert(sample, {"-M" + std::to_string(mode)});
    EXPECT_EQ(out.header, in.header);
    EXPECT_EQ(out.morphs, in.morphs);
    EXPECT_EQ(out.trailing, in.trailing);
    // Every input record that no pair touches is in the output unchanged,
    // in its order.
    size_t at = 0;
    for (const ReadBone& b : in.bones) {
      bool paired = b.name == kLeftArm || b.name == kRightArm || b.name == kLeftArmTwist;
      bool elbow = b.name == kLeftElbow || b.name == kRightElbow || b.name == kLeftWristTwist;
      if (paired || (elbow && mode >= 8)) continue;
      while (at < out.bones.size() && out.bones[at].raw != b.raw) at++;
      EXPECT_LT(at, out.bones.size()) << "mode " << mode << " lost " << b.name << " at " << b.frame;
    }
  }
}

TEST_F(ConversionTest, SeveralFilesAddUpInTheSummary) {
  writeFile(dir_ + "/a.vmd", VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.3)).build());
  writeFile(dir_ + "/b.vmd",
            VmdBuilder().bone(kLeftArm, 0, turn(1, 0, 0, 0.3)).bone(kRightElbow, 1, turn(1, 0, 0, 0.3)).build());
  RunResult r = runProgram({"-ND", dir_ + "/a.vmd", dir_ + "/b.vmd"});
  EXPECT_EQ(r.status, 0);
  const std::string tail = summaryText(2, 2, 0, 0, 1);
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace

namespace {

TEST(SampleMotion, IsWhatTheProjectsGeneratorWrites) {
  std::string dir = testsupport::makeTempDir();
  testsupport::RunOptions options;
  options.program = MAKE_SAMPLE_EXE;
  testsupport::RunResult r = testsupport::runProgram({dir + "/sample.vmd"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testsupport::readFile(dir + "/sample.vmd"), testsupport::readFile(TORSEL_SAMPLE));
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
