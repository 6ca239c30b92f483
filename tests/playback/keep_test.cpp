// Keep the motion and fold it back: every output plays back within the
// bound at every frame, as judged by the project's evaluator
// (tools/playback_eval.cpp), a player written apart from the planner;
// without -K the same motions drift.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct Keep : TempDirTest {
  // The largest deviation of any chain (arm, elbow, wrist, both sides) of out against in.
  double worst(const std::string& in, const std::string& out) {
    RunResult r = runProgram({in, out}, {"C", -1, PLAYBACK_EVAL_EXE, -1});
    std::istringstream lines(r.out);
    double worst = 0, dev;
    int chains = 0;
    for (std::string side, chain, at, frame; lines >> side >> chain >> dev >> at >> frame; chains++) worst = std::max(worst, dev);
    EXPECT_TRUE(r.status == 0 && chains == 6) << r.out;
    return worst;
  }
  std::string run(const std::string& options, const std::string& in) {
    std::vector<std::string> args = {"-ND"};
    std::istringstream words(options + " " + in);
    for (std::string w; words >> w;) args.push_back(w);
    RunResult r = runProgram(args);
    EXPECT_EQ(r.status, 0) << options << "\n" << r.out;
    const std::string out = in.substr(0, in.size() - 4) + "-cnv.vmd";
    ReadVmd read;
    std::string error;
    EXPECT_TRUE(readVmd(readFile(out), &read, &error)) << error;
    return out;
  }
};

TEST_F(Keep, PlaysBackWithinTheBoundAtEveryFrameAndFoldsBack) {
  ASSERT_EQ(runProgram({dir_ + "/dance.vmd", "1200", "3", "dance"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
  writeFile(dir_ + "/sample.vmd", readFile(TORSEL_SAMPLE));
  for (const char* motion : {"dance", "sample"}) {
    const std::string in = dir_ + "/" + motion + ".vmd";
    for (auto [options, bound] : {std::pair{"-K5", 0.5}, {"-k=5 -M4", 0.5}, {"-K10 -F300 -T900", 1.0}, {"-K2", 0.2}}) {
      EXPECT_LE(worst(in, run(options, in)), bound) << motion << " " << options;
    }
    if (motion[0] == 'd') {
      EXPECT_GT(worst(in, run("", in)), 5.0) << "the plain conversion drifts between keyframes";
    }
    // Kept, then folded back: within both bounds of the original, and no twist keyframe left.
    std::rename(run("-K5", in).c_str(), (dir_ + "/kept.vmd").c_str());
    EXPECT_LE(worst(in, run("-U -K5", dir_ + "/kept.vmd")), 1.0) << motion;
    ReadVmd folded;
    std::string error;
    ASSERT_TRUE(readVmd(readFile(dir_ + "/kept-cnv.vmd"), &folded, &error)) << error;
    for (const ReadBone& b : folded.bones) {
      EXPECT_TRUE(b.name != kLeftArmTwist && b.name != kRightArmTwist && b.name != kLeftWristTwist &&
                  b.name != kRightWristTwist) << motion;
    }
  }
}

// Motions that once played far off: an arm and its twist bone turning 120
// degrees each about one axis (together beyond a half turn, folded without
// -K), rotations with huge components, and keyframes so far apart that
// their stretches are judged by a bound rather than frame by frame.
TEST_F(Keep, HalfTurnsHugeRotationsAndFarKeyframesStayWithinTheBound) {
  const Rot still = {0, 0, 0, 1}, third = turn(0.2797, -0.2141, 0.0097, 2.0944);
  const Rot huge = {3e19f, -1e20f, 2e19f, 5e19f}, huge2 = {-1e20f, 3e19f, 4e19f, 2e19f};
  std::vector<Key> far;
  for (uint32_t i = 0; i < 20; i++) far.push_back({kLeftArm, i * 5000, turn(i % 3, 1, i % 2, 0.5 + i)});
  const struct { const char* name; std::vector<Key> keys; const char* options; } cases[] = {
      {"halves", {{kLeftArm, 0, still}, {kLeftArmTwist, 0, still}, {kLeftArm, 30, third}, {kLeftArmTwist, 30, third}}, "-U"},
      {"huge", {{kLeftArm, 0, huge}, {kLeftArmTwist, 0, still}, {kLeftArm, 30, huge2}}, "-K5"},
      {"far", far, "-K5 -M4"},
  };
  for (const auto& c : cases) {
    const std::string in = dir_ + "/" + c.name + ".vmd";
    writeFile(in, buildVmd(c.keys));
    EXPECT_LE(worst(in, run(c.options, in)), 0.5) << c.name;  // a NaN played counts as 180
  }
}

}  // namespace
