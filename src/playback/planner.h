// Which keyframes to write so that every chain of the arm group plays within
// a bound at every frame, as MMD plays it on the model in use: keep the
// motion (-K), fold the twist back (-U), and with -K the wrist (-W).
//
// A player turns a limb and its twist bone each on its own between their
// keyframes, so a split exact at the keyframes drifts between them. Each
// chain is planned bone by bone, each bone against what the bones planned
// before it play: a limb first, keyed where its swing strays from the split
// of what the input plays; then the chain's last bone, keyed where the whole
// chain strays, with what the chain needs there (its turn about the axis,
// for a twist bone). A keyframe is written only where a bone needs it, and
// no bone waits on one planned after it. Outside the frame range every bone
// plays its input: its own keyframes as they stand, keyed again at the
// range's ends and wherever a curve cut there strays. Then every chain is
// checked frame by frame, and what the run says of it is what it plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "format/key_block.h"
#include "playback/plan_options.h"
#include "playback/player.h"

namespace torsel {

namespace planning {
struct Group;
}

/// One plan of the arm group: made for a motion, handed its keyframes,
/// planned, read back as it is written, then dropped.
class Planner {
 public:
  Planner();
  ~Planner();
  Planner(const Planner&) = delete;
  Planner& operator=(const Planner&) = delete;

  /// Holds a keyframe of an arm-group bone, in file order; or all its records.
  void hold(int bone, const HeldKey& k);
  void hold(int bone, Track records);
  /// Holds the records of the bone the motion's thinning kept, in file order
  /// (their curves fitted): a bone so held takes its first keyframes and
  /// curves from these, and is still judged against the input.
  void holdThinned(int bone, Track records);
  /// Plans every chain that has a keyframe in the range.
  void plan(const PlanOptions& o);
  /// Plans the side's chains alone, from the keyframes of its bones held so
  /// far (the other side's may be held after); then it keeps of the side
  /// only its keyframes as written. Either this for each side, or plan(o).
  void plan(const PlanOptions& o, int side);
  /// True when the bone's records are replaced by its planned track.
  bool replaces(int bone) const;
  /// The bone's planned keyframes, as they are written.
  size_t keyCount(int bone) const;
  HeldKey key(int bone, size_t i) const;
  /// Records of the bone held (and replaced where planned).
  int32_t heldCount(int bone) const;
  const ChainReport& report(int side, Chain chain) const { return reports_[side][chain]; }

 private:
  std::unique_ptr<planning::Group> group_;
  ChainReport reports_[kArmSides][kChains];
};

}  // namespace torsel
