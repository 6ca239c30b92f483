// Plays back two motions as a player does and prints, per side, the largest
// deviation of the arm chain (腕 ⊗ 腕捩), the elbow chain (ひじ ⊗ 手捩), the
// wrist (both) and the hand (the wrist ⊗ 手首) between them, in degrees,
// with the frame where it occurs. Written apart from the program's own
// player, to judge it.
//
//   playback_eval A.vmd B.vmd            the eight largest deviations
//   playback_eval A.vmd B.vmd frames     then "frame left right" per frame:
//                                        the hands' deviations (手首 as it
//                                        turns in the world: with -W the
//                                        forearm turns, the hand stays)
//   playback_eval A.vmd B.vmd keys       judged only on the frames where B
//                                        keys the side's 手首
//   playback_eval A.vmd B.vmd all F T    judged only on the frames F to T
//   playback_eval A.vmd B.vmd bones      every bone on its own, as written
//                                        (no fixed axes unless a model is
//                                        named): per bone its rotation's
//                                        largest deviation and its
//                                        position's largest distance, each
//                                        with its frame, with the curves
//                                        solved precisely and then as
//                                        babylon-mmd halves them (a
//                                        keyframe's own frame as time 0
//                                        of the stretch after it)
//   playback_eval A.vmd B.vmd chains [elbows] [hands]
//                                        then "frame chains others" per
//                                        frame: the worst chain a bound
//                                        answers for (the arm; with elbows
//                                        the elbow, with hands the hand),
//                                        and the worst bone outside those
//                                        chains, each bone on its own
//
// Player rules: per bone, keyframes by frame, of several on one frame the
// last in the file; the first held before it, the last after it; between
// two the shortest slerp at the progress y(t) where x(t) is the elapsed
// share of the stretch on the later keyframe's rotation curve, control
// points = block bytes 33, 7, 11, 15 over 127. A bone without keyframes
// is the identity.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <set>
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
// Degrees of the turn between a and b; b no rotation at all (a NaN) where
// a is one counts as the farthest, 180.
double degrees(const Q& a, const Q& b) {
  Q d = mul({a.w, -a.x, -a.y, -a.z}, b);
  const double deg = std::atan2(std::hypot(d.x, d.y, d.z), std::fabs(d.w)) * 360 / std::numbers::pi;
  return deg == deg || std::isnan(a.w + a.x + a.y + a.z) ? deg : 180;
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
// y at x on the cubic from (0,0) through (x1,y1), (x2,y2) to (1,1). Where
// an x passes 1 (a byte past 127) time runs back and forth and no root is
// the root: read as babylon-mmd reads it, halving from t = 1/2 fifteen times.
double ease(double x1, double y1, double x2, double y2, double x, bool halving = false) {
  auto b = [](double p1, double p2, double t) { return 3 * (1 - t) * (1 - t) * t * p1 + 3 * (1 - t) * t * t * p2 + t * t * t; };
  if (x1 > 1 || x2 > 1 || halving) {
    double t = 0.5, step = 0.5, tried = t;
    for (int i = 0; i < 15; i++) {
      tried = t;
      const double f = b(x1, x2, t) - x;
      if (std::fabs(f) < 1e-5) break;
      step /= 2;
      t += f < 0 ? step : -step;
    }
    return b(y1, y2, tried);
  }
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
  double pos[3], curve[3][4];  // X, Y, Z and each one's curve: x1 y1 x2 y2
};
using Bones = std::map<std::string, std::vector<Key>>;
using Axes = std::map<std::string, Q>;  // a pair bone's fixed axis, unit, in x y z

// 左腕 左腕捩 左ひじ 左手捩, and the right side's (右): Shift-JIS, then UTF-16.
const char* kNames[2][4] = {{"\x8D\xB6\x98\x72", "\x8D\xB6\x98\x72\x9D\x80", "\x8D\xB6\x82\xD0\x82\xB6", "\x8D\xB6\x8E\xE8\x9D\x80"},
                            {"\x89\x45\x98\x72", "\x89\x45\x98\x72\x9D\x80", "\x89\x45\x82\xD0\x82\xB6", "\x89\x45\x8E\xE8\x9D\x80"}};
const char16_t* kWideNames[2][4] = {{u"\u5DE6\u8155", u"\u5DE6\u8155\u6369", u"\u5DE6\u3072\u3058", u"\u5DE6\u624B\u6369"},
                                    {u"\u53F3\u8155", u"\u53F3\u8155\u6369", u"\u53F3\u3072\u3058", u"\u53F3\u624B\u6369"}};

std::vector<unsigned char> slurp(const char* path, bool* ok) {
  std::vector<unsigned char> d(1 << 16);
  size_t n = 0;
  std::FILE* f = std::fopen(path, "rb");
  for (size_t got; f != nullptr && (got = std::fread(d.data() + n, 1, d.size() - n, f)) > 0;) {
    n += got;
    if (n == d.size()) d.resize(d.size() * 2);
  }
  *ok = f != nullptr && std::fclose(f) == 0;
  d.resize(n);
  return d;
}

Q axisOf(double x, double y, double z) {
  double n = std::hypot(x, y, z);
  return n > 0 ? Q{0, x / n, y / n, z / n} : Q{0, 0, 0, 0};  // no direction: every keyframe is the identity
}

// The built-in model: its twist bones turn about the pairs' axes.
void builtInAxes(Axes* axes) {
  const uint32_t bits[4][3] = {{0x3E8F2FBA, 0xBE5B2032, 0x3C1F69A8}, {0x3E8DB424, 0xBE573C4F, 0xBBCED627},
                               {0x3E911CD2, 0x3E5E12E8, 0xBBEC887F}, {0x3E9184E4, 0x3E5D07C8, 0x3BD467F7}};
  auto f = [](uint32_t v) { float x; std::memcpy(&x, &v, 4); return double(x); };
  for (int i = 0; i < 4; i++) (*axes)[kNames[i / 2][1 + 2 * (i % 2)]] = axisOf(f(bits[i][0]), f(bits[i][1]), f(bits[i][2]));
}

// Bytes taken in order; a read past the end fails once and for all.
struct Reader {
  const std::vector<unsigned char>& d;
  size_t at = 0;
  bool ok = true;
  const unsigned char* take(size_t n) {
    if (!ok || n > d.size() - at) return ok = false, nullptr;
    return at += n, &d[at - n];
  }
  unsigned u(size_t n) {
    const unsigned char* p = take(n);
    unsigned v = 0;
    for (size_t i = 0; p != nullptr && i < n; i++) v |= unsigned(p[i]) << (8 * i);
    return v;
  }
  double f() { unsigned v = u(4); float x; std::memcpy(&x, &v, 4); return double(x); }
  // A PMX text as UTF-16 (UTF-8 decoded; beyond three bytes, a character no name holds).
  std::u16string text(bool utf8) {
    size_t n = u(4);
    const unsigned char* p = take(n);
    std::u16string s;
    for (size_t i = 0; p != nullptr && i < n;) {
      if (!utf8) s += char16_t(p[i] | p[i + 1 < n ? i + 1 : i] << 8), i += 2;
      else if (p[i] < 0x80) s += char16_t(p[i++]);
      else if (p[i] >= 0xE0 && p[i] < 0xF0 && i + 2 < n) s += char16_t((p[i] & 15) << 12 | (p[i + 1] & 63) << 6 | (p[i + 2] & 63)), i += 3;
      else s += char16_t(0xFFFD), i += p[i] >= 0xF0 ? 4 : p[i] >= 0xC0 ? 2 : 1;
    }
    return s;
  }
};

// The pair bones' fixed axes of a PMX (2.0, 2.1) or PMD model.
bool readModel(const char* path, Axes* axes) {
  bool ok;
  const std::vector<unsigned char> d = slurp(path, &ok);
  Reader r{d};
  if (ok && d.size() >= 4 && std::memcmp(d.data(), "PMX ", 4) == 0) {
    r.take(8);
    const unsigned globals = r.u(1);
    const unsigned char* g = r.take(globals);
    if (g == nullptr || globals < 6) return false;
    const bool utf8 = g[0] == 1;
    const size_t uvs = g[1], vi = g[2], ti = g[3], bi = g[5];
    for (int i = 0; i < 4; i++) r.text(utf8);
    for (unsigned i = 0, n = r.u(4); i < n && r.ok; i++) {  // vertices: BDEF1, BDEF2, BDEF4, SDEF, QDEF
      r.take(32 + 16 * uvs);
      const unsigned type = r.u(1);
      r.take(type == 0 ? bi : type == 1 ? 2 * bi + 4 : type == 3 ? 2 * bi + 40 : type < 5 ? 4 * bi + 16 : d.size());
      r.take(4);
    }
    r.take(size_t(r.u(4)) * vi);
    for (unsigned i = 0, n = r.u(4); i < n && r.ok; i++) r.text(utf8);  // textures
    for (unsigned i = 0, n = r.u(4); i < n && r.ok; i++) {               // materials
      r.text(utf8), r.text(utf8), r.take(65 + 2 * ti + 1);
      r.take(r.u(1) == 0 ? ti : 1);
      r.text(utf8), r.take(4);
    }
    for (unsigned i = 0, n = r.u(4); i < n && r.ok; i++) {
      const std::u16string name = r.text(utf8);
      r.text(utf8), r.take(12 + bi + 4);
      const unsigned flag = r.u(2);
      r.take((flag & 0x0001 ? bi : 12) + (flag & 0x0300 ? bi + 4 : 0));
      double a[3] = {};
      for (double& c : a) c = flag & 0x0400 ? r.f() : 0;
      r.take((flag & 0x0800 ? 24 : 0) + (flag & 0x2000 ? 4 : 0));
      if (flag & 0x0020) {  // IK: target, loops, limit, links with their limits
        r.take(bi + 8);
        for (unsigned k = 0, links = r.u(4); k < links && r.ok; k++) r.take(bi), r.take(r.u(1) ? 24 : 0);
      }
      for (int b = 0; b < 8 && (flag & 0x0400); b++) {
        if (name == kWideNames[b / 4][b % 4]) (*axes)[kNames[b / 4][b % 4]] = axisOf(a[0], a[1], a[2]);
      }
    }
    return r.ok;
  }
  if (!ok || d.size() < 3 || std::memcmp(d.data(), "Pmd", 3) != 0) return false;
  r.take(283);
  r.take(size_t(r.u(4)) * 38);
  r.take(size_t(r.u(4)) * 2);
  r.take(size_t(r.u(4)) * 70);
  struct Bone { std::string name; unsigned tail, type; double pos[3]; };
  std::vector<Bone> bones(r.u(2));
  for (Bone& b : bones) {
    const unsigned char* name = r.take(20);
    if (name == nullptr) return false;
    b.name.assign(reinterpret_cast<const char*>(name), strnlen(reinterpret_cast<const char*>(name), 20));
    r.take(2), b.tail = r.u(2), b.type = r.u(1), r.take(2);
    for (double& c : b.pos) c = r.f();
  }
  for (const Bone& b : bones) {
    const Bone& tail = bones[b.tail < bones.size() ? b.tail : 0];
    for (int k = 0; k < 8 && b.type == 8; k++) {
      if (b.name == kNames[k / 4][k % 4]) (*axes)[b.name] = axisOf(tail.pos[0] - b.pos[0], tail.pos[1] - b.pos[1], tail.pos[2] - b.pos[2]);
    }
  }
  return r.ok;
}

// q turned onto the fixed axis a, its angle kept.
Q onAxis(const Q& q, const Q& a) {
  const double len = std::hypot(q.x, q.y, q.z);
  if (len == 0 || (a.x == 0 && a.y == 0 && a.z == 0)) return {1, 0, 0, 0};
  double half = std::atan2(len, q.w);
  if (q.x * a.x + q.y * a.y + q.z * a.z < 0) half = -half;
  return {std::cos(half), a.x * std::sin(half), a.y * std::sin(half), a.z * std::sin(half)};
}

// A keyframe's rotation; one that is no rotation (all zeros, or a part that
// is no finite number) plays as the identity, as the field's readers take
// the all-zero one.
Q rotation(double w, double x, double y, double z) {
  const double n = w * w + x * x + y * y + z * z;
  return n > 0 && std::isfinite(n) ? Q{w, x, y, z} : Q{1, 0, 0, 0};
}

bool load(const char* path, const Axes& axes, Bones* bones, unsigned* last) {
  bool ok;
  const std::vector<unsigned char> d = slurp(path, &ok);
  const size_t n = d.size();
  if (!ok) return false;
  auto u32 = [&](size_t at) { return unsigned(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | unsigned(d[at + 3]) << 24); };
  auto f32 = [&](size_t at) { unsigned v = u32(at); float x; std::memcpy(&x, &v, 4); return double(x); };
  if (n < 54) return false;
  for (size_t i = 0, at = 54; i < u32(50) && at + 111 <= n; i++, at += 111) {
    std::string name(reinterpret_cast<const char*>(&d[at]), strnlen(reinterpret_cast<const char*>(&d[at]), 15));
    Key k = {u32(at + 15), rotation(f32(at + 43), f32(at + 31), f32(at + 35), f32(at + 39)),
             d[at + 47 + 33] / 127.0, d[at + 47 + 7] / 127.0, d[at + 47 + 11] / 127.0, d[at + 47 + 15] / 127.0,
             {f32(at + 19), f32(at + 23), f32(at + 27)}, {}};
    const unsigned char xz[3] = {0, 1, 32};  // X and Y in the first row, Z from byte 32 (2 holds other things)
    for (int c = 0; c < 3; c++) {
      const unsigned char cb[4] = {xz[c], static_cast<unsigned char>(4 + c), static_cast<unsigned char>(8 + c), static_cast<unsigned char>(12 + c)};
      for (int i = 0; i < 4; i++) k.curve[c][i] = d[at + 47 + cb[i]] / 127.0;
    }
    auto axis = axes.find(name);
    if (axis != axes.end()) k.rot = onAxis(k.rot, axis->second);
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

// The bone's rotation at `frame`, and with `pos` its position (each channel along its own curve, kept as a float).
Q at(const Bones& bones, const std::string& name, unsigned frame, bool halving = false, double* pos = nullptr) {
  auto it = bones.find(name);
  if (it == bones.end() || it->second.empty()) return (pos ? pos[0] = pos[1] = pos[2] = 0 : 0), Q{1, 0, 0, 0};
  const std::vector<Key>& k = it->second;
  auto next = std::upper_bound(k.begin(), k.end(), frame, [](unsigned f, const Key& key) { return f < key.frame; });
  // babylon-mmd reads a keyframe's own frame, and any before the first, as
  // time 0 of the stretch after it, by halving too.
  if (halving && next == k.begin() && k.size() > 1) next++;
  const Key& a = next == k.begin() ? *next : *(next - 1);
  if (next == k.begin() || next == k.end() || (a.frame == frame && !halving)) {
    for (int c = 0; pos != nullptr && c < 3; c++) pos[c] = a.pos[c];
    return a.rot;
  }
  const Key& b = *next;
  const double x = a.frame >= frame ? 0 : double(frame - a.frame) / double(b.frame - a.frame);
  for (int c = 0; pos != nullptr && c < 3; c++) {
    const double* e = b.curve[c];
    pos[c] = float(a.pos[c] + (b.pos[c] - a.pos[c]) * ease(e[0], e[1], e[2], e[3], x, halving));
  }
  return slerp(a.rot, b.rot, ease(b.x1, b.y1, b.x2, b.y2, x, halving));
}

// 左腕 左腕捩 左ひじ 左手捩 左手首, and the right side's (右).
const char* const names[2][5] = {{"\x8D\xB6\x98\x72", "\x8D\xB6\x98\x72\x9D\x80", "\x8D\xB6\x82\xD0\x82\xB6", "\x8D\xB6\x8E\xE8\x9D\x80",
                                  "\x8D\xB6\x8E\xE8\x8E\xF1"},
                                 {"\x89\x45\x98\x72", "\x89\x45\x98\x72\x9D\x80", "\x89\x45\x82\xD0\x82\xB6", "\x89\x45\x8E\xE8\x9D\x80",
                                  "\x89\x45\x8E\xE8\x8E\xF1"}};

// The bones of either motion, by name.
std::set<std::string> namesOf(const Bones& a, const Bones& b) {
  std::set<std::string> all;
  for (const Bones* m : {&a, &b}) {
    for (const auto& [name, keys] : *m) all.insert(name);
  }
  return all;
}

// Per frame the largest rotation deviation of the bones of either motion but
// the first `chained` of each side's names, each bone on its own.
std::vector<double> othersAt(const Bones& a, const Bones& b, std::size_t frames, int chained) {
  std::vector<double> worst(frames);
  std::set<std::string> others = namesOf(a, b);
  for (const auto& side : names) {
    for (int k = 0; k < chained; k++) others.erase(side[k]);
  }
  for (const std::string& name : others) {
    for (std::size_t f = 0; f < frames; f++) worst[f] = std::max(worst[f], degrees(at(a, name, unsigned(f)), at(b, name, unsigned(f))));
  }
  return worst;
}

// Every bone of either motion on its own: "bone N NAME", then per reading
// (precise, halving) the rotation's largest deviation and the position's
// largest distance, each "at" its frame; then the largest of all.
void judgeBones(const Bones& a, const Bones& b, unsigned last) {
  double all[2][2] = {};
  int n = 0;
  for (const std::string& name : namesOf(a, b)) {
    std::printf("bone %d ", n++);
    for (unsigned char c : name) std::printf("%02X", c);
    for (int r = 0; r < 2; r++) {
      double worst[2] = {}, pa[3], pb[3];
      unsigned where[2] = {};
      for (unsigned f = 0; f <= last; f++) {
        const double d[2] = {degrees(at(a, name, f, r, pa), at(b, name, f, r, pb)), std::hypot(pa[0] - pb[0], pa[1] - pb[1], pa[2] - pb[2])};
        for (int i = 0; i < 2; i++) {
          if (d[i] > worst[i]) worst[i] = d[i], where[i] = f;
        }
      }
      std::printf(" %s %.4f at %u %.5f at %u", r ? "halving" : "precise", worst[0], where[0], worst[1], where[1]);
      for (int i = 0; i < 2; i++) all[r][i] = std::max(all[r][i], worst[i]);
    }
    std::printf("\n");
  }
  std::printf("all precise %.4f %.5f halving %.4f %.5f\n", all[0][0], all[0][1], all[1][0], all[1][1]);
}

}  // namespace

int main(int argc, char** argv) {
  Bones a, b;
  Axes axes;
  unsigned last = 0;
  const size_t len = argc > 1 ? std::strlen(argv[1]) : 0;
  const char* ext = len >= 4 ? argv[1] + len - 4 : "";
  const bool model = ext[0] == '.' && std::tolower(ext[1]) == 'p' && std::tolower(ext[2]) == 'm' &&
                     (std::tolower(ext[3]) == 'x' || std::tolower(ext[3]) == 'd');
  if (model ? !readModel(argv[1], &axes) : (builtInAxes(&axes), false)) {
    std::fprintf(stderr, "playback_eval: cannot read the model %s\n", argv[1]);
    return 2;
  }
  argv += model, argc -= model;
  const bool bonesOnly = argc > 3 && std::strcmp(argv[3], "bones") == 0;
  if (bonesOnly && !model) axes.clear();  // as written: the bones judged are any bones
  if (argc < 3 || !load(argv[1], axes, &a, &last) || !load(argv[2], axes, &b, &last)) {
    std::fprintf(stderr, "usage: playback_eval [model.pmx|model.pmd] A.vmd B.vmd [frames|keys|all|bones|chains [elbows] [hands]] [FROM TO]\n");
    return 2;
  }
  if (bonesOnly) return judgeBones(a, b, std::min(last, 1u << 24)), 0;
  const bool keysOnly = argc > 3 && std::strcmp(argv[3], "keys") == 0;
  // The chains a bound answers for: the arm always, the elbow and the hand as asked.
  const bool chainsMode = argc > 3 && std::strcmp(argv[3], "chains") == 0;
  bool answers[4] = {true, false, false, false};
  for (int i = 4; chainsMode && i < argc; i++) answers[1] |= !std::strcmp(argv[i], "elbows"), answers[3] |= !std::strcmp(argv[i], "hands");
  // A window of frames: F T after the mode word.
  const unsigned long from = argc > 5 && !chainsMode ? std::strtoul(argv[4], nullptr, 10) : 0;
  const unsigned long to = argc > 5 && !chainsMode ? std::strtoul(argv[5], nullptr, 10) : ~0ul;
  std::vector<bool> keyed[2];
  for (int side = 0; side < 2; side++) {
    keyed[side].assign(std::size_t(std::min(last, 1u << 24)) + 1, !keysOnly);
    for (std::size_t f = 0; f < keyed[side].size(); f++) keyed[side][f] = keyed[side][f] && f >= from && f <= to;
    auto it = b.find(names[side][4]);
    for (std::size_t i = 0; keysOnly && it != b.end() && i < it->second.size(); i++) {
      if (it->second[i].frame < keyed[side].size()) keyed[side][it->second[i].frame] = true;
    }
  }
  double worst[2][4] = {};
  unsigned where[2][4] = {};
  std::vector<double> hand[2], kept;
  // Frame by frame: a motion longer than 2^24 frames is judged up to there, and says so.
  for (auto& h : hand) h.resize(std::size_t(std::min(last, 1u << 24)) + 1);
  if (chainsMode) kept.resize(hand[0].size());
  if (last > 1u << 24) std::fprintf(stderr, "playback_eval: frames 0 to %u judged of %u\n", 1u << 24, last);
  for (unsigned f = 0; f < hand[0].size(); f++) {
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
      hand[side][f] = dev[3];
      for (int c = 0; c < 4 && chainsMode; c++) kept[f] = answers[c] ? std::max(kept[f], dev[c]) : kept[f];
    }
  }
  const char* sides[2] = {"left", "right"};
  const char* chains[4] = {"arm", "elbow", "wrist", "hand"};
  for (int side = 0; side < 2; side++) {
    for (int c = 0; c < 4; c++) std::printf("%s %s %.4f at %u\n", sides[side], chains[c], worst[side][c], where[side][c]);
  }
  for (unsigned f = 0; argc > 3 && std::strcmp(argv[3], "frames") == 0 && f < hand[0].size(); f++) {
    std::printf("%u %.4f %.4f\n", f, hand[0][f], hand[1][f]);
  }
  if (chainsMode) {
    const std::vector<double> others = othersAt(a, b, kept.size(), answers[3] ? 5 : answers[1] ? 4 : 2);
    for (std::size_t f = 0; f < kept.size(); f++) std::printf("%zu %.4f %.4f\n", f, kept[f], others[f]);
  }
  return 0;
}
