// Keep the motion and fold it back: every output plays back within the
// bound at every frame, as judged by the project's evaluator
// (tools/playback_eval.cpp), a player written apart from the planner;
// without -K the same motions drift. The wrist's twist moved onto 手捩
// (-W) leaves the hand where it was.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct Keep : TempDirTest {
  // The largest deviation of out against in of the chains named (all of arm, elbow, wrist,
  // hand when none), both sides; with `keys` only on out's wrist keyframes.
  double worst(const std::string& in, const std::string& out, const std::string& only = "", bool keys = false) {
    RunResult r = runProgram({in, out, keys ? "keys" : "all"}, {"C", -1, PLAYBACK_EVAL_EXE, -1});
    std::istringstream lines(r.out);
    double worst = 0, dev;
    int chains = 0;
    for (std::string side, chain, at, frame; lines >> side >> chain >> dev >> at >> frame; chains++) {
      if (only.empty() || only.find(chain) != std::string::npos) worst = std::max(worst, dev);
    }
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

// Motions that once played far off: an arm and its twist bone turning 120
// degrees each about one axis (together beyond a half turn, folded without
// -K), rotations with huge components, and keyframes so far apart that
// their stretches are judged by a bound rather than frame by frame.
TEST_F(Keep, HalfTurnsHugeRotationsAndFarKeyframesStayWithinTheBound) {
  const Rot still = {0, 0, 0, 1}, third = turn(0.2797, -0.2141, 0.0097, 2.0944);
  const Rot huge = {3e19f, -1e20f, 2e19f, 5e19f}, huge2 = {-1e20f, 3e19f, 4e19f, 2e19f};
  std::vector<Key> far, farWrist;
  for (uint32_t i = 0; i < 20; i++) {
    far.push_back({kLeftArm, i * 5000, turn(i % 3, 1, i % 2, 0.5 + i)});
    farWrist.push_back({i % 2 ? kLeftElbow : kLeftWrist, i * 3000, turn(0.28, -0.21, 0.1 * (i % 3), 2.5 * i)});
  }
  const struct { const char* name; std::vector<Key> keys; const char* options, *chains; } cases[] = {
      {"halves", {{kLeftArm, 0, still}, {kLeftArmTwist, 0, still}, {kLeftArm, 30, third}, {kLeftArmTwist, 30, third}}, "-U", ""},
      {"huge", {{kLeftArm, 0, huge}, {kLeftArmTwist, 0, still}, {kLeftArm, 30, huge2}}, "-K5", ""},
      {"far", far, "-K5 -M4", ""},
      {"farWrist", farWrist, "-W -K5", "arm hand"},  // the wrist's twist bounded too
  };
  for (const auto& c : cases) {
    const std::string in = dir_ + "/" + c.name + ".vmd";
    writeFile(in, buildVmd(c.keys));
    EXPECT_LE(worst(in, run(c.options, in), c.chains), 0.5) << c.name;  // a NaN played counts as 180
  }
}


// The forearm axis of a side, as the built-in model has it, and a rotation's turn about it.
Rot forearm(int side) {
  const std::array<float, 3> a = bonesWithBuiltInAxes()[side == 0 ? 3 : 8].fixedAxis;
  const float n = std::hypot(a[0], a[1], a[2]);
  return {a[0] / n, a[1] / n, a[2] / n, 0};
}
double twistAbout(const Rot& r, const Rot& a) {
  return 2 * std::atan2(std::fabs(r.x * a.x + r.y * a.y + r.z * a.z), std::fabs(r.w)) * 180 / M_PI;
}

TEST_F(Keep, WristTurnLandsOnTheHandTwistBoneAndTheBendStays) {
  const char* wrists[] = {kLeftWrist, kRightWrist};
  const char* hands[] = {kLeftWristTwist, kRightWristTwist};
  const struct { int side; const char* options; bool ownKey; } rows[] = {
      {0, "-W -M4", false}, {1, "-W", false}, {0, "-W -M12", true}, {1, "-w=M9", true}};
  for (const auto& row : rows) {
    const Rot a = forearm(row.side), palmUp = turn(a.x, a.y, a.z, M_PI / 2), own = turn(a.x, a.y, a.z, 0.3);
    const Rot bend = turn(-a.y, a.x, 0, 0.5);  // across the forearm
    std::vector<Key> keys = {{wrists[row.side], 10, multiply(palmUp, bend)}};
    if (row.ownKey) keys.insert(keys.begin(), Key{hands[row.side], 10, own});
    writeFile(dir_ + "/turn.vmd", buildVmd(keys));
    ReadVmd out;
    std::string error;
    ASSERT_TRUE(readVmd(readFile(run(row.options, dir_ + "/turn.vmd")), &out, &error)) << error;
    ASSERT_EQ(out.bones.size(), 2u) << row.options;  // one 手捩 keyframe, just before the wrist's
    EXPECT_TRUE(out.bones[0].name == hands[row.side] && out.bones[1].name == wrists[row.side]);
    EXPECT_LT(angleBetween(out.bones[0].rot, row.ownKey ? multiply(own, palmUp) : palmUp), 0.01) << row.options;
    EXPECT_LT(angleBetween(out.bones[1].rot, bend), 0.01) << row.options;
  }
}

TEST_F(Keep, WristSplitIsExactAtItsKeyframesAndLeavesNoTwist) {
  const std::string in = dir_ + "/hands.vmd", plain = dir_ + "/plain.vmd";
  for (const char* seed : {"1", "2", "3"}) {
    ASSERT_EQ(runProgram({in, "900", seed, "hands"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
    for (const std::string mode : {"-M4", "-M9", "-M12"}) {
      std::rename(run(mode, in).c_str(), plain.c_str());
      const std::string out = run(mode + " -W", in);
      EXPECT_LE(worst(plain, out, "arm hand", true), 0.01) << seed << mode;
      ReadVmd r;
      std::string error;
      ASSERT_TRUE(readVmd(readFile(out), &r, &error)) << error;
      std::map<std::pair<std::string, uint32_t>, int> handKeys;  // 手捩 keyframes on each wrist frame
      for (const ReadBone& b : r.bones) {
        const int side = b.name == kLeftWrist ? 0 : b.name == kRightWrist ? 1 : -1;
        if (side < 0) continue;
        EXPECT_LT(twistAbout(b.rot, forearm(side)), 0.01) << seed << mode << b.frame;
        handKeys.emplace(std::pair{side == 0 ? kLeftWristTwist : kRightWristTwist, b.frame}, 0);
      }
      for (const ReadBone& b : r.bones) {
        if (auto it = handKeys.find({b.name, b.frame}); it != handKeys.end()) it->second++;
      }
      for (const auto& [key, count] : handKeys) EXPECT_EQ(count, 1) << seed << mode << key.second;
    }
  }
}

TEST_F(Keep, WithTheWristsTwistMovedTheArmAndHandStayWithinTheBound) {
  const std::string in = dir_ + "/hands.vmd";
  ASSERT_EQ(runProgram({in, "1200", "5", "hands"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
  for (auto [options, bound] : {std::pair{"-W -K5", 0.5}, {"-W -K5 -M4", 0.5}, {"-w -K10 -F300 -T900", 1.0}}) {
    EXPECT_LE(worst(in, run(options, in), "arm hand"), bound) << options;
  }
  EXPECT_GT(worst(in, run("-W", in), "hand"), 5.0) << "without -K the hand drifts between keyframes";
}

}  // namespace
