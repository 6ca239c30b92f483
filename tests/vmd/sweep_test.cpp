// Systematic bad input: the sample cut at every length, single-byte changes
// of its header and first keyframes, odd counts and names, and rotations
// that are no unit quaternions. Every run must end with the status the
// program documents, without a crash, and every output it writes must hold
// exactly the records its counts announce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>

#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

class SweepTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    in_ = dir_ + "/s.vmd";
    out_ = dir_ + "/s-cnv.vmd";
  }

  // Converts `file` with `options`; checks the status and the output.
  void expectRun(const Bytes& file, int status, const std::string& what, std::vector<std::string> options = {}) {
    writeFile(in_, file);
    std::remove(out_.c_str());
    options.insert(options.begin(), "-ND");
    options.push_back(in_);
    RunResult r = runProgram(options);
    runs_++;
    ASSERT_EQ(r.status, status) << what << "\n" << r.out;
    if (status != 0) {
      EXPECT_FALSE(fileExists(out_)) << what;
      return;
    }
    ReadVmd out;
    std::string error;
    ASSERT_TRUE(readVmd(readFile(out_), &out, &error)) << what << ": " << error;
  }

  std::string in_, out_;
  int runs_ = 0;
};

bool isTestedHeaderByte(size_t i) { return i <= 3 || (i >= 21 && i <= 24); }

TEST_F(SweepTest, SampleCutAtEveryLength) {
  const Bytes sample = readFile(TORSEL_SAMPLE);
  ASSERT_GT(sample.size(), 1000u);
  for (size_t len = 0; len <= sample.size(); len++) {
    expectRun(Bytes(sample.begin(), sample.begin() + static_cast<long>(len)), len < 25 ? 2 : 0,
              "cut at " + std::to_string(len));
  }
  EXPECT_EQ(runs_, static_cast<int>(sample.size()) + 1);
  std::cout << "[ sweep ] cuts: " << runs_ << " inputs\n";
}

TEST_F(SweepTest, EverySingleByteChangeOfHeaderAndFirstKeyframes) {
  const Bytes sample = readFile(TORSEL_SAMPLE);
  const size_t end = 54 + 2 * 111;
  for (size_t i = 0; i < end; i++) {
    for (uint8_t value : {0x00, 0xFF, 0x80, 0x7F}) {
      if (sample[i] == value) continue;
      Bytes changed = sample;
      changed[i] = value;
      expectRun(changed, isTestedHeaderByte(i) ? 2 : 0, "byte " + std::to_string(i) + " = " + std::to_string(value));
    }
  }
  std::cout << "[ sweep ] byte changes: " << runs_ << " inputs\n";
}

TEST_F(SweepTest, OddCountsAndNames) {
  const int32_t counts[] = {0, -1, std::numeric_limits<int32_t>::min(), 0x7FFFFFFF, 3, 1000000};
  for (int32_t count : counts) {
    VmdBuilder bones;
    bones.bone(kLeftArm, 0, {0.3f, 0, 0, 0.95393920f}).bone(kLeftArmTwist, 0, {0, 0, 0, 1});
    expectRun(bones.boneCountOverride(count).build(), 0, "bone count " + std::to_string(count));
    VmdBuilder morphs;
    morphs.bone(kRightArm, 2, {0.3f, 0, 0, 0.95393920f}).morph("a", 1, 1).morph("b", 2, 1);
    expectRun(morphs.morphCountOverride(count).trailing({1, 2, 3}).build(), 0, "morph count " + std::to_string(count));
  }
  std::array<uint8_t, 15> full;
  full.fill(0x83);  // lead bytes all through, no terminator
  expectRun(VmdBuilder(std::string(20, '\x81')).boneRawName(full, 1, {0, 0, 0, 1}).build(), 0, "unterminated");
  RunOptions sjisLocale;
  sjisLocale.locale = "ja_JP.SJIS";
  writeFile(in_, VmdBuilder(std::string(20, '\x81')).boneRawName(full, 1, {0, 0, 0, 1}).build());
  EXPECT_EQ(runProgram({"-ND", "-C", "-D9", in_}, sjisLocale).status, 0);
  std::cout << "[ sweep ] counts and names: " << runs_ + 1 << " inputs\n";
}

TEST_F(SweepTest, RotationsThatAreNoUnitQuaternions) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Rot rotations[] = {
      {nan, 0, 0, 1},     {0, nan, 0, 1},   {0, 0, 0, nan},   {inf, 0, 0, 1},   {0, -inf, 0, 1},
      {inf, inf, inf, inf}, {0, 0, 0, 0},   {2, 0, 0, 0},     {0, 3, 4, 0},     {-1e30f, 1e30f, 0, 1},
      {1e-30f, 0, 0, 0},  {0, 1, 0, 0},     {-1, 0, 0, 0},    {0, 0, 1, 0},     {0.5f, 0.5f, 0.5f, 0.5f},
  };
  for (const Rot& q : rotations) {
    VmdBuilder b;
    for (const char* bone : {kLeftArm, kRightArm, kLeftElbow, kRightElbow, kLeftShoulder}) b.bone(bone, 0, q);
    b.bone(kLeftArmTwist, 0, q).bone(kRightWristTwist, 0, q);
    const Bytes file = b.build();
    for (int mode : {8, 9, 10, 11, 12, 13, 0}) {
      for (const char* level : {"-D0", "-D1"}) {
        expectRun(file, 0, "mode " + std::to_string(mode), {"-M" + std::to_string(mode), level});
      }
    }
  }
  std::cout << "[ sweep ] rotations: " << runs_ << " inputs\n";
}

}  // namespace
