#include "playback/wrist_split.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/platform.h"
#include "playback/keep_planner.h"
#include "playback/stretch_judge.h"
#include "playback/player.h"
#include "twist/bone_pairs.h"
#include "twist/run_settings.h"
#include "twist/separation.h"

namespace torsel {
namespace {

constexpr float kShortLimit = 1e-6f;

// 左手首, 右手首.
constexpr const char* kWristBones[kWristSides] = {"\x8D\xB6\x8E\xE8\x8E\xF1", "\x89\x45\x8E\xE8\x8E\xF1"};

int elbowPair(int side) { return 2 * side + 1; }

struct HeldRecord {
  int32_t block;
  HeldKey key;
};

// A frame of the range where a side's wrist is keyed: the last of its
// records there carries the 手捩 keyframe.
struct WristFrame {
  uint32_t frame;
  int32_t block;
  Quat hand;  // the wrist's own rotation until planned
};

struct WristSide {
  std::vector<HeldRecord> wrists, twists, elbows;
  std::vector<WristFrame> frames;
  int32_t delta = 0, splits = 0;
  double largest = 0;
  // -K: the input's tracks of 手首 and 手捩, and what is planned for them.
  Track wristTrack, handTrack, keptWrist, keptHand;
  bool wristPlanned = false, handPlanned = false;
  double deviation = 0;
};
std::array<WristSide, kWristSides> gSides;

bool byFrame(const WristFrame& a, const WristFrame& b) { return a.frame < b.frame; }

const WristFrame* findFrame(int side, uint32_t frame) {
  const std::vector<WristFrame>& f = gSides[static_cast<size_t>(side)].frames;
  auto it = std::lower_bound(f.begin(), f.end(), WristFrame{frame, 0, kIdentity}, byFrame);
  return it != f.end() && it->frame == frame ? &*it : nullptr;
}

// The twist the elbow's split gives a 手捩 keyframe, without its lines.
Quat elbowTwist(int pair, const HeldKey& k) {
  const int8_t level = gSettings.displayLevel;
  gSettings.displayLevel = 0;
  const Quat twist = separateTwist(pairSeparationInput(pair, k.frame, k.rot)).twist;
  gSettings.displayLevel = level;
  return twist;
}

void planSide(int side) {
  WristSide& s = gSides[static_cast<size_t>(side)];
  const int pair = elbowPair(side);
  s.frames.clear();
  for (const HeldRecord& w : s.wrists) {
    if (inFrameRange(w.key.frame)) s.frames.push_back({w.key.frame, w.block, w.key.rot});
  }
  std::stable_sort(s.frames.begin(), s.frames.end(), byFrame);
  size_t kept = 0;  // of several on one frame the last in the file
  for (size_t i = 0; i < s.frames.size(); i++) {
    if (i + 1 == s.frames.size() || s.frames[i + 1].frame != s.frames[i].frame) s.frames[kept++] = s.frames[i];
  }
  s.frames.resize(kept);

  // 手捩 as the conversion writes it without -W: the input's records but
  // those merged at the start frame and, where the elbows are split, a
  // twist keyframe just before each elbow keyframe in the range.
  struct Entry {
    HeldKey key;
    int64_t order;
    int32_t elbow;  // index into elbows, or -1
  };
  std::vector<Entry> entries;
  for (const HeldRecord& t : s.twists) {
    if (!pairDropsAtFrom(pair, t.key.frame)) entries.push_back({t.key, 2 * int64_t(t.block) + 1, -1});
  }
  if (pairIsActive(pair)) {
    for (size_t i = 0; i < s.elbows.size(); i++) {
      const HeldRecord& e = s.elbows[i];
      if (inFrameRange(e.key.frame)) entries.push_back({e.key, 2 * int64_t(e.block), int32_t(i)});
    }
  }
  int32_t absorbed = 0;
  for (const Entry& e : entries) absorbed += inFrameRange(e.key.frame) && findFrame(side, e.key.frame) != nullptr;
  s.delta = static_cast<int32_t>(s.frames.size()) - absorbed;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key.frame != b.key.frame ? a.key.frame < b.key.frame : a.order < b.order;
  });
  Track track;
  std::vector<int32_t> elbowOf;
  for (size_t i = 0; i < entries.size(); i++) {
    if (i + 1 < entries.size() && entries[i + 1].key.frame == entries[i].key.frame) continue;
    track.push_back(entries[i].key);
    elbowOf.push_back(entries[i].elbow);
  }

