// Thinning a motion: every bone's keyframes held as the file gives them,
// then each bone thinned so that at every frame it plays within the bound
// of what it played (its rotation, and its position within the distance),
// with curves fitted where keyframes go; a check plays input and output at
// every frame where they differ and mends what strays. Made for one file,
// used, dropped.
//
// How a pass uses it: hold every bone record in file order (its name up to
// the first NUL, and heldKeyOf(record)); run(); then, writing the records
// again in file order, next(name) says of each whether it is written and
// with which 16 parameters (its block rebuilt from them and its own free
// bytes, as unpackBlock does). Keyframes outside [from, to] and the motion
// there stay as they are; of several keyframes of a bone on one frame in the
// range, only the last in the file is written (the one players show). A bone
// whose keyframes another pass writes can be thinned only to start it
// (seed), handed over (records) and let go (release); one written as it
// stands after all, restored (restore).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/key_block.h"
#include "playback/player.h"
#include "thin/thin_options.h"

namespace torsel::thin {

class BoneThinner;

class Thinner {
 public:
  explicit Thinner(const ThinOptions& o);
  Thinner(const Thinner&) = delete;
  Thinner& operator=(const Thinner&) = delete;

  /// Holds a bone keyframe, in file order: its frame, position, rotation,
  /// parameters and the free bytes of its block.
  void hold(std::string_view bone, const HeldKey& k);
  /// The bone's fixed axis in the model in use: its keyframes are played
  /// turned onto it, as MMD plays them.
  void setAxis(std::string_view bone, const AxisRule& rule);
  /// The bone thinned within `degrees` of its rotation, not the options'
  /// bound (its position within their distance still), for another pass
  /// that starts from what it keeps and judges what it writes itself: not
  /// checked.
  void seed(std::string_view bone, double degrees);

  /// Thins every bone held, checks it, mends it; what it found. Once.
  ThinReport run();

  /// After run: each record of the bone in turn, in file order.
  struct Written {
    bool kept = true;
    bool changed = false;  // its curves fitted anew: written with params (else as it stands)
    std::array<uint8_t, 16> params{};
  };
  Written next(std::string_view bone);

  /// The bones in the order they first came (a Stray names one by its place).
  uint32_t boneCount() const { return static_cast<uint32_t>(bones_.size()); }
  const std::string& boneName(uint32_t id) const { return bones_[id].name; }
  /// The place of the bone among them, or UINT32_MAX.
  uint32_t boneId(std::string_view bone) const { return find(bone); }
  /// After run: what became of a bone (by its place).
  struct Outcome {
    uint32_t held = 0, written = 0;
    uint32_t odd = 0;                   // kept as they stand, with their neighbours (ThinReport::odd)
    double worst = 0, farthest = 0;     // as the check measured it (a seed's: none)
  };
  const Outcome& outcome(uint32_t id) const { return bones_[id].outcome; }
  /// After run: a bone's records in file order as the input holds them, or
  /// those written with their curves (their blocks' free bytes too), for
  /// checking chains of bones (makeTrack) and handing them over. None once
  /// released.
  Track records(std::string_view bone, bool output) const;
  /// After run: the bone's keyframes let go, what becomes of each kept.
  void release(std::string_view bone);
  /// After run: the bone written as it stands, every record.
  void restore(std::string_view bone);

 private:
  // A keyframe held: 36 bytes, its curves a place in the table of the
  // file's distinct parameters and free bytes (most files hold a few).
  struct Key {
    uint32_t frame;
    Quat rot;
    Vec3 pos;
    uint32_t curves;  // kDropped set: not written
  };
  static constexpr uint32_t kDropped = 1u << 31;
  // The 16 parameters of a block and the bytes a rebuilt block keeps.
  using Curves = std::array<uint8_t, 24>;
  // A bone's keyframes in file order, in chunks of 1, 2, 4, ... 128, then
  // 256: little room lost for a bone of one keyframe or of a million. Once
  // released, only the curves of each stay.
  struct Bone {
    std::string name;
    AxisRule rule;
    double bound = -1;  // a seed's (below 0: none, the options')
    std::vector<std::unique_ptr<Key[]>> chunks;
    std::vector<uint32_t> released;
    uint32_t count = 0, cursor = 0;
    std::vector<std::pair<uint32_t, uint32_t>> inputCurves;  // of each keyframe refit: its place, its own curves
    Outcome outcome;
  };
  static Key& keyOf(const Bone& b, uint32_t i);
  static uint32_t curvesOf(const Bone& b, uint32_t i);
  static uint32_t ownCurves(const Bone& b, uint32_t i);
  uint32_t idOf(std::string_view bone);
  uint32_t find(std::string_view bone) const;
  uint32_t intern(const uint8_t* params, const uint8_t* kept);
  // The bone's keyframes by frame, one a frame: their places in file order.
  std::vector<uint32_t> byFrame(const Bone& b) const;
  uint64_t dropShadowed(Bone* b, const std::vector<uint32_t>& order) const;
  void thinBone(uint32_t id, BoneThinner* thinner, ThinReport* r);

  ThinOptions o_;
  std::vector<Bone> bones_;
  std::vector<uint32_t> names_;  // open addressing over bones_, by name
  std::vector<Curves> table_;
  std::vector<uint32_t> slots_;  // open addressing over table_
  mutable uint32_t last_ = 0;    // the bone found last: the next record is mostly its, or the next one's
  uint32_t lastCurves_ = 0;      // and the curves interned last
  bool ran_ = false;
};

}  // namespace torsel::thin
