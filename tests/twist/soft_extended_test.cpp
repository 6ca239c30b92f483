// The software model of the x87 arithmetic: worked cases that hold on every
// platform, and where long double is the x87 format, bit for bit the same
// as the hardware on hostile operands.
#include "twist/soft_extended.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "twist/quat.h"

namespace torsel {
namespace {

using S = SoftExtended;
uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }
float f(uint32_t b) { return std::bit_cast<float>(b); }
float p2(int e) { return std::ldexp(1.0f, e); }
// x1·y1 + x2·y2 − x3·y3, as the twist arithmetic forms its sums.
template <typename E>
E sum3(float x1, float y1, float x2, float y2, float x3, float y3) { return E(x1) * y1 + E(x2) * y2 - E(x3) * y3; }

TEST(SoftExtended, RoundingSignedZerosNaNsAndRanges) {
  const struct { float x1, y1, x2, y2, x3, y3; uint32_t want; } cases[] = {  // want: the result's float bits
      {1, 1, p2(-32), p2(-32), 1, 1, 0x00000000},            // 1 + 2^-64: a tie, to even (1), then +0
      {1, 1, p2(-32), p2(-31), 1, 1, bits(p2(-63))},         // 1 + 2^-63 is exact
      {p2(-12), p2(-12), 1, 1, -p2(-30), p2(-30), bits(1 + p2(-23))},  // 1 + 2^-24 + 2^-60: double gets 1
      {p2(-12), p2(-12), 1, 1, -p2(-35), p2(-35), bits(1.0f)},         // 1 + 2^-24 + 2^-70: binary128 gets 1 + 2^-23
      {2, 3, -0.0f, 1, 6, 1, 0x00000000},                     // cancellation: +0
      {-0.0f, 1, -0.0f, 1, 0, 1, 0x80000000},                 // −0 + −0 − 0 = −0
      {p2(-75), p2(-75), 0, 0, 0, 0, 0x00000000},             // 2^-150: half the least subnormal, to even
      {p2(-75), p2(-75), p2(-76), p2(-75), 0, 0, 0x00000001}, // 1.5 · 2^-150 rounds up
      {p2(64), p2(64), 0, 0, 0, 0, 0x7F800000},               // 2^128 overflows
      {f(0x7F800003), 1, 1, 1, 0, 0, 0x7FC00003},             // a signalling NaN, quieted
      {f(0x7FC00001), 1, f(0xFFC00002), 1, 0, 0, 0xFFC00002}, // of two NaNs the larger significand
      {f(0xFFC00001), 1, f(0x7FC00001), 1, 0, 0, 0x7FC00001}, // on a tie the positive one
      {f(0x7F800000), 0, 1, 1, 0, 0, 0xFFC00000},             // ∞ · 0: the negative indefinite
      {f(0x7F800000), 1, 0, 0, f(0x7F800000), 1, 0xFFC00000}, // ∞ − ∞
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bits(static_cast<float>(sum3<S>(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3))), c.want) << std::hex << c.want;
  }
  EXPECT_EQ(static_cast<double>(S(p2(100)) * p2(100) * 2.0 + S(p2(-12)) * p2(-12)), std::ldexp(1.0, 201));
  // Float steps: the first NaN operand, quieted; an invalid one's NaN is negative.
  EXPECT_EQ(bits(mulF(f(0x7F800005), f(0xFFC00001))), 0x7FC00005u);
  EXPECT_EQ(bits(divF(1, f(0xFFA00001))), 0xFFE00001u);
  EXPECT_EQ(bits(divF(0, 0)), 0xFFC00000u);
  EXPECT_EQ(bits(sqrtF(-1.0)), 0xFFC00000u);
}

TEST(SoftExtended, SameBitsAsTheX87OnHostileOperands) {
  if constexpr (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "long double is not the x87 format here";
  std::mt19937_64 rng(7);
  auto operand = [&] {  // random bits (NaNs, infinities, subnormals), or a value from 2^-140 to 2^60
    const uint64_t r = rng();
    return r % 3 == 0 ? f(uint32_t(r >> 32)) : std::ldexp(float(r >> 40) / 16777216.0f + 0.5f, int(r % 200) - 140) * (r & 8 ? -1.0f : 1.0f);
  };
  for (int i = 0; i < 300000; i++) {
    float v[6];
    for (float& x : v) x = operand();
    const S soft = sum3<S>(v[0], v[1], v[2], v[3], v[4], v[5]);
    const long double hard = sum3<long double>(v[0], v[1], v[2], v[3], v[4], v[5]);
    ASSERT_EQ(bits(static_cast<float>(soft)), bits(static_cast<float>(hard))) << i;
    ASSERT_EQ(bits(static_cast<float>(soft * 2.0)), bits(static_cast<float>(hard * 2.0))) << i;
    ASSERT_EQ(std::bit_cast<uint64_t>(static_cast<double>(soft)), std::bit_cast<uint64_t>(static_cast<double>(hard)));
  }
}

}  // namespace
}  // namespace torsel
