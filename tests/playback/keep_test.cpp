// Keep the motion and fold it back: every output plays back within the
// bound at every frame, as judged by the project's evaluator
// (tools/playback_eval.cpp), a player written apart from the planner;
// without -K the same motions drift.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct Keep : TempDirTest {
  // The largest deviation of any chain (arm, elbow, wrist, hand, both sides) of out against in.
  double worst(const std::string& in, const std::string& out) {
    RunResult r = runProgram({in, out}, {"C", -1, PLAYBACK_EVAL_EXE, -1});
    std::istringstream lines(r.out);
    double worst = 0, dev;
    int chains = 0;
    for (std::string side, chain, at, frame; lines >> side >> chain >> dev >> at >> frame; chains++) worst = std::max(worst, dev);
    EXPECT_TRUE(r.status == 0 && chains == 8) << r.out;
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

}  // namespace
