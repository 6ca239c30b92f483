// The pre-scan and check mode (-C) on motions the tests write.
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

class CheckModeTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    path_ = dir_ + "/c.vmd";
  }

  // Output between the option confirmations and the summary.
  std::string check(const Bytes& file, std::vector<std::string> options, int* status = nullptr) {
    writeFile(path_, file);
    options.insert(options.begin(), "-ND");
    options.push_back(path_);
    RunResult r = runProgram(options);
    if (status != nullptr) *status = r.status;
    size_t start = r.out.find("\nConfirming: ");
    size_t end = r.out.rfind(" Left  arm    ");
    if (start == std::string::npos || end == std::string::npos || end < start) return "unexpected: " + r.out;
    return r.out.substr(start + 1, end - start - 1);
  }

  std::string path_;
};

TEST_F(CheckModeTest, HeaderFailures) {
  int status = 0;
  EXPECT_EQ(check({}, {"-C"}, &status), "Confirming: " + path_ + " \nIllegal file format at 000000=(FFFFFFFF) \n"
                                                                 "Error code 2. \n: file format. \n");
  EXPECT_EQ(status, 2);
  Bytes file = VmdBuilder().build();
  file[22] = 'X';
  EXPECT_EQ(check(file, {"-C"}, &status),
            "Confirming: " + path_ + " \nIllegal file format at 000017=(58) \nError code 2. \n: file format. \n");
  EXPECT_EQ(status, 2);
  // Bytes 4 to 20 and 25 to 29 are not tested.
  file = VmdBuilder().build();
  for (int i : {4, 12, 20, 25, 29}) file[static_cast<size_t>(i)] = '?';
  EXPECT_EQ(check(file, {"-C"}, &status), "Confirming: " + path_ +
                                              " \nmodel name = model \nmax blocks of frames = 0 \n\nMorph exist. \n"
                                              "max morph frames = 0 \nVMD file format is correct.\n\n");
  EXPECT_EQ(status, 0);
  // 24 bytes: the 25th tested byte is missing.
  file.resize(24);
  EXPECT_EQ(check(file, {"-C"}), "Confirming: " + path_ +
                                      " \nIllegal file format at 000018=(FFFFFFFF) \nError code 2. \n: file format. \n");
}

TEST_F(CheckModeTest, FullListing) {
  std::array<uint8_t, 64> odd = defaultBlock();
  odd[17] = 0xA5;
  odd[40] = 0;
  Bytes file = VmdBuilder("\x8F\x89\x89\xB9")
                   .bone(kLeftArm, 3, {0.5f, 0, 0, 0.75f}, {1.5f, -2, 0.25f})
                   .boneWithBlock(kCenter, 7, {0, 0, 0, 1}, odd)
                   .morph("\x82\xA0", 2, 0.5f)
                   .trailing({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xFF})
                   .build();
  EXPECT_EQ(check(file, {"-C"}), "Confirming: " + path_ +
                                     " \n"
                                     "model name = \x8F\x89\x89\xB9 \n"
                                     "max blocks of frames = 2 \n"
                                     "Block 1 \n"
                                     "  bone name = " + std::string(kLeftArm) + " \n"
                                     "  frame time = 3 \n"
                                     "  pos (X,Y,Z) = 1.5 -2 0.25 \n"
                                     "  rot (X,Y,Z,W) = 0.5 0 0 0.75 \n"
                                     "Block 2 \n"
                                     "  bone name = " + std::string(kCenter) + " \n"
                                     "  frame time = 7 \n"
                                     "  pos (X,Y,Z) = 0 0 0 \n"
                                     "  rot (X,Y,Z,W) = 0 0 0 1 \n"
                                     "  bz[17](=A5)!=Zax(=16) \n"
                                     "  bz[40]!=Zbx \n"
                                     "\nMorph exist. \n"
                                     "max morph frames = 1 \n"
                                     "Morph block 1 \n"
                                     "  morph name = \x82\xA0 \n"
                                     "  frame time = 2 \n"
                                     "  value = 0.5 \n"
                                     "Unrecognized data bytes found. \n"
                                     "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
                                     "FF \n"
                                     "Total 17 bytes.\n"
                                     "\n");
}

