#include "io/path_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "support/run_program.h"
#include "support/vmd_reader.h"

namespace torsel {
namespace {

using Helper = int (*)(char*, const char*);

struct Case {
  Helper helper;
  const char* name;
  const char* in;
  const char* out;
  int result;
};

std::string apply(Helper h, const char* in, int* result) {
  char buf[plat::kPathMax];
  std::fill(std::begin(buf), std::end(buf), 'x');
  *result = h(buf, in);
  return buf;
}

TEST(PathHelpers, TakePathsApart) {
  const Case cases[] = {
      {pathDirPart, "dir", "C:\\tools\\prog.exe", "C:\\tools\\", 0},
      {pathDirPart, "dir", "prog.exe", "", 0},
      {pathDirPart, "dir", "C:/tools/prog.exe", "", 0},
      {pathStripExt, "strip", "a\\b.c.vmd", "a\\b.c", 0},
      {pathStripExt, "strip", "a.dir\\file", "a", 0},
      {pathStripExt, "strip", "file", "file", 0},
      {pathExtPart, "ext", "x.VMD", ".VMD", -1},
      {pathExtPart, "ext", "x", "", 0},
      {pathNamePart, "name", "C:\\a/b.vmd", "b.vmd", 0},
      {pathNamePart, "name", "b.vmd", "b.vmd", 0},
      {pathNamePart, "name", "dir\\", "", 0},
  };
  for (const Case& c : cases) {
    int result;
    EXPECT_EQ(apply(c.helper, c.in, &result), c.out) << c.name << " of " << c.in;
    EXPECT_EQ(result, c.result) << c.name << " of " << c.in;
  }
}

TEST(PathHelpers, TrimSlash) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"C:\\", "C:\\"}, {"C:\\a\\", "C:\\a"}, {"\\", "\\"}, {"a\\", "a"}, {"C:a\\", "C:a"},
               {"a/", "a"},      {"/", "/"},         {"", ""}};
  for (const auto& c : cases) {
    char buf[plat::kPathMax];
    std::snprintf(buf, sizeof buf, "%s", c.in);
    pathTrimSlash(buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
  char longPath[400];
  std::fill(std::begin(longPath), std::end(longPath), 'a');
  longPath[300] = '\\';
  longPath[301] = '\0';
  pathTrimSlash(longPath);
  EXPECT_EQ(std::string(longPath).size(), 259u);
}

TEST(PathHelpers, PrefixMatchNoCase) {
  EXPECT_EQ(prefixMatchNoCase(".vmdx", ".VMD"), 0);
  EXPECT_EQ(prefixMatchNoCase(".vm", ".VMD"), -1);
  EXPECT_EQ(prefixMatchNoCase("anything", ""), 0);
  EXPECT_EQ(prefixMatchNoCase("\xE0", "\xC0"), -1);  // only ASCII letters fold
}

TEST(PathHelpers, OutputNameStripsOnlyTheFileNamesExtension) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\work\\dance.vmd", "C:\\work\\dance-cnv.vmd"},
      {"C:\\v1.2\\dance", "C:\\v1.2\\dance-cnv.vmd"},
      {"/home/u/v1.2/dance", "/home/u/v1.2/dance-cnv.vmd"},
      {"a.b.vmd", "a.b-cnv.vmd"},
      {"dance", "dance-cnv.vmd"},
  };
  for (const auto& c : cases) {
    char buf[plat::kPathMax];
    EXPECT_EQ(pathOutputName(buf, sizeof buf, c.in), 0);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
  char small[16];
  EXPECT_EQ(pathOutputName(small, sizeof small, "dancing.vmd"), 0);  // 15 bytes and the NUL
  EXPECT_EQ(pathOutputName(small, sizeof small, "dancings.vmd"), -1);
}

// The double-byte rules follow the locale.
class ShiftJisLocale : public testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "ja_JP.SJIS", 1);
    plat::reloadLocale();
  }
  void TearDown() override {
    setenv("LC_ALL", "C", 1);
    plat::reloadLocale();
  }
};

TEST_F(ShiftJisLocale, TrailByteIsNeverASeparator) {
  ASSERT_TRUE(plat::isLeadByte(0x83));
  int result;
  // ソ is 0x83 0x5C: its second byte equals '\\'.
  EXPECT_EQ(apply(pathDirPart, "C:\\\x83\x5C\\a.vmd", &result), "C:\\\x83\x5C\\");
  EXPECT_EQ(apply(pathDirPart, "\x83\x5C.vmd", &result), "");
  EXPECT_EQ(apply(pathNamePart, "C:\\\x83\x5C.vmd", &result), "\x83\x5C.vmd");
  EXPECT_EQ(apply(pathStripExt, "a\x83\x2E", &result), "a\x83\x2E");
  EXPECT_EQ(apply(pathExtPart, "a\x83\x2E", &result), "");
  char out[plat::kPathMax];
  ASSERT_EQ(pathOutputName(out, sizeof out, "d\\\x83\x5C"), 0);
  EXPECT_STREQ(out, "d\\\x83\x5C-cnv.vmd");
}

TEST(PathHelpers, WithoutShiftJisEveryByteCounts) {
  ASSERT_FALSE(plat::isLeadByte(0x83));
  int result;
  EXPECT_EQ(apply(pathDirPart, "\x83\x5C.vmd", &result), "\x83\x5C");
}

TEST(PathHelpers, FindFileNameAsStored) {
  std::string dir = testsupport::makeTempDir();
  testsupport::writeFile(dir + "/motion.vmd", {1});
  char name[plat::kPathMax];
  EXPECT_EQ(findFileName(name, (dir + "/motion.vmd").c_str()), 0);
  EXPECT_STREQ(name, "motion.vmd");
  EXPECT_EQ(findFileName(name, (dir + "/*.vmd").c_str()), 0);
  EXPECT_STREQ(name, "motion.vmd");
  EXPECT_EQ(findFileName(name, (dir + "/none.vmd").c_str()), -1);
  EXPECT_STREQ(name, "");
  // A folder with no further match.
  EXPECT_EQ(findFileName(name, dir.c_str()), -1);
  // A folder, then another folder.
  std::string sub = dir + "/sub";
  ASSERT_EQ(std::system(("mkdir " + sub + "/a " + sub + "/b -p").c_str()), 0);
  EXPECT_EQ(findFileName(name, (sub + "/*").c_str()), -2);
  EXPECT_EQ(findFileName(name, ""), -1);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace torsel
