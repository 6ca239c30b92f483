// The planner's parts, shared by its rooms: the bones' tracks as planned so
// far, one job (a bone keyed against the bones planned before it), the
// values a job keys, and the job's two halves: judging a stretch
// (job_judge.cpp) and keying it (job_keys.cpp). The sides' jobs are built
// and run in planner.cpp; the frame-by-frame check is check.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "arm/separation.h"
#include "playback/judge.h"
#include "playback/plan_options.h"
#include "playback/player.h"

namespace torsel::planning {

// A planner that rounds otherwise than the players keeps this much of the bound.
inline constexpr double kMargin = 0.99;
// Outside the range every bone plays its input: a curve cut at a range end
// strays from it by its rounding, keyed again beyond this share of the bound.
inline constexpr double kOutsideShare = 0.25;
// Where no turn of a twist bone brings its chain within this share of its
// tolerance, the bone that carries the swing is judged there (to within the
// same share) and the twist bone planned again; the rest of the tolerance
// is the room the twist bone plays within.
inline constexpr double kSwingShare = 0.95;

/// A few bones of a side: a chain in the order they turn, or a list.
struct Bones {
  int at[kArmBones] = {};
  int n = 0;
  Bones() = default;
  Bones(std::initializer_list<int> list) {
    for (int b : list) at[n++] = b;
  }
  const int* begin() const { return at; }
  const int* end() const { return at + n; }
  int indexOf(int bone) const {
    for (int i = 0; i < n; i++) {
      if (at[i] == bone) return i;
    }
    return -1;
  }
};

/// A bone of the group: its input, and its output as planned so far (none
/// until it is planned: it then plays its input).
struct BonePlan {
  Track held;             // the input's keyframes as they stand
  int32_t heldCount = 0;  // its records, several on one frame included
  PlayedTrack in;         // the input as played
  // A motion thinned: the keyframes the thinning kept, as played. They give
  // the bone its first keyframes and the curves of its stretches; the input
  // stays what every chain is judged against.
  Track thinHeld;
  PlayedTrack thinIn;
  bool thinned = false;
  // The keyframes as planned: each one's frame, curve and rotation as played,
  // and as written; the rest of what is written is its input's (writtenKey).
  struct Output {
    PlayedTrack played;
    std::vector<Quat> rot;
    std::vector<uint8_t> verbatim;  // per keyframe: the input's own, on its own stretch
  } out;
  bool planned = false;
  // Planned a side at a time (Planner::plan(o, side)): its keyframes as
  // written, held once its side is planned, which then holds nothing more.
  Track written;
  bool settled = false;
  mutable size_t heldCursor = 0;  // where the last look-up in `held` ended
  /// What the output plays.
  const PlayedTrack& shown() const { return planned ? out.played : in; }
  /// What its first keyframes and curves are taken from: the input, or the
  /// input thinned.
  const PlayedTrack& basis() const { return thinned ? thinIn : in; }
  /// Index of the first held keyframe after f, found from where the last
  /// look-up ended (the planner walks a track mostly forward).
  size_t heldAfter(uint32_t f) const;
  /// The held keyframe on f, or null.
  const HeldKey* heldOn(uint32_t f) const {
    const size_t i = heldAfter(f);
    return i > 0 && held[i - 1].frame == f ? &held[i - 1] : nullptr;
  }
};
/// What a plan works on: the arm group's bones, as held and as planned so
/// far, and the judge with the work it may still do. One a plan.
struct Group {
  std::array<BonePlan, kGroupBones> bones;
  Judge judge;
  CurveMemo curves;  // what the bisecting players make of the curves met
  size_t keyCap = SIZE_MAX;  // the most keyframes the side planned now may write
  // The input's product of a chain at every frame of its span, worked out
  // once a side (the input never changes while it is planned).
  struct InputChain {
    Bones bones;
    uint32_t first = 0;
    std::vector<DQuat> at;
  };
  mutable std::vector<InputChain> inputChains;
  BonePlan& operator[](int bone) { return bones[static_cast<size_t>(bone)]; }
  const BonePlan& operator[](int bone) const { return bones[static_cast<size_t>(bone)]; }
  /// True while the side of `bone` may write one keyframe more (with
  /// `pending` not yet written); once it may not, the judge's work is spent:
  /// nothing more is keyed, and what strays is reported.
  bool mayKey(int bone, size_t pending = 0) {
    size_t keys = pending;
    for (int b = groupBone(bone / kArmBones, kArm), e = b + kArmBones; b < e; b++) keys += bones[size_t(b)].out.rot.size();
    if (keys < keyCap) return true;
    judge.setWork(0);
    return false;
  }
};
/// Keyframe i of a bone's output as it is written: the input's keyframe whose
/// stretch it cuts (its other channels and kept bytes), at its frame, with
/// its position there, its rotation and its curve.
HeldKey writtenKey(const BonePlan& b, size_t i);


/// What a bone is keyed with in the range (outside it: its input).
enum class Value {
  Kept,      // a limb: its part of method 4's split of what the chain plays
  Twist,     // a twist bone: the turn about the axis of what the chain needs from it
  Residual,  // a fold's limb: what the chain needs from it
  Identity,  // a fold's twist bone
  Rest,      // the wrist: what the hand needs from 手捩 and 手首, less its turn about the axis
};

/// How a job judges its stretches in the range.
enum class Judging {
  None,   // not judged: keyed at its frames only
  Swing,  // what the twist bone cannot mend: the distance to the turns about the axis in its slot
  Chain,  // the whole chain
};

/// One bone planned against the bones planned before it.
struct Job {
  int bone = 0;
  Judging judge = Judging::None;
  Bones chain = {};   // the chain's bones, in the order they turn
  Bones events = {};  // bones whose keyframes in the range key this one too
  Bones leads = {};   // bones whose input curves its stretches may follow
  Bones span = {};    // bones whose keyframes beyond a range end pin it there too (besides chain and events)
  Value first = Value::Kept;  // at its own keyframes in the range
  Value other = Value::Kept;  // elsewhere in the range
  Vec3 axis = {};             // of length 1: the twist axis
  Vec3 splitAxis = {};        // Kept: the pair's axis, as method 4 takes it
  Side side = Side::Left;     // Kept: the pair's side
  int slot = -1;              // Swing, Rest: the chain's index of the twist bone
  int mender = -1;            // a twist job: the bone keyed where it cannot mend the chain
  bool dropInRange = false;   // a fold's twist bone: its keyframes in the range go
  const std::vector<uint32_t>* swingAt = nullptr;  // judged by swing on stretches holding these frames
  double tol = 0;
};

/// What a job found: frames where the swing strays more than a twist can mend.
struct JobResult {
  std::vector<uint32_t> mend;
};

/// A bone's plan made once, to be made again where the bones before it
/// changed: over `changed` (open spans) it is planned anew, elsewhere taken over.
struct Earlier {
  BonePlan::Output plan;
  std::vector<std::pair<uint32_t, uint32_t>> changed;
};

inline bool inRange(const PlanOptions& o, uint32_t f) { return o.from <= f && f <= o.to; }

/// The product of what the bones play at f: their input, or their output.
DQuat chainAt(const Group& g, const Bones& bones, bool output, uint32_t f);
/// The job's value at f (v); with `needed`, also what the chain needs from
/// the bone there, where the value is taken from that.
Quat valueAt(const Group& g, const Job& j, Value v, uint32_t f, DQuat* needed = nullptr, bool* hasNeeded = nullptr);

/// A planned keyframe: its frame, rotation and curve as written (the rest
/// of `raw` is unused), its rotation as played.
struct Key {
  HeldKey raw;
  Quat shown;
  bool verbatim = false;  // the input's own keyframe as it stands
  bool known = false;     // d known: how far it leaves the chain at its own frame
  double d = 0;
};

/// What judging a stretch found: the part that strays the most beyond its
/// tolerance, to be keyed.
struct Found {
  Verdict v;
  double excess = -INFINITY;  // v's deviation less its tolerance; infinite when unproven
};

/// The judging half of a job: how far the bone strays over a stretch, with
/// the bones planned before it.
class JobJudge {
 public:
  JobJudge(Group& g, const PlanOptions& o, const Job& j);
  /// Judges [a, b] with the bone's own output `own`, in parts cut wherever a
  /// rotation judged is keyed and at the range's ends.
  Found judge(uint32_t a, uint32_t b, const Segment& own) const;
  /// The deviation at f with the bone showing q there.
  double deviationAt(uint32_t f, const Quat& q) const;
  /// Judges the stretch from ka to kb, kb's curve given (the frames between:
  /// the keyframes themselves are the job's to make what they must be).
  Found judgeStretchTo(const Key& ka, const Key& kb) const;
  /// How the stretches at hand are judged: the job's way, or for a bone
  /// that carries a swing, by swing or not at all, stretch by stretch.
  void setJudging(Judging judging) { judging_ = judging; }
  Judging judging() const { return judging_; }
  bool inside(uint32_t s, uint32_t e) const { return s >= o_.from && e <= o_.to; }
  double tolOf(bool in) const { return in ? j_.tol : j_.tol * kOutsideShare; }
  /// The first frame strictly inside (a, b) where the swing is to be judged, or null.
  const uint32_t* swingAtIn(uint32_t a, uint32_t b) const;
  /// The bone's own output from ka to kb along curve c.
  static Segment along(const Key& ka, const Key& kb, Curve c);

