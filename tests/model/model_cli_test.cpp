// Models given with the motions: their axes replace the built-in ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/expected_text.h"
#include "support/model_builder.h"
#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

class ModelCliTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    motion_ = dir_ + "/dance.vmd";
    out_ = dir_ + "/dance-cnv.vmd";
    writeFile(motion_, readFile(TORSEL_SAMPLE));
  }

  Bytes convert(const std::vector<std::string>& args, RunResult* result = nullptr) {
    std::vector<std::string> all = {"-ND"};
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = runProgram(all);
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.status, 0) << r.out;
    return readFile(out_);
  }

  std::string motion_, out_;
};

TEST_F(ModelCliTest, BuiltInAxesGiveTheSameBytes) {
  const Bytes plain = convert({motion_});
  for (bool utf8 : {false, true}) {
    PmxOptions o;
    o.utf8 = utf8;
    const std::string model = dir_ + "/miku.pmx";
    writeFile(model, buildPmx(bonesWithBuiltInAxes(), o));
    RunResult r;
    EXPECT_EQ(convert({motion_, model}, &r), plain);
    // The model announces itself after the options, in place of the built-in line.
    // テスト, shown as UTF-8 on a POSIX console; an English Windows console
    // (code page 1252) has no such characters.
    const std::string name = underWine() ? "???" : "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";
    const std::string want = kBanner + "Cancel.displaying.dialogue. \nConverting setup: Model [" + name + "] \n";
    EXPECT_EQ(r.out.substr(0, want.size()), want);
    EXPECT_EQ(r.out.find("Oru-type"), std::string::npos);
  }
}

TEST_F(ModelCliTest, OtherAxesChangeOnlyTheConvertedKeyframes) {
  const Bytes plain = convert({motion_});
  std::vector<ModelBone> bones = bonesWithBuiltInAxes();
  for (ModelBone& b : bones) {
    if (b.fixedAxis) (*b.fixedAxis)[2] += 0.25f;
  }
  const std::string model = dir_ + "/other.pmx";
  writeFile(model, buildPmx(bones));
  const Bytes changed = convert({model, motion_});
  ReadVmd a, b;
  std::string error;
  ASSERT_TRUE(readVmd(plain, &a, &error));
  ASSERT_TRUE(readVmd(changed, &b, &error));
  ASSERT_EQ(a.bones.size(), b.bones.size());
  int differing = 0;
  for (size_t i = 0; i < a.bones.size(); i++) {
    const ReadBone& x = a.bones[i];
    const ReadBone& y = b.bones[i];
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.frame, y.frame);
    EXPECT_EQ(x.bz, y.bz);
    bool converted = x.name == kLeftArm || x.name == kRightArm || x.name == kLeftElbow || x.name == kRightElbow ||
                     x.name == kLeftArmTwist || x.name == kLeftWristTwist || x.name == kRightArmTwist ||
                     x.name == kRightWristTwist;
    bool same = x.raw == y.raw;
    if (!same) differing++;
    // Untouched records stay; the stray twist keyframe of the sample too.
    if (!converted) {
      EXPECT_TRUE(same) << i;
    }
  }
  EXPECT_EQ(differing, 18);  // nine converted keyframes and their twists
  EXPECT_EQ(a.morphs, b.morphs);
  EXPECT_EQ(a.trailing, b.trailing);
}

TEST_F(ModelCliTest, TheLastModelCountsAndCheckModeShowsItsAxes) {
  writeFile(dir_ + "/first.pmd", Bytes{1, 2, 3});  // never read
  std::vector<ModelBone> bones = {
      {kU8LeftArm, {1, 15, 0}, {}}, {kU8LeftElbow, {3, 14, 0.5f}, {}}, {kU8RightArm, {-1, 15, 0}, {}},
      {kU8RightElbow, {-3, 14, -0.5f}, {}},
  };
  writeFile(dir_ + "/second.pmd", buildPmd(bones, "second"));
  RunResult r = runProgram({"-ND", "-C", "-M4", dir_ + "/first.pmd", motion_, dir_ + "/second.pmd"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("VMDfile.checkmode = ON. \nConv.mode = 4. \nConverting setup: Model [second] \n"
                       "     Left  arm   axis = 2 -1 0.5 (bone direction) \n"
                       "     Right arm   axis = 2 1 0.5 (bone direction) \n\nConfirming: "),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fileExists(out_));
}

TEST_F(ModelCliTest, UnusableModelsEndTheRunWithResult3) {
  std::vector<ModelBone> armsOnly = {{kU8LeftArm, {1, 15, 0}, {}}, {kU8LeftElbow, {3, 14, 0.5f}, {}},
                                     {kU8RightArm, {-1, 15, 0}, {}}, {kU8RightElbow, {-3, 14, -0.5f}, {}}};
  writeFile(dir_ + "/arms.pmx", buildPmx(armsOnly));
  writeFile(dir_ + "/bad.pmx", Bytes{'P', 'M', 'X', ' ', 1});
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{dir_ + "/none.pmx"}, "Cannot open RD file : " + dir_ + "/none.pmx\nCannot use model file : " + dir_ +
                                 "/none.pmx (cannot be opened)\n"},
      {{dir_ + "/bad.pmx"}, "Cannot use model file : " + dir_ + "/bad.pmx (cut short or damaged)\n"},
      // The elbows are converted in the default mode: 左手首 is needed.
      {{dir_ + "/arms.pmx"}, "Cannot use model file : " + dir_ + "/arms.pmx (no bone \x8D\xB6\x8E\xE8\x8E\xF1)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-ND"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(motion_);
    RunResult r = runProgram(args);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Cancel.displaying.dialogue. \n" + c.message + "Error code 3. \n: model file. \n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Confirming"), std::string::npos);
    EXPECT_FALSE(fileExists(out_));
  }
  // Without the elbows the arms are enough.
  EXPECT_EQ(runProgram({"-ND", "-M4", dir_ + "/arms.pmx", motion_}).status, 0);
}

TEST_F(ModelCliTest, JapaneseModelLine) {
  writeFile(dir_ + "/miku.pmd", buildPmd(bonesWithBuiltInAxes(), "\x83\x7E\x83\x4E"));  // ミク
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-ND", dir_ + "/miku.pmd", motion_}, ja);
  // ミクさんセットアップ
  EXPECT_NE(r.out.find("\x83\x7E\x83\x4E\x82\xB3\x82\xF1\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76 \n"),
            std::string::npos)
      << r.out;
}

}  // namespace
