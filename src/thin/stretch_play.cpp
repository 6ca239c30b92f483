#include "thin/stretch_play.h"

#include <algorithm>
#include <cmath>

#include "playback/curve.h"

namespace torsel::thin {

StretchPlay::StretchPlay(const PlayedPose& a, const PlayedPose& b)
    : a_(a), b_(b), arc_(makeArc(a.rot, b.rot)), moving_(b.frame > a.frame) {}

void StretchPlay::measureSlack(CurveMemo* memo) {
  if (!moving_) return;
  // A progress off by p turns the slerp by p times its arc (and a short
  // turn's blend by no more), and moves a channel by p times its span. At
  // a's frame the halving reads time 0 as some way along.
  if (arc_.theta > 0) {
    const Curve c = channelCurve(b_.params, kRotationChannel);
    slackDegrees_ = memo->spread(c) * 1.01 * arcDegrees(arc_) * 1.01;
    startDegrees_ = memo->start(c) * arcDegrees(arc_) * 1.01;
  }
  const float pa[3] = {a_.pos.x, a_.pos.y, a_.pos.z}, pb[3] = {b_.pos.x, b_.pos.y, b_.pos.z};
  double squares = 0, starts = 0, largest = 0;
  for (int c = 0; c < 3; c++) {
    if (pa[c] == pb[c]) continue;  // held: the same float either way
    const Curve curve = channelCurve(b_.params, c);
    const double span = std::fabs(double(pb[c]) - pa[c]);
    const double spread = span * memo->spread(curve) * 1.01, start = span * memo->start(curve);
    squares += spread * spread, starts += start * start;
    largest = std::max({largest, std::fabs(double(pa[c])), std::fabs(double(pb[c]))});
  }
  // And a float's rounding either way.
  slackDistance_ = std::sqrt(squares) * 1.01 + 4e-7 * largest;
  startDistance_ = std::sqrt(starts) * 1.01 + 4e-7 * largest;
}

StretchPlay::StretchPlay(const PlayedPose& a) : a_(a), b_(a) {}

double StretchPlay::progress(int channel, uint32_t f, bool halving) const {
  const Curve c = channelCurve(b_.params, channel);
  const double x = double(f - a_.frame) / double(b_.frame - a_.frame);
  return halving ? bisectedAt(c, x).y : curveAt(c, x).y;
}

DQuat StretchPlay::rotation(uint32_t f, bool halving) const {
  if (!underWay(f, halving)) return f >= b_.frame && moving_ ? b_.rot : a_.rot;
  if (arc_.theta == 0) return a_.rot;  // no turn: whatever the curve
  return arcAt(arc_, progress(kRotationChannel, f, halving));
}

Vec3 StretchPlay::position(uint32_t f, bool halving) const {
  if (!underWay(f, halving)) return f >= b_.frame && moving_ ? b_.pos : a_.pos;
  // Each channel along its own curve, rounded to float as the player keeps it.
  auto along = [&](float p, float q, int c) {
    return p == q ? p : static_cast<float>(p + (double(q) - p) * progress(c, f, halving));
  };
  return {along(a_.pos.x, b_.pos.x, 0), along(a_.pos.y, b_.pos.y, 1), along(a_.pos.z, b_.pos.z, 2)};
}

}  // namespace torsel::thin
