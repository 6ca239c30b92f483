#include "twist/separation.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>

#include "twist/bone_pairs.h"
#include "twist/model_axes.h"
#include "twist/run_settings.h"

namespace torsel {
namespace {

enum Pair { kLeftArm = 0, kLeftElbow = 1, kRightArm = 2, kRightElbow = 3 };

bool sameBits(const Quat& a, const Quat& b) {
  return std::bit_cast<uint32_t>(a.x) == std::bit_cast<uint32_t>(b.x) &&
         std::bit_cast<uint32_t>(a.y) == std::bit_cast<uint32_t>(b.y) &&
         std::bit_cast<uint32_t>(a.z) == std::bit_cast<uint32_t>(b.z) &&
         std::bit_cast<uint32_t>(a.w) == std::bit_cast<uint32_t>(b.w);
}

std::string str(const Quat& q) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "(%.7g, %.7g, %.7g, %.7g)", q.x, q.y, q.z, q.w);
  return buf;
}

void expectNear(const Quat& got, const Quat& want, double tolerance, const std::string& what) {
  EXPECT_TRUE(std::fabs(got.x - want.x) <= tolerance && std::fabs(got.y - want.y) <= tolerance &&
              std::fabs(got.z - want.z) <= tolerance && std::fabs(got.w - want.w) <= tolerance)
      << what << ": got " << str(got) << ", want " << str(want);
}

// The unit rest axis of a pair, in double.
void restAxis(int pair, double* u) {
  const Quat& r = setupRestQuats[static_cast<size_t>(pair)];
  double len = std::sqrt(double(r.x) * r.x + double(r.y) * r.y + double(r.z) * r.z);
  u[0] = r.x / len;
  u[1] = r.y / len;
  u[2] = r.z / len;
}

class SeparationTest : public testing::Test {
 protected:
  void SetUp() override {
    gSettings = RunSettings{};
    copySetupRestQuats();
    gScans = {};
  }

  SeparationResult separate(int pair, int mode, Quat q, uint32_t frame = 5) {
    gSettings.subMode = static_cast<int8_t>(mode);
    SeparationInput in{};
    const BonePair& p = gPairs[static_cast<size_t>(pair)];
    in.q = q;
    in.r = {p.restQuat.x, p.restQuat.y, p.restQuat.z};
    in.side = p.side;
    in.frameTime = frame;
    in.sourceAtFrom = gScans[static_cast<size_t>(pair)].sourceAtFrom != 0;
    in.twistAtFrom = gScans[static_cast<size_t>(pair)].twistAtFrom != 0;
    in.twistRotAtFrom = gScans[static_cast<size_t>(pair)].twistRotAtFrom;
    in.twistBone = p.twistBone;
    in.rightArm = pair == kRightArm;
    return separateTwist(in);
  }
};

// 30 degrees about the local X axis.
const Quat kTurnX = {static_cast<float>(std::sin(std::numbers::pi / 12)), 0.0f, 0.0f, static_cast<float>(std::cos(std::numbers::pi / 12))};

// 30 degrees about a pair's rest axis.
Quat turnAboutRest(int pair) {
  double u[3];
  restAxis(pair, u);
  double s = std::sin(std::numbers::pi / 12);
  return {static_cast<float>(u[0] * s), static_cast<float>(u[1] * s), static_cast<float>(u[2] * s),
          static_cast<float>(std::cos(std::numbers::pi / 12))};
}

TEST_F(SeparationTest, WorkedFiguresOfAllPairs) {
  struct Figures {
    int pair;
    Quat mode2Twist, mode35Twist, mode35Kept;
  } figures[] = {
      {kLeftArm, {0.205470f, -0.157221f, 0.007149f, 0.965926f}, {0.165176f, -0.126389f, 0.005747f, 0.978115f},
       {0.093607f, 0.120595f, -0.038263f, 0.987538f}},
      {kLeftElbow, {0.206082f, -0.156510f, -0.004700f, 0.965926f}, {0.166140f, -0.126176f, -0.003789f, 0.977989f},
       {0.092643f, 0.122857f, -0.028997f, 0.987665f}},
      {kRightArm, {0.205506f, 0.157249f, -0.005234f, 0.965926f}, {0.165233f, 0.126432f, -0.004208f, 0.978108f},
       {0.093550f, -0.121035f, 0.036788f, 0.987545f}},
      {kRightElbow, {0.206082f, 0.156510f, 0.004700f, 0.965926f}, {0.166140f, 0.126176f, 0.003789f, 0.977989f},
       {0.092643f, -0.122857f, 0.028997f, 0.987665f}},
  };
  for (const Figures& f : figures) {
    const std::string pair = "pair " + std::to_string(f.pair);
    for (int mode : {0, 1, 2}) {
      SeparationResult r = separate(f.pair, mode, kTurnX);
      expectNear(r.twist, f.mode2Twist, 1e-6, pair + " mode " + std::to_string(mode) + " Tw");
      expectNear(r.kept, kIdentity, 1e-6, pair + " mode " + std::to_string(mode) + " K");
    }
    for (int mode : {3, 5}) {
      SeparationResult r = separate(f.pair, mode, kTurnX);
      expectNear(r.twist, f.mode35Twist, 1e-6, pair + " mode " + std::to_string(mode) + " Tw");
      expectNear(r.kept, f.mode35Kept, 1e-6, pair + " mode " + std::to_string(mode) + " K");
    }
  }
  // Sub-mode 4 keeps q ⊗ N: the left arm's figure.
  SeparationResult r = separate(kLeftArm, 4, kTurnX);
  expectNear(r.twist, {0.165176f, -0.126389f, 0.005747f, 0.978115f}, 1e-6, "mode 4 Tw");
  expectNear(r.kept, {0.093607f, 0.123569f, 0.027161f, 0.987538f}, 1e-6, "mode 4 K");
}

