// A model given beside the motions: read in every PMX layout and as PMD, its
// axes used and shown, and a model that cannot serve refused with result 3.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

class ModelCli : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    writeFile(dir_ + "/m.vmd", readFile(TORSEL_SAMPLE));
  }
  // Checks m.vmd with the model; what the run prints after the options.
  std::string check(const Bytes& model, const char* name = "m.pmx", int status = 0, const char* option = "-ND") {
    writeFile(dir_ + "/" + name, model);
    RunResult r = runProgram({"-ND", option, "-C", dir_ + "/" + name, dir_ + "/m.vmd"});
    EXPECT_EQ(r.status, status) << r.out;
    const std::string checking = "checkmode = ON. \n";
    const std::string out = replaceAll(r.out.substr(r.out.find(checking) + checking.size()), dir_, "$");
    return out.substr(0, std::min(out.find("Confirming"), out.find("Error code")));
  }
};

// Arms along ±X with elbows and wrists below, each twist bone halfway; a
// fixed axis on the left wrist twist, and every optional bone part on the left arm twist.
std::vector<ModelBone> plainBones() {
  return {{kU8LeftArm, {1, 15, 0}},         {kU8LeftArmTwist, {2, 14.5f, 0.25f}, false, {}, 1},
          {kU8LeftElbow, {3, 14, 0.5f}},    {kU8LeftWristTwist, {4, 13.5f, 0.25f}, true, {0.8f, -0.4f, -0.2f}},
          {kU8LeftWrist, {5, 13, 0}},       {kU8RightArm, {-1, 15, 0}},
          {kU8RightArmTwist, {-2, 14.5f, -0.25f}},  {kU8RightElbow, {-3, 14, -0.5f}},
          {kU8RightWristTwist, {-4, 13.5f, -0.25f}}, {kU8RightWrist, {-5, 13, 0}}};
}
// plainBones without the named ones.
std::vector<ModelBone> without(std::initializer_list<std::string> names) {
  std::vector<ModelBone> bones = plainBones();
  std::erase_if(bones, [&](const ModelBone& b) { return std::find(names.begin(), names.end(), b.name) != names.end(); });
  return bones;
}

TEST_F(ModelCli, EveryLayoutGivesTheAxesAndDamageIsRefused) {
  // Arm to elbow, the fixed axis, the right side turned so that X >= 0; PMD
  // has no fixed axes: elbow to wrist.
  const std::string axes = "     Left  arm   axis = 2 -1 0.5 (bone direction) \n     Left  elbow axis = %s \n"
                           "     Right arm   axis = 2 1 0.5 (bone direction) \n"
                           "     Right elbow axis = 2 1 -0.5 (bone direction) \n\n";
  auto expected = [&](const std::string& name, const std::string& elbow) {
    const size_t at = axes.find("%s");
    return "Converting setup: Model [" + name + "] \n" + axes.substr(0, at) + elbow + axes.substr(at + 2);
  };
  for (int layout = 0; layout < 24; layout++) {
    const PmxOptions o{(layout & 1) != 0, layout % 12 >= 6 ? 4 : 0, 1 << ((layout >> 1) % 3), layout < 12 ? 2.0f : 2.1f};
    // テスト, in Shift-JIS like every text on a console that is not UTF-8 (an
    // English Windows console has no such characters).
    EXPECT_EQ(check(buildPmx(plainBones(), o)),
              expected(underWine() ? "???" : "\x83\x65\x83\x58\x83\x67", "0.8 -0.4 -0.2 (fixed axis)"))
        << layout;
  }
  EXPECT_EQ(check(buildPmd(plainBones()), "m.PMD"), expected("\x83\x7E\x83\x4E", "2 -1 -0.5 (bone direction)"));

  std::vector<ModelBone> bones = plainBones();
  bones[3].fixedAxis = {0, 0, 0};
  const Bytes good = buildPmx(plainBones()), noAxis = buildPmx(bones);
  bones[3].fixedAxis = {3e38f, 0, -3e38f};  // no float holds its length
  const Bytes tooLong = buildPmx(bones);
  Bytes huge = good;
  huge[4 + 4 + 1 + 8 + (4 + 6) + (4 + 8) + (4 + 2) + (4 + 14) + 3] = 0x7F;  // the vertex count
  const struct {
    Bytes file;
    std::string reason;
    const char* option = "-ND";
  } cases[] = {
      {{}, "not a PMX or PMD model"},
      {{'P', 'M', 'X', '!', 0, 0, 0, 0x40}, "not a PMX or PMD model"},
      {readFile(TORSEL_SAMPLE), "not a PMX or PMD model"},
      {Bytes(good.begin(), good.begin() + 40), "cut short or damaged"},
      {huge, "cut short or damaged"},
      {noAxis, "the axis of \x8D\xB6\x82\xD0\x82\xB6 has no direction"},  // 左ひじ
      {tooLong, "the axis of \x8D\xB6\x82\xD0\x82\xB6 has no direction"},
      {buildPmx(without({kU8RightElbow})), "no bone \x89\x45\x82\xD0\x82\xB6"},              // 右ひじ
      // Twist bones on one side only, as a real model has them: the other side's twist is lost.
      {buildPmx(without({kU8LeftArmTwist, kU8LeftWristTwist})), "no bone \x8D\xB6\x98\x72\x9D\x80"},  // 左腕捩
      {buildPmd(without({kU8RightWristTwist})), "no bone \x89\x45\x8E\xE8\x9D\x80"},           // 右手捩
      {buildPmx(without({kU8LeftWrist})), "no bone \x8D\xB6\x8E\xE8\x8E\xF1", "-W"},            // 左手首
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check(c.file, "m.pmx", 3, c.option), "Cannot use model file : $/m.pmx (" + c.reason + ")\n");
  }
  // Named without a motion, a model refused is still the run's status, not the usage's 0.
  EXPECT_EQ(runProgram({"-ND", "-W", dir_ + "/m.pmx"}).status, 3);  // the last, without 左手首
}

