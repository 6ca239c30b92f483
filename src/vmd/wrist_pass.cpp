#include "vmd/wrist_pass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "arm/separation.h"
#include "pass/split_lines.h"
#include "platform/platform.h"
#include "playback/player.h"
#include "run/run_settings.h"

namespace torsel {
namespace {

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
  // 手捩 and 手首 keyed again at the range's ends with what they played
  // without -W (written with the first carrier, and with the last), and the
  // records after the range whose stretches then start at its end.
  WristPin pins[4];
  int before = 0, pinCount = 0;
  struct {
    int32_t block;
    Curve curve;
  } recurves[2];
  int recurveCount = 0;
  int32_t delta = 0, splits = 0;
  double largest = 0;
};
std::array<WristSide, kWristSides> gSides;

bool byFrame(const WristFrame& a, const WristFrame& b) { return a.frame < b.frame; }

const WristFrame* findFrame(int side, uint32_t frame) {
  const std::vector<WristFrame>& f = gSides[static_cast<size_t>(side)].frames;
  auto it = std::lower_bound(f.begin(), f.end(), WristFrame{frame, 0, kIdentity}, byFrame);
  return it != f.end() && it->frame == frame ? &*it : nullptr;
}

// The twist the elbow's split gives a 手捩 keyframe, with its warnings
// but not its lines.
Quat elbowTwist(int pair, const HeldKey& k) {
  SeparationInput in = pairSeparationInput(pair, k.frame, k.rot, gSettings);
  in.quiet = true;
  SplitTrace warnings;
  const Quat twist = separateTwist(in, &warnings).twist;
  printSplit(warnings, {});
  return twist;
}

// A bone keyed at `frame` with what `track` (as the conversion writes it
// without -W, as played) shows there, cutting the stretch from `from`.
HeldKey pinOf(const Track& raw, const Track& played, uint32_t frame, uint32_t from) {
  HeldKey k = keyToCut(raw, frame);
  k.frame = frame;
  k.pos = positionAt(raw, frame);
  k.rot = toFloat(rotationAt(played, frame));
  Curve c = kLinearCurve;
  curveOver(played, from, frame, &c);
  setRotationCurve(&k, c);
  return k;
}

// The records of one bone as a track, with each keyframe's record.
void trackOf(const std::vector<HeldRecord>& records, Track* track, std::vector<int32_t>* blocks) {
  std::vector<HeldRecord> sorted = records;
  keepLastOnFrame(&sorted, [](const HeldRecord& r) { return r.key.frame; });
  for (const HeldRecord& r : sorted) {
    track->push_back(r.key);
    blocks->push_back(r.block);
  }
}

// The side's wrist frames in the range, one a frame: of several records on
// one frame the last in the file.
void collectFrames(WristSide* s) {
  s->frames.clear();
  for (const HeldRecord& w : s->wrists) {
    if (inFrameRange(w.key.frame)) s->frames.push_back({w.key.frame, w.block, w.key.rot});
  }
  keepLastOnFrame(&s->frames, [](const WristFrame& f) { return f.frame; });
}

// 手捩 as the conversion writes it without -W, one keyframe a frame: per
// keyframe the elbow keyframe whose twist it is still to be (or -1) and the
// input's 手捩 record (or 0).
struct HandTwistTrack {
  Track track;
  std::vector<int32_t> elbowOf, blockOf;
};

// The input's 手捩 records but those merged at the start frame and, where
// the elbows are split, a twist keyframe just before each elbow keyframe in
// the range. Returns how many of them the wrist's frames absorb.
int32_t handTwistWithoutW(int side, HandTwistTrack* h) {
  const WristSide& s = gSides[static_cast<size_t>(side)];
  const int pair = elbowPair(side);
  struct Entry {
    HeldKey key;
    int64_t order;
    int32_t elbow;  // index into elbows, or -1
    int32_t block;  // the input's 手捩 record, or 0
  };
  std::vector<Entry> entries;
  for (const HeldRecord& t : s.twists) {
    if (!pairDropsAtFrom(pair, t.key.frame, gSettings)) {
      entries.push_back({.key = t.key, .order = 2 * int64_t(t.block) + 1, .elbow = -1, .block = t.block});
    }
  }
  if (pairIsActive(pair, gSettings)) {
    for (size_t i = 0; i < s.elbows.size(); i++) {
      const HeldRecord& e = s.elbows[i];
      if (inFrameRange(e.key.frame)) {
        entries.push_back({.key = e.key, .order = 2 * int64_t(e.block), .elbow = int32_t(i), .block = 0});
      }
    }
  }
  int32_t absorbed = 0;
  for (const Entry& e : entries) absorbed += inFrameRange(e.key.frame) && findFrame(side, e.key.frame) != nullptr;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.order < b.order; });
  keepLastOnFrame(&entries, [](const Entry& e) { return e.key.frame; });
  for (const Entry& e : entries) {
    h->track.push_back(e.key);
    h->elbowOf.push_back(e.elbow);
    h->blockOf.push_back(e.block);
  }
  return absorbed;
}