  // What 手捩 plays at each wrist frame: the elbow's twists split only
  // where they take part.
  for (WristFrame& f : s.frames) {
    const size_t i = keyAfter(track, f.frame);
    for (size_t j : {i - 1, i}) {
      const bool used = j == i - 1 ? i > 0 : i < track.size() && (i == 0 || track[i - 1].frame != f.frame);
      if (!used || elbowOf[j] < 0) continue;
      track[j].rot = elbowTwist(pair, track[j]);
      elbowOf[j] = -1;
    }
  }
  // As the player shows 手捩: each keyframe turned onto its fixed axis.
  for (HeldKey& k : track) k.rot = toFloat(shownRotation(pair, true, k.rot));
  for (WristFrame& f : s.frames) {
    Quat twist, rest;
    wristSplit(side, f.hand, &twist, &rest);
    f.hand = quatMultiply(toFloat(rotationAt(track, f.frame)), twist);
  }
}

// The twist of the wrist as it plays at f.
Quat twistAt(int side, uint32_t f) {
  const Track& t = gSides[static_cast<size_t>(side)].wristTrack;
  Quat twist = kIdentity, rest;
  if (!t.empty()) wristSplit(side, toFloat(rotationAt(t, f)), &twist, &rest);
  return twist;
}

// The input curve of a bone over [fa, fb]; false where it holds still or
// the stretch spans its keyframes.
bool curveOver(const Track& k, uint32_t fa, uint32_t fb, Curve* c) {
  const size_t i = keyAfter(k, fa);
  if (i == 0 || i == k.size() || fb > k[i].frame) return false;
  const double span = double(k[i].frame - k[i - 1].frame);
  *c = fa == k[i - 1].frame && fb == k[i].frame
           ? rotationCurve(k[i])
           : cutCurve(rotationCurve(k[i]), (fa - k[i - 1].frame) / span, (fb - k[i - 1].frame) / span);
  return true;
}

// Plans one bone of a side alone: 手首 to play its rest, or 手捩 its own
// rotation ⊗ the wrist's twist; outside the range each as it was.
class BonePlanner {
 public:
  BonePlanner(int side, bool wrist, double bound)
      : side_(side), wrist_(wrist), bound_(bound), own_(wrist ? sideOf().wristTrack : sideOf().handTrack),
        lead_(sideOf().wristTrack) {}

  DQuat target(uint32_t f) const {
    if (!inFrameRange(f)) return rotationAt(own_, f);
    if (!wrist_) return unit(multiply(rotationAt(own_, f), toDouble(twistAt(side_, f))));
    Quat twist, rest;
    wristSplit(side_, toFloat(rotationAt(own_, f)), &twist, &rest);
    return toDouble(rest);
  }

  HeldKey keyAt(uint32_t f) const {
    HeldKey k = keyToCut(own_, f);
    k.frame = f;
    k.pos = positionAt(own_, f);
    k.rot = toFloat(target(f));
    return k;
  }

  // Keys the bone at the worst frame between a and b, and again in each
  // part, until every frame plays within the bound; emits the frames
  // reached in order (not b itself).
  void fill(const HeldKey& a, HeldKey* b, Track* out) {
    auto fitOne = [this](const HeldKey& from, HeldKey* to, uint32_t* at) { return fit(from, to, at); };
    auto key = [this](uint32_t f) { return keyAt(f); };
    auto put = [out](const HeldKey& k) { out->push_back(k); };
    worst_ = std::max(worst_, fillStretch(a, b, bound_, fitOne, key, put));
  }

  double worst() const { return worst_; }

