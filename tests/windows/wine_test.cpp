// What only the Windows build shows: paths and names in code page 932,
// scanned with the real IsDBCSLeadByte, under a Japanese Wine; '/' options.
#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

using WindowsOnly = TempDirTest;

TEST_F(WindowsOnly, TrailByteBackslashInAFileNameAndSlashOptions) {
  // ソ: UTF-8 on the Linux side; 0x83 0x5C for the program, whose second byte is '\'.
  writeFile(dir_ + "/\xE3\x82\xBD.vmd", buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.4)}}));
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-ND", dir_ + "/\xE3\x82\xBD.vmd"}, ja);
  EXPECT_TRUE(r.status == 0 && fileExists(dir_ + "/\xE3\x82\xBD-cnv.vmd")) << r.out;
  EXPECT_NE(r.out.find("=> " + dir_ + "/\x83\x5C-cnv.vmd \nConversion OK. \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\x83\x5C.vmd \n \x8D\xB6\x98\x72\x81\x40  1 "), std::string::npos) << r.out;  // 左腕　  1
  EXPECT_NE(runProgram({"/C/ND"}).out.find("VMDfile.checkmode = ON. \nCancel.displaying.dialogue. \n"), std::string::npos);
}

}  // namespace
