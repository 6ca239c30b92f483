// Failures while the output is written: a full disk at several offsets, an
// output that cannot be created or replaced. An earlier output must survive
// and no temporary file may be left behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/names.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_builder.h"
#include "support/vmd_reader.h"

namespace {

using namespace testsupport;

class WriteFailureTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    in_ = dir_ + "/dance.vmd";
    out_ = dir_ + "/dance-cnv.vmd";
  }

  // Runs a conversion in which no file may grow past `limit` bytes.
  RunResult convertWithLimit(long limit) {
    RunOptions options;
    options.fileSizeLimit = limit;
    return runProgram({"-ND", in_}, options);
  }

  std::string in_, out_;
};

// 36 records of another bone, then a left arm: the 4096th output byte falls
// inside the inserted twist keyframe (which starts at 54 + 36·111 = 4050).
Bytes motionWithArmAtBufferEdge() {
  VmdBuilder b;
  for (uint32_t i = 0; i < 36; i++) b.bone(kCenter, i, {0, 0, 0, 1});
  b.bone(kLeftArm, 40, {0.2f, 0, 0, 0.9797959f});
  for (uint32_t i = 0; i < 40; i++) b.bone(kCenter, 50 + i, {0, 0, 0, 1});
  for (uint32_t i = 0; i < 200; i++) b.morph("m", i, 0.5f);
  b.trailing(Bytes(300, 0x11));
  return b.build();
}

TEST_F(WriteFailureTest, FullDiskAtSeveralOffsetsLeavesTheEarlierOutput) {
  // A file size limit would stop Wine's own files too; the small disk below
  // covers the Windows build.
  if (underWine()) GTEST_SKIP() << "file size limits do not apply to Wine";
  const Bytes input = motionWithArmAtBufferEdge();
  writeFile(in_, input);
  const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  // Limits, with the output count at which the failure shows and the last
  // input byte read then.
  const struct {
    long limit;
    std::string message;
  } cases[] = {
      // Nothing reaches the disk: the first buffer of 4096 bytes fails while
      // the twist keyframe is written; the last byte read is the arm's
      // block's last byte (a free byte, 0 here).
      {0, "Cannot write to file at 001000=(00) \n"},
      {4095, "Cannot write to file at 001000=(00) \n"},
      // The second buffer fails in the middle of the bone section.
      {4096, "Cannot write to file at 002000=(00) \n"},
      // The third inside the morph section: the last byte read ends a name.
      {8192, "Cannot write to file at 003000=(00) \n"},
      // The last flush fails: the whole file was accepted by the buffer.
      {static_cast<long>(input.size() + 111 - 100), "Cannot write to file at " + [&] {
         char buf[16];
         std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(input.size() + 111));
         return std::string(buf);
       }() + "=(FFFFFFFF) \n"},
  };
  for (const auto& c : cases) {
    writeFile(out_, earlier);
    RunResult r = convertWithLimit(c.limit);
    EXPECT_EQ(r.status, 4) << c.limit;
    EXPECT_NE(r.out.find("File writing error.(or Disk full)\n" + c.message + "Error code 4. \n"), std::string::npos)
        << c.limit << "\n" << r.out;
    EXPECT_EQ(r.out.find("Conversion OK."), std::string::npos);
    EXPECT_NE(r.out.find("=> 0 file(s), total 0 frame(s) converted. "), std::string::npos);
    EXPECT_EQ(readFile(out_), earlier) << c.limit;
    EXPECT_FALSE(fileExists(out_ + ".tmp")) << c.limit;
  }
  // With room enough, the conversion goes through and replaces it.
  RunResult r = convertWithLimit(static_cast<long>(input.size() + 111));
  EXPECT_EQ(r.status, 0) << r.out;
  ReadVmd out;
  std::string error;
  EXPECT_TRUE(readVmd(readFile(out_), &out, &error)) << error;
  EXPECT_EQ(out.bones.size(), 78u);
}

