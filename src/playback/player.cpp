#include "playback/player.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace torsel {
namespace {

// One curve of the block: the channel's control points, scaled to 0..1.
double progress(const HeldKey& k, int channel, double x) {
  return curveProgress({k.params[channel], k.params[4 + channel], k.params[8 + channel], k.params[12 + channel]}, x);
}

}  // namespace

void makeTrack(Track* keys) {
  keepLastOnFrame(keys, [](const HeldKey& k) { return k.frame; });
}

HeldKey keyToCut(const Track& t, uint32_t frame) { return keyToCut(t, frame, keyAfter(t, frame)); }

HeldKey keyToCut(const Track& t, uint32_t frame, size_t i) {
  if (t.empty()) {
    HeldKey h{};
    for (int c = 0; c < 16; c++) h.params[c] = c < 8 ? 20 : 107;
    return h;
  }
  return i > 0 && t[i - 1].frame == frame ? t[i - 1] : t[std::min(i, t.size() - 1)];
}

size_t keyAfter(const Track& t, uint32_t frame) {
  return static_cast<size_t>(
      std::upper_bound(t.begin(), t.end(), frame, [](uint32_t f, const HeldKey& k) { return f < k.frame; }) -
      t.begin());
}

bool keyOn(const Track& t, uint32_t frame, size_t* index) {
  const size_t i = keyAfter(t, frame);
  if (i == 0 || t[i - 1].frame != frame) return false;
  *index = i - 1;
  return true;
}

DQuat rotationAt(const Track& t, uint32_t frame) {
  if (t.empty()) return kIdentityD;
  const size_t i = keyAfter(t, frame);
  if (i == 0) return toDouble(t.front().rot);
  const HeldKey& k0 = t[i - 1];
  if (i == t.size() || k0.frame == frame) return toDouble(k0.rot);
  const HeldKey& k1 = t[i];
  const double x = double(frame - k0.frame) / double(k1.frame - k0.frame);
  return slerp(toDouble(k0.rot), toDouble(k1.rot), curveProgress(rotationCurve(k1), x));
}

namespace {

Curve curveOf(const HeldKey& k) { return rotationCurve(k); }
Curve curveOf(const PlayedKey& k) { return k.curve; }

// curveOver with i the first keyframe after fa.
template <class Keys>
bool curveFrom(const Keys& t, size_t i, uint32_t fa, uint32_t fb, Curve* c) {
  if (i == 0 || i == t.size() || fb > t[i].frame) return false;
  const auto &k0 = t[i - 1], &k1 = t[i];
  const double span = double(k1.frame - k0.frame);
  *c = fa == k0.frame && fb == k1.frame ? curveOf(k1)
                                        : cutCurve(curveOf(k1), (fa - k0.frame) / span, (fb - k0.frame) / span);
  return true;
}

// The arc of the stretch that ends at keys[i], i > 0: its two ends and its turn.
// (Looked up again and again on the same stretch: the last one is kept.)
const Arc& arcTo(const PlayedTrack& p, size_t i) {
  if (p.arcAt == i) return p.arc;
  const PlayedKey& k = p.keys[i];
  DQuat b = unit(toDouble(k.rot));
  if (k.flip) b = {-b.x, -b.y, -b.z, -b.w};
  p.arc = arcOf(unit(toDouble(p.keys[i - 1].rot)), b, k.theta, k.linear);
  p.arcAt = i;
  return p.arc;
}

}  // namespace

bool curveOver(const Track& t, uint32_t fa, uint32_t fb, Curve* c) { return curveFrom(t, keyAfter(t, fa), fa, fb, c); }
bool curveOver(const PlayedTrack& t, uint32_t fa, uint32_t fb, Curve* c) {
  return curveFrom(t.keys, keyAfter(t, fa), fa, fb, c);
}

Segment segmentAt(const Track& t, uint32_t frame) {
  Segment s;
  if (t.empty()) {
    s.arc = makeArc(kIdentityD, kIdentityD);
    return s;
  }
  const size_t i = keyAfter(t, frame);
  s.moving = i > 0 && i < t.size();
  const HeldKey& k0 = t[i > 0 ? i - 1 : 0];
  const HeldKey& k1 = s.moving ? t[i] : k0;
  s.f0 = k0.frame;
  s.f1 = k1.frame;
  s.curve = rotationCurve(k1);
  s.arc = makeArc(toDouble(k0.rot), toDouble(k1.rot));
  return s;
}

Shown showAt(const Segment& s, uint32_t frame) {
  if (!s.moving) return {s.arc.a, {0, 0}};
  const CurvePoint p = curveAt(s.curve, double(frame - s.f0) / double(s.f1 - s.f0));
  return {arcAt(s.arc, p.y), p};
}

