// The program end to end: the worked example and the identity file checked
// field by field; every output of a matrix of runs read back by the tests'
// own reader, and the exact transcript of each run (messages, status,
// output bytes) pinned by its digest. mmd-parser walks the outputs of every
// mode record by record (tests/vmd_client).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

class EndToEnd : public TempDirTest {
 protected:
  // Converts `file` as dir_/dance.vmd with `options`; the run must succeed.
  ReadVmd convert(const Bytes& file, std::vector<std::string> options = {}, std::string* printed = nullptr) {
    writeFile(dir_ + "/dance.vmd", file);
    options.insert(options.begin(), "-ND");
    options.push_back(dir_ + "/dance.vmd");
    RunResult r = runProgram(options);
    EXPECT_EQ(r.status, 0) << r.out;
    if (printed != nullptr) *printed = r.out;
    ReadVmd out;
    std::string error;
    EXPECT_TRUE(readVmd(readFile(dir_ + "/dance-cnv.vmd"), &out, &error)) << error;
    EXPECT_EQ(listDir(dir_), "dance-cnv.vmd dance.vmd");
    return out;
  }
};

TEST_F(EndToEnd, WorkedExampleWithStartFrameMerge) {
  const Rot q = turn(0.8, -0.55, 0.1, 0.9), e = turn(0.79, -0.6, 0.03, 0.2), q50 = turn(0.2, 1, 0.3, 0.6);
  const std::array<uint8_t, 64> bz = canonicalBlock(40);
  std::string printed;
  ReadVmd out = convert(buildVmd({{kCenter, 0, turn(0, 1, 0, 1), {0.5f, 1, 1.5f}},
                                  {kLeftArm, 0, q, {0, 2, 0}, bz},
                                  {kLeftArmTwist, 0, e},
                                  {kLeftArm, 50, q50, {0, 3, 0}}}),
                        {"-F0", "-T100", "-D1"}, &printed);
  ASSERT_EQ(out.boneCount, 5);
  const char* names[] = {kCenter, kLeftArmTwist, kLeftArm, kLeftArmTwist, kLeftArm};
  const uint32_t frames[] = {0, 0, 0, 50, 50};
  for (size_t i = 0; i < 5; i++) EXPECT_TRUE(out.bones[i].name == names[i] && out.bones[i].frame == frames[i]) << i;
  for (size_t twist : {1u, 3u}) {  // zeros after the name; the source's position and block
    EXPECT_EQ(std::memcmp(out.bones[twist].raw.data(), "\x8D\xB6\x98\x72\x9D\x80\0\0\0\0\0\0\0\0", 15), 0);
    EXPECT_EQ(out.bones[twist].pos, out.bones[twist + 1].pos);
    EXPECT_EQ(out.bones[twist].bz, out.bones[twist + 1].bz);
  }
  EXPECT_EQ(out.bones[2].bz, bz);
  // Method 4 keeps q ⊗ N and twists by conj(N): K ⊗ Tw is q again. At the
  // start frame the existing twist E is merged in front: Tw = E ⊗ conj(K) ⊗ q.
  EXPECT_LT(angleBetween(multiply(out.bones[4].rot, out.bones[3].rot), q50), 1e-3);
  EXPECT_LT(angleBetween(out.bones[1].rot, multiply(e, multiply(conj(out.bones[2].rot), q))), 1e-3);
  for (const char* line : {"  => skipped recording \x8D\xB6\x98\x72\x9D\x80 block. \n",
                           "max blocks of frames = 4 \n => max blocks of frames = 5 (cnv) \n",
                           "  leftarmreccnt (2) : cleftarmreccnt (2)  OK \n"}) {
    EXPECT_NE(printed.find(line), std::string::npos) << line;
  }
}

TEST_F(EndToEnd, NothingToConvertComesOutByteIdentical) {
  std::array<uint8_t, 64> physicsOff = canonicalBlock();
  physicsOff[2] = 99;  // the physics switch of newer files, and a free byte
  physicsOff[3] = 15;
  physicsOff[31] = 0xAB;
  const Bytes file = buildVmd({{kCenter, 0, turn(0, 1, 0, 0.3), {1, 2, 3}},
                               {kLeftShoulder, 5, turn(0, 0, 1, 0.2), {}, physicsOff},
                               {std::string("head\0xyz", 8), 9, {0, 0, 0, 1}}},
                              {{"\x82\xA0", 3, 0.25f}}, true, {0, 0, 0, 0, 1, 2, 3});
  convert(file);
  EXPECT_EQ(readFile(dir_ + "/dance-cnv.vmd"), file);
  convert(file, {"-M3", "-F0", "-T100"});
  EXPECT_EQ(readFile(dir_ + "/dance-cnv.vmd"), file);
}

