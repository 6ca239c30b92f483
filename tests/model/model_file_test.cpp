#include "model/model_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <string>

#include "support/model_builder.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/vmd_reader.h"
#include "platform/platform.h"
#include "twist/model_axes.h"

namespace torsel {
namespace {

using namespace testsupport;

class ModelFileTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    setenv("LC_ALL", "C", 1);  // names shown as UTF-8, Shift-JIS as it is
    plat::reloadLocale();
  }

  int read(const Bytes& file, const char* name = "m.pmx") {
    std::string path = dir_ + "/" + name;
    writeFile(path, file);
    testing::internal::CaptureStdout();
    int result = readModelAxes(path.c_str(), &axes_, reason_, sizeof reason_);
    testing::internal::GetCapturedStdout();
    return result;
  }

  ModelAxes axes_;
  char reason_[256];
};

// A skeleton whose arms point along ±X, with elbows and wrists below.
std::vector<ModelBone> plainBones() {
  return {
      {kU8Center, {0, 8, 0}, {}},
      {kU8LeftArm, {1, 15, 0}, {}, true, false, false, false, 2},
      {kU8LeftArmTwist, {2, 15, 0}, {}, false, true, true, true},
      {kU8LeftElbow, {3, 14, 0.5f}, {}},
      {kU8LeftWristTwist, {4, 14, 0}, std::array<float, 3>{0.8f, -0.6f, 0.0f}},
      {kU8LeftWrist, {5, 13, 0}, {}},
      {kU8RightArm, {-1, 15, 0}, {}},
      {kU8RightElbow, {-3, 14, -0.5f}, {}},
      {kU8RightWrist, {-5, 13, 0}, {}},
  };
}

void expectAxes(const ModelAxes& m, const std::string& what) {
  ASSERT_TRUE(m.found[0] && m.found[1] && m.found[2] && m.found[3]) << what;
  // Left arm: arm to elbow. Left elbow: the twist bone's fixed axis.
  EXPECT_EQ(m.axis[0].x, 2.0f) << what;
  EXPECT_EQ(m.axis[0].y, -1.0f) << what;
  EXPECT_EQ(m.axis[0].z, 0.5f) << what;
  EXPECT_FALSE(m.fixed[0]);
  EXPECT_TRUE(m.fixed[1]);
  EXPECT_EQ(m.axis[1].x, 0.8f) << what;
  EXPECT_EQ(m.axis[1].y, -0.6f) << what;
  // Right arm: elbow minus arm is (-2, -1, -0.5), turned so that X >= 0.
  EXPECT_EQ(m.axis[2].x, 2.0f) << what;
  EXPECT_EQ(m.axis[2].y, 1.0f) << what;
  EXPECT_EQ(m.axis[2].z, 0.5f) << what;
  EXPECT_EQ(m.axis[3].x, 2.0f) << what;
  EXPECT_EQ(m.axis[3].y, 1.0f) << what;
  EXPECT_EQ(m.axis[3].z, -0.5f) << what;
}

TEST_F(ModelFileTest, PmxInEveryEncodingIndexSizeAndVersion) {
  for (bool utf8 : {false, true}) {
    for (int size : {1, 2, 4}) {
      for (float version : {2.0f, 2.1f}) {
        for (int uvs : {0, 4}) {
          PmxOptions o;
          o.utf8 = utf8;
          o.vertexIndex = o.textureIndex = o.materialIndex = o.boneIndex = o.morphIndex = o.rigidIndex = size;
          o.version = version;
          o.extraUvs = uvs;
          const std::string what = std::string(utf8 ? "UTF-8" : "UTF-16") + " index " + std::to_string(size) +
                                   " version " + std::to_string(version) + " uvs " + std::to_string(uvs);
          ASSERT_EQ(read(buildPmx(plainBones(), o)), 0) << what << ": " << reason_;
          expectAxes(axes_, what);
          // テスト, shown in the console's encoding (UTF-8 under LC_ALL=C).
          EXPECT_STREQ(axes_.name, "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88") << what;
        }
      }
    }
  }
}

