#include "twist/bone_pairs.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "support/names.h"
#include "twist/model_axes.h"
#include "twist/run_settings.h"

namespace torsel {
namespace {

using namespace testsupport;

class BonePairsTest : public testing::Test {
 protected:
  void SetUp() override {
    gSettings = RunSettings{};
    gTotals = RunTotals{};
    copySetupRestQuats();
    gScans = {};
    resetPairCounts();
  }
  static KeyframeView view(const char* name, uint32_t frame) {
    return {7, name, static_cast<int>(std::string(name).size()), frame, {0.258819f, 0, 0, 0.965926f}};
  }
};

TEST_F(BonePairsTest, FindPairByNameRoleAndHandTwist) {
  struct Case {
    const char* name;
    uint8_t handTwist;
    int pair;
    PairRole role;
  } cases[] = {
      {kLeftArm, 8, 0, PairRole::Source},         {kLeftArmTwist, 0, 0, PairRole::Twist},
      {kLeftElbow, 8, 1, PairRole::Source},       {kLeftWristTwist, 8, 1, PairRole::Twist},
      {kRightArm, 0, 2, PairRole::Source},        {kRightArmTwist, 8, 2, PairRole::Twist},
      {kRightElbow, 8, 3, PairRole::Source},      {kRightWristTwist, 8, 3, PairRole::Twist},
      {kLeftElbow, 0, -1, PairRole::Source},      {kRightWristTwist, 0, -1, PairRole::Twist},
      {kLeftShoulder, 8, -1, PairRole::Source},   {"\x8D\xB6", 8, -1, PairRole::Source},
  };
  for (const Case& c : cases) {
    gSettings.handTwist = c.handTwist;
    PairRole role = PairRole::Source;
    int pair = findPair(c.name, &role);
    EXPECT_EQ(pair, c.pair) << c.name;
    if (pair >= 0) {
      EXPECT_EQ(role, c.role) << c.name;
    }
  }
  gSettings.handTwist = 0;
  PairRole role;
  EXPECT_EQ(findPairAnyRole(kLeftElbow, &role), 1);  // the pre-scan counts every pair
}

TEST_F(BonePairsTest, ConvertsOnlyInRangeAndCounts) {
  gSettings.fromFrame = 10;
  gSettings.toFrame = 20;
  SeparationResult r;
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 9), &r), PairAction::Ordinary);
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 10), &r), PairAction::Convert);
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 20), &r), PairAction::Convert);
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 21), &r), PairAction::Ordinary);
  EXPECT_EQ(convertSourceKeyframe(2, view(kRightArm, 15), &r), PairAction::Convert);
  EXPECT_EQ(gConvCounts[0], 2);
  EXPECT_EQ(gConvCounts[2], 1);
  // Frames compare unsigned: a negative fromFrame puts everything out of range.
  gSettings.fromFrame = -1;
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 15), &r), PairAction::Ordinary);
  gSettings.fromFrame = 0;
  gSettings.toFrame = -1;
  EXPECT_EQ(convertSourceKeyframe(0, view(kLeftArm, 0xFFFFFFF0u), &r), PairAction::Convert);
}