TEST_F(EndToEnd, MatrixOfRuns) {
  writeFile(dir_ + "/sample.vmd", readFile(TORSEL_SAMPLE));
  RunOptions tool;
  tool.program = MAKE_SAMPLE_EXE;
  ASSERT_EQ(runProgram({dir_ + "/hostile.vmd", "300", "7", "hostile"}, tool).status, 0);
  std::array<uint8_t, 64> odd = canonicalBlock();
  odd[20] = 0x7F;  // a redundant byte that disagrees
  odd[2] = 0;
  writeFile(dir_ + "/odd.vmd", buildVmd({{kLeftArmTwist, 0, turn(1, 0, 0, 0.1)},
                                         {kLeftArm, 0, turn(1, 0.3, 0, 0.4), {1, 2, 3}, odd},
                                         {kRightArmTwist, 7, turn(1, 0, 0, 0.2)},
                                         {kLeftArmTwist, 0, turn(1, 0, 0, 0.3)},
                                         {"\x8D\xB6\x98\x72xxxxxxxxxxx", 3, turn(0, 1, 0, 0.5)},
                                         {kRightElbow, 20, turn(0.3, 1, 0, 2.5)}},
                                        {{"\x82\xA0", 1, 0.5f}}, true, {'c', 'a', 'm', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  Bytes cut = readFile(dir_ + "/sample.vmd");
  cut.resize(1000);
  writeFile(dir_ + "/cut.vmd", cut);
  const struct {
    const char* args;  // $ is the folder
    const char* digest;
    const char* locale = "C";
    bool posixOnly = false;
  } runs[] = {
      {"", "362068cb9f0c1696"},
      {"-ND -M0 $/sample.vmd", "1722a5d117b3fde9"}, {"-ND -M1 $/sample.vmd", "0f7c070098edab8d"}, {"-ND -M2 $/sample.vmd", "506486b345beccef"},
      {"-ND -M3 $/sample.vmd", "0b3ce012df331dec"}, {"-ND -M4 $/sample.vmd", "ce71f660cc083cbb"}, {"-ND -M5 $/sample.vmd", "dc6e6c6c261eaf5f"},
      {"-ND -M8 $/sample.vmd", "dad5dfa5175ab3e9"}, {"-ND -M9 $/sample.vmd", "aa8e388ec1ab20a5"}, {"-ND -M10 $/sample.vmd", "e52cc9c353ab657b"},
      {"-ND -M11 $/sample.vmd", "3e26734c815e8940"}, {"-ND -M12 $/sample.vmd", "088142ba87a7dff2"}, {"-ND -M13 $/sample.vmd", "65608ea3bfe608a3"},
      {"-ND -D1 $/sample.vmd", "6abb7d633a2737d6"}, {"-ND -D1 -M0 $/sample.vmd", "76500cdd11ebff73"}, {"-ND -D1 -M9 -F10 -T20 $/sample.vmd", "b774e0ae90acb93e"},
      {"-ND -D3 -M5 $/sample.vmd", "8b1b8876fe9ce207"}, {"-ND -D4 -M11 $/sample.vmd", "ee7065c0a4c95e57"}, {"-ND -D10 -M1 $/sample.vmd", "c929a3413b851336"},
      {"-ND -D2 -F20 -M13 $/sample.vmd", "a2e501b0a26ec5e9"}, {"-ND -D1 -F10 -M3 $/sample.vmd", "947ed6af0e8ece44"},
      {"-ND -C $/sample.vmd", "513ef2918867f827"}, {"-ND -C -D5 $/sample.vmd $/odd.vmd", "dde8e97058ea3599"},
      {"-ND -D1 $/sample.vmd", "d726e142a01b774e", "ja_JP.SJIS"}, {"-D1 $/sample.vmd", "f132e6ebedd3093b", "ja_JP.SJIS", true},
      {"$/sample.vmd $/odd.vmd", "32e4595437a3f25b", "C", true}, {"-ND -D1 $/sample.vmd", "033b3e81e420740f", "ja_JP.UTF-8", true},
      {"-ND -D1 -M0 $/hostile.vmd", "6680ec5acbac37d4"}, {"-ND -D1 -M1 $/hostile.vmd", "d38f929db2155a43"}, {"-ND -D1 -M2 $/hostile.vmd", "53d790ff84924579"},
      {"-ND -D1 -M3 $/hostile.vmd", "57403b3682bf31ed"}, {"-ND -D1 -M4 $/hostile.vmd", "d1dbdaa5f43ee8d2"}, {"-ND -D1 -M5 $/hostile.vmd", "3e2b95e6578267df"},
      {"-ND -D1 -M8 $/hostile.vmd", "9d85b36d1e4a3053"}, {"-ND -D1 -M9 $/hostile.vmd", "975884ddf90f0de5"}, {"-ND -D1 -M10 $/hostile.vmd", "f0bd57d30d497142"},
      {"-ND -D1 -M11 $/hostile.vmd", "ed1a539360927803"}, {"-ND -D1 -M12 $/hostile.vmd", "d8ddb24fc7a848cc"}, {"-ND -D1 -M13 $/hostile.vmd", "8065cb4be9863695"},
      {"-ND -M12 $/hostile.vmd", "81d22d9bd95bb8ac"}, {"-ND -D2 -M4 -F5 -T30 $/hostile.vmd", "cf5e95973302e80c"}, {"-ND -C $/hostile.vmd", "40c0ceab6770dcb7"},
      {"-ND -D2 $/odd.vmd", "cbedd568c37bf6e2"}, {"-ND -D1 -M4 $/odd.vmd", "4e7d15515f5f794c"}, {"-ND -D1 -M8 -F7 $/odd.vmd", "6759e4c06bd6081d"},
      {"-ND -M6 $/sample.vmd", "0b573c2e872c7b46"}, {"-X -ND -C $/sample.vmd", "c6a7bd86f745b353"},
      {"-F100T200 -m=9 -D-1 -R30 -N5 -N=5 -F 77 -F99999999999 -T-99999999999 -F -C=D2/ND $/sample.vmd", "18cf08f40e854963"},
      {"-F10 -ND $/sample.vmd -F20 $/odd.vmd", "ebe2a16509d05d9a"}, {"-ND $/sample.vmd $/cut.vmd $/odd.vmd", "7e82c1c5a3856ef4"},
      {"-ND -D1 -K5 $/sample.vmd", "d766199beaef4ee1"}, {"-ND -K5 -M9 $/sample.vmd", "eb87207b8c085b07"}, {"-ND -K5 -M1 $/sample.vmd", "52266439e3eb98ae", "ja_JP.SJIS"},
      {"-ND -D1 -U $/sample.vmd", "0be0081b4153e549"}, {"-ND -u=D1M3F10 $/sample.vmd", "c620fab6cd169c78", "ja_JP.SJIS"},
      {"-ND -D1 -K3 -M4 -F5 -T30 $/hostile.vmd", "435cb7bdf9e46aed"}, {"-D10 -K5 $/sample.vmd", "777f033647c78a2f", "ja_JP.SJIS", true},
      {"-ND $/missing.vmd", "7868b83bbcf3523b"}, {"-ND $/cut.vmd", "a6fea9b6d4cc7d63"}, {"-ND -D1 $/sample.vmd $/odd.vmd", "96daedf988195ee5"},
  };
  for (const auto& run : runs) {
    if (run.posixOnly && underWine()) continue;
    std::vector<std::string> args;
    std::istringstream words(replaceAll(run.args, "$", dir_));
    for (std::string w; words >> w;) args.push_back(w);
    RunOptions options;
    options.locale = run.locale;
    RunResult r = runProgram(args, options);
    // The C runtimes differ in one text only: the sign of a NaN (glibc "-nan", MinGW "nan").
    std::string transcript =
        std::to_string(r.status) + "\n" + replaceAll(replaceAll(r.out, dir_, "$"), "-nan", "nan") + "\n" + listDir(dir_);
    for (const char* name : {"sample", "hostile", "odd"}) {  // every output read back, its counts true
      const std::string out = dir_ + "/" + name + "-cnv.vmd";
      if (!fileExists(out)) continue;
      const Bytes bytes = readFile(out);
      ReadVmd read;
      std::string error;
      EXPECT_TRUE(readVmd(bytes, &read, &error)) << run.args << ": " << error;
      transcript += "\n" + std::string(bytes.begin(), bytes.end());
      std::remove(out.c_str());
    }
    EXPECT_EQ(digest(transcript), run.digest) << run.args << "\n" << r.out;
  }
}

TEST(SampleMotion, IsWhatTheProjectsGeneratorWrites) {
  RunOptions tool;
  tool.program = MAKE_SAMPLE_EXE;
  EXPECT_EQ(runProgram({"/tmp/torsel-sample-check.vmd"}, tool).status, 0);
  EXPECT_EQ(readFile("/tmp/torsel-sample-check.vmd"), readFile(TORSEL_SAMPLE));
  std::remove("/tmp/torsel-sample-check.vmd");
}

}  // namespace
