// The program end to end: the worked example and the identity file checked
// field by field; every output of a matrix of runs read back by the tests'
// own reader, and the exact transcript of each run (messages, status,
// output bytes) pinned by its digest, the console text of a few of them
// also as it reads (vmd/transcripts.txt). mmd-parser walks the outputs of
// every mode record by record (tests/vmd_client).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

// The console texts of vmd/transcripts.txt by the arguments of their runs:
// each follows its "$ torsel" line.
std::map<std::string, std::string> readTranscripts() {
  const Bytes file = readFile(TORSEL_TRANSCRIPTS);
  std::istringstream in(std::string(file.begin(), file.end()));
  std::map<std::string, std::string> texts;
  std::string* text = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("$ torsel")) text = &texts[line.substr(std::min<size_t>(9, line.size()))];
    else if (text != nullptr) text->append(line).append("\n");
  }
  return texts;
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
  // 左腕捩れ補助ボ and the lead byte of ー, cut at the field's 15 bytes: no twist keyframe, copied.
  const std::string cut = "\x8D\xB6\x98\x72\x9D\x80\x82\xEA\x95\xE2\x8F\x95\x83\x7B\x81";
  std::string printed;
  ReadVmd out = convert(buildVmd({{kCenter, 0, turn(0, 1, 0, 1), {0.5f, 1, 1.5f}},
                                  {cut, 0, turn(1, 0, 0, 0.5)},
                                  {kLeftArm, 0, q, {0, 2, 0}, bz},
                                  {kLeftArmTwist, 0, e},
                                  {kLeftArm, 50, q50, {0, 3, 0}}}),
                        {"-F0", "-T100", "-D1"}, &printed);
  ASSERT_EQ(out.boneCount, 6);
  EXPECT_TRUE(out.bones[1].name == cut && out.bones[1].rot.w == turn(1, 0, 0, 0.5).w);
  out.bones.erase(out.bones.begin() + 1);
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
                           "max blocks of frames = 5 \n => max blocks of frames = 6 (cnv) \n",
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
  convert(file, {"-M13", "-F0", "-T100"});
  EXPECT_EQ(readFile(dir_ + "/dance-cnv.vmd"), file);
}