TEST_F(CheckModeTest, ListingByDisplayLevel) {
  Bytes file = VmdBuilder().bone(kLeftArm, 3, {0, 0, 0, 1}).bone(kRightArm, 4, {0, 0, 0, 1}).build();
  const std::string listing = "max blocks of frames = 2 \nBlock 1 \n";
  const std::string counted = std::string("  ") + kLeftArm + " 1 counted. \n";
  const struct {
    const char* level;
    bool listed;
    bool counts;
  } cases[] = {{"-D0", false, false}, {"-D1", false, false}, {"-D3", false, false}, {"-D4", true, true},
               {"-D9", true, true},   {"-D10", false, true}, {"-D127", false, true}};
  for (const auto& c : cases) {
    std::string out = check(file, {"-D0", c.level});
    EXPECT_EQ(out.find(listing) != std::string::npos, c.listed) << c.level << "\n" << out;
    EXPECT_EQ(out.find(counted) != std::string::npos, c.counts) << c.level << "\n" << out;
    // The interpolation messages need no level; here there are none.
    EXPECT_EQ(out.find("bz["), std::string::npos);
  }
  // Check mode lists at every level, and counts from 4 up.
  std::string out = check(file, {"-C", "-D10"});
  EXPECT_NE(out.find(listing), std::string::npos);
  EXPECT_NE(out.find(counted), std::string::npos);
}

TEST_F(CheckModeTest, FilesCutShort) {
  Bytes full = VmdBuilder().bone(kLeftArm, 3, {0, 0, 0, 1}).morph("m", 1, 1.0f).morph("n", 2, 1.0f).build();
  // Ends right after the bone keyframes: no morph count, no verdict.
  Bytes noMorph(full.begin(), full.begin() + 54 + 111);
  EXPECT_EQ(check(noMorph, {"-C"}), "Confirming: " + path_ + " \nmodel name = model \nmax blocks of frames = 1 \n"
                                         "Block 1 \n  bone name = " + std::string(kLeftArm) +
                                         " \n  frame time = 3 \n  pos (X,Y,Z) = 0 0 0 \n"
                                         "  rot (X,Y,Z,W) = 0 0 0 1 \n\n");
  // Cut inside the bone record: the record is dropped whole.
  Bytes cutBone(full.begin(), full.begin() + 54 + 110);
  std::string out = check(cutBone, {"-C"});
  EXPECT_EQ(out.find("Block 1"), std::string::npos) << out;
  // Cut inside the morph section: reported as correct.
  Bytes cutMorph(full.begin(), full.end() - 5);
  out = check(cutMorph, {"-C"});
  EXPECT_NE(out.find("Morph block 1 \n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Morph block 2"), std::string::npos) << out;
  EXPECT_NE(out.find("VMD file format is correct.\n\n"), std::string::npos) << out;
}

TEST_F(CheckModeTest, CountsAndFramesAsUnsignedNumbers) {
  Bytes file = VmdBuilder()
                   .bone(kLeftArm, 0, {0, 0, 0, 1})
                   .bone(kLeftArm, 10, {0, 0, 0, 1})
                   .bone(kLeftArm, 20, {0, 0, 0, 1})
                   .bone(kLeftArm, 0x80000000u, {0, 0, 0, 1})
                   .build();
  const struct {
    std::vector<std::string> range;
    int count;
  } cases[] = {{{"-F10", "-T20"}, 2}, {{"-F20", "-T10"}, 0}, {{"-F-5"}, 0}, {{"-F0", "-T-1"}, 4},
               {{}, 3}};
  for (const auto& c : cases) {
    std::vector<std::string> options = c.range;
    options.push_back("-C");
    options.push_back("-D1");
    std::string out = check(file, options);
    std::string line = "     Left  arm   count = " + std::to_string(c.count) + " (";
    EXPECT_NE(out.find(line), std::string::npos) << out;
  }
  // Frame times print signed.
  std::string out = check(file, {"-C"});
  EXPECT_NE(out.find("  frame time = -2147483648 \n"), std::string::npos);
}

TEST_F(CheckModeTest, NamesWithoutTerminatorAndOddCounts) {
  std::array<uint8_t, 15> full;
  for (size_t i = 0; i < 15; i++) full[i] = static_cast<uint8_t>('a' + i);
  Bytes file = VmdBuilder(std::string(20, 'M')).boneRawName(full, 1, {0, 0, 0, 1}).build();
  std::string out = check(file, {"-C"});
  EXPECT_NE(out.find("model name = MMMMMMMMMMMMMMMMMMMM \n"), std::string::npos) << out;
  EXPECT_NE(out.find("  bone name = abcdefghijklmno \n"), std::string::npos) << out;

  // Counts beyond the records present, negative or zero.
  for (int32_t count : {0x7FFFFFFF, -1, 0}) {
    Bytes odd = VmdBuilder().bone(kLeftArm, 1, {0, 0, 0, 1}).boneCountOverride(count).noMorphSection().build();
    int status = -1;
    out = check(odd, {"-C", "-D1"}, &status);
    EXPECT_EQ(status, 0) << count;
    EXPECT_NE(out.find("max blocks of frames = " + std::to_string(count) + " \n"), std::string::npos) << out;
  }
}

}  // namespace