TEST_F(SeparationTest, TurnAboutTheRestAxisIsAllTwist) {
  for (int pair : {kLeftArm, kLeftElbow, kRightArm, kRightElbow}) {
    for (double sign : {1.0, -1.0}) {
      Quat q = turnAboutRest(pair);
      q = {static_cast<float>(sign * q.x), static_cast<float>(sign * q.y), static_cast<float>(sign * q.z), q.w};
      for (int mode : {3, 4, 5}) {
        SeparationResult r = separate(pair, mode, q);
        const std::string what = "pair " + std::to_string(pair) + " mode " + std::to_string(mode);
        expectNear(r.twist, q, 1e-6, what + " Tw");
        expectNear(r.kept, kIdentity, 1e-6, what + " K");
      }
    }
  }
  // Sub-mode 2 reads the twist about local X instead: the left arm's figure.
  SeparationResult r = separate(kLeftArm, 2, turnAboutRest(kLeftArm));
  expectNear(r.twist, {0.165176f, -0.126389f, 0.005747f, 0.978115f}, 1e-6, "mode 2 Tw");
  expectNear(r.kept, {0.0f, -0.152293f, 0.039704f, 0.987538f}, 1e-6, "mode 2 K");
}

TEST_F(SeparationTest, IdentityGivesIdentities) {
  for (int pair : {kLeftArm, kRightElbow}) {
    for (int mode = 0; mode <= 5; mode++) {
      SeparationResult r = separate(pair, mode, kIdentity);
      // Zeros may carry either sign.
      EXPECT_TRUE(r.twist.x == 0 && r.twist.y == 0 && r.twist.z == 0 && r.twist.w == 1) << str(r.twist);
      EXPECT_TRUE(r.kept.x == 0 && r.kept.y == 0 && r.kept.z == 0 && r.kept.w == 1) << str(r.kept);
    }
  }
}

// Random unit rotations with a fixed seed.
std::vector<Quat> randomRotations(int count) {
  std::mt19937 rng(20261206);
  std::vector<Quat> out;
  while (static_cast<int>(out.size()) < count) {
    double v[4];
    double len = 0;
    for (double& c : v) {
      c = static_cast<double>(rng()) / 4294967296.0 * 2.0 - 1.0;
      len += c * c;
    }
    if (len > 1.0 || len < 1e-3) continue;
    len = std::sqrt(len);
    out.push_back({static_cast<float>(v[0] / len), static_cast<float>(v[1] / len), static_cast<float>(v[2] / len),
                   static_cast<float>(v[3] / len)});
  }
  return out;
}

bool nearUpToSign(const Quat& a, const Quat& b, double tolerance) {
  auto near = [&](double s) {
    return std::fabs(a.x - s * b.x) <= tolerance && std::fabs(a.y - s * b.y) <= tolerance &&
           std::fabs(a.z - s * b.z) <= tolerance && std::fabs(a.w - s * b.w) <= tolerance;
  };
  return near(1.0) || near(-1.0);
}

