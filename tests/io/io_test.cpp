// Byte streams, path helpers and the argument list, in-process: the edges
// the end-to-end runs do not show.
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

using Streams = testsupport::TempDirTest;

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
  ASSERT_EQ(wrOpenBeside((dir_ + "/out").c_str()), 0);
  EXPECT_TRUE(wrPutInt32(0x12345678) == 0 && wrPutBytes(data.data(), 5000 / 2) == 0 && wrPutFloat32(1.0f) == 0);
  EXPECT_TRUE(wrPatchInt32(4, 0x01020304) == 0 && wrCount() == 2508 && wrClose() == 0 && wrPublish() == 0);
  Bytes want = {0x78, 0x56, 0x34, 0x12, 4, 3, 2, 1, 0, 0, 0x80, 0x3F};
  want.insert(want.begin() + 8, data.begin() + 4, data.begin() + 2500);
  EXPECT_EQ(testsupport::readFile(dir_ + "/out"), want);
}

TEST(PathsAndArguments, TakePathsApartAndKeepTheEndSlot) {
  char out[64] = "junk";
  EXPECT_TRUE(pathExtPart(out, "x.VMD") == -1 && std::string(out) == ".VMD" && pathExtPart(out, "x") == 0 && !out[0]);
  EXPECT_TRUE(pathDirPart(out, "C:\\t\\p.exe") == 0 && std::string(out) == "C:\\t\\");
  EXPECT_TRUE(pathNamePart(out, "C:\\a/b.vmd") == 0 && std::string(out) == "b.vmd");
  EXPECT_TRUE(findFileName(out, TORSEL_SAMPLE) == 0 && std::string(out) == "sample.vmd");
  EXPECT_TRUE(findFileName(out, "/none/x.vmd") == -1 && !out[0]);
  EXPECT_TRUE(pathIsPose("a.VpD") && !pathIsPose("a.vpd\\b") && !pathIsPose("a.vpdx") && !pathIsPose("a"));
  EXPECT_TRUE(pathOutputName(out, 64, "c.d\\p.VPD", pathOutputSuffix("p.VPD")) == 0 &&
              std::string(out) == "c.d\\p-cnv.vpd");
  static ArgList list;
  clearArgList(&list);
  for (const char* a : {"prog.exe", "", "\"C:\\My Files\\a.vmd\""}) addArgToken(&list, a);
  EXPECT_TRUE(list.argCount == 2 && std::string(list.argItems[1]) == "C:\\My Files\\a.vmd");
  EXPECT_TRUE(list.argItems[2] > list.argItems[1] && list.argItems[2] < std::end(list.argPool) && !list.argItems[2][0]);  // the end slot: an empty string of the pool
}

}  // namespace
}  // namespace torsel
