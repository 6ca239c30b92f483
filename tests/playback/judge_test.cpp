// The judge of a stretch never lets a NaN pass.
#include "playback/judge.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

namespace torsel {
namespace {

TEST(Judge, NoNumberNeverPasses) {
  // A rotation whose dot with itself rounds above 1 once scaled: a held arc turns by nothing.
  const Quat q = {std::bit_cast<float>(0xBF062980u), std::bit_cast<float>(0x3DB529B4u),
                  std::bit_cast<float>(0xBE852A79u), std::bit_cast<float>(0x3E54D407u)};
  EXPECT_EQ(arcDegrees(makeArc(toDouble(q), toDouble(q))), 0.0);

  Segment moving;
  moving.moving = true, moving.f0 = 0, moving.f1 = 1000, moving.arc = makeArc(kIdentityD, {0, 1, 0, 0});
  moving.curve = kLinearCurve;
  for (const auto& [nanAt, kind] : {std::pair{5000u, Verdict::Within}, {400u, Verdict::Beyond}}) {
    auto probe = [&](uint32_t f) {  // within 0.2 degrees everywhere, but for a NaN at nanAt
      Judged j;
      j.at[0] = showAt(moving, f).at;
      j.d = f == nanAt ? NAN : 0.2;
      return j;
    };
    EXPECT_EQ(judgeStretch(0, 1000, 0.5, &moving, 1, probe).kind, kind) << nanAt;
  }
}

}  // namespace
}  // namespace torsel
