#include "twist/quat.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

namespace torsel {
namespace {

constexpr double kSixPlaces = 1e-6;

void expectNear(const Quat& got, const Quat& want, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, kSixPlaces) << what;
  EXPECT_NEAR(got.y, want.y, kSixPlaces) << what;
  EXPECT_NEAR(got.z, want.z, kSixPlaces) << what;
  EXPECT_NEAR(got.w, want.w, kSixPlaces) << what;
}

bool sameBits(const Quat& a, const Quat& b) {
  return std::bit_cast<uint32_t>(a.x) == std::bit_cast<uint32_t>(b.x) &&
         std::bit_cast<uint32_t>(a.y) == std::bit_cast<uint32_t>(b.y) &&
         std::bit_cast<uint32_t>(a.z) == std::bit_cast<uint32_t>(b.z) &&
         std::bit_cast<uint32_t>(a.w) == std::bit_cast<uint32_t>(b.w);
}

TEST(QuatMultiply, IdentityKeepsAndMinusIdentityNegates) {
  const Quat q = {0.1f, -0.7f, 0.3f, 0.5f};
  EXPECT_TRUE(sameBits(quatMultiply(kIdentity, q), q));
  EXPECT_TRUE(sameBits(quatMultiply(q, kIdentity), q));
  const Quat minus = {0, 0, 0, -1};
  EXPECT_TRUE(sameBits(quatMultiply(minus, q), Quat{-q.x, -q.y, -q.z, -q.w}));
  EXPECT_TRUE(sameBits(quatMultiply(q, minus), Quat{-q.x, -q.y, -q.z, -q.w}));
}

TEST(QuatMultiply, IsTheHamiltonProductInItsOrder) {
  // i ⊗ j = k, j ⊗ i = −k: a swapped product shows here.
  const Quat i = {1, 0, 0, 0}, j = {0, 1, 0, 0};
  EXPECT_TRUE(sameBits(quatMultiply(i, j), Quat{0, 0, 1, 0}));
  EXPECT_TRUE(sameBits(quatMultiply(j, i), Quat{0, 0, -1, 0}));
}

TEST(QuatMultiply, RoundsTheExtendedSumOnce) {
  // X = 1·1 + 2^-24·1 + 2^-24·1 − 0: rounding after each step to float
  // loses both small terms (ties to even), the extended sum keeps 2^-23.
  const float tiny = std::ldexp(1.0f, -24);
  const Quat p = {1.0f, tiny, 0.0f, tiny};
  const Quat r = {1.0f, 0.0f, 1.0f, 1.0f};
  EXPECT_EQ(quatMultiply(p, r).x, std::nextafter(1.0f, 2.0f));
}

TEST(QuatAxes, RotatedAxesOfSimpleRotations) {
  struct Case {
    Quat q;
    Quat x, y, z;
  } cases[] = {
      {{0, 0, 0, 1}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}},
      {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, -1, 0}},
      {{0, 0, 0, 2}, {4, 0, 0, 0}, {0, 4, 0, 0}, {0, 0, 4, 0}},
      // A quarter turn about Z: X goes to Y, Y to −X.
      {{0, 0, 0.70710677f, 0.70710677f}, {0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    expectNear(quatAxisX(c.q), c.x, "X axis");
    expectNear(quatAxisY(c.q), c.y, "Y axis");
    expectNear(quatAxisZ(c.q), c.z, "Z axis");
  }
}

TEST(RotationBetween, WorkedFigures) {
  struct Case {
    Quat u, v, want;
  } cases[] = {
      {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0.707107f, 0.707107f}},
      {{1, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}},
      {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 0, 0, -1}},
      {{0, 0, 1, 0}, {1, 0, 0, 0}, {0, 0.707107f, 0, 0.707107f}},
  };
  for (const Case& c : cases) expectNear(rotationBetween(c.u, c.v), c.want, "rotationBetween");
  EXPECT_EQ(rotationBetween({1, 0, 0, 0}, {0, 1, 0, 0}).z, static_cast<float>(std::sqrt(0.5)));
}

TEST(RotationAboutAxis, TurnsAboutTheGivenAxis) {
  Quat out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(rotationAboutAxis({1, 0, 1, 0}, {1, 0, 0, 0}, {0, 1, 0}, &out), 0);
  expectNear(out, {0, 0.382683f, 0, 0.923880f}, "45 degrees about Y");
  // The other way round the turn is negative.
  EXPECT_EQ(rotationAboutAxis({1, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0}, &out), 0);
  expectNear(out, {0, -0.382683f, 0, 0.923880f}, "-45 degrees about Y");
  // a along n: no projection, identity, code -1.
  EXPECT_EQ(rotationAboutAxis({0, 1, 0, 0}, {1, 0, 0, 0}, {0, 1, 0}, &out), -1);
  EXPECT_TRUE(sameBits(out, kIdentity));
  EXPECT_EQ(rotationAboutAxis({1, 0, 0, 0}, {0, -1, 0, 0}, {0, 1, 0}, &out), -1);
  // Opposite projections: the identity with W = -1.
  EXPECT_EQ(rotationAboutAxis({1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 1, 0}, &out), 0);
  EXPECT_TRUE(sameBits(out, Quat{0, 0, 0, -1}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(RotationAboutAxis, WarnsWhenTheTurningAxisStrays) {
  // A non-unit axis breaks the projection, so the cross product no longer
  // lies along n: cip = -0.4.
  Quat out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(rotationAboutAxis({1, 1, 0, 0}, {0, 0, 1, 0}, {0, 0.5f, 0}, &out), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "  ** cip=-0.4  something fails ...\n");
  // The result is still delivered, about n, turned by the negated half sine.
  EXPECT_LT(out.y, 0.0f);
  EXPECT_EQ(out.x, 0.0f);
}

TEST(VecOps, CrossAndDot) {
  const Quat x = {1, 0, 0, 0}, y = {0, 1, 0, 0};
  EXPECT_TRUE(sameBits(vecCross(x, y), Quat{0, 0, 1, 0}));
  EXPECT_TRUE(sameBits(vecCross(y, x), Quat{0, 0, -1, 0}));
  EXPECT_EQ(static_cast<float>(vecDot(Quat{1, 2, 3, 9}, Vec3{4, 5, 6})), 32.0f);
}

}  // namespace
}  // namespace torsel