TEST_F(ModelFileTest, PmdTakesTheBonesPositions) {
  ASSERT_EQ(read(buildPmd(plainBones(), "\x83\x65\x83\x58\x83\x67"), "m.PMD"), 0) << reason_;  // テスト
  ASSERT_TRUE(axes_.found[0] && axes_.found[1]);
  EXPECT_FALSE(axes_.fixed[1]);  // PMD has no fixed axes: elbow to wrist
  EXPECT_EQ(axes_.axis[1].x, 2.0f);
  EXPECT_EQ(axes_.axis[1].y, -1.0f);
  EXPECT_EQ(axes_.axis[1].z, -0.5f);
  EXPECT_STREQ(axes_.name, "\x83\x65\x83\x58\x83\x67");
}

TEST_F(ModelFileTest, MissingBonesAreNamed) {
  std::vector<ModelBone> bones = plainBones();
  bones.erase(bones.begin() + 7);  // the right elbow
  ASSERT_EQ(read(buildPmx(bones)), 0);
  EXPECT_TRUE(axes_.found[0] && axes_.found[1]);
  EXPECT_FALSE(axes_.found[2]);
  EXPECT_STREQ(axes_.missing[2], "\x89\x45\x82\xD0\x82\xB6");  // 右ひじ
  EXPECT_FALSE(axes_.found[3]);
  EXPECT_STREQ(axes_.missing[3], "\x89\x45\x82\xD0\x82\xB6");

  bones = plainBones();
  bones[4].fixedAxis = std::array<float, 3>{0, 0, 0};
  ASSERT_EQ(read(buildPmx(bones)), 0);
  EXPECT_TRUE(axes_.noDirection[1]);
}

TEST_F(ModelFileTest, DamagedFilesAreRefused) {
  const Bytes good = buildPmx(plainBones());
  const struct {
    Bytes file;
    const char* reason;
  } cases[] = {
      {{}, "not a PMX or PMD model"},
      {{'P', 'M', 'X'}, "not a PMX or PMD model"},
      {{'P', 'M', 'X', '!', 0, 0, 0, 0x40}, "not a PMX or PMD model"},
      {Bytes(good.begin(), good.begin() + 40), "cut short or damaged"},
      {Bytes(good.begin(), good.end() - 20), "cut short or damaged"},
      {readFile(TORSEL_SAMPLE), "not a PMX or PMD model"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.file), -1);
    EXPECT_STREQ(reason_, c.reason);
  }
  // Every cut of a good file is refused or read; none reads past the end.
  for (size_t len = 0; len < good.size(); len++) {
    int result = read(Bytes(good.begin(), good.begin() + static_cast<long>(len)));
    EXPECT_TRUE(result == -1 || len + 4 >= good.size()) << len;
  }
  // Counts far beyond the file.
  Bytes huge = good;
  // Magic, version and globals; then four UTF-16 texts: テスト, test,
  // コメント, comment.
  const size_t vertexCount = 4 + 4 + 1 + 8 + (4 + 6) + (4 + 8) + (4 + 8) + (4 + 14);
  huge[vertexCount + 3] = 0x7F;
  EXPECT_EQ(read(huge), -1);
  EXPECT_STREQ(reason_, "cut short or damaged");
  std::string missing = dir_ + "/none.pmx";
  testing::internal::CaptureStdout();
  EXPECT_EQ(readModelAxes(missing.c_str(), &axes_, reason_, sizeof reason_), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(reason_, "cannot be opened");
}

TEST(ModelPath, ByExtension) {
  for (const char* yes : {"a.pmx", "b.PMD", "dir.x/c.Pmx"}) EXPECT_TRUE(isModelPath(yes)) << yes;
  for (const char* no : {"a.vmd", "a.pmxx", "pmx", "a.pm", "a.pmx/b"}) EXPECT_FALSE(isModelPath(no)) << no;
}

}  // namespace
}  // namespace torsel
