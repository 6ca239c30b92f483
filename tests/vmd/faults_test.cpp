// Bad input and a hostile machine: the sample cut and changed byte by byte,
// odd counts, full disks, read-only and failing files, odd arguments. Every
// run ends with its documented status; every output it writes holds exactly
// the records its counts announce, and an earlier output stays untouched
// when a run fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <initializer_list>
#include <utility>
#include <string>
#include <tuple>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct Faults : TempDirTest {
  // Converts `file` as s.vmd; checks the status, then the output.
  void expectRun(const Bytes& file, int status, const std::string& what, const RunOptions& options = {}) {
    writeFile(dir_ + "/s.vmd", file);
    std::remove((dir_ + "/s-cnv.vmd").c_str());
    RunResult r = runProgram({"-ND", dir_ + "/s.vmd"}, options);
    runs_++;
    ReadVmd out;
    std::string error;
    const bool written = status == 0 || status == 5;  // a motion cut short is converted as far as it goes
    ASSERT_TRUE(r.status == status && (!written || readVmd(readFile(dir_ + "/s-cnv.vmd"), &out, &error)))
        << what << ": " << error << "\n" << r.out;
    EXPECT_EQ(listDir(dir_), written ? "s-cnv.vmd s.vmd" : "s.vmd") << what;
  }
  int runs_ = 0;
};

TEST_F(Faults, SampleCutAtEveryLengthAndChangedByteByByte) {
  const Bytes sample = readFile(TORSEL_SAMPLE);
  ReadVmd whole;
  std::string error;
  ASSERT_TRUE(readVmd(sample, &whole, &error)) << error;
  // A motion may end after its bones (no morph section) or anywhere in what follows its morphs.
  const size_t bonesEnd = 54 + 111 * whole.bones.size(), morphsEnd = bonesEnd + 4 + 23 * whole.morphs.size();
  // Under Wine a run costs a hundred times more: there the Windows file
  // layer is what is under test, so a sample of the cuts and changes runs,
  // every boundary of the file's sections among them.
  const size_t stride = underWine() ? 17 : 1;
  auto sampled = [&](size_t at, std::initializer_list<size_t> edges) {
    for (size_t e : edges) {
      if (at + 2 >= e && at <= e + 2) return true;
    }
    return at % stride == 0;
  };
  for (size_t len = 0; len <= sample.size(); len++) {
    if (!sampled(len, {25, 54, bonesEnd, morphsEnd, sample.size()})) continue;
    const int status = len < 25 ? 2 : len == bonesEnd || len >= morphsEnd ? 0 : 5;  // 5: cut short
    expectRun(Bytes(&sample[0], &sample[0] + len), status, "cut at " + std::to_string(len));
  }
  for (size_t i = 0; i < 54 + 2 * 111; i++) {
    if (i == 50) i = 54;  // the bone count's own bytes: OddCountsAndUnterminatedNames
    for (uint8_t value : {0x00, 0xFF, 0x80, 0x7F}) {
      Bytes changed = sample;
      if (!sampled(i, {0, 21, 50, 54}) || std::exchange(changed[i], value) == value) continue;
      expectRun(changed, i <= 3 || (i >= 21 && i <= 24) ? 2 : 0, "byte " + std::to_string(i) + " = " + std::to_string(value));
    }
  }
  std::cout << "[ sweep ] " << runs_ << " inputs\n";
}

TEST_F(Faults, OddCountsAndUnterminatedNames) {
  for (uint32_t count : {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 3u, 1000000u}) {
    Bytes bones = buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.6)}, {kLeftArmTwist, 0, {0, 0, 0, 1}}});
    Bytes morphs = buildVmd({{kRightArm, 2, turn(1, 0, 0, 0.6)}}, {{"a", 1, 1}, {"b", 2, 1}}, true, {1, 2, 3});
    for (int k = 0; k < 4; k++) bones[50 + k] = morphs[54 + 111 + k] = static_cast<uint8_t>(count >> (8 * k));
    // Any count but the records' own cuts the file short (a morph count below 1 reads none).
    expectRun(bones, 5, "bone count " + std::to_string(count));
    expectRun(morphs, static_cast<int32_t>(count) < 1 ? 0 : 5, "morph count " + std::to_string(count));
  }
  Bytes lead = buildVmd({{std::string(15, '\x83'), 1, {0, 0, 0, 1}}});  // lead bytes all through, no NUL
  std::fill(lead.begin() + 30, lead.begin() + 50, 0x81);
  expectRun(lead, 0, "unterminated, Shift-JIS", {"ja_JP.SJIS", -1, "", -1});
}

// 36 records of another bone, then a left arm: the 4096th output byte falls
// inside the inserted twist keyframe (which starts at 54 + 36·111 = 4050).
Bytes armAtTheBufferEdge() {
  std::vector<Key> keys;
  for (uint32_t i = 0; i < 77; i++) keys.push_back({i == 36 ? kLeftArm : kCenter, i, turn(1, 0, 0, 0.4)});
  std::vector<Morph> morphs(200, {"m", 1, 0.5f});
  return buildVmd(keys, morphs, true, Bytes(300, 0x11));
}

