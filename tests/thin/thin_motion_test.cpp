// Motions thinned on their own (tools/thin_motion) and by the program (-S,
// the arm group converted and kept), judged by the player written apart
// (playback_eval): every bone at every frame within the bound, its rotation
// in both readings of the curves and its position within the distance, and
// every chain as -K keeps it; a baked motion back to about the keyframes it
// was baked from; a traced one (baked, then jittered) still within; the
// limits of a bone kept as they stand.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct ThinMotion : TempDirTest {
  std::string make(const std::string& kind, const std::string& frames, const std::string& seed) {
    const std::string path = dir_ + "/" + kind + seed + ".vmd";
    EXPECT_EQ(runProgram({path, frames, seed, kind}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
    return path;
  }
  static RunResult convert(const std::string& options, const std::string& path) {
    std::vector<std::string> args = {"-ND"};
    std::istringstream words(options + " " + path);
    for (std::string w; words >> w;) args.push_back(w);
    return runProgram(args);
  }
  // Converts `path` with `first` (when given), the output in its place.
  static void convertFirst(const char* first, const std::string& path) {
    if (first[0] == 0) return;
    EXPECT_EQ(convert(first, path).status, 0);
    std::rename((path.substr(0, path.size() - 4) + "-cnv.vmd").c_str(), path.c_str());
  }
  // Each line of playback_eval's judgement: its first word and the numbers after it.
  static std::multimap<std::string, std::vector<double>> judged(const std::string& in, const std::string& out,
                                                                const char* how) {
    std::istringstream lines(runProgram({in, out, how}, {"C", -1, PLAYBACK_EVAL_EXE, -1}).out);
    std::multimap<std::string, std::vector<double>> found;
    for (std::string line, word; std::getline(lines, line);) {
      std::istringstream words(line);
      std::vector<double> numbers;
      std::string key;
      while (words >> word) {
        if (char* end; std::strtod(word.c_str(), &end), *end == 0) numbers.push_back(std::stod(word));
        else if (numbers.empty()) key += word + " ";
      }
      found.emplace(key, numbers);
    }
    return found;
  }
  static int32_t keyframes(const std::string& path) {
    const Bytes d = readFile(path);
    return d.size() < 54 ? -1 : int32_t(d[50] | d[51] << 8 | d[52] << 16 | uint32_t(d[53]) << 24);
  }
};

TEST_F(ThinMotion, EveryBoneWithinTheBoundInBothReadings) {
  const struct {
    const char* kind;
    const char* seed;
    const char* tenths;
    double mostOfKeyed;
  } rows[] = {
      {"baked", "1", "5", 1.5},
      {"baked", "2", "10", 1.5},
      {"baked", "3", "2", 1.5},
      {"traced", "4", "5", 3},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.kind) + " seed " + r.seed + " tenths " + r.tenths);
    const std::string in = make(r.kind, "1500", r.seed), out = dir_ + "/thin.vmd";
    const RunResult t = runProgram({in, out, r.tenths}, {"C", -1, THIN_MOTION_EXE, -1});
    ASSERT_EQ(t.status, 0) << t.out;
    // Within by its fits alone: nothing for the check to mend, nothing beyond.
    EXPECT_NE(t.out.find(" mended 0 "), std::string::npos) << t.out;
    EXPECT_NE(t.out.find(" beyond 0\n"), std::string::npos) << t.out;
    const RunResult e = runProgram({in, out, "bones"}, {"C", -1, PLAYBACK_EVAL_EXE, -1});
    double precise = -1, far = -1, halving = -1, farHalving = -1;
    ASSERT_EQ(std::sscanf(e.out.substr(e.out.rfind("all ")).c_str(), "all precise %lf %lf halving %lf %lf", &precise,
                          &far, &halving, &farHalving),
              4)
        << e.out;
    const double bound = std::stod(r.tenths) / 10;
    EXPECT_LE(precise, bound);
    EXPECT_LE(halving, bound);
    EXPECT_LE(std::max(far, farHalving), bound * 3.14159265358979 / 180);  // a unit-long bone's tip turned by it
    EXPECT_GT(precise, 0.9 * bound);                                       // thinned as far as the bound lets it
    EXPECT_LE(keyframes(out), r.mostOfKeyed * keyframes(make("keyed", "1500", r.seed)));
  }
}

