// The closing summary in both languages, printed (-ND) or in the box
// (which the POSIX build shows on standard output).
#include <gtest/gtest.h>

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

class SummaryTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    writeFile(dir_ + "/one.vmd", VmdBuilder()
                                     .bone(kLeftArm, 0, {0, 0, 0, 1})
                                     .bone(kLeftArm, 1, {0, 0, 0, 1})
                                     .bone(kRightElbow, 0, {0, 0, 0, 1})
                                     .build());
    writeFile(dir_ + "/two.vmd", VmdBuilder().bone(kRightArm, 0, {0, 0, 0, 1}).build());
  }

  std::string tail(const RunResult& r, size_t size) const {
    return r.out.size() >= size ? r.out.substr(r.out.size() - size) : r.out;
  }

};

TEST_F(SummaryTest, EnglishForZeroOneAndTwoFiles) {
  const struct {
    std::vector<std::string> args;
    std::string summary;
  } cases[] = {
      {{"-ND", dir_ + "/one.vmd"}, summaryText(1, 2, 0, 0, 1, true, "one.vmd")},
      {{"-ND", dir_ + "/one.vmd", dir_ + "/two.vmd"}, summaryText(2, 2, 0, 1, 1)},
      // Without the elbows their lines go, and so do their counts.
      {{"-ND", "-M4", dir_ + "/one.vmd"}, summaryText(1, 2, 0, 0, 0, false, "one.vmd")},
      {{"-ND", "-C", dir_ + "/one.vmd"}, summaryText(0, 0, 0, 0, 0)},
      {{"-ND"}, summaryText(0, 0, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    RunResult r = runProgram(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(tail(r, c.summary.size()), c.summary) << r.out;
  }
}

TEST_F(SummaryTest, JapaneseInAShiftJisLocale) {
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-ND", dir_ + "/one.vmd"}, ja);
  // one.vmd / 左腕　  2 フレーム / 左ひじ  0 フレーム / 右腕　  0 フレーム /
  // 右ひじ  1 フレーム / one-cnv.vmd / => 1 つのファイル, 合計 3 フレームを変換しました.
  const std::string frames = "\x83\x74\x83\x8C\x81\x5B\x83\x80";
  const std::string want = "one.vmd \n"
                           " \x8D\xB6\x98\x72\x81\x40  2 " + frames + " \n"
                           " \x8D\xB6\x82\xD0\x82\xB6  0 " + frames + " \n"
                           " \x89\x45\x98\x72\x81\x40  0 " + frames + " \n"
                           " \x89\x45\x82\xD0\x82\xB6  1 " + frames + " \n"
                           "one-cnv.vmd \n"
                           "=> 1 \x82\xC2\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B, \x8D\x87\x8C\x76 3 " + frames +
                           "\x82\xF0\x95\xCF\x8A\xB7\x82\xB5\x82\xDC\x82\xB5\x82\xBD. \n";
  EXPECT_EQ(tail(r, want.size()), want);

  r = runProgram({"-ND", dir_ + "/one.vmd", dir_ + "/two.vmd"}, ja);
  EXPECT_NE(r.out.find("\x91\x53\x83\x74\x83\x40\x83\x43\x83\x8B\x8C\x76 \n"), std::string::npos);  // 全ファイル計
}

TEST_F(SummaryTest, ShownInTheBoxWithoutNoDialog) {
  RunResult r = runProgram({dir_ + "/one.vmd"});
  if (underWine()) {
    // The box is a window (exercised with a display by the dialog test);
    // nothing of it reaches standard output.
    EXPECT_EQ(r.out.find("frame(s)"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 0);
    return;
  }
  const std::string want = "VMD motion converter\n" + summaryText(1, 2, 0, 0, 1, true, "one.vmd");
  EXPECT_EQ(tail(r, want.size()), want);
}

TEST_F(SummaryTest, ConvertedToUtf8ForAUtf8Console) {
  RunOptions utf8;
  utf8.locale = "ja_JP.UTF-8";
  RunResult r = runProgram({"-ND", "-D1", dir_ + "/one.vmd"}, utf8);
  if (r.out.find("\xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88") == std::string::npos) {
    GTEST_SKIP() << "no CP932 converter on this system";
  }
  EXPECT_NE(r.out.find("Oru\xE5\xBC\x8F"), std::string::npos);                 // Oru式
  EXPECT_NE(r.out.find("count = 2 (\xE5\xB7\xA6\xE8\x85\x95) \n"), std::string::npos);  // (左腕)
  EXPECT_NE(r.out.find(" \xE5\xB7\xA6\xE8\x85\x95\xE3\x80\x80  2 "), std::string::npos);  // 左腕　
  EXPECT_NE(r.out.find("one-cnv.vmd \n"), std::string::npos);
}

TEST_F(SummaryTest, LongNamesAreCutAtACharacterBoundary) {
  // Such a name is longer than a Windows path may be; the Windows build is
  // tested with names that fit (WindowsSummary).
  if (underWine()) GTEST_SKIP() << "name beyond the Windows path limit";
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  // A name of 120 double-byte characters: written twice, it cannot fit.
  std::string name;
  for (int i = 0; i < 60; i++) name += "\x83\x5C\x83\x41";  // ソア
  std::string path = dir_ + "/" + name + ".vmd";
  writeFile(path, readFile(dir_ + "/two.vmd"));
  RunResult r = runProgram({"-ND", path}, ja);
  ASSERT_EQ(r.status, 0) << r.out;
  size_t start = r.out.rfind(name + ".vmd \n");
  ASSERT_NE(start, std::string::npos);
  std::string text = r.out.substr(start);
  ASSERT_FALSE(text.empty());
  text.pop_back();  // the newline -ND adds
  EXPECT_LE(text.size(), 519u);
  // Walk the Shift-JIS characters: the text must not end inside one.
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    i += ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
  }
  EXPECT_EQ(i, text.size());
}

}  // namespace
