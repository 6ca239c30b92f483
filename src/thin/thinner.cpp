#include "thin/thinner.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

#include "thin/bone_thin.h"
#include "thin/thin_check.h"

namespace torsel::thin {
namespace {

constexpr uint32_t kRefit = 1u << 30;
constexpr uint32_t kPlace = kRefit - 1;

uint64_t hashOf(const void* p, size_t n) {  // FNV-1a
  uint64_t h = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < n; i++) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 0x100000001B3ull;
  return h;
}

// An open-addressing table of places + 1 (0: empty), kept at most half
// full: the slot of what `same` finds, or the empty one where it would go.
template <class Same>
size_t slotFor(const std::vector<uint32_t>& slots, uint64_t hash, Same same) {
  const size_t mask = slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots[i] == 0 || same(slots[i] - 1)) return i;
  }
}

template <class HashOf>
void grow(std::vector<uint32_t>* slots, size_t count, HashOf hashOfPlace) {
  if (2 * (count + 1) <= slots->size()) return;
  std::vector<uint32_t> bigger(std::max<size_t>(64, 2 * slots->size()), 0);
  for (const uint32_t s : *slots) {
    if (s != 0) bigger[slotFor(bigger, hashOfPlace(s - 1), [](uint32_t) { return false; })] = s;
  }
  slots->swap(bigger);
}

// A keyframe the check cannot vouch for in every player: a rotation or
// position that is no number, or a rotation not of length 1 (players differ
// in whether they scale it). It stays as it stands, and so do the stretches
// to either side of it, so that every player shows there what it showed.
bool isOdd(const Quat& q, const Vec3& p) {
  const double n = double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w;
  return !(std::fabs(n - 1) <= 1e-3) || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z);
}

}  // namespace

Thinner::Thinner(const ThinOptions& o) : o_(o) {}

Thinner::Key& Thinner::keyOf(const Bone& b, uint32_t i) {
  if (i < 255) {
    const int c = std::bit_width(i + 1) - 1;
    return b.chunks[size_t(c)][i + 1 - (1u << c)];
  }
  return b.chunks[8 + ((i - 255) >> 8)][(i - 255) & 255];
}

uint32_t Thinner::find(std::string_view bone) const {
  if (last_ < bones_.size() && bones_[last_].name == bone) return last_;
  if (names_.empty()) return UINT32_MAX;
  const uint32_t s =
      names_[slotFor(names_, hashOf(bone.data(), bone.size()), [&](uint32_t id) { return bones_[id].name == bone; })];
  return s == 0 ? UINT32_MAX : s - 1;
}

uint32_t Thinner::idOf(std::string_view bone) {
  uint32_t id = find(bone);
  if (id == UINT32_MAX) {
    grow(&names_, bones_.size(), [&](uint32_t i) { return hashOf(bones_[i].name.data(), bones_[i].name.size()); });
    id = static_cast<uint32_t>(bones_.size());
    bones_.push_back({});
    bones_.back().name = std::string(bone);
    names_[slotFor(names_, hashOf(bone.data(), bone.size()), [](uint32_t) { return false; })] = id + 1;
  }
  return last_ = id;
}

uint32_t Thinner::intern(const uint8_t* params) {
  // Records mostly share their curves with the one before.
  if (!table_.empty() && std::memcmp(table_[lastCurves_].data(), params, 16) == 0) return lastCurves_;
  grow(&slots_, table_.size(), [&](uint32_t i) { return hashOf(table_[i].data(), 16); });
  uint32_t* s = &slots_[slotFor(slots_, hashOf(params, 16),
                                [&](uint32_t i) { return std::memcmp(table_[i].data(), params, 16) == 0; })];
  if (*s == 0) {
    table_.emplace_back();
    std::memcpy(table_.back().data(), params, 16);
    *s = static_cast<uint32_t>(table_.size());
  }
  return lastCurves_ = *s - 1;
}

void Thinner::hold(std::string_view bone, const HeldKey& k) {
  Bone& b = bones_[idOf(bone)];
  const uint32_t i = b.count;
  const size_t chunk = i < 255 ? size_t(std::bit_width(i + 1) - 1) : 8 + ((i - 255) >> 8);
  if (chunk == b.chunks.size()) b.chunks.push_back(std::make_unique<Key[]>(chunk < 8 ? size_t(1) << chunk : 256));
  keyOf(b, i) = {k.frame, k.rot, k.pos, intern(k.params)};
  b.count++;
}