TEST_F(BonePairsTest, TwistKeyframesAreDroppedOnlyWhenMerged) {
  gSettings.fromFrame = 10;
  gSettings.displayLevel = 1;
  gScans[0].twistAtFrom = 0xFF;
  testing::internal::CaptureStdout();
  // Source bone not at fromFrame: written with the warning.
  EXPECT_EQ(filterTwistKeyframe(0, view(kLeftArmTwist, 10)), PairAction::Ordinary);
  gScans[0].sourceAtFrom = 0xFF;
  EXPECT_EQ(filterTwistKeyframe(0, view(kLeftArmTwist, 10)), PairAction::Drop);
  EXPECT_EQ(filterTwistKeyframe(0, view(kLeftArmTwist, 11)), PairAction::Ordinary);
  EXPECT_EQ(filterTwistKeyframe(0, view(kLeftArmTwist, 9)), PairAction::Ordinary);
  std::string out = testing::internal::GetCapturedStdout();
  std::string header10 = "Block 7 \n  bone name = " + std::string(kLeftArmTwist) +
                         " \n  frame time = 10 \n  rot (X,Y,Z,W) = 0.258819 0 0 0.965926 \n";
  std::string expected = header10 + kLeftArmStray + header10 + "  => skipped recording " + kLeftArmTwist +
                         " block. \n" + "Block 7 \n  bone name = " + kLeftArmTwist +
                         " \n  frame time = 11 \n  rot (X,Y,Z,W) = 0.258819 0 0 0.965926 \n" + kLeftArmStray +
                         "Block 7 \n  bone name = " + kLeftArmTwist +
                         " \n  frame time = 9 \n  rot (X,Y,Z,W) = 0.258819 0 0 0.965926 \n";
  EXPECT_EQ(out, expected);

  // The warning prints at level 0 too; the header does not.
  gSettings.displayLevel = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(filterTwistKeyframe(0, view(kLeftArmTwist, 11)), PairAction::Ordinary);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kLeftArmStray);
}

TEST_F(BonePairsTest, FrameCountDeltaAndReport) {
  gScans[0].reccnt = 3;
  gScans[0].sourceAtFrom = 0xFF;
  gScans[0].twistAtFrom = 0xFF;
  gScans[1].reccnt = 2;
  gScans[2].reccnt = 4;
  gScans[2].twistAtFrom = 0xFF;
  gScans[3].reccnt = 5;
  EXPECT_EQ(pairFrameCountDelta(0), 2);
  EXPECT_EQ(pairFrameCountDelta(1), 2);
  EXPECT_EQ(pairFrameCountDelta(2), 4);
  EXPECT_EQ(pairFrameCountDelta(3), 5);
  gSettings.handTwist = 0;
  EXPECT_EQ(pairFrameCountDelta(1), 0);
  EXPECT_EQ(pairFrameCountDelta(3), 0);

  gConvCounts = {3, 2, 1, 5};
  gSettings.displayLevel = 1;
  testing::internal::CaptureStdout();
  reportPairCounts();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "  leftarmreccnt (3) : cleftarmreccnt (3)  OK \n"
            "  rightarmreccnt (4) : crightarmreccnt (1)  **** differ \n"
            "\n");
  EXPECT_EQ(gTotals.leftArm, 3);
  EXPECT_EQ(gTotals.leftElbow, 0);
  EXPECT_EQ(gTotals.rightArm, 1);
  EXPECT_EQ(gTotals.rightElbow, 0);

  gSettings.handTwist = 8;
  gSettings.displayLevel = 0;
  testing::internal::CaptureStdout();
  reportPairCounts();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(gTotals.leftArm, 6);
  EXPECT_EQ(gTotals.leftElbow, 2);
  EXPECT_EQ(gTotals.rightElbow, 5);
}

TEST(ModelAxes, TableHoldsTheModelsBitPatterns) {
  const uint32_t bits[4][4] = {{0x3E8F2FBA, 0xBE5B2032, 0x3C1F69A8, 0x3F6F96E1},
                               {0x3E8DB424, 0xBE573C4F, 0xBBCED627, 0x3F700981},
                               {0x3E911CD2, 0x3E5E12E8, 0xBBEC887F, 0x3F6F22C0},
                               {0x3E9184E4, 0x3E5D07C8, 0x3BD467F7, 0x3F6F22AF}};
  gPairs[1].restQuat = kIdentity;
  copySetupRestQuats();
  for (int i = 0; i < 4; i++) {
    const Quat& q = gPairs[static_cast<size_t>(i)].restQuat;
    EXPECT_EQ(std::bit_cast<uint32_t>(q.x), bits[i][0]);
    EXPECT_EQ(std::bit_cast<uint32_t>(q.y), bits[i][1]);
    EXPECT_EQ(std::bit_cast<uint32_t>(q.z), bits[i][2]);
    EXPECT_EQ(std::bit_cast<uint32_t>(q.w), bits[i][3]);
  }
}

}  // namespace
}  // namespace torsel