TEST_F(SeparationTest, PropertiesOverRandomRotations) {
  const std::vector<Quat> rotations = randomRotations(2000);
  for (int pair : {kLeftArm, kLeftElbow, kRightArm, kRightElbow}) {
    double u[3];
    restAxis(pair, u);
    for (const Quat& q : rotations) {
      SeparationResult r[6];
      for (int mode = 0; mode <= 5; mode++) r[mode] = separate(pair, mode, q);
      const std::string at = "pair " + std::to_string(pair) + " q " + str(q);

      // The twist is a turn about the pair's rest axis in every method.
      for (int mode = 0; mode <= 5; mode++) {
        const Quat& t = r[mode].twist;
        double cx = t.y * u[2] - t.z * u[1], cy = t.z * u[0] - t.x * u[2], cz = t.x * u[1] - t.y * u[0];
        ASSERT_LT(std::sqrt(cx * cx + cy * cy + cz * cz), 2e-6) << at << " mode " << mode << " Tw " << str(t);
      }
      // Twist and kept rotation put back together give q.
      ASSERT_TRUE(nearUpToSign(quatMultiply(r[3].twist, r[3].kept), q, 1e-5)) << at;
      ASSERT_TRUE(nearUpToSign(quatMultiply(r[5].twist, r[5].kept), q, 1e-5)) << at;
      ASSERT_TRUE(nearUpToSign(quatMultiply(r[4].kept, r[4].twist), q, 1e-5)) << at;
      // Sub-modes 0 to 2 measure the twist about local X: recover it from Tw.
      // Sub-modes 0 and 1 take half angles from a float cosine, which loses
      // precision for small angles: hence the wider tolerance.
      for (int mode = 0; mode <= 2; mode++) {
        const double tolerance = mode == 2 ? 2e-5 : 5e-4;
        const Quat& t = r[mode].twist;
        Quat local = {static_cast<float>(t.x / u[0]), 0.0f, 0.0f, t.w};
        Quat back = mode == 0 ? quatMultiply(r[mode].kept, local) : quatMultiply(local, r[mode].kept);
        ASSERT_TRUE(nearUpToSign(back, q, tolerance)) << at << " mode " << mode << " got " << str(back);
      }
      // 3 and 5 differ only at the start-frame merge; 3 and 4 share Tw.
      ASSERT_TRUE(sameBits(r[3].twist, r[5].twist) && sameBits(r[3].kept, r[5].kept)) << at;
      ASSERT_TRUE(sameBits(r[3].twist, r[4].twist)) << at;
    }
  }
}

TEST_F(SeparationTest, RestAxisScaleAndWDoNotMatter) {
  const std::vector<Quat> rotations = randomRotations(300);
  for (const Quat& q : rotations) {
    SeparationResult base[6];
    for (int mode = 0; mode <= 5; mode++) base[mode] = separate(kLeftArm, mode, q);
    Quat& rest = gPairs[kLeftArm].restQuat;
    rest.w = -7.5f;
    for (int mode = 0; mode <= 5; mode++) {
      SeparationResult r = separate(kLeftArm, mode, q);
      ASSERT_TRUE(sameBits(r.twist, base[mode].twist) && sameBits(r.kept, base[mode].kept)) << "W changed " << mode;
    }
    rest = {rest.x * 3.0f, rest.y * 3.0f, rest.z * 3.0f, rest.w};
    for (int mode = 0; mode <= 5; mode++) {
      SeparationResult r = separate(kLeftArm, mode, q);
      expectNear(r.twist, base[mode].twist, 2e-6, "scaled axis Tw");
      expectNear(r.kept, base[mode].kept, 2e-6, "scaled axis K");
    }
    copySetupRestQuats();
  }
}

TEST_F(SeparationTest, HalfTurnsFallBack) {
  const Quat halfY = {0, 1, 0, 0};
  SeparationResult r = separate(kLeftArm, 2, halfY);
  auto isIdentity = [](const Quat& q) { return q.x == 0 && q.y == 0 && q.z == 0 && q.w == 1; };
  EXPECT_TRUE(isIdentity(r.twist)) << str(r.twist);
  EXPECT_TRUE(sameBits(r.kept, halfY)) << str(r.kept);

  gSettings.displayLevel = 1;
  testing::internal::CaptureStdout();
  r = separate(kLeftArm, 0, halfY);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(r.twist.x == 0 && r.twist.y == 0 && r.twist.z == 0 && r.twist.w == -1) << str(r.twist);
  EXPECT_TRUE(r.kept.x == 0 && r.kept.y == 0 && r.kept.z == 0 && r.kept.w == -1) << str(r.kept);
  EXPECT_NE(out.find("  ex => (X,Y,Z) = -1 0 0 (0) \n  ey => (X,Y,Z) = "), std::string::npos) << out;
  EXPECT_NE(out.find("  ez => (X,Y,Z) = "), std::string::npos) << out;

  // A half turn about the rest axis' normal: no twist to read in 3 to 5.
  double u[3];
  restAxis(kLeftArm, u);
  const Quat across = {static_cast<float>(-u[1]), static_cast<float>(u[0]), 0.0f, 0.0f};
  gSettings.displayLevel = 0;
  for (int mode : {3, 5}) {
    r = separate(kLeftArm, mode, across);
    EXPECT_TRUE(isIdentity(r.twist)) << mode << " " << str(r.twist);
    EXPECT_TRUE(sameBits(r.kept, quatMultiply(kIdentity, across))) << mode;
  }
}

