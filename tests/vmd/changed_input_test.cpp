// The input changes between the pre-scan and the conversion: the passes
// are run one after the other in this process, with the file changed in
// between, as another program might do it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"
#include "twist/bone_pairs.h"
#include "twist/model_axes.h"
#include "twist/run_settings.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"

namespace torsel {
namespace {

using namespace testsupport;

class ChangedInputTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    in_ = dir_ + "/d.vmd";
    out_ = dir_ + "/d-cnv.vmd";
    gSettings = RunSettings{};
    gTotals = RunTotals{};
    copySetupRestQuats();
    original_ = VmdBuilder()
                    .bone(kLeftArm, 0, {0.2f, 0, 0, 0.9797959f})
                    .bone(kCenter, 1, {0, 0, 0, 1})
                    .bone(kLeftArm, 2, {0.2f, 0, 0, 0.9797959f})
                    .morph("m", 0, 1)
                    .build();
    writeFile(in_, original_);
    writeFile(out_, earlier_);
    testing::internal::CaptureStdout();
    ASSERT_EQ(confirmMotionFile(in_.c_str()), 0);
  }

  int32_t convert() {
    int32_t result = convertMotionFile(out_.c_str(), in_.c_str());
    printed_ = testing::internal::GetCapturedStdout();
    return result;
  }

  std::string in_, out_, printed_;
  Bytes original_;
  const Bytes earlier_ = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
};

TEST_F(ChangedInputTest, Removed) {
  ASSERT_EQ(unlink(in_.c_str()), 0);
  EXPECT_EQ(convert(), -1);
  EXPECT_NE(printed_.find("Cannot open RD file : " + in_ + "\n"), std::string::npos);
  EXPECT_EQ(readFile(out_), earlier_);
  EXPECT_EQ(gTotals.convertedFileCount, 0);
}

TEST_F(ChangedInputTest, HeaderChanged) {
  Bytes changed = original_;
  changed[1] = 'X';
  writeFile(in_, changed);
  EXPECT_EQ(convert(), 2);
  EXPECT_NE(printed_.find("Illegal file format at 000002=(58) \n"), std::string::npos);
  EXPECT_EQ(readFile(out_), earlier_);
  EXPECT_FALSE(fileExists(out_ + ".tmp"));
}

TEST_F(ChangedInputTest, ShortenedInsideTheBones) {
  writeFile(in_, Bytes(original_.begin(), original_.begin() + 54 + 111 + 50));
  gSettings.displayLevel = 1;
  EXPECT_EQ(convert(), 0);
  ReadVmd out;
  std::string error;
  ASSERT_TRUE(readVmd(readFile(out_), &out, &error)) << error;
  EXPECT_EQ(out.boneCount, 2);  // the twist and the one arm keyframe left
  EXPECT_FALSE(out.hasMorphSection);
  EXPECT_NE(printed_.find("  leftarmreccnt (2) : cleftarmreccnt (1)  **** differ \n"), std::string::npos);
  EXPECT_EQ(gTotals.leftArm, 1);
}

TEST_F(ChangedInputTest, GrownWithMoreKeyframes) {
  writeFile(in_, VmdBuilder()
                     .bone(kLeftArm, 0, {0.2f, 0, 0, 0.9797959f})
                     .bone(kLeftArm, 1, {0.2f, 0, 0, 0.9797959f})
                     .bone(kLeftArm, 2, {0.2f, 0, 0, 0.9797959f})
                     .bone(kLeftArm, 3, {0.2f, 0, 0, 0.9797959f})
                     .build());
  EXPECT_EQ(convert(), 0);
  ReadVmd out;
  std::string error;
  ASSERT_TRUE(readVmd(readFile(out_), &out, &error)) << error;
  EXPECT_EQ(out.boneCount, 8);
}

}  // namespace
}  // namespace torsel
