// The input changes between the pre-scan and the conversion, as another
// program might change it: both passes run here, the file changed between.
#include <gtest/gtest.h>

#include <string>

#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "run/run_settings.h"
#include "support/harness.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"

namespace torsel {
namespace {

using namespace testsupport;

using ChangedInput = TempDirTest;

TEST_F(ChangedInput, BetweenThePasses) {
  const Rot q = turn(1, 0, 0, 0.4);
  const Bytes original = buildVmd({{kLeftArm, 0, q}, {kCenter, 1, q}, {kLeftArm, 2, q}}, {{"m", 0, 1}});
  Bytes badHeader = original;
  badHeader[1] = 'X';
  const struct {
    Bytes file;  // empty: removed
    int32_t result;
    std::string message;
    int32_t records;  // in the output; -1: the earlier output stays
  } cases[] = {
      {{}, -1, "Cannot open RD file : ", -1},
      {badHeader, 2, "Illegal file format at 000002=(58) \n", -1},
      {Bytes(original.begin(), original.begin() + 54 + 111 + 50), 0,
       "  leftarmreccnt (2) : cleftarmreccnt (1)  **** differ \n", 2},
      {buildVmd({{kLeftArm, 0, q}, {kLeftArm, 1, q}, {kLeftArm, 2, q}, {kLeftArm, 3, q}}), 0,
       "  leftarmreccnt (2) : cleftarmreccnt (4)  **** differ \n", 8},
  };
  const std::string in = dir_ + "/d.vmd", out = dir_ + "/d-cnv.vmd";
  for (const auto& c : cases) {
    gSettings = {}, gTotals = {}, gSettings.displayLevel = 1, useModel(builtInModel());
    writeFile(in, original);
    writeFile(out, {'o', 'l', 'd'});
    testing::internal::CaptureStdout();
    ASSERT_EQ(confirmMotionFile(in.c_str()), 0);
    c.file.empty() ? (void)std::remove(in.c_str()) : writeFile(in, c.file);
    EXPECT_EQ(convertMotionFile(out.c_str(), in.c_str()), c.result);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_EQ(gTotals.convertedFileCount, c.result == 0 ? 1 : 0);
    ReadVmd read;
    std::string error;
    const Bytes old = {'o', 'l', 'd'};
    EXPECT_TRUE(c.records < 0 ? readFile(out) == old : readVmd(readFile(out), &read, &error) && read.boneCount == c.records);
    EXPECT_EQ(listDir(dir_), c.file.empty() ? "d-cnv.vmd" : "d-cnv.vmd d.vmd");
  }
}

}  // namespace
}  // namespace torsel