TEST_F(WriteFailureTest, FullDiskWithTheHeaderOnly) {
  if (underWine()) GTEST_SKIP() << "file size limits do not apply to Wine";
  writeFile(in_, VmdBuilder("\x8F\x89").noMorphSection().build());
  RunResult r = convertWithLimit(0);
  EXPECT_EQ(r.status, 4);
  // 54 bytes taken by the buffer; the last byte read ends the model name.
  EXPECT_NE(r.out.find("File writing error.(or Disk full)\nCannot write to file at 000036=(00) \n"), std::string::npos)
      << r.out;
  EXPECT_FALSE(fileExists(out_));
}

TEST_F(WriteFailureTest, OutputThatCannotBeCreatedOrReplaced) {
  writeFile(in_, VmdBuilder().bone(kLeftArm, 0, {0, 0, 0, 1}).build());
  // The output path is a folder.
  ASSERT_EQ(std::system(("mkdir " + out_).c_str()), 0);
  RunResult r = runProgram({"-ND", in_});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.out.find("Cannot replace file : " + out_ + "\nCannot write to file at "), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(out_ + ".tmp"));

  // The folder cannot be written to (not for root, who may write anyway).
  std::system(("rmdir " + out_).c_str());
  if (geteuid() != 0) {
    std::system(("chmod a-w " + dir_).c_str());
    r = runProgram({"-ND", in_});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Cannot open WR file : " + out_ + "\nError code -1. \n"), std::string::npos) << r.out;
  }
}

TEST_F(WriteFailureTest, InputChangedBetweenThePasses) {
  // A header that the conversion finds wrong cannot be produced without a
  // race; a file removed between the passes is what can: simulate it with
  // two names for the same file, the second one missing.
  writeFile(in_, VmdBuilder().bone(kLeftArm, 0, {0, 0, 0, 1}).build());
  const Bytes earlier = {'o', 'l', 'd'};
  writeFile(out_, earlier);
  RunResult r = runProgram({"-ND", in_, dir_ + "/gone.vmd"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(readFile(out_), earlier);  // the first file was converted
  EXPECT_FALSE(fileExists(dir_ + "/gone-cnv.vmd"));
}

// A real small file system: full, then read-only. Needs root to mount.
class SmallDiskTest : public WriteFailureTest {
 protected:
  void SetUp() override {
    WriteFailureTest::SetUp();
    disk_ = dir_ + "/disk";
    ASSERT_EQ(std::system(("mkdir " + disk_).c_str()), 0);
    if (geteuid() != 0 || std::system(("mount -t tmpfs -o size=16k tmpfs " + disk_ + " 2>/dev/null").c_str()) != 0) {
      GTEST_SKIP() << "cannot mount a small file system here";
    }
    mounted_ = true;
    in_ = disk_ + "/dance.vmd";
    out_ = disk_ + "/dance-cnv.vmd";
    VmdBuilder b;
    for (uint32_t i = 0; i < 50; i++) b.bone(i % 2 ? kLeftArm : kCenter, i, {0.1f, 0, 0, 0.99498744f});
    writeFile(in_, b.build());
    writeFile(out_, earlier_);
  }
  void TearDown() override {
    if (mounted_) std::system(("umount " + disk_).c_str());
    WriteFailureTest::TearDown();
  }
  std::string disk_;
  bool mounted_ = false;
  const Bytes earlier_ = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
};

TEST_F(SmallDiskTest, FullDisk) {
  RunResult r = runProgram({"-ND", in_});
  EXPECT_EQ(r.status, 4) << r.out;
  EXPECT_NE(r.out.find("File writing error.(or Disk full)\nCannot write to file at "), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out_), earlier_);
  EXPECT_FALSE(fileExists(out_ + ".tmp"));
}

TEST_F(SmallDiskTest, ReadOnlyFolder) {
  ASSERT_EQ(std::system(("mount -o remount,ro " + disk_).c_str()), 0);
  RunResult r = runProgram({"-ND", in_});
  EXPECT_EQ(r.status, 255) << r.out;
  EXPECT_NE(r.out.find("Cannot open WR file : " + out_ + "\nError code -1. \n"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out_), earlier_);
}

}  // namespace