 private:
  // The rotations of the part judged now, followed from part to part of a
  // stretch, with the deviation at the last part's end where known.
  struct Parts {
    Segment seg[kMostMovers];
    const PlayedTrack* from[kMostMovers] = {};  // each one's track (null: the bone's own)
    int n = 0, nIn = 0;
    int madeFor = -1;  // inside the range (1) or not (0); -1: to be made anew
    uint32_t lastAt = UINT32_MAX;
    double lastD = 0;
  };
  int movers(uint32_t s, bool in, const Segment& own, Segment* seg, const PlayedTrack** from, int* nIn) const;
  void cutsOver(uint32_t a, uint32_t b) const;
  void follow(Parts* p, uint32_t s, bool in, const Segment& own) const;
  Verdict judgePart(Parts* p, uint32_t s, uint32_t e, bool in, double tol) const;
  Judged probe(const Segment* seg, int n, int nIn, bool in, uint32_t f) const;
  double deviationOver(const Segment* seg, int n, int nIn, bool in, uint32_t f) const;
  bool ownAfterSlot() const;

  Group& g_;
  const PlanOptions& o_;
  const Job& j_;
  const BonePlan& b_;
  Judging judging_;
  mutable std::vector<uint32_t> cuts_;  // kept for their room
};

/// Plans one bone: its first keyframes, then more wherever it strays.
JobResult runJob(Group& g, const PlanOptions& o, const Job& j, const Earlier* earlier = nullptr);

// The plan's verdict, made true: every chain the plan answers for is played
// with the input and the output at every frame of its span, and where a
// frame strays beyond the chain's share of the bound, the chain's bones are
// keyed there with what makes the chain exact and it is played again. Where
// a side's spans hold more frames than the check plays, the longest
// stretches are proven by the judge instead (judge.h).
/// Checks the chains of `side` the plan answers for (reports[c].planned),
/// keys where they stray (with `mend`), and sets each report's worst, its
/// frame and whether it is beyond.
void checkSide(Group& g, const PlanOptions& o, int side, bool mend, ChainReport* reports);

}  // namespace torsel::planning
