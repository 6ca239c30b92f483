#include "io/byte_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_reader.h"

namespace torsel {
namespace {

using testsupport::readFile;
using testsupport::writeFile;

class ByteStreamTest : public testsupport::TempDirTest {
 protected:
  
  void TearDown() override {
    rdClose();
    wrClose();
    TempDirTest::TearDown();
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
};

TEST_F(ByteStreamTest, ShortInt32TakesOnesForMissingBytes) {
  writeFile(path("three"), {0x01, 0x02, 0x03});
  ASSERT_EQ(rdOpen(path("three").c_str()), 0);
  EXPECT_EQ(rdGetInt32(), static_cast<int32_t>(0xFF030201u));
  EXPECT_EQ(rdIsClosed(), -1);
  EXPECT_EQ(rdCount(), 3);
  EXPECT_EQ(rdGetByte(), -1);
  EXPECT_EQ(rdHasFailed(), 0);
}

TEST_F(ByteStreamTest, EmptyFileClosesAtOnce) {
  writeFile(path("empty"), {});
  ASSERT_EQ(rdOpen(path("empty").c_str()), 0);
  EXPECT_EQ(rdIsClosed(), 0);
  EXPECT_EQ(rdGetByte(), -1);
  EXPECT_EQ(rdIsClosed(), -1);
  EXPECT_EQ(rdCount(), 0);
}

TEST_F(ByteStreamTest, ReadsAcrossBufferBoundariesInOrder) {
  testsupport::Bytes data(3 * kStreamBufferSize + 17);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
  writeFile(path("big"), data);
  ASSERT_EQ(rdOpen(path("big").c_str()), 0);
  for (size_t i = 0; i < data.size(); i++) ASSERT_EQ(rdGetByte(), data[i]) << i;
  EXPECT_EQ(rdGetByte(), -1);
  EXPECT_EQ(rdCount(), static_cast<int32_t>(data.size()));
}

TEST_F(ByteStreamTest, OpenFailuresAndFolders) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(rdOpen(path("missing").c_str()), -1);
  EXPECT_EQ(rdOpen(dir_.c_str()), -1);
  EXPECT_EQ(wrOpen((dir_ + "/no/such/dir").c_str()), -1);
  EXPECT_EQ(rdProbe(path("missing").c_str()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot open RD file : " + path("missing") + "\nCannot open RD file : " + dir_ +
                "\nCannot open WR file : " + dir_ + "/no/such/dir\n");
}

TEST_F(ByteStreamTest, ReopenClosesTheFirstFile) {
  writeFile(path("a"), {1, 2});
  writeFile(path("b"), {9});
  ASSERT_EQ(rdOpen(path("a").c_str()), 0);
  EXPECT_EQ(rdGetByte(), 1);
  ASSERT_EQ(rdOpen(path("b").c_str()), 0);
  EXPECT_EQ(rdCount(), 0);
  EXPECT_EQ(rdGetByte(), 9);
}

TEST_F(ByteStreamTest, WritesLittleEndianThroughTheBuffer) {
  ASSERT_EQ(wrOpen(path("out").c_str()), 0);
  EXPECT_EQ(wrPutInt32(0x12345678), 0);
  EXPECT_EQ(wrPutFloat32(1.0f), 0);
  for (int i = 0; i < 5000; i++) wrPutByte(i & 0xFF);
  EXPECT_EQ(wrCount(), 5008);
  EXPECT_EQ(wrPatchInt32(0, 0x0A0B0C0D), 0);
  EXPECT_EQ(wrPutByte(0xEE), 0);
  EXPECT_EQ(wrClose(), 0);
  testsupport::Bytes got = readFile(path("out"));
  ASSERT_EQ(got.size(), 5009u);
  EXPECT_EQ(got[0], 0x0D);
  EXPECT_EQ(got[3], 0x0A);
  EXPECT_EQ(got[4], 0x00);
  EXPECT_EQ(got[7], 0x3F);
  EXPECT_EQ(got[8 + 4999], 4999 & 0xFF);
  EXPECT_EQ(got[5008], 0xEE);
}

TEST_F(ByteStreamTest, FullDiskFailsOnceAndStaysClosed) {
  ASSERT_EQ(wrOpen("/dev/full"), 0);
  testing::internal::CaptureStdout();
  int failedAt = -1;
  for (int i = 0; i < 3 * kStreamBufferSize; i++) {
    if (wrPutByte(i) != 0) {
      failedAt = i;
      break;
    }
  }
  EXPECT_EQ(failedAt, kStreamBufferSize);
  EXPECT_EQ(wrCount(), kStreamBufferSize);
  EXPECT_EQ(wrPutInt32(7), -1);
  EXPECT_EQ(wrCount(), kStreamBufferSize);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "File writing error.(or Disk full)\n");
}

TEST_F(ByteStreamTest, FailureAtTheFinalFlushIsReported) {
  ASSERT_EQ(wrOpen("/dev/full"), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(wrPutInt32(7), 0);
  EXPECT_EQ(wrClose(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "File writing error.(or Disk full)\n");
  EXPECT_EQ(wrIsClosed(), -1);
}

}  // namespace
}  // namespace torsel
