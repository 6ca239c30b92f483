// The thinner judged apart from itself: curves fitted to windows that a
// curve of the test's own draws, read back by the test's own reader both
// ways; a bone's keyframes through the limits (one keyframe, the range,
// no numbers, a rotation not of length 1, two on one frame); the check
// mending a thinning made wrong on purpose; chains compared frame by frame.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "playback/curve.h"
#include "thin/thin_check.h"
#include "thin/thinner.h"

namespace torsel::thin {
namespace {

// Progress at time x on a curve's bytes: the root found by fine halving, or
// as babylon-mmd finds it (from 1/2, fifteen halvings, within 1e-5).
double progressAt(Curve c, double x, bool babylon) {
  auto cubic = [](double a, double b, double t) {
    return 3 * (1 - t) * (1 - t) * t * a + 3 * (1 - t) * t * t * b + t * t * t;
  };
  const double x1 = c.x1 / 127.0, x2 = c.x2 / 127.0, y1 = c.y1 / 127.0, y2 = c.y2 / 127.0;
  double t = 0.5, step = 0.5, lo = 0, hi = 1;
  for (int i = 0; i < (babylon ? 15 : 80); i++) {
    if (!babylon) {
      t = (lo + hi) / 2;
      (cubic(x1, x2, t) < x ? lo : hi) = t;
      continue;
    }
    const double f = cubic(x1, x2, t) - x;
    if (std::fabs(f) < 1e-5) break;
    step /= 2;
    if (i < 14) t += f < 0 ? step : -step;
  }
  return cubic(y1, y2, t);
}

TEST(ProgressFit, KeepsEveryWindowInBothReadings) {
  const struct {
    Curve drawn;
    int frames;
    double half;
    bool ok;
  } rows[] = {
      {{64, 0, 64, 127}, 30, 0.004, true},
      {{10, 100, 117, 27}, 60, 0.003, true},
      {{90, 10, 30, 120}, 8, 0.01, true},
      {{3, 127, 124, 0}, 200, 0.002, true},   // near flat at both ends in time, as near as a fit goes
      {{0, 127, 127, 0}, 200, 0.002, false},  // flat there: the halving misreads it, no fit follows it
      {{20, 20, 107, 107}, 400, 0.0005, true},
      {{127, 0, 0, 127}, 30, -1, false},  // drawn falling back: no curve rises so
  };
  ProgressFitter fitter;
  for (const auto& r : rows) {
    std::vector<Window> w;
    for (int k = 1; k < r.frames; k++) {
      const double x = double(k) / r.frames, y = progressAt(r.drawn, x, false);
      w.push_back(r.half > 0 ? Window{x, y - r.half, y + r.half} : Window{x, 0.9 - y - 0.01, 0.9 - y + 0.01});
    }
    const Fitted f = fitter.fit(w);
    ASSERT_EQ(f.ok, r.ok) << r.frames;
    for (const Window& k : w) {
      for (const bool babylon : {false, true}) {
        const double y = progressAt(f.curve, k.x, babylon);
        if (r.ok) {
          EXPECT_TRUE(y >= k.lo && y <= k.hi) << r.frames << " at " << k.x << " babylon " << babylon;
        }
      }
    }
  }
}

HeldKey keyAt(uint32_t frame, Quat rot, Vec3 pos = {0, 0, 0}) {
  HeldKey k = {frame, pos, rot, {}, {}};
  for (int c = 0; c < 16; c++) k.params[c] = c < 8 ? 20 : 107;
  return k;
}
Quat aboutY(double degrees) {
  return {0, float(std::sin(degrees / 114.59156)), 0, float(std::cos(degrees / 114.59156))};
}

// Each record in file order: '.' not written, 'k' written as it stands, 'c' written with new curves.
std::string fates(Thinner* t, const char* bone, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) {
    const Thinner::Written w = t->next(bone);
    s += !w.kept ? '.' : w.changed ? 'c' : 'k';
  }
  return s;
}

TEST(Thinner, TheLimits) {
  const struct {
    const char* what;
    int frames;
    uint32_t from, to;
    int odd;
    bool twin, moves;
    const char* fates;
  } rows[] = {
      {"one keyframe", 1, 0, 99, -1, false, false, "k"},
      {"an even turn", 11, 0, 99, -1, false, false, "k.........c"},
      {"a moving position", 11, 0, 99, -1, false, true, "k.........c"},
      {"keyed only outside the range, two on 5", 11, 20, 30, -1, true, false, "kkkkkkkkkkkk"},
      {"the range cutting it", 11, 3, 7, -1, false, false, "kkkk...ckkk"},
      {"no number at 5", 11, 0, 99, 5, false, false, "k...ckk...c"},
      {"twice too long at 5", 11, 0, 99, 105, false, false, "k...ckk...c"},
      {"another keyframe on 5 before it", 11, 0, 99, -1, true, false, "k..........c"},
  };
  for (const auto& r : rows) {
    ThinOptions o;
    o.from = r.from, o.to = r.to;
    Thinner t(o);
    for (int f = 0; f < r.frames; f++) {
      Quat q = aboutY(2.0 * f);
      if (f == r.odd) q.x = NAN;
      if (f == r.odd - 100) q = {2 * q.x, 2 * q.y, 2 * q.z, 2 * q.w};
      if (r.twin && f == 5) t.hold("b", keyAt(5, aboutY(40)));  // shown by no player: the later one wins
      t.hold("b", keyAt(uint32_t(f), q, {r.moves ? 0.25f * f : 0, 0, 0}));
      t.hold("still", keyAt(uint32_t(f), kIdentity));
    }
    const ThinReport report = t.run();
    EXPECT_EQ(fates(&t, "b", std::string(r.fates).size()), r.fates) << r.what;
    EXPECT_EQ(report.odd, r.odd >= 0 ? 1u : 0u) << r.what;
    EXPECT_EQ(report.shadowed, r.twin && r.from <= 5 ? 1u : 0u) << r.what;
    EXPECT_LE(report.worst, o.bound) << r.what;
    EXPECT_EQ(report.strayCount, 0u) << r.what;
  }
}

// Thinned wrong on purpose, every keyframe between the ends dropped: where
// the turn bends, where the position does, and where a curve flat in time
// at its start reads as the input precisely but not by halving, over a
// stretch so long that babylon-mmd's reading parts by 0.08 degrees. The
// check finds each, puts the keyframes back, and then the output plays as
// the input.
TEST(ThinCheck, MendsAThinningMadeWrong) {
  const uint8_t straight[16] = {20, 20, 20, 20, 20, 20, 20, 20, 107, 107, 107, 107, 107, 107, 107, 107};
  uint8_t flat[16];
  std::copy(straight, straight + 16, flat);
  flat[3] = 0, flat[7] = 127, flat[11] = 64, flat[15] = 127;
  const struct {
    const char* what;
    uint32_t frames;
    double bound;
    bool bends, moves, halves;
  } rows[] = {
      {"the turn bends", 20, 0.5, true, false, false},
      {"the position bends", 20, 0.5, false, true, false},
      {"read by halving", 2000, 0.02, false, false, true},
  };
  for (const auto& r : rows) {
    std::vector<PlayedPose> keys;
    for (uint32_t f = 0; f <= r.frames; f++) {
      const double s = r.halves ? curveAt({0, 127, 64, 127}, double(f) / r.frames).y : double(f) / r.frames;
      const double turn = r.bends ? 3.0 * std::min(f, 10u) : 160 * s;
      keys.push_back({f, toDouble(aboutY(turn)), {r.moves ? 0.01f * std::min(f, 10u) : 0, 0, 0}, straight});
    }
    std::vector<KeyFate> fates(keys.size());
    for (size_t k = 1; k + 1 < keys.size(); k++) fates[k].kept = false;
    fates.back().refit = true,
    std::copy(r.halves ? flat : straight, (r.halves ? flat : straight) + 16, fates.back().params.begin());
    ThinOptions o;
    o.bound = r.bound;
    const Checked c = checkBone(keys, &fates, o);
    EXPECT_EQ(c.mended, keys.size() - 2) << r.what;
    EXPECT_EQ(c.worst, 0.0) << r.what;  // the input itself
    EXPECT_EQ(c.farthest, 0.0) << r.what;
    for (const KeyFate& k : fates) EXPECT_TRUE(k.kept && !k.refit) << r.what;
  }
}

TEST(ThinCheck, ChainsFrameByFrame) {
  ChainBones bones;
  for (int b = 0; b < 2; b++) {
    bones.in.emplace_back(), bones.out.emplace_back();
    for (uint32_t f = 0; f <= 30; f += 10) bones.in[b].push_back(keyAt(f, aboutY(b ? -7.0 * f : 5.0 * f)));
    bones.out[b] = bones.in[b];
  }
  bones.out[1][2].rot = aboutY(-140 + 2);  // the twist off by 2 degrees at frame 20
  const std::vector<Checked> c = checkChains(bones, {{0, 1}, {0}}, 0.5);
  EXPECT_NEAR(c[0].worst, 2.0, 1e-4);
  EXPECT_EQ(c[0].worstAt, 20u);
  EXPECT_EQ(c[0].strayCount, 15u);  // frames 13 to 27 beyond 0.5 of the 2 degrees there
  EXPECT_EQ(c[1].worst, 0.0);
}

}  // namespace
}  // namespace torsel::thin
