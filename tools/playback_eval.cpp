// Plays back two motions as a player does and prints, per side, the largest
// deviation of the arm chain (腕 ⊗ 腕捩), the elbow chain (ひじ ⊗ 手捩), the
// wrist (both) and the hand (the wrist ⊗ 手首) between them, in degrees,
// with the frame where it occurs. Written apart from the program's own
// player, to judge it.
//
//   playback_eval A.vmd B.vmd            the eight largest deviations
//   playback_eval A.vmd B.vmd frames     then "frame left right" per frame:
//                                        the wrists' deviations
//   playback_eval A.vmd B.vmd keys       judged only on the frames where B
//                                        keys the side's 手首
//
// Player rules: per bone, keyframes by frame, of several on one frame the
// last in the file; the first held before it, the last after it; between
// two the shortest slerp at the progress y(t) where x(t) is the elapsed
// share of the stretch on the later keyframe's rotation curve, control
// points = block bytes 33, 7, 11, 15 over 127. A bone without keyframes
// is the identity.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct Q {
  double w, x, y, z;
};
Q mul(const Q& a, const Q& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}
Q unit(Q q) {
  double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  return {q.w / n, q.x / n, q.y / n, q.z / n};
}
// Degrees of the turn between a and b.
double degrees(const Q& a, const Q& b) {
  Q d = mul({a.w, -a.x, -a.y, -a.z}, b);
  return std::atan2(std::hypot(d.x, d.y, d.z), std::fabs(d.w)) * 360 / std::numbers::pi;
}
// a ⊗ (conj(a) ⊗ b)^s along the shorter way.
Q slerp(Q a, Q b, double s) {
  a = unit(a);
  b = unit(b);
  Q d = mul({a.w, -a.x, -a.y, -a.z}, b);
  if (d.w < 0) d = {-d.w, -d.x, -d.y, -d.z};
  double half = std::atan2(std::hypot(d.x, d.y, d.z), d.w), len = std::hypot(d.x, d.y, d.z);
  if (len < 1e-300) return a;
  double k = std::sin(half * s) / len;
  return mul(a, {std::cos(half * s), d.x * k, d.y * k, d.z * k});
}
// y at x on the cubic from (0,0) through (x1,y1), (x2,y2) to (1,1).
double ease(double x1, double y1, double x2, double y2, double x) {
  auto b = [](double p1, double p2, double t) { return 3 * (1 - t) * (1 - t) * t * p1 + 3 * (1 - t) * t * t * p2 + t * t * t; };
  double t = x, lo = 0, hi = 1;
  for (int i = 0; i < 60; i++) {  // Newton inside a shrinking bracket
    double f = b(x1, x2, t) - x, slope = 3 * (1 - t) * (1 - t) * x1 + 6 * (1 - t) * t * (x2 - x1) + 3 * t * t * (1 - x2);
    (f > 0 ? hi : lo) = t;
    double next = slope > 1e-12 ? t - f / slope : -1;
    t = next > lo && next < hi ? next : (lo + hi) / 2;
  }
  return b(y1, y2, t);
}

struct Key {
  unsigned frame;
  Q rot;
  double x1, y1, x2, y2;
};
using Bones = std::map<std::string, std::vector<Key>>;

bool load(const char* path, Bones* bones, unsigned* last) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::vector<unsigned char> d(1 << 16);
  size_t n = 0;
  for (size_t got; (got = std::fread(d.data() + n, 1, d.size() - n, f)) > 0;) {
    n += got;
    if (n == d.size()) d.resize(d.size() * 2);
  }
  std::fclose(f);
  auto u32 = [&](size_t at) { return unsigned(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | unsigned(d[at + 3]) << 24); };
  auto f32 = [&](size_t at) { unsigned v = u32(at); float x; std::memcpy(&x, &v, 4); return double(x); };
  if (n < 54) return false;
  for (size_t i = 0, at = 54; i < u32(50) && at + 111 <= n; i++, at += 111) {
    std::string name(reinterpret_cast<const char*>(&d[at]), strnlen(reinterpret_cast<const char*>(&d[at]), 15));
    Key k = {u32(at + 15), {f32(at + 43), f32(at + 31), f32(at + 35), f32(at + 39)},
             d[at + 47 + 33] / 127.0, d[at + 47 + 7] / 127.0, d[at + 47 + 11] / 127.0, d[at + 47 + 15] / 127.0};
    std::vector<Key>& keys = (*bones)[name];
    keys.push_back(k);
    *last = std::max(*last, k.frame);
  }
  for (auto& [name, keys] : *bones) {
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.frame < b.frame; });
    std::vector<Key> one;  // the last of a frame's keyframes
    for (const Key& k : keys) (!one.empty() && one.back().frame == k.frame ? one.back() : one.emplace_back()) = k;
    keys = one;
  }
  return true;
}

