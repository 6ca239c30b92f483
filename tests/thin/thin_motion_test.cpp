// Motions thinned as a pass will thin them (tools/thin_motion), judged by
// the player written apart (playback_eval bones): every bone at every frame
// within the bound, its rotation in both readings of the curves and its
// position within the distance; a baked motion back to about the keyframes
// it was baked from; a traced one (baked, then jittered) still within.
#include <cstdio>
#include <sstream>

#include "support/harness.h"

namespace {

using testsupport::runProgram;
using testsupport::RunResult;

struct ThinMotion : testsupport::TempDirTest {
  std::string make(const std::string& kind, const std::string& frames, const std::string& seed) {
    const std::string path = dir_ + "/" + kind + seed + ".vmd";
    EXPECT_EQ(runProgram({path, frames, seed, kind}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
    return path;
  }
  static int32_t keyframes(const std::string& path) {
    const testsupport::Bytes d = testsupport::readFile(path);
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

}  // namespace
