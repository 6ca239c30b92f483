// The judge of a stretch never lets a NaN pass, and never calls a stretch
// within a tolerance that some frame of it exceeds.
#include "playback/judge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

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
  // And where its work is spent before a stretch is proven, nothing passes either.
  const struct { uint32_t nanAt; uint64_t work; Verdict::Kind kind; } rows[] = {
      {5000, UINT64_MAX, Verdict::Within}, {400, UINT64_MAX, Verdict::Beyond}, {5000, 3, Verdict::Unproven}};
  for (const auto& row : rows) {
    auto probe = [&](uint32_t f) {  // within 0.2 degrees everywhere, but for a NaN at nanAt
      Judged j;
      j.at[0] = showAt(moving, f).at;
      j.d = f == row.nanAt ? NAN : 0.2;
      return j;
    };
    Judge judge;
    judge.setWork(row.work);
    EXPECT_EQ(judge.stretch(0, 1000, 0.5, &moving, 1, -1, nullptr, ProbeOf(probe)).kind, row.kind) << row.nanAt;
    EXPECT_EQ(judge.workLeft(), row.work == UINT64_MAX);
  }
}

// A rotation keyed, and its split into a swing and a twist keyed on the
// same frames: equal at the keys, apart between them (judged by angle, or
// the swing alone by its distance to the twists). The tolerance set just
// under the largest deviation of any frame, the stretch is never within.
TEST(Judge, NeverWithinWhereAFrameIsBeyond) {
  std::mt19937 random(7);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  auto turnBy = [&](double degrees) {  // about a random axis
    const double x = uniform(-1, 1), y = uniform(-1, 1), z = uniform(-1, 1), n = std::sqrt(x * x + y * y + z * z);
    const double h = degrees * 3.14159265358979 / 360;
    return DQuat{std::sin(h) * x / n, std::sin(h) * y / n, std::sin(h) * z / n, std::cos(h)};
  };
  const struct {
    const char* what;
    double turn;           // degrees, at most, from key to key
    bool curved, longer;   // one non-linear curve for all; the input keyed before and after the stretch
    bool swing = false;
    bool commuting = false;  // the input one turn about the sum of the output's two: they part by their products alone
    bool stillFirst = false;  // the input's first rotation keyed on the same frames and curve, turning by nothing
  } cases[] = {
      {"linear", 120, false, false}, {"input keyed wider", 90, false, true}, {"one curve", 120, true, false},
      {"blends of short turns", 3, false, true}, {"far apart", 175, false, false},
      {"swing", 120, false, true, true}, {"swing on a curve", 150, true, false, true},
      {"products", 80, false, false, false, true}, {"products of a swing", 80, false, false, true, true},
      {"a still rotation on the curve", 120, true, false, false, false, true},
  };
  auto about = [](double x, double y, double z) {  // the turn by the vector's length about it
    const double n = std::sqrt(x * x + y * y + z * z), h = n / 2;
    return n > 0 ? DQuat{std::sin(h) * x / n, std::sin(h) * y / n, std::sin(h) * z / n, std::cos(h)} : kIdentityD;
  };
  const uint32_t fa = 1000, fb = 3000;
  const Vec3 x = {1, 0, 0};
  for (const auto& c : cases) {
    int tighter = 0, gaps = 0;
    for (int trial = 0; trial < 60; trial++) {
      Segment seg[4];
      seg[0].moving = true;
      seg[0].f0 = c.longer ? fa - uint32_t(uniform(1, 500)) : fa;
      seg[0].f1 = c.longer ? fb + uint32_t(uniform(1, 500)) : fb;
      seg[0].curve = c.curved ? Curve{90, 10, 30, 120} : kLinearCurve;
      const DQuat a = turnBy(uniform(0, 180));
      seg[0].arc = makeArc(a, multiply(a, turnBy(uniform(0, c.turn))));
      const double held = c.stillFirst ? 0 : uniform(-1.5, 1.5);  // the input's twist bone, held
      const DQuat twist = {std::sin(held), 0, 0, std::cos(held)};
      seg[1].arc = makeArc(twist, twist);
      const DQuat qa = multiply(showAt(seg[0], fa).rot, twist), qb = multiply(showAt(seg[0], fb).rot, twist);
      const DQuat ta = twistAbout(qa, x), tb = twistAbout(qb, x);
      for (int i : {2, 3}) {
        seg[i].moving = true, seg[i].f0 = fa, seg[i].f1 = fb, seg[i].curve = seg[0].curve;
      }
      seg[2].arc = makeArc(multiply(qa, conjugate(ta)), multiply(qb, conjugate(tb)));
      seg[3].arc = makeArc(ta, tb);
      if (c.commuting) {
        const double r = uniform(0, c.turn) / 57.3, t = uniform(0, c.turn) / 57.3;
        const DQuat p = turnBy(90);  // an axis: of a quarter turn, its vector part
        const double px = p.x * r * 1.4142, py = p.y * r * 1.4142, pz = p.z * r * 1.4142;
        const double qx = c.swing ? t : py / r * t, qy = c.swing ? 0 : pz / r * t, qz = c.swing ? 0 : px / r * t;
        seg[0].arc = makeArc(kIdentityD, about(px + qx, py + qy, pz + qz));
        seg[1].arc = makeArc(kIdentityD, kIdentityD);
        seg[2].arc = makeArc(kIdentityD, about(px, py, pz));
        seg[3].arc = makeArc(kIdentityD, about(qx, qy, qz));
      }
      if (c.stillFirst) {  // the identity first: the product is the same
        std::swap(seg[0], seg[1]);
        seg[0].moving = true, seg[0].f0 = seg[1].f0, seg[0].f1 = seg[1].f1, seg[0].curve = seg[1].curve;
      }
      const int n = c.swing ? 3 : 4;
      auto probe = [&](uint32_t f) {
        Judged j;
        DQuat product[2];
        for (int i = 0; i < n; i++) {
          const Shown s = showAt(seg[i], f);
          j.at[i] = s.at;
          product[i / 2] = i % 2 ? multiply(product[i / 2], s.rot) : s.rot;
          j.prefix[i] = product[i / 2];
        }
        j.d = c.swing ? swingOff(multiply(conjugate(product[1]), product[0]), x) : deviationOf(product[0], product[1]);
        return j;
      };
      std::vector<double> d(fb - fa + 1);
      for (uint32_t f = fa; f <= fb; f++) d[f - fa] = probe(f).d;
      const double worst = *std::max_element(d.begin(), d.end());
      const Vec3* swing = c.swing ? &x : nullptr;
      const Verdict under = Judge().stretch(fa, fb, worst * 0.999, seg, n, 2, swing, ProbeOf(probe));
      EXPECT_NE(under.kind, Verdict::Within) << c.what << ", trial " << trial << ": worst " << worst;
      // The bound itself, over gaps of every width: never under a frame's deviation.
      const detail::Shape shape = detail::shapeOf(seg, n, 2, swing), firstOnly = detail::shapeOf(seg, n, -1, nullptr);
      for (uint32_t width = 2; width <= fb - fa; width *= 2) {
        const uint32_t g1 = fa + uint32_t(uniform(0, fb - fa - width)), g2 = g1 + width;
        Judged p = probe(g1), q = probe(g2);
        detail::noteRates(shape, n, &p), detail::noteRates(shape, n, &q);
        const double bound = detail::upperBound(shape, seg, n, p, q, g1, g2);
        const double inside = *std::max_element(d.begin() + (g1 - fa), d.begin() + (g2 - fa));
        EXPECT_GE(bound, inside) << c.what << ", trial " << trial << ", frames " << g1 << " to " << g2;
        tighter += bound < detail::upperBound(firstOnly, seg, n, p, q, g1, g2);
        gaps++;
      }
    }
    EXPECT_GT(tighter, gaps / 3) << c.what;  // the second bound is the one that tells, mostly
  }
}

}  // namespace
}  // namespace torsel
