// The check: every chain the plan answers for played at every frame (see
// plan_parts.h), keyed where it strays and played again.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "playback/plan_parts.h"

namespace torsel {
namespace planning {
namespace {

// Rounds of keying and playing again; what still strays then is reported.
constexpr int kCheckRounds = 4;
// The most frames the check plays on one side, all its chains and rounds together.
constexpr uint64_t kMostCheckedFrames = uint64_t(1) << 18;

// A chain as the check sees it: its bones, and how its bones are keyed
// where it strays.
struct CheckedChain {
  Chain chain;
  Bones bones;
  int carrier, twist;  // keyed first with what the chain needs, then the twist bone
  Value carried, twisted;
  int slot = -1;       // the twist bone's index, where it stands before the carrier
  int pair = 0;        // whose axis
};

// The chains of a side the plan answers for.
int chainsOf(const PlanOptions& o, int side, const ChainReport* reports, CheckedChain* out) {
  auto b = [&](ArmBone a) { return groupBone(side, a); };
  int n = 0;
  const Value limb = o.fold ? Value::Residual : Value::Kept, twist = o.fold ? Value::Identity : Value::Twist;
  if (reports[kArmChain].planned) {
    out[n++] = {.chain = kArmChain, .bones = {b(kArm), b(kArmTwist)}, .carrier = b(kArm), .twist = b(kArmTwist),
                .carried = limb, .twisted = twist};
  }
  if (!o.wrist && reports[kElbowChain].planned) {
    out[n++] = {.chain = kElbowChain, .bones = {b(kElbow), b(kHandTwist)}, .carrier = b(kElbow),
                .twist = b(kHandTwist), .carried = limb, .twisted = twist, .pair = 1};
  }
  if (o.wrist && (reports[kHandChain].planned || reports[kArmChain].planned)) {
    out[n++] = {.chain = kHandChain, .bones = {b(kArm), b(kArmTwist), b(kElbow), b(kHandTwist), b(kWrist)},
                .carrier = b(kWrist), .twist = b(kHandTwist), .carried = Value::Rest, .twisted = Value::Twist,
                .slot = kHandTwist, .pair = 1};
  }
  return n;
}

// Every frame keyed by a bone of the chain, input or output, in order.
std::vector<uint32_t> cutsOf(const Group& g, const Bones& bones) {
  std::vector<uint32_t> cuts, merged;
  for (int b : bones) {
    const BonePlan& p = g[b];
    for (const PlayedTrack* t : {&p.in, &p.shown()}) {  // each in order already: merged in
      merged.clear();
      auto frameOf = [](const PlayedKey& k) { return k.frame; };
      std::vector<uint32_t> frames(t->keys.size());
      std::transform(t->keys.begin(), t->keys.end(), frames.begin(), frameOf);
      std::set_union(cuts.begin(), cuts.end(), frames.begin(), frames.end(), std::back_inserter(merged));
      cuts.swap(merged);
    }
  }
  return cuts;
}

// The longest stretch played frame by frame: all of them where the frames
// the check may still play are enough, else the longest that keeps within them.
uint64_t longestPlayed(const std::vector<std::vector<uint32_t>>& cuts, uint64_t frames) {
  uint64_t all = 0;
  for (const auto& c : cuts) all += c.empty() ? 0 : uint64_t(c.back() - c.front()) + 1;
  if (all <= frames) return UINT64_MAX;
  for (uint64_t longest = kMostCheckedFrames; longest >= 1; longest /= 2) {
    uint64_t played = 0;
    for (const auto& c : cuts) {
      for (size_t i = 0; i + 1 < c.size(); i++) {
        if (c[i + 1] - c[i] <= longest) played += c[i + 1] - c[i];
      }
    }
    if (played <= frames) return longest;
  }
  return 0;
}

// What playing a chain found: the largest deviation and where; the frames
// to key (the worst of each stretch beyond the share); a stretch unproven;
// how far the bisecting players misread the input at the worst frame.
struct Played {
  double worst = 0;
  uint32_t at = 0;
  bool unproven = false;
  double misread = 0;
  std::vector<uint32_t> beyond;
  uint64_t frames = 0;  // played
};

double deviationAt(const Group& g, const Bones& bones, uint32_t f) {
  return deviationOf(chainAt(g, bones, false, f), chainAt(g, bones, true, f));
}

// The same as the players that bisect the curve read both (player.h).
double bisectedDeviationAt(const Group& g, const Bones& bones, uint32_t f) {
  DQuat in = kIdentityD, out = kIdentityD;
  for (int b : bones) {
    in = multiply(in, bisectedRotationAt(g[b].in, f));
    out = multiply(out, bisectedRotationAt(g[b].shown(), f));
  }
  return deviationOf(in, out);
}

// How far the players that bisect the curve show the input itself from
// where MMD shows it: what no output can mend.
double inputMisreadAt(const Group& g, const Bones& bones, uint32_t f) {
  DQuat exact = kIdentityD, bisected = kIdentityD;
  for (int b : bones) {
    exact = multiply(exact, rotationAt(g[b].in, f));
    bisected = multiply(bisected, bisectedRotationAt(g[b].in, f));
  }
  return deviationOf(exact, bisected);
}

// How far the bisected reading of the chain can lie from the exact one
// (in degrees: each track's stretch, its spread times its turn, 1 % more
// for the blend of short turns) inside the stretch from a to b, and at b.
struct Slack {
  double inside = 0, atEnd = 0;
};
Slack bisectionSlack(Group& g, const Bones& bones, uint32_t a, uint32_t b) {
  Slack slack;
  constexpr double kDegreesTwice = 2 * kDegrees * 1.01;
  for (int bone : bones) {
    const BonePlan& plan = g[bone];
    for (const PlayedTrack* t : {&plan.in, &plan.shown()}) {
      const std::vector<PlayedKey>& k = t->keys;
      const size_t i = keyAfter(*t, a);
      if (i == k.size()) continue;  // held after the last: read alike
      if (i == 0) {  // before the first: read as the start of the stretch after it
        const double start = k.size() > 1 ? g.curves.start(k[1].curve) * k[1].theta * kDegreesTwice : 0;
        slack.inside += start, slack.atEnd += k[0].frame == b ? 0 : start;
        continue;
      }
      const double inside = g.curves.spread(k[i].curve) * k[i].theta * kDegreesTwice;
      slack.inside += inside;
      if (k[i].frame != b) {
        slack.atEnd += inside;
      } else if (i + 1 < k.size()) {
        slack.atEnd += g.curves.start(k[i + 1].curve) * k[i + 1].theta * kDegreesTwice;
      }
    }
  }
  return slack;
}

// A stretch too long to play, proven by the judge over the chain's rotations.
Verdict prove(Group& g, const Bones& bones, uint32_t a, uint32_t b, double share) {
  Segment seg[kMostMovers];
  int n = 0;
  for (int bone : bones) seg[n++] = segmentAt(g[bone].in, a);
  for (int bone : bones) seg[n++] = segmentAt(g[bone].shown(), a);
  const auto probe = [&](uint32_t f) { return judgedAt(seg, n, bones.n, nullptr, f); };
  return g.judge.stretch(a, b, share, seg, n, bones.n, nullptr, ProbeOf(probe));
}

// The deviation at f as either reading shows it: the exact one (MMD's), and
// the bisected one where the slack says it may stray further.
struct Deviation {
  double exact, either;
  bool bisected;  // the bisected reading strays the further
};
Deviation deviationsAt(const Group& g, const Bones& bones, uint32_t f, double slack, double share) {
  const double d = deviationAt(g, bones, f);
  if (d + slack <= share) return {d, d, false};
  const double b = bisectedDeviationAt(g, bones, f);
  return b <= d ? Deviation{d, d, false} : Deviation{d, b, true};
}

// What the chain plays: the largest deviation as MMD shows it, unless some
// frame strays beyond the share in either reading: then the largest of those.
Played play(Group& g, const CheckedChain& c, const std::vector<uint32_t>& cuts, uint64_t longest, double share) {
  Played p;
  if (cuts.empty()) return p;
  double exact = -1, beyond = -1;
  uint32_t exactAt = 0, beyondAt = 0;
  double misread = 0;
  // A stretch's worst frame; one misread by the bisecting players at a
  // keyframe's frame is keyed at the frame after it (its stretch then starts
  // on a curve cut off the flat), unless they misread the input itself there.
  auto judged = [&](uint32_t at, double worst, bool atKey, bool unproven) {
    p.unproven = p.unproven || unproven;
    if (!unproven && worst <= share) return;
    const double input = atKey ? inputMisreadAt(g, c.bones, at) : 0;
    if (!(worst <= beyond)) beyond = worst, beyondAt = at, misread = input;
    if (!atKey) p.beyond.push_back(at);
    if (atKey && !(input > share) && at != cuts.back()) p.beyond.push_back(at + 1);
  };
  auto noteExact = [&](uint32_t f, double d) {
    if (!(d <= exact)) exact = d, exactAt = f;
  };
  const Deviation first = deviationsAt(g, c.bones, cuts[0], INFINITY, share);
  noteExact(cuts[0], first.exact);
  judged(cuts[0], first.either, first.bisected, false);
  for (size_t i = 0; i + 1 < cuts.size(); i++) {
    const uint32_t a = cuts[i], b = cuts[i + 1];
    double worst = -1;
    uint32_t at = b;
    bool unproven = false, atKey = false;  // keyed where the judge would cut it; the worst misread at b
    const Slack slack = bisectionSlack(g, c.bones, a, b);
    if (b - a <= longest) {
      p.frames += b - a;
      for (uint32_t f = a + 1;; f++) {
        const Deviation d = deviationsAt(g, c.bones, f, f == b ? slack.atEnd : slack.inside, share);
        noteExact(f, d.exact);
        if (!(d.either <= worst)) worst = d.either, at = f, atKey = d.bisected && f == b;
        if (f == b) break;
      }
    } else {
      // Proven for MMD's reading; the bisected one only within its slack.
      const Verdict v = prove(g, c.bones, a, b, share);
      noteExact(v.at, v.worst);
      worst = v.worst, at = v.at, unproven = v.kind == Verdict::Unproven || !(v.worst + slack.inside <= share);
    }
    judged(at, worst, atKey, unproven);
  }
  const bool held = !p.unproven && p.beyond.empty() && beyond < 0;
  p.worst = held ? exact : std::max(beyond, exact);
  p.at = held || !(beyond >= exact) ? exactAt : beyondAt;
  p.misread = held || !(beyond >= exact) ? 0 : misread;
  return p;
}

// The job that keys a bone of the chain at the frames beyond.
Job keyingJob(const PlanOptions& o, int side, const CheckedChain& c, bool carrier) {
  const Value v = carrier ? c.carried : c.twisted;
  return {.bone = carrier ? c.carrier : c.twist, .chain = c.bones, .first = v, .other = v,
          .axis = vecUnit(o.axis[side][c.pair]), .splitAxis = o.axis[side][c.pair],
          .side = side == 0 ? Side::Left : Side::Right, .slot = c.slot};
}

// Keys a bone at f with rot (shown as played), cutting the curve of the
// stretch it falls in; its turns are worked out again after.
void keyAt(BonePlan& b, uint32_t f, const Quat& rot, const Quat& shown) {
  BonePlan::Output& out = b.out;
  if (!b.planned) {  // it played its input
    out.played = b.in;
    out.rot.clear(), out.verbatim.assign(b.held.size(), 1);
    for (const HeldKey& k : b.held) out.rot.push_back(k.rot);
    b.planned = true;
  }
  std::vector<PlayedKey>& t = out.played.keys;
  const size_t i = keyAfter(out.played, f);
  if (i > 0 && t[i - 1].frame == f) {
    out.rot[i - 1] = rot, t[i - 1].rot = shown;
    return;
  }
  PlayedKey k = {f, kLinearCurve, shown};
  if (i > 0 && i < t.size()) {
    const Curve whole = t[i].curve;
    const double x = double(f - t[i - 1].frame) / double(t[i].frame - t[i - 1].frame);
    k.curve = cutCurve(whole, 0, x);
    t[i].curve = cutCurve(whole, x, 1);
  }
  const auto at = static_cast<std::ptrdiff_t>(i);
  t.insert(t.begin() + at, k);
  out.rot.insert(out.rot.begin() + at, rot);
  out.verbatim.insert(out.verbatim.begin() + at, 0);
}

// Keys the chain's bones at the frames beyond: the carrier first with what
// the chain needs of it, then the twist bone with the rest.
void keyBeyond(Group& g, const PlanOptions& o, int side, const CheckedChain& c, const std::vector<uint32_t>& frames) {
  for (bool carrier : {true, false}) {
    const Job j = keyingJob(o, side, c, carrier);
    BonePlan& b = g[j.bone];
    std::vector<Quat> values;
    for (uint32_t f : frames) {
      values.push_back(inRange(o, f) ? valueAt(g, j, j.first, f) : toFloat(rotationAt(b.in, f)));
    }
    for (size_t i = 0; i < frames.size() && g.mayKey(j.bone); i++) {
      keyAt(b, frames[i], values[i], toFloat(played(o.rule[j.bone], values[i])));
    }
    setTurns(&b.out.played);
  }
}

}  // namespace

void checkSide(Group& g, const PlanOptions& o, int side, bool mend, ChainReport* reports) {
  CheckedChain chains[kChains];
  const int n = chainsOf(o, side, reports, chains);
  std::vector<uint32_t> keyed[kChains];  // frames already keyed by the check, per chain
  bool again[kChains] = {true, true, true};  // played (again): all, then those keyed
  uint64_t frames = kMostCheckedFrames;      // what the check may still play, all rounds together
  for (int round = 0; round < kCheckRounds; round++) {
    std::vector<std::vector<uint32_t>> cuts(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
      if (again[i]) cuts[static_cast<size_t>(i)] = cutsOf(g, chains[i].bones);
    }
    const uint64_t longest = longestPlayed(cuts, frames);
    bool keying = false;
    for (int i = 0; i < n; i++) {
      if (!again[i]) continue;
      const CheckedChain& c = chains[i];
      ChainReport& r = reports[c.chain];
      const Played p = play(g, c, cuts[static_cast<size_t>(i)], longest, r.share);
      frames -= std::min(frames, p.frames);
      r.planned = true, r.worst = p.worst, r.at = p.at, r.misread = p.misread;
      r.beyond = p.unproven || !(p.worst <= r.share) || !p.beyond.empty();
      // A frame keyed once and beyond again cannot be mended by keying it.
      std::vector<uint32_t> beyond;
      for (uint32_t f : p.beyond) {
        if (!std::binary_search(keyed[i].begin(), keyed[i].end(), f)) beyond.push_back(f);
      }
      again[i] = mend && !beyond.empty() && round + 1 < kCheckRounds;
      if (!again[i]) continue;
      keyBeyond(g, o, side, c, beyond);
      keyed[i].insert(keyed[i].end(), beyond.begin(), beyond.end());
      std::sort(keyed[i].begin(), keyed[i].end());
      keying = true;
    }
    // The hand holds the arm: keyed anew, the arm asks for the hand again.
    if (n > 0 && chains[n - 1].chain == kHandChain && again[0] && chains[0].chain == kArmChain) again[n - 1] = true;
    if (!keying) break;
  }
}

}  // namespace planning
}  // namespace torsel
