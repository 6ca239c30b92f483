// The software model of the x87 arithmetic: worked cases that hold on every
// platform, and where long double is the x87 format, bit for bit the same
// as the hardware on hostile operands.
#include "math/soft_extended.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "math/quat.h"

namespace torsel {
namespace {

using S = SoftExtended;
uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }
uint64_t bits64(double d) { return std::bit_cast<uint64_t>(d); }
float f(uint32_t b) { return std::bit_cast<float>(b); }
float p2(int e) { return std::ldexp(1.0f, e); }
// v0·v1 + v2·v3 − v4·v5, as the twist arithmetic forms its sums.
template <typename E>
E sum3(const float* v) { return E(v[0]) * v[1] + E(v[2]) * v[3] - E(v[4]) * v[5]; }
// Sign, exponent and all 64 significand bits (as a double and the exact rest), and the float.
template <typename E>
std::array<uint64_t, 3> all80(E v) {
  return {bits64(double(v)), bits64(double(v - E(double(v)))), bits(float(v))};
}

TEST(SoftExtended, RoundingSignedZerosNaNsAndRanges) {
  const struct { float v[6]; uint32_t want; } cases[] = {  // want: the result's float bits
      {1, 1, p2(-32), p2(-32), 1, 1, 0x00000000},            // 1 + 2^-64: a tie, to even (down)
      {1, 1, p2(-32), p2(-31), 1, 1, bits(p2(-63))},         // 1 + 2^-63 is exact
      {1, 1, 3 * p2(-33), p2(-31), 1, 1, bits(p2(-62))},     // 1 + 3·2^-64: a tie, to even (up)
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
    EXPECT_EQ(bits(static_cast<float>(sum3<S>(c.v))), c.want) << std::hex << c.want;
  }
  // 1 − (2^-65 + 2^-128): the sticky bit keeps it off the tie, at 1 − 2^-64.
  EXPECT_EQ(all80(S(1.0f) - (S(p2(-65)) + S(p2(-64)) * p2(-64)))[1], bits64(-p2(-64)));
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
  // A signalling NaN beside another NaN takes the fate of the instruction the compiler picks: none.
  auto operand = [&](int e, bool single) {  // ±2^e times 1 to 24 random bits, or a quiet NaN or ±∞
    const uint64_t r = rng(), b = r >> 32;
    if (r % 16 == 0) return f(uint32_t(r & 16 ? b | 0x7FC00000 : (b | 0x7F800000) & 0xFF800000));
    const int digits = single ? 1 : int(r >> 8) % 24 + 1;
    const float m = float((b >> 8 | 1 << 23) >> (24 - digits)) * (r & 32 ? -1.0f : 1.0f);
    return std::ldexp(m, e - digits + 1);
  };
  // Products 0, 1 or 62 to 66 places apart: ties, bits past the rounding position, cancelling.
  const int apart[] = {0, 1, -1, -62, -63, -64, -65, -66, 64, 65, 66};
  for (int i = 0; i < 300000; i++) {
    const int top = int(rng() % 400) - 280;
    float v[6];
    for (int k = 0; k < 6; k += 2) {
      const int e = top + (k ? apart[rng() % 11] : 0), half = e / 2 + int(rng() % 5) - 2;
      const bool single = rng() & 1;  // a power of two, the likeliest to meet a tie
      v[k] = operand(half, single), v[k + 1] = operand(e - half, single);
    }
    ASSERT_EQ(all80(sum3<S>(v)), all80(sum3<long double>(v))) << i;
    ASSERT_EQ(all80(sum3<S>(v) * 2.0), all80(sum3<long double>(v) * 2.0)) << i;
  }
}

}  // namespace
}  // namespace torsel