 private:
  WristSide& sideOf() const { return gSides[static_cast<size_t>(side_)]; }

  // Gives b the curve, the bone's own or the wrist's over the stretch, under
  // which it plays best; returns the largest deviation left, at `at`. In
  // the range the target turns with the bone's own rotation and the
  // wrist's twist (for 手首, its rotation and its twist).
  double fit(const HeldKey& a, HeldKey* b, uint32_t* at) {
    const uint32_t fa = a.frame, fb = b->frame;
    Curve curves[2] = {kLinearCurve, kLinearCurve};
    int n = curveOver(own_, fa, fb, &curves[0]) ? 1 : 0;
    if (&lead_ != &own_ && curveOver(lead_, fa, fb, &curves[n])) n++;
    const Arc out = makeArc(toDouble(a.rot), toDouble(b->rot));
    const Segment own = segmentAt(own_, fa), wrist = segmentAt(lead_, fa);
    Turns turns;
    turns.angle[0] = arcDegrees(out);
    turns.angle[1] = own.moving ? arcDegrees(own.arc) : 0;
    if (inFrameRange(fa + 1)) {
      turns.twistOf = 2;
      turns.twistAngle = wrist.moving ? arcDegrees(wrist.arc) : 0;
    }
    double best = -1;
    for (int c = 0; c < std::max(n, 1); c++) {
      auto probe = [&](uint32_t f) {
        const double y = curveProgress(curves[c], double(f - fa) / double(fb - fa));
        const Shown w = showAt(wrist, f);
        Judged j = {deviationOf(target(f), arcAt(out, y)), {y, showAt(own, f).y, w.y}};
        j.reach = wristReach(side_, w.rot);
        return j;
      };
      uint32_t worstAt = 0;
      const double worst = judgeStretch(fa, fb, bound_, turns, probe, &worstAt);
      if (best < 0 || worst < best) {
        best = worst;
        *at = worstAt;
        setRotationCurve(b, curves[c]);
      }
    }
    return best;
  }

  int side_;
  bool wrist_;
  double bound_;
  const Track &own_, &lead_;
  double worst_ = 0;
};

// Plans a side's 手首 (or 手捩) where the wrist is keyed in the range:
// keyed on its own frames, the wrist's in the range and both sides of the
// range's ends, and where it would stray beyond the bound.
bool planBone(int side, bool wrist, double bound) {
  WristSide& s = gSides[static_cast<size_t>(side)];
  std::vector<uint32_t> frames;
  for (const HeldKey& k : wrist ? s.wristTrack : s.handTrack) frames.push_back(k.frame);
  for (const HeldKey& k : s.wristTrack) {
    if (inFrameRange(k.frame)) frames.push_back(k.frame);
  }
  if (!std::any_of(s.wristTrack.begin(), s.wristTrack.end(), [](const HeldKey& k) { return inFrameRange(k.frame); })) {
    return false;
  }
  std::sort(frames.begin(), frames.end());
  const uint32_t first = frames.front(), last = frames.back();
  const uint32_t from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  for (uint64_t end : {uint64_t(from) - 1, uint64_t(from), uint64_t(to), uint64_t(to) + 1}) {
    if (end >= first && end <= last) frames.push_back(static_cast<uint32_t>(end));
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  Track& out = wrist ? s.keptWrist : s.keptHand;
  BonePlanner planner(side, wrist, bound);
  HeldKey prev = planner.keyAt(frames[0]);
  out.push_back(prev);
  for (size_t i = 1; i < frames.size(); i++) {
    HeldKey next = planner.keyAt(frames[i]);
    planner.fill(prev, &next, &out);
    out.push_back(next);
    prev = next;
  }
  s.deviation = std::max(s.deviation, planner.worst());
  return true;
}

void keepSide(int side) {
  WristSide& s = gSides[static_cast<size_t>(side)];
  const double bound = keepPlannedDegrees();
  s.wristPlanned = planBone(side, true, bound * keepShare(true));
  s.handPlanned = s.wristPlanned && !pairIsActive(elbowPair(side)) && planBone(side, false, bound * keepShare(false));
  s.delta = 0;
  if (s.wristPlanned) s.delta += static_cast<int32_t>(s.keptWrist.size() - s.wrists.size());
  if (s.handPlanned) s.delta += static_cast<int32_t>(s.keptHand.size() - s.twists.size());
  for (const HeldKey& k : s.keptWrist) {
    if (inFrameRange(k.frame)) wristCount(side, twistAt(side, k.frame));
  }
}

}  // namespace

