// The planner's parts: the bones' tracks and the values a job keys.
#include <algorithm>
#include <array>

#include "playback/plan_parts.h"

namespace torsel::planning {
namespace {

// The output of the chain's bones before the job's bone, and after it.
void aroundAt(const Group& g, const Job& j, uint32_t f, DQuat* before, DQuat* after) {
  *before = *after = kIdentityD;
  bool past = false;
  for (int b : j.chain) {
    if (b == j.bone) {
      past = true;
      continue;
    }
    const DQuat r = rotationAt(g[b].shown(), f);
    (past ? *after : *before) = past ? multiply(*after, r) : multiply(*before, r);
  }
}

// What the chain needs from the job's bone at f: the input's chain less the
// output's bones before and after it.
DQuat residualAt(const Group& g, const Job& j, uint32_t f, const DQuat& target) {
  DQuat before, after;
  aroundAt(g, j, f, &before, &after);
  return unit(multiply(multiply(conjugate(before), target), conjugate(after)));
}

// What the chain needs from the twist bone and the job's bone together,
// the twist bone standing just before it, less its turn about the axis.
Quat restAt(const Group& g, const Job& j, uint32_t f, const DQuat& target) {
  DQuat before = kIdentityD;
  for (int i = 0; i < j.slot; i++) before = multiply(before, rotationAt(g[j.chain.at[i]].shown(), f));
  Quat twist, rest;
  splitAbout(j.axis, toFloat(unit(multiply(conjugate(before), target))), &twist, &rest);
  return rest;
}

}  // namespace

size_t BonePlan::heldAfter(uint32_t f) const {
  auto answers = [&](size_t i) {
    return (i == 0 || held[i - 1].frame <= f) && (i == held.size() || held[i].frame > f);
  };
  const size_t c = std::min(heldCursor, held.size());
  for (size_t i : {c, c + 1}) {
    if (i <= held.size() && answers(i)) return heldCursor = i;
  }
  return heldCursor = keyAfter(held, f);
}

HeldKey writtenKey(const BonePlan& b, size_t i) {
  const PlayedKey& p = b.out.played.keys[i];
  const size_t after = b.heldAfter(p.frame);
  HeldKey k = keyToCut(b.held, p.frame, after);
  k.frame = p.frame;
  if (after == 0 || b.held[after - 1].frame != p.frame) k.pos = positionAt(b.held, p.frame, after);
  k.rot = b.out.rot[i];
  setRotationCurve(&k, p.curve);
  return k;
}

namespace {

// Spans longer than this are worked out frame by frame instead.
constexpr uint32_t kMostRemembered = 1u << 18;

DQuat productAt(const Group& g, const Bones& bones, bool output, uint32_t f) {
  DQuat c = kIdentityD;
  for (int b : bones) c = multiply(c, rotationAt(output ? g[b].shown() : g[b].in, f));
  return c;
}

bool sameBones(const Bones& a, const Bones& b) { return a.n == b.n && std::equal(a.begin(), a.end(), b.begin()); }

// The input chain remembered for `bones`, made on first asking; null where
// its span is too long to remember.
const Group::InputChain* inputChainOf(const Group& g, const Bones& bones) {
  for (const Group::InputChain& c : g.inputChains) {
    if (sameBones(c.bones, bones)) return c.at.empty() ? nullptr : &c;
  }
  uint32_t lo = UINT32_MAX, hi = 0;
  for (int b : bones) {
    const auto& k = g[b].in.keys;
    if (!k.empty()) lo = std::min(lo, k.front().frame), hi = std::max(hi, k.back().frame);
  }
  Group::InputChain& c = g.inputChains.emplace_back();
  c.bones = bones;
  if (lo > hi || hi - lo >= kMostRemembered) return nullptr;
  c.first = lo;
  c.at.resize(size_t(hi - lo) + 1);
  for (uint32_t f = lo;; f++) {
    c.at[f - lo] = productAt(g, bones, false, f);
    if (f == hi) break;
  }
  return &c;
}

}  // namespace

DQuat chainAt(const Group& g, const Bones& bones, bool output, uint32_t f) {
  if (!output) {
    const Group::InputChain* c = inputChainOf(g, bones);
    if (c != nullptr && f >= c->first && f - c->first < c->at.size()) return c->at[f - c->first];
  }
  return productAt(g, bones, output, f);
}

Quat valueAt(const Group& g, const Job& j, Value v, uint32_t f, DQuat* needed, bool* hasNeeded) {
  const DQuat target = chainAt(g, j.chain, false, f);
  DQuat residual = kIdentityD;
  if (v == Value::Twist || v == Value::Residual) {
    residual = residualAt(g, j, f, target);
    if (needed != nullptr) *needed = residual, *hasNeeded = true;
  }
  switch (v) {
    case Value::Kept: {
      // Normalised before it is narrowed: huge components would overflow a float.
      const SeparationInput in = {.q = toFloat(unit(target)), .r = j.splitAxis, .side = j.side, .frameTime = f,
                                  .method = 4, .quiet = true};
      return separateTwist(in).kept;
    }
    case Value::Twist:
      return toFloat(twistAbout(residual, j.axis));
    case Value::Residual:
      return toFloat(residual);
    case Value::Identity:
      return kIdentity;
    case Value::Rest:
      return restAt(g, j, f, target);
  }
  return kIdentity;
}

}  // namespace torsel::planning
