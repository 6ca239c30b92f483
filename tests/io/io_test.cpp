// Byte streams, path helpers and the argument list, in-process.
#include <gtest/gtest.h>

#include <string>

#include "app/arg_list.h"
#include "io/byte_stream.h"
#include "io/path_util.h"
#include "platform/platform.h"
#include "support/harness.h"

namespace torsel {
namespace {

using testsupport::Bytes;

class Streams : public testsupport::TempDirTest {};

TEST_F(Streams, ReadInOrderCloseAtTheEndWriteLittleEndian) {
  Bytes data(10000), got(10000);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
  testsupport::writeFile(dir_ + "/a", data);
  testsupport::writeFile(dir_ + "/short", {0x11, 0x22, 0x33});
  ASSERT_TRUE(rdOpen((dir_ + "/a").c_str()) == 0 && rdGetByte() == data[0] && rdOpen((dir_ + "/a").c_str()) == 0);
  rdGetBytes(got.data(), 4090);  // across the first refill, after opening again
  EXPECT_EQ(rdSkip(10), 0);
  std::copy(data.begin() + 4090, data.begin() + 4100, got.begin() + 4090);
  rdGetBytes(got.data() + 4100, 100);
  for (size_t i = 4200; i < 10000; i++) got[i] = static_cast<uint8_t>(rdGetByte());
  EXPECT_TRUE(got == data && rdCount() == 10000 && rdIsClosed() == 0);
  EXPECT_TRUE(rdGetByte() == -1 && rdIsClosed() == -1 && rdCount() == 10000 && rdSkip(1) == -1 && rdHasFailed() == 0);
  ASSERT_EQ(rdOpen((dir_ + "/short").c_str()), 0);
  EXPECT_EQ(rdGetInt32(), static_cast<int32_t>(0xFF332211));  // a missing byte reads as 0xFF
  EXPECT_TRUE(rdCount() == 3 && rdIsClosed() == -1);
  char temp[plat::kPathMax];
  ASSERT_EQ(wrOpenBeside((dir_ + "/out").c_str(), temp), 0);
  EXPECT_TRUE(wrPutInt32(0x12345678) == 0 && wrPutBytes(data.data(), 5000 / 2) == 0 && wrPutFloat32(1.0f) == 0);
  EXPECT_TRUE(wrPatchInt32(4, 0x01020304) == 0 && wrCount() == 2508 && wrClose() == 0);
  Bytes want = {0x78, 0x56, 0x34, 0x12, 4, 3, 2, 1};
  want.insert(want.end(), data.begin() + 4, data.begin() + 2500);
  want.insert(want.end(), {0, 0, 0x80, 0x3F});
  EXPECT_EQ(testsupport::readFile(temp), want);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(rdOpen((dir_ + "/none").c_str()) == -1 && rdOpen(dir_.c_str()) == -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot open RD file : " + dir_ + "/none\nCannot open RD file : " + dir_ + "\n");
}

TEST(PathHelpers, TakePathsApartAndStepOverDoubleByteCharacters) {
  const struct {
    int (*fn)(char*, const char*);
    const char *in, *out, *sjisOut;  // sjisOut: in a Shift-JIS locale, where it differs
    int result;
  } cases[] = {
      {pathDirPart, "C:\\t\\p.exe", "C:\\t\\", nullptr, 0}, {pathDirPart, "C:/t/p.exe", "", nullptr, 0},
      {pathStripExt, "a\\b.c.vmd", "a\\b.c", nullptr, 0},  {pathStripExt, "file", "file", nullptr, 0},
      {pathExtPart, "x.VMD", ".VMD", nullptr, -1},         {pathExtPart, "x", "", nullptr, 0},
      {pathNamePart, "C:\\a/b.vmd", "b.vmd", nullptr, 0},
      // ソ is 0x83 0x5C: its trail byte is a backslash; 0x83 0x2E hides a dot.
      {pathDirPart, "C:\\\x83\x5C.d\\\x83\x5C", "C:\\\x83\x5C.d\\\x83\x5C", "C:\\\x83\x5C.d\\", 0},
      {pathNamePart, "C:\\\x83\x5C", "", "\x83\x5C", 0},
      {pathStripExt, "a\x83\x2E", "a\x83", "a\x83\x2E", 0},
  };
  for (const char* locale : {"C", "ja_JP.SJIS"}) {
    setenv("LC_ALL", locale, 1);
    plat::reloadLocale();
    for (const auto& c : cases) {
      char out[64] = "junk";
      EXPECT_EQ(c.fn(out, c.in), c.result) << c.in;
      EXPECT_STREQ(out, locale[0] == 'j' && c.sjisOut ? c.sjisOut : c.out) << c.in << " " << locale;
    }
  }
  setenv("LC_ALL", "C", 1);
  plat::reloadLocale();
  for (auto [in, out] : {std::pair{"C:\\", "C:\\"}, {"C:\\a\\", "C:\\a"}, {"\\", "\\"}, {"a/", "a"}, {"C:a\\", "C:a"}}) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s", in);
    pathTrimSlash(buf);
    EXPECT_STREQ(buf, out);
  }
  EXPECT_TRUE(prefixMatchNoCase(".vmdx", ".VMD") == 0 && prefixMatchNoCase(".vm", ".VMD") == -1);
  char buf[16];  // only the file name's extension goes, and only when the result fits
  EXPECT_TRUE(pathOutputName(buf, sizeof buf, "d.b/c") == 0 && std::string(buf) == "d.b/c-cnv.vmd");
  EXPECT_EQ(pathOutputName(buf, sizeof buf, "abcdefgh.vmd"), -1);
}

TEST(ArgList, CopiesTokensAndNeverOverflows) {
  static ArgList list;
  clearArgList(&list);
  for (const char* a : {"prog.exe", "", "\"\"", "\"C:\\My Files\\a.vmd\"", "\"b.vmd\"tail", "\"open"}) addArgToken(&list, a);
  EXPECT_TRUE(list.argCount == 4 && std::string(list.argItems[1]) == "C:\\My Files\\a.vmd" &&
              std::string(list.argItems[2]) == "b.vmd" && std::string(list.argItems[3]) == "open");
  const std::string big(40000, 'a');
  for (const char* a : {big.c_str(), big.c_str(), "more"}) addArgToken(&list, a);
  EXPECT_TRUE(list.argCount == 6 && list.poolUsed == 0xFFFE && list.argItems[6][0] == '\0');  // the second in part
}

}  // namespace
}  // namespace torsel
