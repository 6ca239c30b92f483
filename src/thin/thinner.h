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
// range, only the last in the file is written (the one players show).
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

  /// Holds a bone keyframe, in file order: its frame, position, rotation
  /// and parameters (k.kept is not held: the record keeps its own).
  void hold(std::string_view bone, const HeldKey& k);
  /// The bone's fixed axis in the model in use: its keyframes are played
  /// turned onto it, as MMD plays them.
  void setAxis(std::string_view bone, const AxisRule& rule);

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
  /// After run: a bone's keyframes as the input or the output plays them
  /// (by frame, one a frame), for checking chains of bones.
  Track track(std::string_view bone, bool output) const;

 private:
  // A keyframe held: 36 bytes, its curves a place in the table of the
  // file's distinct parameters (most files hold a few).
  struct Key {
    uint32_t frame;
    Quat rot;
    Vec3 pos;
    uint32_t curves;  // kDropped set: not written
  };
  static constexpr uint32_t kDropped = 1u << 31;
  // A bone's keyframes in file order, in chunks of 1, 2, 4, ... 128, then
  // 256: little room lost for a bone of one keyframe or of a million.
  struct Bone {
    std::string name;
    AxisRule rule;
    std::vector<std::unique_ptr<Key[]>> chunks;
    uint32_t count = 0, cursor = 0;
    std::vector<std::pair<uint32_t, uint32_t>> inputCurves;  // of each keyframe refit: its place, its own curves
  };
  static Key& keyOf(const Bone& b, uint32_t i);
  uint32_t idOf(std::string_view bone);
  uint32_t find(std::string_view bone) const;
  uint32_t intern(const uint8_t* params);
  // The bone's keyframes by frame, one a frame: their places in file order.
  std::vector<uint32_t> byFrame(const Bone& b) const;
  void thinBone(uint32_t id, BoneThinner* thinner, ThinReport* r);

  ThinOptions o_;
  std::vector<Bone> bones_;
  std::vector<uint32_t> names_;  // open addressing over bones_, by name
  std::vector<std::array<uint8_t, 16>> table_;
  std::vector<uint32_t> slots_;  // open addressing over table_
  uint32_t last_ = 0;            // the bone held last: the next record is mostly its too
  uint32_t lastCurves_ = 0;      // and the curves interned last
  bool ran_ = false;
};

}  // namespace torsel::thin