void Thinner::setAxis(std::string_view bone, const AxisRule& rule) { bones_[idOf(bone)].rule = rule; }

std::vector<uint32_t> Thinner::byFrame(const Bone& b) const {
  std::vector<uint32_t> order(b.count);
  std::iota(order.begin(), order.end(), 0u);
  keepLastOnFrame(&order, [&](uint32_t i) { return keyOf(b, i).frame; });
  return order;
}

void Thinner::thinBone(uint32_t id, BoneThinner* thinner, ThinReport* r) {
  Bone& b = bones_[id];
  r->held += b.count;
  const std::vector<uint32_t> order = byFrame(b);
  // Of several keyframes on a frame in the range, the earlier ones go: players show the last.
  std::vector<uint8_t> shown(b.count, 0);
  for (const uint32_t i : order) shown[i] = 1;
  uint64_t dropped = 0;
  for (uint32_t i = 0; i < b.count; i++) {
    Key& k = keyOf(b, i);
    if (shown[i] || k.frame < o_.from || k.frame > o_.to) continue;
    k.curves |= kDropped, dropped++;
  }
  r->shadowed += dropped;
  std::vector<PlayedPose> keys(order.size());
  std::vector<uint8_t> fixed(order.size());
  for (size_t v = 0; v < order.size(); v++) {
    const Key& k = keyOf(b, order[v]);
    keys[v] = {k.frame, played(b.rule, k.rot), k.pos, table_[k.curves & kPlace].data()};
    const bool inRange = k.frame >= o_.from && k.frame <= o_.to, odd = isOdd(k.rot, k.pos);
    fixed[v] = !inRange || odd;
    r->odd += inRange && odd;
  }
  std::vector<KeyFate> fates;
  r->unworked += thinner->thin(keys, fixed, &fates);
  Checked c = checkBone(keys, &fates, o_);
  r->mended += c.mended;
  r->worst = std::max(r->worst, c.worst);
  r->farthest = std::max(r->farthest, c.farthest);
  r->strayCount += c.strayCount;
  for (Stray& s : c.strays) {
    if (r->strays.size() < kMostStrays) s.bone = id, r->strays.push_back(s);
  }
  // The fitted curves join the table only now: keys point into it.
  for (size_t v = 0; v < order.size(); v++) {
    Key& k = keyOf(b, order[v]);
    if (!fates[v].kept) {
      k.curves |= kDropped, dropped++;
    } else if (fates[v].refit) {
      b.inputCurves.push_back({order[v], k.curves});
      k.curves = intern(fates[v].params.data()) | kRefit;
    }
  }
  std::sort(b.inputCurves.begin(), b.inputCurves.end());
  r->written += b.count - dropped;
}

ThinReport Thinner::run() {
  ThinReport r;
  r.bones = boneCount();
  if (ran_) return r;
  ran_ = true;
  BoneThinner thinner(o_);
  for (uint32_t id = 0; id < boneCount(); id++) thinBone(id, &thinner, &r);
  return r;
}

Thinner::Written Thinner::next(std::string_view bone) {
  Written w;
  const uint32_t id = find(bone);
  if (id == UINT32_MAX || bones_[id].cursor >= bones_[id].count) return w;
  last_ = id;
  const Key& k = keyOf(bones_[id], bones_[id].cursor++);
  w.kept = !(k.curves & kDropped);
  w.changed = (k.curves & kRefit) != 0;
  w.params = table_[k.curves & kPlace];
  return w;
}

Track Thinner::track(std::string_view bone, bool output) const {
  Track t;
  const uint32_t id = find(bone);
  for (uint32_t i = 0; id != UINT32_MAX && i < bones_[id].count; i++) {
    const Key& k = keyOf(bones_[id], i);
    if (output && (k.curves & kDropped)) continue;
    uint32_t curves = k.curves & kPlace;
    if (!output && (k.curves & kRefit)) {
      const auto& own = bones_[id].inputCurves;
      curves = std::lower_bound(own.begin(), own.end(), std::pair{i, 0u})->second;
    }
    HeldKey h = {k.frame, k.pos, k.rot, {}, {}};
    std::memcpy(h.params, table_[curves].data(), 16);
    t.push_back(h);
  }
  makeTrack(&t);
  return t;
}

}  // namespace torsel::thin