PlayedTrack playedTrack(const Track& t, const AxisRule& rule) {
  PlayedTrack p;
  p.keys.reserve(t.size());
  for (const HeldKey& k : t) p.keys.push_back(playedKey(k, toFloat(played(rule, k.rot))));
  setTurns(&p);
  return p;
}

void setTurns(PlayedTrack* p) {
  std::vector<PlayedKey>& t = p->keys;
  p->arcAt = 0;
  for (size_t i = 1; i < t.size(); i++) {
    const Arc arc = arcTurn(toDouble(t[i - 1].rot), toDouble(t[i].rot));
    t[i].theta = arc.theta, t[i].linear = arc.linear, t[i].flip = arc.flipped;
  }
}

size_t keyAfterFar(const PlayedTrack& p, uint32_t frame) {
  const std::vector<PlayedKey>& t = p.keys;
  auto answers = [&](size_t i) { return (i == 0 || t[i - 1].frame <= frame) && (i == t.size() || t[i].frame > frame); };
  const size_t c = std::min(p.cursor, t.size());
  for (size_t i : {c + 1, c + 2, c - 1}) {  // c - 1 wraps past every index when c is 0
    if (i <= t.size() && answers(i)) return p.cursor = i;
  }
  const auto it = std::upper_bound(t.begin(), t.end(), frame, [](uint32_t f, const PlayedKey& k) { return f < k.frame; });
  return p.cursor = static_cast<size_t>(it - t.begin());
}

bool keyOn(const PlayedTrack& p, uint32_t frame, size_t* index) {
  const size_t i = keyAfter(p, frame);
  if (i == 0 || p.keys[i - 1].frame != frame) return false;
  *index = i - 1;
  return true;
}

DQuat rotationAt(const PlayedTrack& p, uint32_t frame) {
  const std::vector<PlayedKey>& t = p.keys;
  if (t.empty()) return kIdentityD;
  const size_t i = keyAfter(p, frame);
  if (i == 0) return toDouble(t.front().rot);
  if (i == t.size() || t[i - 1].frame == frame) return toDouble(t[i - 1].rot);
  const double x = double(frame - t[i - 1].frame) / double(t[i].frame - t[i - 1].frame);
  return arcAt(arcTo(p, i), curveProgress(t[i].curve, x));
}

DQuat bisectedRotationAt(const PlayedTrack& p, uint32_t frame) {
  const std::vector<PlayedKey>& t = p.keys;
  if (t.empty()) return kIdentityD;
  const size_t i = std::max<size_t>(keyAfter(p, frame), 1);
  if (i == t.size()) return toDouble(t.back().rot);
  const uint32_t from = std::max(frame, t[i - 1].frame);  // before the first: clamped to it
  const double x = double(from - t[i - 1].frame) / double(t[i].frame - t[i - 1].frame);
  return arcAt(arcTo(p, i), bisectedAt(t[i].curve, x).y);
}

Segment segmentAt(const PlayedTrack& p, uint32_t frame) {
  const std::vector<PlayedKey>& t = p.keys;
  Segment s;
  const size_t i = keyAfter(p, frame);
  if (i == 0 || i == t.size()) {  // held: before the first keyframe or after the last
    const DQuat q = t.empty() ? kIdentityD : toDouble(t[i == 0 ? 0 : i - 1].rot);
    s.arc.a = s.arc.b = q;
    s.f0 = s.f1 = t.empty() ? 0 : t[i == 0 ? 0 : i - 1].frame;
    return s;
  }
  s.moving = true;
  s.f0 = t[i - 1].frame;
  s.f1 = t[i].frame;
  s.curve = t[i].curve;
  s.arc = arcTo(p, i);
  return s;
}

Vec3 positionAt(const Track& t, uint32_t frame) { return positionAt(t, frame, keyAfter(t, frame)); }

Vec3 positionAt(const Track& t, uint32_t frame, size_t i) {
  if (t.empty()) return {0, 0, 0};
  if (i == 0) return t.front().pos;
  const HeldKey& k0 = t[i - 1];
  if (i == t.size() || k0.frame == frame) return k0.pos;
  const HeldKey& k1 = t[i];
  const double x = double(frame - k0.frame) / double(k1.frame - k0.frame);
  auto along = [&](float a, float b, int channel) {
    return toFloat({a + (double(b) - a) * progress(k1, channel, x), 0, 0, 0}).x;
  };
  return {along(k0.pos.x, k1.pos.x, 0), along(k0.pos.y, k1.pos.y, 1), along(k0.pos.z, k1.pos.z, 2)};
}

}  // namespace torsel