TEST_F(SeparationTest, StartFrameMergeNeedsBothFlags) {
  const Quat e = {0.1f, -0.05f, 0.02f, 0.99359f};
  gSettings.fromFrame = 5;
  SeparationResult plain[6];
  for (int mode = 0; mode <= 5; mode++) plain[mode] = separate(kLeftArm, mode, kTurnX, 5);

  gScans[kLeftArm].twistRotAtFrom = e;
  gScans[kLeftArm].sourceAtFrom = 0xFF;
  for (int mode = 0; mode <= 5; mode++) {
    EXPECT_TRUE(sameBits(separate(kLeftArm, mode, kTurnX, 5).twist, plain[mode].twist)) << "one flag, " << mode;
  }
  gScans[kLeftArm].twistAtFrom = 0xFF;
  for (int mode = 0; mode <= 5; mode++) {
    SeparationResult r = separate(kLeftArm, mode, kTurnX, 5);
    Quat want = mode == 5 ? quatMultiply(plain[mode].twist, e) : quatMultiply(e, plain[mode].twist);
    EXPECT_TRUE(sameBits(r.twist, want)) << "merged, mode " << mode;
    EXPECT_TRUE(sameBits(r.kept, plain[mode].kept)) << "K unchanged, mode " << mode;
    // Other frames and other pairs are not merged.
    EXPECT_TRUE(sameBits(separate(kLeftArm, mode, kTurnX, 6).twist, plain[mode].twist));
    EXPECT_FALSE(sameBits(separate(kLeftElbow, mode, kTurnX, 5).twist, want));
  }
  gScans[kLeftArm].twistRotAtFrom = kIdentity;
  for (int mode = 0; mode <= 5; mode++) {
    EXPECT_TRUE(sameBits(separate(kLeftArm, mode, kTurnX, 5).twist, plain[mode].twist)) << "E = identity";
  }
}

TEST_F(SeparationTest, MessagesByDisplayLevel) {
  gSettings.displayLevel = 0;
  testing::internal::CaptureStdout();
  separate(kLeftArm, 4, kTurnX);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  gSettings.displayLevel = 1;
  testing::internal::CaptureStdout();
  separate(kLeftArm, 4, kIdentity);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "  ex (X,Y,Z) = 1 0 0 \n"
            "  ey (X,Y,Z) = 0 1 0 \n"
            "  ez (X,Y,Z) = 0 0 1 \n"
            // N = (−x·a.X, −x·a.Y, −x·a.Z, w) with x = +0 and a.Y < 0.
            "  (vecn)=> (X,Y,Z,W) = -0 0 -0 1 \n"
            "  => exporting to \x8D\xB6\x98\x72\x9D\x80 x-rot (X,Y,Z,W) = 0 -0 0 1 \n"
            "  org (X,Y,Z,W) = 0 0 0 1 \n"
            "  cnv (X,Y,Z,W) = 0 0 0 1 \n");

  testing::internal::CaptureStdout();
  separate(kLeftArm, 2, kIdentity);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("  (xc)=> (X,Y,Z,W) = -0 0 0 1 \n"), std::string::npos) << out;

  testing::internal::CaptureStdout();
  separate(kLeftArm, 1, kIdentity);
  out = testing::internal::GetCapturedStdout();
  const char* order[] = {"  ex =>Yaxis=>(1,0,0)", "  ex'=>Zaxis=>(1,0,0)", "  ey'=>Xaxis=>(0,1,0)",
                         "  ez'=>Xaxis=>(0,0,1)", "  => exporting to"};
  size_t at = 0;
  for (const char* line : order) {
    size_t found = out.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << " in\n" << out;
    at = found;
  }
}

TEST_F(SeparationTest, RightArmTracesFrame778InSubMode0) {
  gSettings.displayLevel = 0;
  for (int pair : {kLeftArm, kLeftElbow, kRightArm, kRightElbow}) {
    for (uint32_t frame : {777u, 778u}) {
      testing::internal::CaptureStdout();
      separate(pair, 0, kTurnX, frame);
      std::string out = testing::internal::GetCapturedStdout();
      bool traced = pair == kRightArm && frame == 778;
      EXPECT_EQ(out.empty(), !traced) << "pair " << pair << " frame " << frame << ":\n" << out;
      if (traced) {
        EXPECT_EQ(out.rfind("  ex => (X,Y,Z) = ", 0), 0u) << out;
        EXPECT_NE(out.find("\n  ey => (X,Y,Z) = "), std::string::npos);
        EXPECT_NE(out.find("\n  ez => (X,Y,Z) = "), std::string::npos);
      }
    }
  }
  testing::internal::CaptureStdout();
  separate(kRightArm, 1, kTurnX, 778);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace torsel