double keepShare(bool hand) {
  // Under -W the hand chain is the product of three: the hand's own rest
  // strays least between keyframes, so it takes the smallest share.
  if (gSettings.wristTwist) return hand ? 0.2 : 0.4;
  return gSettings.handTwist ? 0.5 : 1.0;
}

void wristPrepare() {
  for (WristSide& s : gSides) {
    for (const HeldRecord& w : s.wrists) s.wristTrack.push_back(w.key);
    for (const HeldRecord& t : s.twists) {
      s.handTrack.push_back(t.key);
      s.handTrack.back().rot = toFloat(shownRotation(elbowPair(static_cast<int>(&s - gSides.data())), true, t.key.rot));
    }
    makeTrack(&s.wristTrack);
    makeTrack(&s.handTrack);
  }
}

DQuat wristTwisted(int pair, uint32_t f, const DQuat& c) {
  if (!gSettings.wristTwist || pair % 2 == 0 || !inFrameRange(f)) return c;
  return multiply(c, toDouble(twistAt(pair / 2, f)));
}

void wristFrames(int pair, std::vector<uint32_t>* frames) {
  if (!gSettings.wristTwist || pair % 2 == 0) return;
  for (const HeldKey& k : gSides[static_cast<size_t>(pair / 2)].wristTrack) {
    if (inFrameRange(k.frame)) frames->push_back(k.frame);
  }
}

bool wristArc(int pair, uint32_t fa, Segment* wrist) {
  if (!gSettings.wristTwist || pair % 2 == 0 || !inFrameRange(fa + 1)) return false;
  *wrist = segmentAt(gSides[static_cast<size_t>(pair / 2)].wristTrack, fa);
  return true;
}

double wristReach(int side, const DQuat& w) {
  const Quat& r = gPairs[static_cast<size_t>(elbowPair(side))].restQuat;
  const double ax = r.x, ay = r.y, az = r.z, n = std::sqrt(ax * ax + ay * ay + az * az);
  const double along = (w.x * ax + w.y * ay + w.z * az) / n;
  return std::sqrt(along * along + w.w * w.w);
}

bool wristCurve(int pair, uint32_t fa, uint32_t fb, Curve* c) {
  if (!gSettings.wristTwist || pair % 2 == 0) return false;
  return curveOver(gSides[static_cast<size_t>(pair / 2)].wristTrack, fa, fb, c);
}

const Track* wristKept(int side, WristRole role) {
  const WristSide& s = gSides[static_cast<size_t>(side)];
  if (role == WristRole::Wrist) return s.wristPlanned ? &s.keptWrist : nullptr;
  return s.handPlanned ? &s.keptHand : nullptr;
}

const char* wristBone(int side) { return kWristBones[side]; }

WristRole wristRole(const char* name, int* side) {
  if (name[0] != kWristBones[0][0] && name[0] != kWristBones[1][0]) return WristRole::None;
  for (int s = 0; s < kWristSides; s++) {
    *side = s;
    if (std::strcmp(name, kWristBones[s]) == 0) return WristRole::Wrist;
    if (std::strcmp(name, gPairs[static_cast<size_t>(elbowPair(s))].twistBone) == 0) return WristRole::HandTwist;
  }
  return WristRole::None;
}

