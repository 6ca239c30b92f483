// Keep the motion: every output plays back within the bound at every frame,
// as judged by the project's evaluator (tools/playback_eval.cpp), a player
// written apart from the planner; without -K the same motions drift.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

class Keep : public TempDirTest {
 protected:
  // The six largest deviations (arm, elbow, wrist of each side) of out against in.
  std::vector<double> deviations(const std::string& in, const std::string& out) {
    RunOptions eval;
    eval.program = PLAYBACK_EVAL_EXE;
    RunResult r = runProgram({in, out}, eval);
    EXPECT_EQ(r.status, 0) << r.out;
    std::istringstream lines(r.out);
    std::vector<double> found;
    std::string side, chain, at;
    double dev;
    unsigned frame;
    while (lines >> side >> chain >> dev >> at >> frame) found.push_back(dev);
    EXPECT_EQ(found.size(), 6u) << r.out;
    return found;
  }
};

TEST_F(Keep, PlaysBackWithinTheBoundAtEveryFrameAndFoldsBack) {
  RunOptions tool;
  tool.program = MAKE_SAMPLE_EXE;
  ASSERT_EQ(runProgram({dir_ + "/dance.vmd", "1200", "3", "dance"}, tool).status, 0);
  writeFile(dir_ + "/sample.vmd", readFile(TORSEL_SAMPLE));
  const struct {
    std::string args;
    double bound;  // degrees; 0: the plain conversion, which drifts
  } cases[] = {
      {"-K5", 0.5}, {"-k=5 -M4", 0.5}, {"-K10 -F300 -T900", 1.0}, {"-K2", 0.2}, {"-M12", 0},
  };
  for (const char* motion : {"dance", "sample"}) {
    const std::string in = dir_ + "/" + motion + ".vmd", out = dir_ + "/" + motion + "-cnv.vmd";
    for (const auto& c : cases) {
      std::vector<std::string> args = {"-ND"};
      std::istringstream words(c.args);
      for (std::string w; words >> w;) args.push_back(w);
      args.push_back(in);
      RunResult r = runProgram(args);
      ASSERT_EQ(r.status, 0) << c.args << "\n" << r.out;
      ReadVmd read;
      std::string error;
      EXPECT_TRUE(readVmd(readFile(out), &read, &error)) << error;
      const std::vector<double> dev = deviations(in, out);
      double worst = 0;
      for (double d : dev) worst = std::max(worst, d);
      if (c.bound > 0) {
        EXPECT_LE(worst, c.bound) << motion << " " << c.args;
      } else if (std::string(motion) == "dance") {
        EXPECT_GT(worst, 5.0) << "the plain conversion drifts between keyframes";
      }
    }
    // Kept, then folded back: within both bounds of the original, and no
    // twist keyframe left.
    ASSERT_EQ(runProgram({"-ND", "-K5", in}).status, 0);
    std::rename(out.c_str(), (dir_ + "/kept.vmd").c_str());
    ASSERT_EQ(runProgram({"-ND", "-U", "-K5", dir_ + "/kept.vmd"}).status, 0);
    for (double d : deviations(in, dir_ + "/kept-cnv.vmd")) EXPECT_LE(d, 1.0) << motion;
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