// Converted and thinned: the chains within the bound as -K judges them
// (each chain's share, the wrist and with -W the hand the whole), every
// other bone (センター, and 手首 but under -W) within the bound and the
// distance in both readings, as many keyframes as the keyed motion
// converted alike at most (baked) or far fewer than it (traced).
TEST_F(ThinMotion, ThinnedAndConvertedEveryChainAndOtherBoneWithinTheBound) {
  const struct {
    const char* kind;
    const char* seed;
    const char* first;  // a conversion before, of the input and the keyed motion alike
    const char* options;
    const char* kept;  // the keyed motion converted with these options, as many keyframes at most
    double bound, chains, most;  // a chain of two bones takes half of `chains`
  } rows[] = {
      {"baked", "5", "", "-S5", "-K5", 0.5, 0.5, 1.1},
      {"baked", "6", "", "-S10 -M4 -W", "-K10 -M4 -W", 1.0, 1.0, 1.1},
      {"traced", "7", "-M12", "-S5 -U", "-U -K5", 0.5, 0.5, 2.5},  // folded where -M12 split it
      {"traced", "8", "", "-S5 -K10", "-K10", 0.5, 1.0, 2.5},  // the chains -K's bound, the other bones -S's
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.kind) + " " + r.options);
    const std::string in = make(r.kind, "900", r.seed), out = in.substr(0, in.size() - 4) + "-cnv.vmd";
    convertFirst(r.first, in);
    const RunResult t = convert(r.options, in);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("Thin.motion: " + std::to_string(keyframes(in)) + " -> " + std::to_string(keyframes(out))),
              std::string::npos) << t.out;
    const bool wrist = std::strstr(r.options, "-W") != nullptr;
    // -W moves the forearm's turn: there the arm and the hand are kept.
    for (const auto& [chain, d] : judged(in, out, "all")) {
      const bool arm = chain.find("arm ") != std::string::npos, hand = chain.find("hand ") != std::string::npos;
      const bool two = arm || chain.find("elbow ") != std::string::npos;
      if (!(wrist ? arm || hand : !hand)) continue;
      EXPECT_LE(d[0], two ? r.chains / 2 : r.chains) << chain;
    }
    for (const auto& [bone, d] : judged(in, out, "bones")) {
      const bool center = bone.find("835A8393835E815B") != std::string::npos;
      if (!center && (wrist || bone.find("8EE88EF1") == std::string::npos)) continue;  // 手首
      ASSERT_EQ(d.size(), 9u) << bone;  // its place, then per reading degrees at frame, units at frame
      EXPECT_LE(std::max(d[1], d[5]), r.bound) << bone;
      EXPECT_LE(std::max(d[3], d[7]), r.bound * 3.14159265358979 / 180) << bone;
    }
    const std::string keyed = dir_ + "/keyed.vmd", keyedOut = dir_ + "/keyed-cnv.vmd";
    std::rename(make("keyed", "900", r.seed).c_str(), keyed.c_str());
    convertFirst(r.first, keyed);
    ASSERT_EQ(convert(r.kept, keyed).status, 0);
    EXPECT_LE(keyframes(out), r.most * keyframes(keyedOut));
    EXPECT_LT(keyframes(out), keyframes(in) / 3);
  }
}

// The limits of a bone: one keyframe, keyed only outside the range, a
// rotation that is no number or not of length 1 (kept as they stand, and
// said), two keyframes on a frame (the last written, as MMD plays it).
TEST_F(ThinMotion, TheLimitsOfABoneAsTheyStand) {
  const std::string once = "once", outside = "outside", odd = "odd", twice = "twice";
  std::vector<Key> keys = {{once, 40, turn(0, 1, 0, 0.3)}};
  for (uint32_t f = 0; f <= 100; f++) {
    const Rot q = turn(0, 1, 0, 0.01 * f);
    keys.push_back({outside, 200 + f, q});
    keys.push_back({odd, f, f == 30 ? Rot{NAN, 0, 0, 1} : f == 60 ? Rot{0, 2 * q.y, 0, 2 * q.w} : q});
    if (f == 50) keys.push_back({twice, f, turn(1, 0, 0, 1)});  // shown by no player
    keys.push_back({twice, f, q});
  }
  writeFile(dir_ + "/limits.vmd", buildVmd(keys));
  const RunResult t = runProgram({"-ND", "-S5", "-F0", "-T150", dir_ + "/limits.vmd"});
  ASSERT_EQ(t.status, 0) << t.out;
  EXPECT_NE(t.out.find("Thin.motion: 2 keyframes kept as they stand"), std::string::npos) << t.out;
  ReadVmd in, out;
  std::string error;
  ASSERT_TRUE(readVmd(readFile(dir_ + "/limits.vmd"), &in, &error) &&
              readVmd(readFile(dir_ + "/limits-cnv.vmd"), &out, &error)) << error;
  std::map<std::string, std::vector<ReadBone>> read[2];
  for (int i = 0; i < 2; i++) {
    for (const ReadBone& b : (i ? out : in).bones) read[i][b.name].push_back(b);
  }
  EXPECT_EQ(read[1][once].size(), 1u);
  ASSERT_EQ(read[1][outside].size(), 101u);
  for (size_t i = 0; i < 101; i++) EXPECT_EQ(read[1][outside][i].raw, read[0][outside][i].raw) << i;
  // The odd ones and the next as they stand, and the one before (its own curves fitted anew).
  for (const ReadBone& b : read[0][odd]) {
    const int near = b.frame % 30 == 0 ? 0 : b.frame % 30 == 1 ? 1 : b.frame % 30 == 29 ? -1 : 2;
    if (b.frame < 29 || b.frame > 61 || near == 2) continue;
    EXPECT_TRUE(std::any_of(read[1][odd].begin(), read[1][odd].end(), [&](const ReadBone& o) {
      return near < 0 ? o.frame == b.frame : o.raw == b.raw;
    })) << b.frame;
  }
  EXPECT_LT(read[1][odd].size(), 20u);
  for (const ReadBone& b : read[1][twice]) EXPECT_TRUE(b.frame != 50 || b.rot.x == 0) << "the earlier on 50 written";
  EXPECT_LT(read[1][twice].size(), 5u);
}

}  // namespace
