// The separation against its worked figures and its properties: the twist
// is a turn about the rest axis, and twist and kept rotation make q again.
#include "arm/separation.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>

#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "run/run_settings.h"

namespace torsel {
namespace {

bool sameBits(const Quat& a, const Quat& b) { return std::bit_cast<std::array<uint32_t, 4>>(a) == std::bit_cast<std::array<uint32_t, 4>>(b); }
bool near(const Quat& a, const Quat& b, double tolerance, double sign = 1) {
  return std::fabs(a.x - sign * b.x) <= tolerance && std::fabs(a.y - sign * b.y) <= tolerance &&
         std::fabs(a.z - sign * b.z) <= tolerance && std::fabs(a.w - sign * b.w) <= tolerance;
}
std::string str(const Quat& q) { return ::testing::PrintToString(std::array<float, 4>{q.x, q.y, q.z, q.w}); }

struct SeparationTest : testing::Test {
  void SetUp() override { gSettings = {}, gScans = {}, useModel(builtInModel()); }
  SeparationResult separate(int pair, int mode, Quat q, uint32_t frame = 5) {
    gSettings.subMode = static_cast<int8_t>(mode);
    return separateTwist(pairSeparationInput(pair, frame, q, gSettings));
  }
};

// 30 degrees about the local X axis.
const Quat kTurnX = {static_cast<float>(std::sin(M_PI / 12)), 0.0f, 0.0f, static_cast<float>(std::cos(M_PI / 12))};

TEST_F(SeparationTest, WorkedFiguresOfAllPairs) {
  const struct { Quat mode2Twist, mode35Twist, mode35Kept; } figures[] = {
      {{0.205470f, -0.157221f, 0.007149f, 0.965926f}, {0.165176f, -0.126389f, 0.005747f, 0.978115f},
       {0.093607f, 0.120595f, -0.038263f, 0.987538f}},
      {{0.206082f, -0.156510f, -0.004700f, 0.965926f}, {0.166140f, -0.126176f, -0.003789f, 0.977989f},
       {0.092643f, 0.122857f, -0.028997f, 0.987665f}},
      {{0.205506f, 0.157249f, -0.005234f, 0.965926f}, {0.165233f, 0.126432f, -0.004208f, 0.978108f},
       {0.093550f, -0.121035f, 0.036788f, 0.987545f}},
      {{0.206082f, 0.156510f, 0.004700f, 0.965926f}, {0.166140f, 0.126176f, 0.003789f, 0.977989f},
       {0.092643f, -0.122857f, 0.028997f, 0.987665f}},
  };
  for (int pair = 0; pair < 4; pair++) {
    const auto& f = figures[pair];
    for (int mode : {0, 1, 2, 3, 5}) {
      SeparationResult r = separate(pair, mode, kTurnX);
      EXPECT_TRUE(near(r.twist, mode <= 2 ? f.mode2Twist : f.mode35Twist, 1e-6) &&
                  near(r.kept, mode <= 2 ? kIdentity : f.mode35Kept, 1e-6))
          << "pair " << pair << " mode " << mode << ": " << str(r.twist) << " " << str(r.kept);
    }
  }
  SeparationResult r = separate(0, 4, kTurnX);  // sub-mode 4 keeps q ⊗ N
  EXPECT_TRUE(near(r.twist, figures[0].mode35Twist, 1e-6) && near(r.kept, {0.093607f, 0.123569f, 0.027161f, 0.987538f}, 1e-6));
}

TEST_F(SeparationTest, PropertiesOverRandomRotations) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> uni(-1, 1);
  std::vector<Quat> rotations = {kIdentity};
  for (double v[4]; rotations.size() < 1500;) {
    for (double& c : v) c = uni(rng);
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
    if (len > 1e-3 && len < 1) rotations.push_back({float(v[0] / len), float(v[1] / len), float(v[2] / len), float(v[3] / len)});
  }
  for (int pair = 0; pair < 4; pair++) {
    const Vec3& rest = pairAxes(pair).twistAxis;
    const double len = std::sqrt(double(rest.x) * rest.x + double(rest.y) * rest.y + double(rest.z) * rest.z);
    const double u[3] = {rest.x / len, rest.y / len, rest.z / len};
    for (const Quat& q : rotations) {
      SeparationResult r[6];
      for (int mode = 0; mode <= 5; mode++) r[mode] = separate(pair, mode, q);
      const std::string at = "pair " + std::to_string(pair) + " q " + str(q);
      for (const SeparationResult& m : r) {  // a turn about the rest axis
        const Quat& t = m.twist;
        ASSERT_LT(std::hypot(t.y * u[2] - t.z * u[1], t.z * u[0] - t.x * u[2], t.x * u[1] - t.y * u[0]), 2e-6) << at;
      }
      // Put back together, twist and kept rotation give q.
      Quat back[6] = {quatMultiply(r[3].twist, r[3].kept), quatMultiply(r[4].kept, r[4].twist),
                      quatMultiply(r[5].twist, r[5].kept)};
      for (int mode = 0; mode <= 2; mode++) {  // the twist about local X, recovered from Tw
        Quat local = {static_cast<float>(r[mode].twist.x / u[0]), 0, 0, r[mode].twist.w};
        back[3 + mode] = mode == 0 ? quatMultiply(r[0].kept, local) : quatMultiply(local, r[mode].kept);
      }
      // Sub-modes 0 and 1 take half angles from a float cosine.
      const double tolerance[6] = {1e-5, 1e-5, 1e-5, 5e-4, 5e-4, 2e-5};
      for (int k = 0; k < 6; k++) {
        ASSERT_TRUE(near(back[k], q, tolerance[k]) || near(back[k], q, tolerance[k], -1)) << at << " k " << k;
      }
      // 3 and 5 differ only at the start-frame merge; 3 and 4 share Tw.
      ASSERT_TRUE(sameBits(r[3].twist, r[5].twist) && sameBits(r[3].kept, r[5].kept) &&
                  sameBits(r[3].twist, r[4].twist))
          << at;
    }
  }
}

// A trace only watches: with it or without, the same bits; a quiet split
// keeps no step but its warnings; the steps end with Tw, q and K.
TEST_F(SeparationTest, TracingChangesNothing) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> uni(-1, 1);
  for (int i = 0; i < 400; i++) {
    const Quat q = {uni(rng), uni(rng), uni(rng), uni(rng)};
    for (int mode = 0; mode <= 5; mode++) {
      SeparationInput in = pairSeparationInput(i % 4, 5, q, gSettings);
      in.method = static_cast<int8_t>(mode);
      SplitTrace trace, quiet;
      const SeparationResult plain = separateTwist(in), traced = separateTwist(in, &trace);
      in.quiet = true;
      const SeparationResult hushed = separateTwist(in, &quiet);
      ASSERT_TRUE(sameBits(plain.twist, traced.twist) && sameBits(plain.kept, traced.kept) &&
                  sameBits(plain.twist, hushed.twist) && sameBits(plain.kept, hushed.kept)) << str(q);
      for (int k = 0; k < quiet.count; k++) ASSERT_EQ(quiet.entries[k].step, SplitStep::Stray);
      ASSERT_GE(trace.count, 6);
      const SplitTrace::Entry* last = trace.entries + trace.count - 3;
      ASSERT_TRUE(trace.entries[0].step == SplitStep::AxisX && last[0].step == SplitStep::Twist &&
                  sameBits(last[0].v, plain.twist) && sameBits(last[1].v, q) && sameBits(last[2].v, plain.kept));
    }
  }
}

}  // namespace
}  // namespace torsel