// A real-shaped rig: the built-in axes along the limbs, and helpers taking a
// quarter, a half and three quarters of each twist bone's turn; as PMD, the
// twist bones turn about the line to their tails.
std::vector<ModelBone> rigged(bool pmd, std::function<void(std::vector<ModelBone>&)> change = {}) {
  std::vector<ModelBone> bones = bonesWithBuiltInAxes();
  for (size_t t : {1, 3, 6, 8}) {  // the twist bones
    bones[t].tail = pmd ? bones[t + 1].name : "";
    for (int k = 1; k <= 3; k++) {
      bones.push_back({.name = bones[t].name + std::to_string(k), .pos = {}, .append = bones[t].name,
                       .ratio = 0.25f * k});
    }
  }
  if (change) change(bones);
  return bones;
}

// Each defect said once, before any motion is read, as a warning (the run goes on); a
// good rig, one without what the run does not use, and a fold's said nothing of.
TEST_F(ModelCli, RigDefectsAreSaidAndAGoodRigIsNot) {
  using S = std::string;
  const S share = " does not take its share", warningJa = "\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: ";
  auto axis = [](auto& b) { b[1].fixedAxis = {1, 0, 0}; };
  const struct {
    std::vector<ModelBone> bones;
    std::vector<S> said;  // what each warning says, in order
    bool pmd = false;
    const char* option = "-ND";
    const char* locale = "C";
  } rows[] = {
      {rigged(false), {}}, {rigged(true), {}, true},
      {rigged(false, axis), {kLeftArmTwist + S(": fixed axis off the arm (") + kLeftArm + " -> " + kLeftElbow +
                             ") by 37.5 deg"}},
      // 固定軸が腕の向き (左腕 → 左ひじ) から 37.5°
      {rigged(false, axis), {"\x8C\xC5\x92\xE8\x8E\xB2\x82\xAA\x98\x72\x82\xCC\x8C\xFC\x82\xAB (\x8D\xB6\x98\x72 \x81\xA8 "
                             "\x8D\xB6\x82\xD0\x82\xB6) \x82\xA9\x82\xE7 37.5\x81\x8B"}, false, "-ND", "ja_JP.SJIS"},
      {rigged(true, [](auto& b) { b[3].tail = b[5].name; }), {kLeftWristTwist + S(": fixed axis off the forearm")}, true},
      {rigged(false, [](auto& b) { b[1].parent = "none"; }), {kLeftArmTwist + S(" does not hang from ") + kLeftArm}},
      {rigged(true, [](auto& b) { b[7].parent = b[5].name; }), {kRightElbow + S(" does not hang from ") + kRightArmTwist},
       true},
      {rigged(false, [](auto& b) { b[6].pos[1] += 1; }), {kRightArmTwist + S(" does not lie between")}},
      // A helper without an append, one that appends the limb, one that takes none of the turn.
      {rigged(true, [](auto& b) { b[11].append = "", b[13].append = b[2].name, b[18].ratio = 0; }),
       {kLeftArmTwist + S("2") + share, kLeftWristTwist + S("1") + share, kRightArmTwist + S("3") + share}, true},
      {without({kU8LeftWristTwist, kU8RightWristTwist}),
       {kLeftWristTwist + S(" is missing"), kRightWristTwist + S(" is missing")}, false, "-M4"},
      {without({kU8LeftArmTwist, kU8LeftWristTwist, kU8RightArmTwist}), {}, false, "-U"},
  };
  for (const auto& row : rows) {
    const S model = dir_ + (row.pmd ? "/m.pmd" : "/m.pmx");
    writeFile(model, row.pmd ? buildPmd(row.bones) : buildPmx(row.bones));
    RunOptions locale;
    locale.locale = row.locale;
    const RunResult r = runProgram({"-ND", row.option, "-C", model, dir_ + "/m.vmd"}, locale);
    std::vector<S> said;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != S::npos; at = end + 1) {
      const S line = r.out.substr(at, end - at);
      if (line.rfind("Model warning: ", 0) == 0 || line.rfind(warningJa, 0) == 0) said.push_back(line);
    }
    EXPECT_TRUE(r.status == 0 && said.size() == row.said.size()) << r.out;
    for (size_t k = 0; k < said.size() && k < row.said.size(); k++) EXPECT_NE(said[k].find(row.said[k]), S::npos);
  }
  // A model checked alone: its twist bones and helpers listed, the count, and the run's end.
  writeFile(dir_ + "/m.pmx", buildPmx(rigged(false)));
  const S out = runProgram({"-ND", "-C", dir_ + "/m.pmx"}).out;
  const S helper = "     helper " + S(kLeftArmTwist) + "1: append " + kLeftArmTwist + " x 0.25 \n";
  EXPECT_TRUE(out.find(helper) != S::npos && out.find("Model check: 0 warning(s) for the arm group. \n") != S::npos &&
              out.find("=> 0 file(s)") != S::npos) << out;
}