Q at(const Bones& bones, const char* name, unsigned frame) {
  auto it = bones.find(name);
  if (it == bones.end() || it->second.empty()) return {1, 0, 0, 0};
  const std::vector<Key>& k = it->second;
  auto next = std::upper_bound(k.begin(), k.end(), frame, [](unsigned f, const Key& key) { return f < key.frame; });
  if (next == k.begin()) return k.front().rot;
  if (next == k.end() || (next - 1)->frame == frame) return (next - 1)->rot;
  const Key &a = *(next - 1), &b = *next;
  return slerp(a.rot, b.rot, ease(b.x1, b.y1, b.x2, b.y2, double(frame - a.frame) / double(b.frame - a.frame)));
}

}  // namespace

int main(int argc, char** argv) {
  Bones a, b;
  unsigned last = 0;
  if (argc < 3 || !load(argv[1], &a, &last) || !load(argv[2], &b, &last)) {
    std::fprintf(stderr, "usage: playback_eval A.vmd B.vmd [frames|keys]\n");
    return 2;
  }
  // 左腕 左腕捩 左ひじ 左手捩 左手首, and the right side's (右).
  const char* names[2][5] = {{"\x8D\xB6\x98\x72", "\x8D\xB6\x98\x72\x9D\x80", "\x8D\xB6\x82\xD0\x82\xB6", "\x8D\xB6\x8E\xE8\x9D\x80",
                              "\x8D\xB6\x8E\xE8\x8E\xF1"},
                             {"\x89\x45\x98\x72", "\x89\x45\x98\x72\x9D\x80", "\x89\x45\x82\xD0\x82\xB6", "\x89\x45\x8E\xE8\x9D\x80",
                              "\x89\x45\x8E\xE8\x8E\xF1"}};
  const bool keysOnly = argc > 3 && std::strcmp(argv[3], "keys") == 0;
  std::vector<bool> keyed[2];
  for (int side = 0; side < 2; side++) {
    keyed[side].assign(std::size_t(std::min(last, 1u << 24)) + 1, !keysOnly);
    auto it = b.find(names[side][4]);
    for (std::size_t i = 0; keysOnly && it != b.end() && i < it->second.size(); i++) {
      if (it->second[i].frame < keyed[side].size()) keyed[side][it->second[i].frame] = true;
    }
  }
  double worst[2][4] = {};
  unsigned where[2][4] = {};
  std::vector<double> wrist[2];
  for (auto& w : wrist) w.resize(std::size_t(std::min(last, 1u << 24)) + 1);
  for (unsigned f = 0; f < wrist[0].size(); f++) {
    for (int side = 0; side < 2; side++) {
      const char* const* n = names[side];
      Q armA = mul(at(a, n[0], f), at(a, n[1], f)), elbowA = mul(at(a, n[2], f), at(a, n[3], f));
      Q armB = mul(at(b, n[0], f), at(b, n[1], f)), elbowB = mul(at(b, n[2], f), at(b, n[3], f));
      const Q wristA = mul(armA, elbowA), wristB = mul(armB, elbowB);
      const double dev[4] = {degrees(armA, armB), degrees(elbowA, elbowB), degrees(wristA, wristB),
                             degrees(mul(wristA, at(a, n[4], f)), mul(wristB, at(b, n[4], f)))};
      for (int c = 0; c < 4 && keyed[side][f]; c++) {
        if (dev[c] > worst[side][c]) worst[side][c] = dev[c], where[side][c] = f;
      }
      wrist[side][f] = dev[2];
    }
  }
  const char* sides[2] = {"left", "right"};
  const char* chains[4] = {"arm", "elbow", "wrist", "hand"};
  for (int side = 0; side < 2; side++) {
    for (int c = 0; c < 4; c++) std::printf("%s %s %.4f at %u\n", sides[side], chains[c], worst[side][c], where[side][c]);
  }
  for (unsigned f = 0; argc > 3 && std::strcmp(argv[3], "frames") == 0 && f < wrist[0].size(); f++) std::printf("%u %.4f %.4f\n", f, wrist[0][f], wrist[1][f]);
  return 0;
}
