// Rotation curves as the players read them: the progress at a time, its
// travel between two times, and a cut that plays as the curve it comes from.
#include "playback/curve.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>

namespace torsel {
namespace {

// The cubic of one coordinate, written apart from the solver's.
double cubic(uint8_t a, uint8_t b, double t) {
  return 3 * (1 - t) * (1 - t) * t * a / 127 + 3 * (1 - t) * t * t * b / 127 + t * t * t;
}
std::string bytes(Curve c) {
  return testing::PrintToString(std::array<int, 4>{c.x1, c.y1, c.x2, c.y2});
}

constexpr Curve kEase = {64, 0, 64, 127}, kSteep = {90, 10, 30, 120}, kSymmetric = {32, 0, 95, 127};
constexpr Curve kOneTurn = {30, 250, 100, 250}, kTwoTurns = {30, 255, 100, 0};

TEST(Curve, ProgressAtTheTimeOfEachParameter) {
  for (const Curve c : {kEase, kSteep, kSymmetric, kOneTurn, kTwoTurns}) {
    SCOPED_TRACE(bytes(c));
    for (double t : {0.05, 0.3, 0.5, 0.8, 0.97}) {
      const CurvePoint p = curveAt(c, cubic(c.x1, c.x2, t));
      EXPECT_NEAR(p.t, t, 1e-9) << "at " << t;
      EXPECT_NEAR(p.y, cubic(c.y1, c.y2, t), 1e-9) << "at " << t;
    }
    EXPECT_EQ(curveProgress(c, -0.5), 0.0);
    EXPECT_EQ(curveProgress(c, 1.5), 1.0);
  }
  EXPECT_NEAR(curveProgress(kSymmetric, 0.5), 0.5, 1e-12);
}

TEST(Curve, KindsAndTheLinearShortcut) {
  const struct { Curve c; CurveKind kind; bool linear; } rows[] = {
      {kLinearCurve, CurveKind::Plain, true},
      {{0, 0, 127, 127}, CurveKind::Plain, true},
      {{200, 200, 9, 9}, CurveKind::Plain, true},  // on the diagonal, whatever its bytes
      {kEase, CurveKind::Plain, false},
      {kOneTurn, CurveKind::Overshoot, false},
      {{64, 0, 64, 128}, CurveKind::Overshoot, false},
      {{128, 0, 64, 127}, CurveKind::Wild, false},
      {{64, 0, 200, 127}, CurveKind::Wild, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(bytes(r.c));
    EXPECT_EQ(curveKind(r.c), r.kind);
    EXPECT_EQ(isLinear(r.c), r.linear);
    if (r.linear) {
      for (double x : {0.1, 0.37, 0.9}) EXPECT_EQ(curveAt(r.c, x).y, x);
    }
  }
  const Curve wild = {128, 0, 64, 127};
  EXPECT_EQ(progressTravel(wild, curveAt(wild, 0.2), curveAt(wild, 0.3)), INFINITY);
}

// The travel between two times is every rise and fall between them, as
// fine steps of time add them up.
TEST(Curve, TravelCountsEveryRiseAndFall) {
  for (const Curve c : {kEase, kSteep, kOneTurn, kTwoTurns}) {
    SCOPED_TRACE(bytes(c));
    for (const auto& [xa, xb] : {std::pair{0.0, 1.0}, {0.1, 0.6}, {0.45, 0.95}}) {
      double steps = 0;
      for (int i = 0; i < 20000; i++) {
        const double x = xa + (xb - xa) * i / 20000, next = xa + (xb - xa) * (i + 1) / 20000;
        steps += std::fabs(curveProgress(c, next) - curveProgress(c, x));
      }
      const CurvePoint p = curveAt(c, xa), q = curveAt(c, xb);
      EXPECT_NEAR(progressTravel(c, p, q), steps, 1e-6) << "from " << xa << " to " << xb;
      EXPECT_EQ(progressTravel(c, q, p), progressTravel(c, p, q));
    }
  }
}

// A cut curve, over its part of the stretch, rejoins its parent's progress
// within a step of its bytes; the whole curve cut is the curve.
TEST(Curve, ACutPlaysAsItsParent) {
  for (const Curve c : {kEase, kSteep, kSymmetric, {10, 100, 117, 27}}) {
    SCOPED_TRACE(bytes(c));
    for (const auto& [xa, xb] : {std::pair{0.2, 0.6}, {0.5, 0.95}, {0.01, 0.3}}) {
      const Curve cut = cutCurve(c, xa, xb);
      const double ya = curveProgress(c, xa), yb = curveProgress(c, xb);
      for (double s = 0; s <= 1; s += 0.05) {
        const double parent = (curveProgress(c, xa + (xb - xa) * s) - ya) / (yb - ya);
        EXPECT_NEAR(curveProgress(cut, s), parent, 1.0 / 127) << "from " << xa << " at " << s;
      }
    }
    EXPECT_EQ(bytes(cutCurve(c, 0, 1)), bytes(c));
  }
}

}  // namespace
}  // namespace torsel
