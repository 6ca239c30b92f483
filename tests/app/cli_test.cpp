// The command line as users meet it: banner, options, usage, result codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/expected_text.h"
#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

class CliTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    motion_ = dir_ + "/m.vmd";
    writeFile(motion_, VmdBuilder().bone(kCenter, 0, {0, 0, 0, 1}).build());
  }

  // What a check-mode run prints for motion_, which check mode lists.
  std::string checked(const std::string& path) const {
    return "\nConfirming: " + path + " \nmodel name = model \nmax blocks of frames = 1 \nBlock 1 \n  bone name = " +
           kCenter + " \n  frame time = 0 \n  pos (X,Y,Z) = 0 0 0 \n  rot (X,Y,Z,W) = 0 0 0 1 \n" +
           "\nMorph exist. \nmax morph frames = 0 \nVMD file format is correct.\n\n";
  }

  std::string motion_;
};

TEST_F(CliTest, NoArgumentAndNoConsoleGivesTheDialogFailureAndUsage) {
  RunResult r = runProgram({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kStart + "Initext:  \n\nFailed Opening File-Open Dialog Box: 0000 (stat=0000).\n" + usageText());
}

TEST_F(CliTest, JapaneseModelLineInAShiftJisLocale) {
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-C", "-ND"}, ja);
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  // Oru式初音ミク・アペンド(Ver1.00)さんセットアップ
  const std::string line =
      "Oru\x8E\xAE\x8F\x89\x89\xB9\x83\x7E\x83\x4E\x81\x45\x83\x41\x83\x79\x83\x93\x83\x68"
      "(Ver1.00)\x82\xB3\x82\xF1\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76 \n";
  EXPECT_EQ(r.out.substr(kBanner.size(), line.size()), line);
  EXPECT_EQ(r.status, 0);
}

TEST_F(CliTest, OptionsAreConfirmedAndApplyToEveryFile) {
  const struct {
    std::vector<std::string> args;
    std::string confirmations;
  } cases[] = {
      {{"-F100T200"}, "  conv from Frame = 100. \n  conv to   Frame = 200. \n"},
      {{"-F100-T200"}, "  conv from Frame = 100. \n  conv to   Frame = 200. \n"},
      {{"-m=9"}, "Conv.mode = 9. \n"},
      {{"-M268"}, "Conv.mode = 12. \n"},
      {{"-D-1"}, "Info.displayLevel = -1. \n"},
      {{"-R30"}, "Ref.posture = 30 time frame. \n"},
      {{"-F 77"}, "  conv from Frame = 77. \n"},
      {{"-F99999999999"}, "  conv from Frame = 2147483647. \n"},
      {{"-T-99999999999"}, "  conv to   Frame = -2147483648. \n"},
      {{"-F"}, "  conv from Frame = 0. \n"},
      {{"-N5", "-N=5"}, ""},
      {{"-F10", "-F20"}, "  conv from Frame = 10. \n  conv from Frame = 20. \n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("-C");
    args.push_back(motion_);
    RunResult r = runProgram(args);
    EXPECT_EQ(r.out.substr(0, kStart.size() + c.confirmations.size() + 26),
              kStart + c.confirmations + "VMDfile.checkmode = ON. \n\n")
        << c.args[0];
    EXPECT_EQ(r.status, 0) << c.args[0];
  }
}

TEST_F(CliTest, NoDialogOptionAndCheckModeWithEquals) {
  RunResult r = runProgram({"-C=D2/ND", motion_});
  const std::string want =
      kStart + "VMDfile.checkmode = ON. \nInfo.displayLevel = 2. \nCancel.displaying.dialogue. \n\nConfirming: ";
  EXPECT_EQ(r.out.substr(0, want.size()), want);
}

TEST_F(CliTest, UnknownOptionCharactersAreReportedInBothPasses) {
  RunResult r = runProgram({"-X", "-ND", "-C", motion_});
  EXPECT_EQ(r.out, kStart + "\nOption error: <X> 58Cancel.displaying.dialogue. \nVMDfile.checkmode = ON. \n" +
                       "\nOption error: <X> 58" + checked(motion_) + summaryText(0, 0, 0, 0, 0));
  EXPECT_EQ(r.status, 0);

  // A byte from 0x80 up prints sign-extended. (Wine hands the program its
  // arguments converted from the Unix locale, so only the POSIX build sees
  // the raw byte.)
  if (underWine()) return;
  r = runProgram({"-\x82", "-ND", "-C"});
  EXPECT_NE(r.out.find("\nOption error: <\x82> FFFFFF82Cancel"), std::string::npos) << r.out;
}

TEST_F(CliTest, UnsupportedModeIsRefusedBeforeAnyFile) {
  for (const char* mode : {"-M6", "-M7", "-M14", "-M200", "-M-1", "-M16"}) {
    RunResult r = runProgram({mode, "-ND", motion_});
    int8_t stored = static_cast<int8_t>(std::atoi(mode + 2) & 0xFF);
    std::string conf = "Conv.mode = " + std::to_string(stored) + ". \n";
    EXPECT_EQ(r.out, kStart + conf + "Cancel.displaying.dialogue. \nConv.mode " + std::to_string(stored) +
                         " is not supported. \n" + usageText(0, 9999999, stored))
        << mode;
    EXPECT_EQ(r.status, 1) << mode;
  }
  EXPECT_FALSE(fileExists(dir_ + "/m-cnv.vmd"));
  // Check mode converts nothing, so it accepts any mode.
  EXPECT_EQ(runProgram({"-M6", "-C", "-ND", motion_}).status, 0);
}

TEST_F(CliTest, TooManyArguments) {
  std::vector<std::string> args = {"-ND", "-C"};
  for (int i = 0; i < 598; i++) args.push_back(motion_);
  RunResult r = runProgram(args);
  EXPECT_EQ(r.status, 0);
  size_t first = r.out.find("Too many command line parameters.\n");
  EXPECT_EQ(first, kBanner.size());
  EXPECT_EQ(r.out.find("Too many", first + 1), std::string::npos);
  // Program path, the two options and 508 files take part.
  size_t confirmations = 0;
  for (size_t at = 0; (at = r.out.find("Confirming: ", at)) != std::string::npos; at++) confirmations++;
  EXPECT_EQ(confirmations, 508u);
}

TEST_F(CliTest, FilesThatCannotBeOpened) {
  const std::string missing = dir_ + "/missing.vmd";
  RunResult r = runProgram({"-ND", missing});
  EXPECT_EQ(r.out, kStart + "Cancel.displaying.dialogue. \n\nConfirming: " + missing + " \nCannot open RD file : " +
                       missing + "\nError code -1. \n: cannot open file. \n" + summaryText(0, 0, 0, 0, 0));
  EXPECT_EQ(r.status, 255);

  // A folder is no motion file.
  r = runProgram({"-ND", dir_});
  EXPECT_NE(r.out.find("Cannot open RD file : " + dir_ + "\nError code -1. \n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 255);

  // A read that fails is no end of file: /proc/self/mem cannot be read at 0.
  if (fileExists("/proc/self/mem") && !underWine()) {
    r = runProgram({"-ND", "-C", "/proc/self/mem"});
    EXPECT_NE(r.out.find("Confirming: /proc/self/mem \nCannot read RD file at 000000 \nError code -1. \n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 255);
  }

  // A path beyond the platform's limit is refused, not copied.
  std::string longPath = dir_ + "/" + std::string(5000, 'a') + ".vmd";
  r = runProgram({"-ND", longPath});
  EXPECT_NE(r.out.find("\nPath too long : " + longPath + "\nError code -1. \n: cannot open file. \n"),
            std::string::npos);
  EXPECT_EQ(r.status, 255);
}

TEST_F(CliTest, TheFirstFailingFileEndsTheRun) {
  const std::string bad = dir_ + "/bad.vmd";
  const std::string third = dir_ + "/third.vmd";
  writeFile(bad, {'V', 'o', 'x'});
  writeFile(third, readFile(motion_));
  RunResult r = runProgram({"-ND", motion_, bad, "-Q", third});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(fileExists(dir_ + "/m-cnv.vmd"));
  EXPECT_FALSE(fileExists(dir_ + "/bad-cnv.vmd"));
  EXPECT_FALSE(fileExists(dir_ + "/third-cnv.vmd"));
  const std::string tail = "\nConfirming: " + bad + " \nIllegal file format at 000003=(78) \nError code 2. \n" +
                           ": file format. \n" + summaryText(1, 0, 0, 0, 0, true, "bad.vmd");
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  // The option error after the failing file is never reached in the file pass.
  EXPECT_EQ(r.out.find("<Q>", r.out.find("<Q>") + 1), std::string::npos);
}

TEST_F(CliTest, DisplayLevelOnePrintsThePairCounts) {
  writeFile(motion_, VmdBuilder()
                         .bone(kLeftArm, 0, {0, 0, 0, 1})
                         .bone(kLeftArm, 10, {0, 0, 0, 1})
                         .bone(kRightElbow, 20, {0, 0, 0, 1})
                         .bone(kLeftElbow, 30, {0, 0, 0, 1})
                         .build());
  RunResult r = runProgram({"-C", "-D1", "-F10", "-ND", motion_});
  const std::string counts = std::string("  => between start(10) and end(9999999) frame time, \n") +
                             "     Left  arm   count = 1 (" + kLeftArm + ") \n" + "     Left  elbow count = 1 (" +
                             kLeftElbow + ") \n" + "     Right arm   count = 0 (" + kRightArm + ") \n" +
                             "     Right elbow count = 1 (" + kRightElbow + ") \n\n";
  EXPECT_NE(r.out.find("VMD file format is correct.\n\n" + counts), std::string::npos) << r.out;
  // -D-1: no count lines.
  r = runProgram({"-C", "-D-1", "-ND", motion_});
  EXPECT_EQ(r.out.find("count ="), std::string::npos);
}

TEST_F(CliTest, SlashIsAPathOnPosix) {
  RunResult r = runProgram({"-C", "-ND", motion_});
  EXPECT_EQ(r.out, kStart + "VMDfile.checkmode = ON. \nCancel.displaying.dialogue. \n" + checked(motion_) +
                       summaryText(0, 0, 0, 0, 0));
}

}  // namespace