// 手捩 and 手首 keyed at the range's ends that cut them (`before`, `after`)
// with what they played without -W; `played` is h's track as the player shows it.
void pinEnds(WristSide* s, const HandTwistTrack& h, const Track& played, bool before, bool after) {
  const uint32_t from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  Track wrists;
  std::vector<int32_t> wristBlocks;
  trackOf(s->wrists, &wrists, &wristBlocks);
  // A bone's pin at a range end, unless keyed there; after the range the
  // record that follows starts its stretch at the pin.
  auto pin = [&](const Track& raw, const Track& shown, const std::vector<int32_t>& blocks, bool wrist,
                 uint32_t frame, uint32_t last) {
    size_t on;
    if (keyOn(raw, frame, &on)) return;
    s->pins[s->pinCount++] = {pinOf(raw, shown, frame, last), wrist};
    const size_t next = keyAfter(raw, frame);
    if (frame == from - 1 || next == raw.size() || blocks[next] == 0) return;
    Curve c = kLinearCurve;
    curveOver(shown, frame, raw[next].frame, &c);
    s->recurves[s->recurveCount++] = {blocks[next], c};
  };
  auto lastBefore = [](const Track& t, uint32_t frame, uint32_t otherwise) {
    const size_t i = keyAfter(t, frame);
    return i > 0 ? t[i - 1].frame : otherwise;
  };
  if (before) {
    pin(h.track, played, h.blockOf, false, from - 1, lastBefore(h.track, from - 1, from - 1));
    pin(wrists, wrists, wristBlocks, true, from - 1, lastBefore(wrists, from - 1, from - 1));
  }
  s->before = s->pinCount;
  if (after) {
    // The stretches up to the pins start at the last keyframes written in the range.
    const uint32_t last = s->frames.back().frame;
    pin(h.track, played, h.blockOf, false, to + 1, std::max(last, lastBefore(h.track, to, last)));
    pin(wrists, wrists, wristBlocks, true, to + 1, lastBefore(wrists, to, last));
  }
}

void planSide(int side) {
  WristSide& s = gSides[static_cast<size_t>(side)];
  const int pair = elbowPair(side);
  collectFrames(&s);
  HandTwistTrack h;
  const int32_t absorbed = handTwistWithoutW(side, &h);
  Track& track = h.track;

  // The range's ends cut the motion where anything of the hand is keyed
  // beyond them: there 手捩 and 手首 go back to what they played without -W.
  const uint32_t from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  bool before = false, after = false;
  for (const std::vector<HeldRecord>* records : {&s.wrists, &s.twists, &s.elbows}) {
    for (const HeldRecord& r : *records) {
      before = before || r.key.frame < from;
      after = after || r.key.frame > to;
    }
  }
  before = before && !s.frames.empty();
  after = after && !s.frames.empty();

  // What 手捩 plays at each wrist frame and range end: the elbow's twists
  // split only where they take part.
  std::vector<uint32_t> needed;
  for (const WristFrame& f : s.frames) needed.push_back(f.frame);
  if (before) needed.push_back(from - 1);
  if (after) needed.push_back(to + 1);
  for (uint32_t frame : needed) {
    const size_t i = keyAfter(track, frame);
    for (size_t j : {i - 1, i}) {
      const bool used = j == i - 1 ? i > 0 : i < track.size() && (i == 0 || track[i - 1].frame != frame);
      if (!used || h.elbowOf[j] < 0) continue;
      track[j].rot = elbowTwist(pair, track[j]);
      h.elbowOf[j] = -1;
    }
  }
  // As the player shows 手捩: each keyframe turned onto its fixed axis.
  Track played = track;
  for (HeldKey& k : played) k.rot = toFloat(shownRotation(pair, true, k.rot));
  for (WristFrame& f : s.frames) {
    Quat twist, rest;
    wristSplit(side, f.hand, &twist, &rest);
    f.hand = quatMultiply(toFloat(rotationAt(played, f.frame)), twist);
  }
  pinEnds(&s, h, played, before, after);
  s.delta = static_cast<int32_t>(s.frames.size()) - absorbed + s.pinCount;
}

