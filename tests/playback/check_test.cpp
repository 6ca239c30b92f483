// The check stands behind the plan's verdict: given a plan made wrong on
// purpose (too few keyframes, so the chain strays between them), it finds
// every frame beyond, keys them, and reports the largest deviation the
// output then plays; where keying cannot mend it, it says so.
#include <gtest/gtest.h>

#include <cmath>

#include "playback/plan_parts.h"
#include "playback/planner.h"

namespace torsel {
namespace {

using planning::checkSide;
using planning::Group;

// The arm turning about Z and its twist bone keyed with a swing (about Y),
// every 40 frames; planned wrong: the arm's own keyframes left as they
// stand and the twist bone at rest, so that the chain strays everywhere.
void holdWrongPlan(Group& g, const PlanOptions& o) {
  Track planned[2];
  for (uint32_t i = 0; i < 4; i++) {
    const double z = 0.5 * i, y = 0.9 * (i % 2);
    HeldKey k = {40 * i, {0, 0, 0}, toFloat({0, 0, std::sin(z / 2), std::cos(z / 2)}), {}, {}};
    for (int p = 0; p < 16; p++) k.params[p] = p < 8 ? 20 : 107;
    g[groupBone(0, kArm)].held.push_back(k);
    planned[0].push_back(k);
    HeldKey t = k;
    t.rot = toFloat({0, std::sin(y / 2), 0, std::cos(y / 2)});
    g[groupBone(0, kArmTwist)].held.push_back(t);
    t.rot = kIdentity, planned[1].push_back(t);
  }
  for (ArmBone b : {kArm, kArmTwist}) {
    planning::BonePlan& p = g[groupBone(0, b)];
    p.in = playedTrack(p.held, o.rule[groupBone(0, b)]);
    p.out.played = playedTrack(planned[b], o.rule[groupBone(0, b)]);
    for (const HeldKey& k : planned[b]) p.out.rot.push_back(k.rot), p.out.verbatim.push_back(0);
    p.planned = true;
  }
}

// The largest deviation of the arm chain at any frame, played here.
double worstPlayed(const Group& g, uint32_t* at) {
  const planning::Bones arm = {groupBone(0, kArm), groupBone(0, kArmTwist)};
  double worst = 0;
  for (uint32_t f = 0; f <= 200; f++) {
    const double d = deviationOf(planning::chainAt(g, arm, false, f), planning::chainAt(g, arm, true, f));
    if (d > worst) worst = d, *at = f;
  }
  return worst;
}

TEST(Check, MendsAPlanMadeWrongOnPurposeAndReportsWhatItPlays) {
  for (const bool fixedArm : {false, true}) {  // an arm that turns about Z alone cannot take the swing
    PlanOptions o;
    o.bound = 0.5;
    o.to = 9999999;
    o.axis[0][0] = {0.28f, -0.21f, 0.006f};
    o.rule[groupBone(0, kArm)] = {fixedArm, {0, 0, 1}};
    Group g;
    holdWrongPlan(g, o);
    uint32_t at = 0;
    ASSERT_GT(worstPlayed(g, &at), 5.0);  // wrong indeed
    ChainReport reports[kChains] = {};
    reports[kArmChain].planned = true, reports[kArmChain].share = 0.5;
    checkSide(g, o, 0, true, reports);
    const ChainReport& r = reports[kArmChain];
    const double worst = worstPlayed(g, &at);
    EXPECT_EQ(r.worst, worst) << fixedArm;  // what it says is what the output plays
    EXPECT_EQ(r.at, at) << fixedArm;
    EXPECT_EQ(r.beyond, worst > 0.5) << fixedArm;
    EXPECT_EQ(r.beyond, fixedArm) << worst;
  }
}

}  // namespace
}  // namespace torsel