TEST_F(ModelCli, AxesInUseAndTheLastModelCounts) {
  const Bytes plain = (runProgram({"-ND", dir_ + "/m.vmd"}), readFile(dir_ + "/m-cnv.vmd"));
  for (bool utf8 : {false, true}) {  // the built-in axes, bit for bit: the same bytes
    writeFile(dir_ + "/miku.pmx", buildPmx(bonesWithBuiltInAxes(), {.utf8 = utf8}));
    RunResult r = runProgram({"-ND", dir_ + "/m.vmd", dir_ + "/miku.pmx"});
    EXPECT_EQ(readFile(dir_ + "/m-cnv.vmd"), plain);
    EXPECT_EQ(r.out.rfind("Torsel V1.04a\nCancel.displaying.dialogue. \nConverting setup: Model [", 0), 0u) << r.out;
  }
  std::vector<ModelBone> bones = bonesWithBuiltInAxes();
  for (ModelBone& b : bones) b.fixedAxis[2] += 0.25f;
  writeFile(dir_ + "/other.pmx", buildPmx(bones));
  writeFile(dir_ + "/first.pmd", {1, 2, 3});  // never read: the last model counts
  EXPECT_EQ(runProgram({"-ND", dir_ + "/first.pmd", dir_ + "/other.pmx", dir_ + "/m.vmd"}).status, 0);
  const Bytes other = readFile(dir_ + "/m-cnv.vmd");
  int differing = 0;  // records: nine converted keyframes and their twists, the rest as before
  for (size_t at = 54; at + 111 <= std::min(plain.size(), other.size()); at += 111) {
    differing += !std::equal(&plain[at], &plain[at] + 111, &other[at]);
  }
  EXPECT_TRUE(plain.size() == other.size() && differing == 18) << differing;
}

}  // namespace
