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

uint32_t Thinner::curvesOf(const Bone& b, uint32_t i) {
  return b.released.empty() ? keyOf(b, i).curves : b.released[i];
}

uint32_t Thinner::ownCurves(const Bone& b, uint32_t i) {
  const uint32_t c = curvesOf(b, i);
  if (!(c & kRefit)) return c & kPlace;
  return std::lower_bound(b.inputCurves.begin(), b.inputCurves.end(), std::pair{i, 0u})->second;
}

uint32_t Thinner::find(std::string_view bone) const {
  // The bone of the record before, or the one after it: files keep them
  // together, or key the bones of a frame in the same order frame by frame.
  for (const uint32_t guess : {last_, last_ + 1, 0u}) {
    if (guess < bones_.size() && bones_[guess].name == bone) return last_ = guess;
  }
  if (names_.empty()) return UINT32_MAX;
  const uint32_t s =
      names_[slotFor(names_, hashOf(bone.data(), bone.size()), [&](uint32_t id) { return bones_[id].name == bone; })];
  return s == 0 ? UINT32_MAX : last_ = s - 1;
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

uint32_t Thinner::intern(const uint8_t* params, const uint8_t* kept) {
  Curves c;
  std::memcpy(c.data(), params, 16);
  std::memcpy(c.data() + 16, kept, 8);
  // Records mostly share their curves with the one before.
  if (!table_.empty() && table_[lastCurves_] == c) return lastCurves_;
  grow(&slots_, table_.size(), [&](uint32_t i) { return hashOf(table_[i].data(), c.size()); });
  uint32_t* s = &slots_[slotFor(slots_, hashOf(c.data(), c.size()), [&](uint32_t i) { return table_[i] == c; })];
  if (*s == 0) {
    table_.push_back(c);
    *s = static_cast<uint32_t>(table_.size());
  }
  return lastCurves_ = *s - 1;
}

void Thinner::hold(std::string_view bone, const HeldKey& k) {
  Bone& b = bones_[idOf(bone)];
  const uint32_t i = b.count;
  const size_t chunk = i < 255 ? size_t(std::bit_width(i + 1) - 1) : 8 + ((i - 255) >> 8);
  if (chunk == b.chunks.size()) {
    // Left unset until held: a chunk is filled record by record.
    b.chunks.push_back(std::unique_ptr<Key[]>(new Key[chunk < 8 ? size_t(1) << chunk : 256]));
  }
  keyOf(b, i) = {k.frame, k.rot, k.pos, intern(k.params, k.kept)};
  b.count++;
}

void Thinner::setAxis(std::string_view bone, const AxisRule& rule) { bones_[idOf(bone)].rule = rule; }
void Thinner::seed(std::string_view bone, double degrees) { bones_[idOf(bone)].bound = degrees; }

std::vector<uint32_t> Thinner::byFrame(const Bone& b) const {
  std::vector<uint32_t> order(b.count);
  std::iota(order.begin(), order.end(), 0u);
  keepLastOnFrame(&order, [&](uint32_t i) { return keyOf(b, i).frame; });
  return order;
}

// Of several keyframes on a frame in the range, the earlier ones go: players
// show the last. How many went.
uint64_t Thinner::dropShadowed(Bone* b, const std::vector<uint32_t>& order) const {
  std::vector<uint8_t> shown(b->count, 0);
  for (const uint32_t i : order) shown[i] = 1;
  uint64_t dropped = 0;
  for (uint32_t i = 0; i < b->count; i++) {
    Key& k = keyOf(*b, i);
    if (shown[i] || k.frame < o_.from || k.frame > o_.to) continue;
    k.curves |= kDropped, dropped++;
  }
  return dropped;
}

void Thinner::thinBone(uint32_t id, BoneThinner* thinner, ThinReport* r) {
  Bone& b = bones_[id];
  const std::vector<uint32_t> order = byFrame(b);
  uint64_t dropped = dropShadowed(&b, order);
  r->shadowed += dropped;
  std::vector<PlayedPose> keys(order.size());
  std::vector<uint8_t> fixed(order.size());
  for (size_t v = 0; v < order.size(); v++) {
    const Key& k = keyOf(b, order[v]);
    keys[v] = {k.frame, played(b.rule, k.rot), k.pos, table_[k.curves & kPlace].data()};
    const bool inRange = k.frame >= o_.from && k.frame <= o_.to, odd = isOdd(k.rot, k.pos);
    fixed[v] = !inRange || odd;
    b.outcome.odd += inRange && odd;
  }
  std::vector<KeyFate> fates;
  r->unworked += thinner->thin(keys, fixed, &fates);
  const Checked c = b.bound < 0 ? checkBone(keys, &fates, thinner->options()) : Checked{};
  r->mended += c.mended;
  b.outcome.worst = c.worst, b.outcome.farthest = c.farthest;
  r->strayCount += c.strayCount;
  for (Stray s : c.strays) {
    if (r->strays.size() < kMostStrays) s.bone = id, r->strays.push_back(s);
  }
  // The fitted curves join the table only now: keys point into it.
  for (size_t v = 0; v < order.size(); v++) {
    Key& k = keyOf(b, order[v]);
    if (!fates[v].kept) {
      k.curves |= kDropped, dropped++;
    } else if (fates[v].refit) {
      b.inputCurves.push_back({order[v], k.curves});
      k.curves = intern(fates[v].params.data(), table_[k.curves & kPlace].data() + 16) | kRefit;
    }
  }
  std::sort(b.inputCurves.begin(), b.inputCurves.end());
  b.outcome.held = b.count;
  b.outcome.written = b.count - static_cast<uint32_t>(dropped);
  r->odd += b.outcome.odd;
  r->held += b.count;
  r->written += b.outcome.written;
  r->worst = std::max(r->worst, c.worst);
  r->farthest = std::max(r->farthest, c.farthest);
}

ThinReport Thinner::run() {
  ThinReport r;
  r.bones = boneCount();
  if (ran_) return r;
  ran_ = true;
  // One thinner a bound: most runs need one.
  std::vector<std::unique_ptr<BoneThinner>> thinners;
  for (uint32_t id = 0; id < boneCount(); id++) {
    ThinOptions o = o_;
    if (bones_[id].bound >= 0) o.bound = bones_[id].bound;
    auto same = [&](const std::unique_ptr<BoneThinner>& t) { return t->options().bound == o.bound; };
    auto t = std::find_if(thinners.begin(), thinners.end(), same);
    if (t == thinners.end()) t = thinners.insert(t, std::make_unique<BoneThinner>(o));
    thinBone(id, t->get(), &r);
  }
  return r;
}

Thinner::Written Thinner::next(std::string_view bone) {
  Written w;
  const uint32_t id = find(bone);
  if (id == UINT32_MAX || bones_[id].cursor >= bones_[id].count) return w;
  const uint32_t c = curvesOf(bones_[id], bones_[id].cursor++);
  w.kept = !(c & kDropped);
  w.changed = (c & kRefit) != 0;
  std::memcpy(w.params.data(), table_[c & kPlace].data(), 16);
  return w;
}

Track Thinner::records(std::string_view bone, bool output) const {
  Track t;
  const uint32_t id = find(bone);
  if (id == UINT32_MAX || !bones_[id].released.empty()) return t;
  const Bone& b = bones_[id];
  t.reserve(output ? b.outcome.written : b.count);
  for (uint32_t i = 0; i < b.count; i++) {
    const Key& k = keyOf(b, i);
    if (output && (k.curves & kDropped)) continue;
    const Curves& c = table_[output ? k.curves & kPlace : ownCurves(b, i)];
    HeldKey h = {k.frame, k.pos, k.rot, {}, {}};
    std::memcpy(h.params, c.data(), 16);
    std::memcpy(h.kept, c.data() + 16, 8);
    t.push_back(h);
  }
  return t;
}

void Thinner::release(std::string_view bone) {
  const uint32_t id = find(bone);
  if (id == UINT32_MAX || !bones_[id].released.empty()) return;
  Bone& b = bones_[id];
  std::vector<uint32_t> curves(b.count);
  for (uint32_t i = 0; i < b.count; i++) curves[i] = keyOf(b, i).curves;
  std::vector<std::unique_ptr<Key[]>>().swap(b.chunks);
  b.released = std::move(curves);
}

void Thinner::restore(std::string_view bone) {
  const uint32_t id = find(bone);
  if (id == UINT32_MAX) return;
  Bone& b = bones_[id];
  for (uint32_t i = 0; i < b.count; i++) (b.released.empty() ? keyOf(b, i).curves : b.released[i]) = ownCurves(b, i);
  b.inputCurves = {};
  b.outcome.written = b.count;
  b.outcome.worst = b.outcome.farthest = 0;
}

}  // namespace torsel::thin
