// What only the Windows build shows: paths and names in code page 932,
// scanned with the real IsDBCSLeadByte, under a Japanese Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/expected_text.h"
#include "support/names.h"
#include "support/run_program.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

TEST(WindowsPaths, TrailByteBackslashInAFileName) {
  const std::string dir = makeTempDir();
  // ソ (UTF-8 on the Linux side; 0x83 0x5C, whose second byte is '\\', for the program).
  const std::string so = "\xE3\x82\xBD";
  writeFile(dir + "/" + so + ".vmd", VmdBuilder().bone(kLeftArm, 0, {0.2f, 0, 0, 0.9797959f}).build());
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-ND", dir + "/" + so + ".vmd"}, ja);
  EXPECT_EQ(r.status, 0) << r.out;
  // The output stands beside the input, named after the whole name.
  EXPECT_TRUE(fileExists(dir + "/" + so + "-cnv.vmd"));
  EXPECT_NE(r.out.find("=> " + dir + "/\x83\x5C-cnv.vmd \nConversion OK. \n"), std::string::npos) << r.out;
  // The summary names the file in Japanese.
  EXPECT_NE(r.out.find("\x83\x5C.vmd \n \x8D\xB6\x98\x72\x81\x40  1 "), std::string::npos) << r.out;
  std::system(("rm -rf " + dir).c_str());
}

TEST(WindowsPaths, SlashStartsAnOption) {
  RunResult r = runProgram({"/C/ND"});
  EXPECT_NE(r.out.find("VMDfile.checkmode = ON. \nCancel.displaying.dialogue. \n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 0);
}

TEST(WindowsSummary, LongNamesAreCutAtACharacterBoundary) {
  // 130 ASCII bytes and 30 ソ: 190 bytes in code page 932, twice in the
  // summary, so its 520 bytes run out inside the Japanese last line. (The
  // UTF-8 names on the Linux side must stay within 255 bytes.)
  const std::string dir = makeTempDir();
  std::string utf8Name(130, 'a'), sjisName(130, 'a');
  for (int i = 0; i < 30; i++) {
    utf8Name += "\xE3\x82\xBD";
    sjisName += "\x83\x5C";
  }
  writeFile(dir + "/" + utf8Name + ".vmd", VmdBuilder().bone(kLeftArm, 0, {0.2f, 0, 0, 0.9797959f}).build());
  RunOptions ja;
  ja.locale = "ja_JP.SJIS";
  RunResult r = runProgram({"-ND", dir + "/" + utf8Name + ".vmd"}, ja);
  ASSERT_EQ(r.status, 0) << r.out;
  size_t start = r.out.rfind(sjisName + ".vmd \n");
  ASSERT_NE(start, std::string::npos) << r.out;
  std::string text = r.out.substr(start);
  text.pop_back();  // the line end -ND adds
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_LE(text.size() + lines, 519u);  // "\r\n" in the text itself
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    i += ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
  }
  EXPECT_EQ(i, text.size());
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
