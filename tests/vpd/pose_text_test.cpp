// A pose's numbers, in-process: written as glibc's "%f" writes them, where
// the Windows and WebAssembly runtimes would round otherwise.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>

#include "vpd/pose_text.h"

namespace torsel {
namespace {

TEST(PoseNumbers, WrittenAsPrintfWritesThem) {
  std::mt19937 random(7);
  char ours[kPoseNumberSize], theirs[kPoseNumberSize];
  for (int i = 0; i < 400000; i++) {
    // Any bits; and steps of 2^-k, where the ties of rounding to six decimals lie.
    const float grid = std::ldexp(float(random() % (1 << 24)), -int(random() % 30));
    const float v = i % 2 ? std::bit_cast<float>(uint32_t(random())) : random() % 2 ? grid : -grid;
    formatPoseNumber(v, ours);
    std::snprintf(theirs, sizeof theirs, "%f", static_cast<double>(v));
    ASSERT_STREQ(ours, theirs) << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace torsel