void wristSplit(int side, Quat q, Quat* twist, Quat* rest) {
  const Quat& r = gPairs[static_cast<size_t>(elbowPair(side))].restQuat;
  const float len = vecLength(r);
  const Quat a = {divF(r.x, len), divF(r.y, len), divF(r.z, len), 0.0f};
  // The twist is q's part along the axis, whichever side it is taken on.
  const float along = static_cast<float>(vecDot(q, a));
  const float m = sqrtToFloat(static_cast<Extended>(q.w) * q.w + static_cast<Extended>(along) * along);
  if (!(m >= kShortLimit && m <= std::numeric_limits<float>::max())) {
    *twist = kIdentity;
    *rest = q;
    return;
  }
  float x = divF(along, m), w = divF(q.w, m);
  if (w < 0.0f) x = -x, w = -w;
  *twist = {mulF(x, a.x), mulF(x, a.y), mulF(x, a.z), w};
  *rest = quatMultiply(quatConjugate(*twist), q);
}

void wristReset() { gSides = {}; }

void wristHold(const BoneKeyframe& kf, int32_t block) {
  int side = 0;
  std::vector<HeldRecord>* list = nullptr;
  switch (wristRole(kf.name.text, &side)) {
    case WristRole::Wrist: list = &gSides[static_cast<size_t>(side)].wrists; break;
    case WristRole::HandTwist: list = &gSides[static_cast<size_t>(side)].twists; break;
    case WristRole::None:
      for (int s = 0; s < kWristSides && list == nullptr; s++) {
        if (std::strcmp(kf.name.text, gPairs[static_cast<size_t>(elbowPair(s))].sourceBone) == 0) {
          list = &gSides[static_cast<size_t>(s)].elbows;
        }
      }
      break;
  }
  if (list == nullptr) return;
  HeldKey k = {kf.frameTime, kf.pos, kf.rot, {}, {}};
  packBlock(kf.bz, &k);
  list->push_back({block, k});
}

void wristPlan() {
  for (int s = 0; s < kWristSides; s++) {
    if (planningPairs()) {
      keepSide(s);
    } else {
      planSide(s);
    }
  }
}

int32_t wristCountDelta() { return gSides[0].delta + gSides[1].delta; }

bool wristAbsorbs(int side, uint32_t frame) { return inFrameRange(frame) && findFrame(side, frame) != nullptr; }

bool wristCarrier(int side, int32_t block, uint32_t frame, Quat* handTwist) {
  const WristFrame* f = findFrame(side, frame);
  if (f == nullptr || f->block != block) return false;
  *handTwist = f->hand;
  return true;
}

void wristCount(int side, const Quat& twist) {
  WristSide& s = gSides[static_cast<size_t>(side)];
  s.splits++;
  s.largest = std::max(s.largest, angleBetween({0, 0, 0, 1}, toDouble(twist)));
}

void wristReport() {
  // "  %s: %ld キーフレームを分けた, 最大の捩り %.3f 度 \n"
  constexpr char kSplitJa[] = "  %s: %ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80"
                              "\x82\xF0\x95\xAA\x82\xAF\x82\xBD, \x8D\xC5\x91\xE5\x82\xCC\x9D\x80\x82\xE8 %.3f \x93\x78 \n";
  const bool ja = plat::langId() == plat::kLangJapanese;
  for (int s = 0; s < kWristSides; s++) {
    const WristSide& side = gSides[static_cast<size_t>(s)];
    gTotals.wristSplit += side.splits;
    if (side.wristPlanned) gTotals.keepAdded += side.delta;
    if (!showAtLeast(1)) continue;
    const char* line = ja ? kSplitJa : "  Wrist.twist %s: %ld keyframes split, largest twist %.3f deg \n";
    std::printf(plat::conText(line), plat::conText(kWristBones[s]), static_cast<long>(side.splits), side.largest);
    if (!side.wristPlanned) continue;
    // "  %s: %+ld キーフレーム, 最大誤差 %.3f 度 \n", as the pairs say it
    constexpr char kKeptJa[] = "  %s: %+ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80, "
                               "\x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78 \n";
    line = ja ? kKeptJa : "  Keep.motion %s: %+ld keyframes, largest deviation %.3f deg \n";
    std::printf(plat::conText(line), plat::conText(kWristBones[s]), static_cast<long>(side.delta), side.deviation);
  }
}

}  // namespace torsel