TEST_F(EndToEnd, MatrixOfRuns) {
  writeFile(dir_ + "/sample.vmd", readFile(TORSEL_SAMPLE));
  ASSERT_EQ(runProgram({dir_ + "/hostile.vmd", "300", "7", "hostile"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
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
  writeFile(dir_ + "/\xE3\x82\xBD.vmd", readFile(TORSEL_SAMPLE));  // ソ in UTF-8
  writeFile(dir_ + "/arms.pmd", buildPmd({{kU8LeftArm, {1, 15, 0}}, {kU8LeftArmTwist, {2, 14.5f, 0.25f}},
                                          {kU8LeftElbow, {3, 14, 0.5f}}, {kU8LeftWristTwist, {4, 14, 0}},
                                          {kU8RightArm, {-1, 15, 0}}, {kU8RightArmTwist, {-2, 14.5f, -0.25f}},
                                          {kU8RightElbow, {-3, 14, -0.5f}}, {kU8RightWristTwist, {-4, 14, 0}}}));
  // The pose and a baked motion stand in the folder only for the runs that name them.
  const RunOptions generator = {"C", -1, MAKE_SAMPLE_EXE, -1};
  ASSERT_EQ(runProgram({dir_ + "/pose.vpd", "0", "1", "pose"}, generator).status, 0);
  ASSERT_EQ(runProgram({dir_ + "/baked.vmd", "90", "2", "baked"}, generator).status, 0);
  const std::map<std::string, Bytes> alone = {{"pose.vpd", readFile(dir_ + "/pose.vpd")},
                                              {"baked.vmd", readFile(dir_ + "/baked.vmd")}};
  for (const auto& [name, bytes] : alone) std::remove((dir_ + "/" + name).c_str());
  Bytes cut = readFile(dir_ + "/sample.vmd");
  cut.resize(1000);
  writeFile(dir_ + "/cut.vmd", cut);
  const struct {
    const char* args;  // $ is the folder
    const char* digest;
    const char* locale = "C";
    int only = 0;  // 1: POSIX only, 2: Windows (under Wine) only
  } runs[] = {
      {"", "7c6315502e307c9b"},
      {"-ND -M0 $/sample.vmd", "b98e32d5d109d23c"}, {"-ND -M1 $/sample.vmd", "160ea4e8818d06e0"}, {"-ND -M2 $/sample.vmd", "a61cbdd94d3caae2"},
      {"-ND -M3 $/sample.vmd", "498137c7a26524ad"}, {"-ND -M4 $/sample.vmd", "567e44fef0df041e"}, {"-ND -M5 $/sample.vmd", "eb7f4f689430a92e"},
      {"-ND -M8 $/sample.vmd", "30366e06fff871ec"}, {"-ND -M9 $/sample.vmd", "32003bafac77a730"}, {"-ND -M10 $/sample.vmd", "f7ecd5776b530532"},
      {"-ND -M11 $/sample.vmd", "a0b01d1f6d961fad"}, {"-ND -M12 $/sample.vmd", "e742bc33d06c583b"}, {"-ND -M13 $/sample.vmd", "01ab3b58ff15b8c6"},
      {"-ND -D1 $/sample.vmd", "b6a3b7286173578f"}, {"-ND -D1 -M0 $/sample.vmd", "cf7973ebdf6d49c6"}, {"-ND -D1 -M9 -F10 -T20 $/sample.vmd", "d5d17433df5ab183"},
      {"-ND -D3 -M5 $/sample.vmd", "7d93773bae283366"}, {"-ND -D4 -M11 $/sample.vmd", "4429bfb5eee65a5e"}, {"-ND -D10 -M1 $/sample.vmd", "f0dc69ae525af6d7"},
      {"-ND -D2 -F20 -M13 $/sample.vmd", "d7d8323b9b0a0018"}, {"-ND -D1 -F10 -M3 $/sample.vmd", "cde6b7bf561d7883"},
      {"-ND -C $/sample.vmd", "69336eb30b9627f2"}, {"-ND -C -D5 $/sample.vmd $/odd.vmd", "e214b947a2a97034"},
      {"-ND -D1 $/sample.vmd", "74f77f42df84add7", "ja_JP.SJIS"}, {"-D1 $/sample.vmd", "843787c173483e2e", "ja_JP.SJIS", 1},
      {"$/sample.vmd $/odd.vmd", "1edc5da1f8c05298", "C", 1}, {"-ND -D1 $/sample.vmd", "3fc2c122a06cfdb2", "ja_JP.UTF-8", 1},
      {"-ND -D1 -M0 $/hostile.vmd", "9a90bc887ae3e727"}, {"-ND -D1 -M1 $/hostile.vmd", "b00ef52b29ded750"}, {"-ND -D1 -M2 $/hostile.vmd", "f523a9c45ba095ce"},
      {"-ND -D1 -M3 $/hostile.vmd", "b9bf81ceeabff4a2"}, {"-ND -D1 -M4 $/hostile.vmd", "5fd95fc7cc35fdc5"}, {"-ND -D1 -M5 $/hostile.vmd", "62588c610435449c"},
      {"-ND -D1 -M8 $/hostile.vmd", "2e699fdcbb10153e"}, {"-ND -D1 -M9 $/hostile.vmd", "f21d4e5ac4bf46ac"}, {"-ND -D1 -M10 $/hostile.vmd", "3dcda431291e5a2b"},
      {"-ND -D1 -M11 $/hostile.vmd", "516470b8682774ca"}, {"-ND -D1 -M12 $/hostile.vmd", "9ce776d1af23cfe1"}, {"-ND -D1 -M13 $/hostile.vmd", "47d07b6d04c236cc"},
      {"-ND -M12 $/hostile.vmd", "292c2c8cc2f2c481"}, {"-ND -D2 -M4 -F5 -T30 $/hostile.vmd", "d9d78b9c14aae2cf"}, {"-ND -C $/hostile.vmd", "aa87bc1abd017ea2"},
      {"-ND -D2 $/odd.vmd", "df6ead5c3eaf1f71"}, {"-ND -D1 -M4 $/odd.vmd", "0c19d6a63c4c3315"}, {"-ND -D1 -M8 -F7 $/odd.vmd", "8acf4d1b4566f488"},
      {"-ND -M6 $/sample.vmd", "5d2e4ee4dcefeceb"}, {"-X -ND -C $/sample.vmd", "d2d7f070be5c0a2e"},
      {"-F100T200 -m=9 -D-1 -R30 -N5 -N=5 -F 77 -F99999999999 -T-99999999999 -F -C=D2/ND $/sample.vmd", "20f9328faf26ae9e"},
      {"-F10 -ND $/sample.vmd -F20 $/odd.vmd", "a8dceaaab4582e07"}, {"-ND $/sample.vmd $/cut.vmd $/odd.vmd", "597a84f33f77ef19"},
      {"-ND -D1 -K5 $/sample.vmd", "494ab03a399e6069"}, {"-ND -K5 -M9 $/sample.vmd", "2b58429bce3f5f7c"}, {"-ND -K5 -M1 $/sample.vmd", "c73305f1ed6328e9", "ja_JP.SJIS"},
      {"-ND -D1 -U $/sample.vmd", "9d7b1919b9f7d57a"}, {"-ND -u=D1M3F10 $/sample.vmd", "8431c173a0db6f6b", "ja_JP.SJIS"},
      {"-ND -D1 -K3 -M4 -F5 -T30 $/hostile.vmd", "56b16edb2c8bb3f4"}, {"-D10 -K5 $/sample.vmd", "ee7442c267e22828", "ja_JP.SJIS", 1},
      {"-ND -D1 $/\x83\x5C.vmd", "0ac94ef1fba82d2f", "ja_JP.SJIS", 1}, {"-ND -C $", "571ba342096ec168"}, {"-ND -C /proc/self/mem", "97380692fd5240d3", "C", 1},
      {"-ND -M4 $/arms.pmd $/sample.vmd", "843438760e5ec767", "ja_JP.SJIS"}, {"-ND $/none.pmx $/sample.vmd", "3cf5efa83402c9f5"},
      {"--help -C", "d25c74978f5942f8"}, {"--version -ND $/sample.vmd", "351d1b78dccfa399"},
      // Options alone run over no file: the summary of 0 files, the elbows as the default mode has them;
      // values as read: -M's and -D's low 8 bits, frames unsigned.
      {"-ND -M4", "99303dc3d2603c3d"}, {"-ND -M264 -D255", "5be1dce3edf1e0ba"}, {"-ND -M268 -D266 -T-1 $/sample.vmd", "f118675017af6e3a"},
      {"-ND -D1 -F-5 $/sample.vmd", "841ad7eeec8b11cc"},
      // ソ, named in UTF-8 on the Linux side (0x83 0x5C for Windows, its trail byte '\'); '/' starts options there.
      {"-ND $/\xE3\x82\xBD.vmd", "d7f7fc6cf334fe01", "ja_JP.SJIS", 2}, {"/C/ND", "cfac08b57c5034d9", "C", 2},
      {"-ND -D1 -W -M9 $/sample.vmd", "56f3f0cc42c81592"}, {"-ND -W -U $/sample.vmd", "ccada14792151932", "ja_JP.SJIS"},
      {"-ND -W -M4 $/arms.pmd $/sample.vmd", "ace6b91b707ec72a"},  // -W needs the elbows' axes in any mode
      // Poses: the wrists and a note in Japanese, a fold beside a motion, a listing.
      {"-ND -D1 -W -M4 -F5 $/pose.vpd", "d3a41024729177d0", "ja_JP.SJIS"},
      {"-ND -U $/sample.vmd $/pose.vpd", "47a74be8bf53519a"},
      {"-ND -C -D5 $/pose.vpd", "bf1269ed00bb6ef1"},
      // Thinned: a baked motion back to a few keyframes a bone, the arm group kept; in a range, in
      // Japanese; NaN and half turns kept as they stand; refused where -K would be.
      {"-ND -D1 -S5 $/baked.vmd", "443ffbeecec39a87"}, {"-ND -S5 -M4 -F30 -T70 $/baked.vmd", "694e80d4f47f60ee", "ja_JP.SJIS"},
      {"-ND -D1 -S5 -W $/hostile.vmd", "481aeee130450541"}, {"-ND -S5 -M9 $/sample.vmd", "5e3be6da413921ab"},
      {"-ND $/missing.vmd", "4308cca52ff2b370"}, {"-ND $/cut.vmd", "eee680cb69a38280"}, {"-ND -C $/cut.vmd", "37d47e278f48d331", "ja_JP.SJIS"}, {"-ND -D1 $/sample.vmd $/odd.vmd", "db3b527dafabfa5c"},
  };
  std::map<std::string, std::string> transcripts = readTranscripts();
  for (const auto& run : runs) {
    if (run.only == (underWine() ? 1 : 2)) continue;
    std::vector<std::string> args;
    for (const auto& [name, bytes] : alone) {
      if (std::strstr(run.args, name.c_str())) writeFile(dir_ + "/" + name, bytes);
    }
    std::istringstream words(replaceAll(run.args, "$", dir_));
    for (std::string w; words >> w;) args.push_back(w);
    RunResult r = runProgram(args, {run.locale, -1, "", -1});
    // The C runtimes differ in one text only: the sign of a NaN (glibc "-nan", MinGW "nan").
    const std::string console = replaceAll(replaceAll(r.out, dir_, "$"), "-nan", "nan");
    if (auto held = transcripts.extract(run.args)) {
      EXPECT_EQ(held.mapped(), console) << run.args;
    }
    std::string transcript = std::to_string(r.status) + "\n" + console + "\n" + listDir(dir_);
    // Every output read back, its counts true.
    for (const char* name : {"sample", "hostile", "odd", "\x83\x5C", "\xE3\x82\xBD", "pose", "baked"}) {
      const bool vpd = name == std::string("pose");
      const std::string out = dir_ + "/" + name + (vpd ? "-cnv.vpd" : "-cnv.vmd");
      if (!fileExists(out)) continue;
      const Bytes bytes = readFile(out);
      ReadVmd read;
      std::vector<PoseBone> bones;
      std::string error;
      const bool whole = vpd ? readVpd(bytes, &bones, &error) : readVmd(bytes, &read, &error);
      EXPECT_TRUE(whole) << run.args << ": " << error;
      transcript.append("\n").append(bytes.begin(), bytes.end());
      std::remove(out.c_str());
    }
    for (const auto& [name, bytes] : alone) std::remove((dir_ + "/" + name).c_str());
    EXPECT_EQ(digest(transcript), run.digest) << run.args << "\n" << r.out;
  }
  EXPECT_TRUE(transcripts.empty()) << "no run for the transcript of " << transcripts.begin()->first;
}

TEST_F(EndToEnd, TheSampleIsWhatTheProjectsGeneratorWrites) {
  EXPECT_TRUE(runProgram({dir_ + "/s.vmd"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status == 0 && readFile(dir_ + "/s.vmd") == readFile(TORSEL_SAMPLE));
}

}  // namespace