// A 手捩 record (the input's, or an elbow's twist) at `frame` in the
// range, replaced by the one the wrist keys there.
bool takesFrame(int side, uint32_t frame) { return inFrameRange(frame) && findFrame(side, frame) != nullptr; }

// For an in-range 手首 record: where it is the last on its frame, the 手捩
// keyframe it carries and the pins written with it.
void carry(int side, int32_t block, uint32_t frame, WristRecord* r) {
  const WristSide& s = gSides[static_cast<size_t>(side)];
  const WristFrame* f = findFrame(side, frame);
  if (f == nullptr || f->block != block) return;
  r->carrier = true;
  r->hand = f->hand;
  r->pins = s.pins;
  r->before = f == &s.frames.front() ? s.before : 0;
  r->after = f == &s.frames.back() ? s.pinCount - s.before : 0;
  if (r->before == 0) r->pins += s.before;
}

// For the first 手捩 or 手首 record after the range: true with the curve of
// its stretch, which now starts at the range's end.
bool recurveOf(int side, int32_t block, Curve* curve) {
  const WristSide& s = gSides[static_cast<size_t>(side)];
  for (int i = 0; i < s.recurveCount; i++) {
    if (s.recurves[i].block != block) continue;
    *curve = s.recurves[i].curve;
    return true;
  }
  return false;
}

}  // namespace

void wristReset() { gSides = {}; }

void wristHold(const BoneKeyframe& kf, int32_t block) {
  const KnownBone bone = knownBone(kf.name.text);
  WristSide& s = gSides[static_cast<size_t>(bone.side)];
  std::vector<HeldRecord>* list = bone.role == BoneRole::Wrist       ? &s.wrists
                                  : bone.role == BoneRole::HandTwist ? &s.twists
                                  : bone.role == BoneRole::Elbow     ? &s.elbows
                                                                     : nullptr;
  if (list != nullptr) list->push_back({block, heldKeyOf(kf)});
}

void wristPlan() {
  for (int s = 0; s < kWristSides; s++) planSide(s);
}

int32_t wristCountDelta() { return gSides[0].delta + gSides[1].delta; }
int32_t wristCountDeltaOf(int side) { return gSides[static_cast<size_t>(side)].delta; }

WristRecord wristRecord(int32_t block, const BoneKeyframe& kf, const KnownBone& bone) {
  WristRecord r;
  if (bone.role == BoneRole::Elbow) r.twistTaken = takesFrame(bone.side, kf.frameTime);
  if (bone.role == BoneRole::HandTwist) r.dropped = takesFrame(bone.side, kf.frameTime);
  if (bone.role == BoneRole::Wrist && inFrameRange(kf.frameTime)) {
    Quat twist;
    wristSplit(bone.side, kf.rot, &twist, &r.rest);
    r.split = true;
    WristSide& s = gSides[static_cast<size_t>(bone.side)];
    s.splits++;
    s.largest = std::max(s.largest, angleBetween(kIdentityD, toDouble(twist)));
    carry(bone.side, block, kf.frameTime, &r);
  }
  if ((bone.role == BoneRole::Wrist || bone.role == BoneRole::HandTwist) && !r.dropped) {
    r.recurved = recurveOf(bone.side, block, &r.curve);
  }
  return r;
}

void wristSetCounts(int side, int32_t splits, double largest) {
  gSides[static_cast<size_t>(side)].splits = splits;
  gSides[static_cast<size_t>(side)].largest = largest;
}

void wristReport() {
  // "  %s: %ld キーフレームを分けた, 最大の捩り %.3f 度 \n"
  constexpr char kSplitJa[] = "  %s: %ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80"
                              "\x82\xF0\x95\xAA\x82\xAF\x82\xBD, \x8D\xC5\x91\xE5\x82\xCC\x9D\x80\x82\xE8 %.3f \x93\x78 \n";
  for (int s = 0; s < kWristSides; s++) {
    const WristSide& side = gSides[static_cast<size_t>(s)];
    gTotals.wristSplit += side.splits;
    if (!showAtLeast(1)) continue;
    const char* line = plat::say(kSplitJa, "  Wrist.twist %s: %ld keyframes split, largest twist %.3f deg \n");
    std::printf(line, plat::conText(sjisName(s, BoneRole::Wrist)), static_cast<long>(side.splits), side.largest);
  }
}

}  // namespace torsel