TEST_F(Faults, FullDiskAtSeveralOffsetsLeavesTheEarlierOutput) {
  if (underWine()) GTEST_SKIP() << "file size limits would stop Wine's own files; the small disk covers Windows";
  const Bytes input = armAtTheBufferEdge(), header = buildVmd({}, {}, false), earlier = {'o', 'l', 'd'};
  char end[32];
  std::snprintf(end, sizeof end, "%06X=(FFFFFFFF)", static_cast<unsigned>(input.size() + 111));
  // Nothing reaches the disk: the first buffer fails inside the twist keyframe,
  // the last byte read the arm block's last (free) byte; then inside the bone
  // and morph sections, at the last flush, and with a header alone.
  for (auto [file, limit, message] : {std::tuple{&input, 0L, "001000=(00)"}, {&input, 4095L, "001000=(00)"},
                                      {&input, 4096L, "002000=(00)"}, {&input, 8192L, "003000=(00)"},
                                      {&input, long(input.size()) + 11, end}, {&header, 0L, "000036=(00)"}}) {
    writeFile(dir_ + "/s.vmd", *file);
    writeFile(dir_ + "/s-cnv.vmd", earlier);
    RunResult r = runProgram({"-ND", dir_ + "/s.vmd"}, {"C", limit, "", -1});
    EXPECT_EQ(r.status, 4) << limit;
    EXPECT_NE(r.out.find("File writing error.(or Disk full)\nCannot write to file at " + std::string(message) +
                         " \nError code 4. \n"), std::string::npos) << limit << "\n" << r.out;
    EXPECT_TRUE(readFile(dir_ + "/s-cnv.vmd") == earlier && listDir(dir_) == "s-cnv.vmd s.vmd") << limit;
  }
  EXPECT_EQ(runProgram({"-ND", dir_ + "/s.vmd"}, {"C", long(input.size() + 111), "", -1}).status, 0);  // room enough
}

TEST_F(Faults, SmallDiskFullThenReadOnly) {
  const std::string disk = dir_ + "/disk";
  const Bytes old = {'o', 'l', 'd'};
  ASSERT_EQ(std::system(("mkdir " + disk).c_str()), 0);
  if (geteuid() != 0 || std::system(("mount -t tmpfs -o size=16k tmpfs " + disk + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  std::vector<Key> keys;
  for (uint32_t i = 0; i < 50; i++) keys.push_back({i % 2 ? kLeftArm : kCenter, i, turn(1, 0, 0, 0.2)});
  writeFile(disk + "/d.vmd", buildVmd(keys));
  writeFile(disk + "/d-cnv.vmd", old);
  for (const char* end : {"File writing error.(or Disk full)\nCannot write to file at ", "Cannot open WR file : "}) {
    RunResult r = runProgram({"-ND", disk + "/d.vmd"});
    EXPECT_EQ(r.status, end[0] == 'F' ? 4 : 255) << r.out;
    EXPECT_NE(r.out.find(end), std::string::npos) << r.out;
    EXPECT_TRUE(listDir(disk) == "d-cnv.vmd d.vmd" && readFile(disk + "/d-cnv.vmd") == old);
    std::system(("mount -o remount,ro " + disk).c_str());  // then read-only
  }
  std::system(("umount " + disk).c_str());
}

TEST_F(Faults, OutputFolderLongPathsAndTooManyArguments) {
  const Bytes motion = buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.4)}});
  writeFile(dir_ + "/m.vmd", motion);
  ASSERT_EQ(std::system(("mkdir " + dir_ + "/m-cnv.vmd").c_str()), 0);  // the output path is a folder
  RunResult r = runProgram({"-ND", dir_ + "/m.vmd"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.out.find("Cannot replace file : " + dir_ + "/m-cnv.vmd\nCannot write to file at "), std::string::npos);
  EXPECT_EQ(listDir(dir_), "m-cnv.vmd m.vmd");
  const std::string longPath = dir_ + "/" + std::string(5000, 'a') + ".vmd";
  r = runProgram({"-ND", "-C", longPath});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("Path too long : " + longPath + "\nError code -1. \n: cannot open file. \n"), std::string::npos);
  std::vector<std::string> args = {"-ND", "-C"};
  args.insert(args.end(), 598, dir_ + "/m.vmd");
  r = runProgram(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("Too many command line parameters.\n"), 14u);
  EXPECT_EQ(r.out.find("Too many", 15), std::string::npos);
  size_t checked = 0;
  for (size_t at = 0; (at = r.out.find("Confirming: ", at)) != std::string::npos; at++) checked++;
  EXPECT_EQ(checked, 508u);  // the program, two options and 508 files
}

}  // namespace
