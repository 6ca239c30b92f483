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
  for (size_t i = 0; i < 5; i++) EXPECT_TRUE(out.bones[i].name == names[i] && out.bones[i].frame == (i < 3 ? 0 : 50)) << i;
  for (size_t t : {1u, 3u}) {  // zeros after the name; the source's position and block
    EXPECT_TRUE(std::memcmp(out.bones[t].raw.data(), "\x8D\xB6\x98\x72\x9D\x80\0\0\0\0\0\0\0\0", 15) == 0 &&
                out.bones[t].pos == out.bones[t + 1].pos && out.bones[t].bz == out.bones[t + 1].bz) << t;
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
  writeFile(dir_ + "/\x83\x5C.vmd", readFile(TORSEL_SAMPLE));  // ソ: a Shift-JIS name whose trail byte is '\'
  writeFile(dir_ + "/arms.pmd", buildPmd({{kU8LeftArm, {1, 15, 0}}, {kU8LeftElbow, {3, 14, 0.5f}},
                                          {kU8RightArm, {-1, 15, 0}}, {kU8RightElbow, {-3, 14, -0.5f}}}));
  Bytes cut = readFile(dir_ + "/sample.vmd");
  cut.resize(1000);
  writeFile(dir_ + "/cut.vmd", cut);
  const struct {
    const char* args;  // $ is the folder
    const char* digest;
    const char* locale = "C";
    bool posixOnly = false;
  } runs[] = {
      {"", "e1a7573f8e521662"},
      {"-ND -M0 $/sample.vmd", "5d1e30b92239e637"}, {"-ND -M1 $/sample.vmd", "34b8ee8ea02b86b3"}, {"-ND -M2 $/sample.vmd", "85502550a7e8f359"},
      {"-ND -M3 $/sample.vmd", "5c0ce50adca412de"}, {"-ND -M4 $/sample.vmd", "edc9d4142bf489c5"}, {"-ND -M5 $/sample.vmd", "4849adbf96cfe765"},
      {"-ND -M8 $/sample.vmd", "9377675700a91f87"}, {"-ND -M9 $/sample.vmd", "7c15564d0f6b7fdf"}, {"-ND -M10 $/sample.vmd", "19a12edfb0d4af49"},
      {"-ND -M11 $/sample.vmd", "6063b9774c44edee"}, {"-ND -M12 $/sample.vmd", "bad7d2f20f81a970"}, {"-ND -M13 $/sample.vmd", "4a27a6ee536dbb2d"},
      {"-ND -D1 $/sample.vmd", "f664e291dcf978fc"}, {"-ND -D1 -M0 $/sample.vmd", "00f1a9a8b63ca049"}, {"-ND -D1 -M9 -F10 -T20 $/sample.vmd", "ba3173336e575c10"},
      {"-ND -D3 -M5 $/sample.vmd", "e8720a3e69d26b8d"}, {"-ND -D4 -M11 $/sample.vmd", "84419d95e6a73185"}, {"-ND -D10 -M1 $/sample.vmd", "7a82599627a27d1c"},
      {"-ND -D2 -F20 -M13 $/sample.vmd", "225d0bd99bd920d7"}, {"-ND -D1 -F10 -M3 $/sample.vmd", "9592f14e02ec8d22"},
      {"-ND -C $/sample.vmd", "380c4563996c4463"}, {"-ND -C -D5 $/sample.vmd $/odd.vmd", "f9b5ef3e724083ed"},
      {"-ND -D1 $/sample.vmd", "f33103f080c26954", "ja_JP.SJIS"}, {"-D1 $/sample.vmd", "705ca8c11e9a7541", "ja_JP.SJIS", true},
      {"$/sample.vmd $/odd.vmd", "b601b93febe51e85", "C", true}, {"-ND -D1 $/sample.vmd", "16d86071f6a9274d", "ja_JP.UTF-8", true},
      {"-ND -D1 -M0 $/hostile.vmd", "be534dc60d04f45e"}, {"-ND -D1 -M1 $/hostile.vmd", "45d0e65f9065e5b9"}, {"-ND -D1 -M2 $/hostile.vmd", "07e1c8fba97714fb"},
      {"-ND -D1 -M3 $/hostile.vmd", "fd34f61cfe01d74b"}, {"-ND -D1 -M4 $/hostile.vmd", "e5d777d178cc756c"}, {"-ND -D1 -M5 $/hostile.vmd", "4dddcff1aabe12f5"},
      {"-ND -D1 -M8 $/hostile.vmd", "d2865c3016cd9bbd"}, {"-ND -D1 -M9 $/hostile.vmd", "15bfb57c2044ed1f"}, {"-ND -D1 -M10 $/hostile.vmd", "8853cd30d36bf350"},
      {"-ND -D1 -M11 $/hostile.vmd", "46448831ac232e45"}, {"-ND -D1 -M12 $/hostile.vmd", "7ad220b85323794a"}, {"-ND -D1 -M13 $/hostile.vmd", "c590032eaef82087"},
      {"-ND -M12 $/hostile.vmd", "b5263be5adf5a3aa"}, {"-ND -D2 -M4 -F5 -T30 $/hostile.vmd", "b02631f67e08258a"}, {"-ND -C $/hostile.vmd", "b2d092c19f3185d3"},
      {"-ND -D2 $/odd.vmd", "39feac4990870266"}, {"-ND -D1 -M4 $/odd.vmd", "0ffecebbb87597f0"}, {"-ND -D1 -M8 -F7 $/odd.vmd", "0b87f43fbcb37669"},
      {"-ND -M6 $/sample.vmd", "ed6acd286a1c0a32"}, {"-X -ND -C $/sample.vmd", "dcc6efac74ff89f7"},
      {"-F100T200 -m=9 -D-1 -R30 -N5 -N=5 -F 77 -F99999999999 -T-99999999999 -F -C=D2/ND $/sample.vmd", "11f1f1a5cbbd1627"},
      {"-F10 -ND $/sample.vmd -F20 $/odd.vmd", "55c04c1a9a14bcd0"}, {"-ND $/sample.vmd $/cut.vmd $/odd.vmd", "1ebd0d71b440aa8c"},
      {"-ND -D1 -K5 $/sample.vmd", "756fb945980415b9"}, {"-ND -K5 -M9 $/sample.vmd", "667591423fa4bec5"}, {"-ND -K5 -M1 $/sample.vmd", "925724eb7515de58", "ja_JP.SJIS"},
      {"-ND -D1 -U $/sample.vmd", "b1de814b62fca221"}, {"-ND -u=D1M3F10 $/sample.vmd", "f00cbc44224e2044", "ja_JP.SJIS"},
      {"-ND -D1 -K3 -M4 -F5 -T30 $/hostile.vmd", "6d0178e1ec55e5a9"}, {"-D10 -K5 $/sample.vmd", "40307c32a67185bf", "ja_JP.SJIS", true},
      {"-ND -D1 $/\x83\x5C.vmd", "019594ea6b5c905c", "ja_JP.SJIS", true}, {"-ND -C $", "06e68f2105bd5f39"}, {"-ND -C /proc/self/mem", "b1c30527d1081cca", "C", true},
      {"-ND -M4 $/arms.pmd $/sample.vmd", "d941e38303592f54", "ja_JP.SJIS"}, {"-ND $/none.pmx $/sample.vmd", "f4dea25ec1921aac"},
      {"-ND -M4", "633cff896063ba04"},  // no file: the start-up elbow lines stay in the summary, whatever -M says
      {"-ND $/missing.vmd", "86b0788021acb7d1"}, {"-ND $/cut.vmd", "8afb26781a281fd9"}, {"-ND -D1 $/sample.vmd $/odd.vmd", "a228cf795f962d01"},
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
    for (const char* name : {"sample", "hostile", "odd", "\x83\x5C"}) {  // every output read back, its counts true
      const std::string out = dir_ + "/" + name + "-cnv.vmd";
      if (!fileExists(out)) continue;
      const Bytes bytes = readFile(out);
      ReadVmd read;
      std::string error;
      EXPECT_TRUE(readVmd(bytes, &read, &error)) << run.args << ": " << error;
      transcript.append("\n").append(bytes.begin(), bytes.end());
      std::remove(out.c_str());
    }
    EXPECT_EQ(digest(transcript), run.digest) << run.args << "\n" << r.out;
  }
}

TEST_F(EndToEnd, TheSampleIsWhatTheProjectsGeneratorWrites) {
  RunOptions tool;
  tool.program = MAKE_SAMPLE_EXE;
  EXPECT_TRUE(runProgram({dir_ + "/s.vmd"}, tool).status == 0 && readFile(dir_ + "/s.vmd") == readFile(TORSEL_SAMPLE));
}

}  // namespace
