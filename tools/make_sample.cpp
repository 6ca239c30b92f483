// Writes the project's sample motion: a VMD file with keyframes of the arms,
// elbows, shoulders and twist bones, a morph section and, for large runs,
// trailing camera-like bytes. Deterministic for a given count and seed.
//
//   make_sample OUT              the short sample of examples/
//   make_sample OUT COUNT SEED   COUNT bone keyframes, random rotations
//   make_sample OUT COUNT SEED hostile
//                                rotations that no motion should hold: random
//                                bits, NaN, infinities, subnormals, huge and
//                                tiny values, half turns; odd interpolation
//   make_sample OUT FRAMES SEED dance
//                                a dance of FRAMES frames: arms and elbows
//                                keyed sparsely, bending and twisting far
//                                between keys on uneven curves, some twist
//                                keyframes of their own
//   make_sample OUT FRAMES SEED hands
//                                the dance with the wrists keyed too
//   make_sample OUT FRAMES SEED wrists
//                                the dance with 左手首 keyed now and then
//                                and 右手首 never, as many motions have them
//   make_sample OUT FRAMES SEED baked
//                                the hands' dance and センター walking about,
//                                played and keyed at every frame of every
//                                bone on straight curves (a baked motion)
//   make_sample OUT FRAMES SEED keyed
//                                the motion that baked plays, as keyed
//   make_sample OUT FRAMES SEED traced [DEGREES]
//                                the baked motion with up to DEGREES (0.2)
//                                of jitter a keyframe (and a hundredth of
//                                that in units on センター), as traced from video
//   make_sample OUT.vpd 0 SEED pose
//                                a pose (VPD) of both arm chains, bent and
//                                twisted far, their twist bones now and then
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

struct Bone {
  const char* name;  // Shift-JIS
};

// Bones of the sample. The twist and shoulder bones are there so that the
// merge at the start frame and the shoulder diagnostics have work to do.
constexpr Bone kBones[] = {
    {"\x83\x5A\x83\x93\x83\x5E\x81\x5B"},  // センター
    {"\x8D\xB6\x98\x72"},                  // 左腕
    {"\x89\x45\x98\x72"},                  // 右腕
    {"\x8D\xB6\x82\xD0\x82\xB6"},          // 左ひじ
    {"\x89\x45\x82\xD0\x82\xB6"},          // 右ひじ
    {"\x8D\xB6\x8C\xA8"},                  // 左肩
    {"\x89\x45\x8C\xA8"},                  // 右肩
    {"\x8D\xB6\x98\x72\x9D\x80"},          // 左腕捩
    {"\x8D\xB6\x8E\xE8\x9D\x80"},          // 左手捩
    {"\x93\xAA"},                          // 頭
    {"\x8D\xB6\x8E\xE8\x8E\xF1"},          // 左手首
    {"\x89\x45\x8E\xE8\x8E\xF1"},          // 右手首
};
constexpr int kBoneCount = sizeof kBones / sizeof kBones[0];

constexpr const char* kMorphs[] = {
    "\x82\xDC\x82\xCE\x82\xBD\x82\xAB",  // まばたき
    "\x82\xA0",                          // あ
};

std::FILE* gOut;

void putBytes(const void* p, size_t n) { std::fwrite(p, 1, n, gOut); }
void putU32(uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  putBytes(b, 4);
}
void putF32(float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  putU32(v);
}
void putName(const char* s, size_t width) {
  char field[20] = {};
  std::memcpy(field, s, std::strlen(s));
  putBytes(field, width);
}

uint64_t gState;
double uniform() {  // xorshift64*, in [0, 1)
  gState ^= gState >> 12;
  gState ^= gState << 25;
  gState ^= gState >> 27;
  return static_cast<double>((gState * 0x2545F4914F6CDD1DULL) >> 11) * (1.0 / 9007199254740992.0);
}

// A unit rotation: `angle` radians about (x, y, z).
void putRotation(double x, double y, double z, double angle) {
  double len = std::sqrt(x * x + y * y + z * z);
  double s = std::sin(angle / 2) / len;
  putF32(static_cast<float>(x * s));
  putF32(static_cast<float>(y * s));
  putF32(static_cast<float>(z * s));
  putF32(static_cast<float>(std::cos(angle / 2)));
}

// A canonical interpolation block: a linear-ish curve per channel; bytes 2
// and 3 repeat bytes 32 and 33 as older files do.
void putBlock(int variant) {
  unsigned char p[16];
  for (int i = 0; i < 16; i++) p[i] = static_cast<unsigned char>(i < 8 ? 20 + variant : 107 - variant);
  unsigned char bz[64] = {};
  for (int row = 0; row < 4; row++) {
    for (int k = 0; k + row < 16; k++) bz[16 * row + k] = p[k + row];
  }
  putBytes(bz, 64);
}

void putBoneKeyframe(int bone, uint32_t frame, double ax, double ay, double az, double angle, int variant) {
  putName(kBones[bone].name, 15);
  putU32(frame);
  putF32(bone == 0 ? 0.5f * static_cast<float>(frame % 7) : 0.0f);
  putF32(0.0f);
  putF32(bone == 0 ? -0.25f : 0.0f);
  putRotation(ax, ay, az, angle);
  putBlock(variant);
}

void writeHeader(uint32_t boneCount) {
  char magic[30] = "Vocaloid Motion Data 0002";
  putBytes(magic, 30);
  putName("\x8F\x89\x89\xB9\x83\x7E\x83\x4E", 20);  // 初音ミク
  putU32(boneCount);
}

void writeShort() {
  // frame, bone, axis and angle: twists about the arm axis, swings, and a
  // keyframe of 左腕捩 at frame 0 beside one of 左腕.
  struct Key {
    uint32_t frame;
    int bone;
    double x, y, z, angle;
  };
  const Key keys[] = {
      {0, 0, 0, 1, 0, 0.0},     {0, 1, 0.79, -0.61, 0.03, 0.5}, {0, 7, 0.79, -0.61, 0.03, 0.1},
      {0, 2, 0.79, 0.61, -0.02, -0.4}, {0, 5, 0, 0, 1, 0.2},    {0, 6, 0, 0, 1, -0.2},
      {10, 1, 1, 0.2, 0.5, 0.7},  {10, 3, 0.8, -0.6, -0.02, 0.9}, {10, 4, 0.8, 0.6, 0.02, -0.9},
      {20, 2, 0.3, 1, 0.1, 1.1},  {20, 8, 0.8, -0.6, 0.0, 0.3},  {20, 9, 1, 0, 0, 0.15},
      {30, 1, 0, 0, 1, -0.6},    {30, 3, 0.2, 1, 0.3, 0.4},     {30, 4, 1, 0, 0, 0.8},
      {30, 0, 0, 1, 0, 1.0},
  };
  constexpr uint32_t n = sizeof keys / sizeof keys[0];
  writeHeader(n);
  for (uint32_t i = 0; i < n; i++) {
    putBoneKeyframe(keys[i].bone, keys[i].frame, keys[i].x, keys[i].y, keys[i].z, keys[i].angle, static_cast<int>(i % 5));
  }
  putU32(4);
  for (uint32_t i = 0; i < 4; i++) {
    putName(kMorphs[i % 2], 15);
    putU32(i * 10);
    putF32(i % 2 == 0 ? 1.0f : 0.5f);
  }
  // Empty camera, light and self-shadow sections, as MMD writes them.
  putU32(0);
  putU32(0);
  putU32(0);
}

// Bone of a large motion: about 40 in 100 keyframes on the arms, elbows and
// shoulders, 2 on the twist bones (real motions rarely key them), the rest
// on the center and the head.
int pickBone(double r) {
  constexpr struct {
    double upTo;
    int bone;
  } kShare[] = {{0.08, 1}, {0.16, 2}, {0.24, 3}, {0.32, 4}, {0.36, 5}, {0.40, 6},
                {0.41, 7}, {0.42, 8}, {0.75, 0}, {1.01, 9}};
  for (const auto& s : kShare) {
    if (r < s.upTo) return s.bone;
  }
  return 0;
}

void writeLarge(uint32_t count, uint64_t seed) {
  gState = seed * 2654435761ULL + 0x9E3779B97F4A7C15ULL;
  writeHeader(count);
  for (uint32_t i = 0; i < count; i++) {
    int bone = pickBone(uniform());
    double x = uniform() - 0.5, y = uniform() - 0.5, z = uniform() - 0.5;
    if (x == 0 && y == 0 && z == 0) x = 1;
    putBoneKeyframe(bone, i / 16, x, y, z, (uniform() - 0.5) * 6.0, static_cast<int>(i % 5));
  }
  // An empty morph section, then the camera, light and self-shadow counts
  // of a newer MMD, all empty: 1,000,000 keyframes make 111,000,070 bytes.
  putU32(0);
  putU32(0);
  putU32(0);
  putU32(0);
}

uint32_t randomBits() { return static_cast<uint32_t>(uniform() * 4294967296.0); }

float hostileComponent(int kind) {
  constexpr uint32_t kNaNs[] = {0x7FC00000, 0xFFC00000, 0x7F800001, 0xFFBFFFFF, 0x7FC12345};
  const float sign = uniform() < 0.5 ? -1.0f : 1.0f;
  switch (kind) {
    case 0: {
      uint32_t bits = randomBits();
      float f;
      std::memcpy(&f, &bits, 4);
      return f;
    }
    case 1: {
      float f;
      std::memcpy(&f, &kNaNs[randomBits() % 5], 4);
      return f;
    }
    case 2: return sign * INFINITY;
    case 3: return sign * std::ldexp(static_cast<float>(uniform()), -127 - static_cast<int>(randomBits() % 20));
    case 4: return sign * std::ldexp(static_cast<float>(uniform() + 0.5), static_cast<int>(randomBits() % 200) - 140);
    default: return static_cast<float>(uniform() * 2 - 1);
  }
}

// Keyframes of the converted, twist and shoulder bones on 40 frames, so
// that frame ranges and the start-frame merge meet them too.
void writeHostile(uint32_t count, uint64_t seed) {
  gState = seed * 2654435761ULL + 0x9E3779B97F4A7C15ULL;
  writeHeader(count);
  for (uint32_t i = 0; i < count; i++) {
    const int bone = static_cast<int>(randomBits() % 9);
    putName(kBones[bone].name, 15);
    putU32(randomBits() % 40);
    for (int k = 0; k < 3; k++) putF32(0.0f);
    const int kind = static_cast<int>(randomBits() % 8);
    if (kind == 6) {  // half turns and identities, either sign
      float q[4] = {};
      q[randomBits() % 4] = uniform() < 0.5 ? -1.0f : 1.0f;
      for (float c : q) putF32(c);
    } else if (kind == 7) {
      putRotation(uniform() - 0.5, uniform() - 0.5, uniform() - 0.5 + 1e-9, (uniform() - 0.5) * 6.5);
    } else {
      // One odd component among ordinary ones, or all four odd.
      const int odd = uniform() < 0.3 ? 4 : static_cast<int>(randomBits() % 4);
      for (int c = 0; c < 4; c++) putF32(odd == 4 || c == odd ? hostileComponent(kind) : hostileComponent(9));
    }
    if (uniform() < 0.2) {
      unsigned char bz[64];
      for (unsigned char& b : bz) b = static_cast<unsigned char>(randomBits());
      putBytes(bz, 64);
    } else {
      putBlock(static_cast<int>(i % 5));
    }
  }
  putU32(0);
}

// A turn of `twist` radians about the limb (roughly X), after a swing of
// `swing` radians about an axis across it: X, Y, Z, W.
void limbRotation(double twist, double swing, double across, float* q) {
  const double ay = std::cos(across), az = std::sin(across);
  const double sw = std::sin(swing / 2), cw = std::cos(swing / 2), st = std::sin(twist / 2), ct = std::cos(twist / 2);
  // (swing about (0, ay, az)) ⊗ (twist about X): the twist first.
  q[0] = static_cast<float>(cw * st);
  q[1] = static_cast<float>(ay * sw * ct + az * sw * st);
  q[2] = static_cast<float>(az * sw * ct - ay * sw * st);
  q[3] = static_cast<float>(cw * ct);
}

// The canonical block of 16 parameters.
void putParams(const unsigned char* p) {
  unsigned char bz[64] = {};
  for (int row = 0; row < 4; row++) {
    for (int c = 0; c + row < 16; c++) bz[16 * row + c] = p[c + row];
  }
  putBytes(bz, 64);
}

enum class Wrists { None, Often, Seldom };

// A keyframe of a generated motion: its bone, frame, position, rotation and parameters.
struct DanceKey {
  int bone;
  uint32_t frame;
  float pos[3], rot[4];
  unsigned char p[16];
};
constexpr uint32_t kMostDanceKeys = 1 << 16;
DanceKey gDance[kMostDanceKeys];

// The dance's keyframes into gDance, bone by bone; their count.
uint32_t makeDance(uint32_t frames, uint64_t seed, Wrists wrists) {
  gState = seed * 2654435761ULL + 0x9E3779B97F4A7C15ULL;
  uint32_t count = 0;
  // 左腕 右腕 左ひじ 右ひじ, then the twist bones 左腕捩 and 左手捩 now and
  // then; the wrists 左手首 右手首 as often as the limbs, or the left seldom.
  for (int bone : {1, 2, 3, 4, 7, 8, 10, 11}) {
    if (bone >= 10 && (wrists == Wrists::None || (wrists == Wrists::Seldom && bone == 11))) break;
    const bool twistBone = bone == 7 || bone == 8, seldom = bone == 10 && wrists == Wrists::Seldom;
    double twist = 0, swing = 0.3, across = 0;
    auto step = [&] {
      return seldom      ? 40 + static_cast<uint32_t>(uniform() * 160)
             : twistBone ? 20 + static_cast<uint32_t>(uniform() * 80)
                         : 3 + static_cast<uint32_t>(uniform() * 27);
    };
    for (uint32_t f = static_cast<uint32_t>(uniform() * 5); f < frames && count < kMostDanceKeys; f += step()) {
      // Mostly small moves, some larger, a few fast ones (up to 40 degrees of twist a step).
      const double r = uniform(), scale = r < 0.55 ? 0.12 : r < 0.88 ? 0.4 : 1.0;
      twist += (uniform() - 0.5) * 1.4 * scale;
      if (twist > 2.6 || twist < -2.6) twist *= 0.5;
      swing = twistBone ? 0 : std::fabs(swing + (uniform() - 0.5) * 1.2 * scale);
      across += (uniform() - 0.5) * 1.5 * scale;
      DanceKey& k = gDance[count++];
      k = {bone, f, {0, 0, 0}, {}, {}};
      limbRotation(twistBone ? twist * 0.3 : twist, std::min(swing, 2.0), across, k.rot);
    }
  }
  // Half the rotation curves uneven, the rest and the other channels MMD's default.
  for (uint32_t i = 0; i < count; i++) {
    const bool uneven = uniform() < 0.5;
    for (int c = 0; c < 16; c++) {
      gDance[i].p[c] = static_cast<unsigned char>(c % 4 == 3 && uneven ? uniform() * 128 : (c < 8 ? 20 : 107));
    }
  }
  return count;
}

void writeDance(uint32_t frames, uint64_t seed, Wrists wrists) {
  const uint32_t count = makeDance(frames, seed, wrists);
  writeHeader(count);
  for (uint32_t i = 0; i < count; i++) {
    const DanceKey& k = gDance[i];
    putName(kBones[k.bone].name, 15);
    putU32(k.frame);
    for (int c = 0; c < 3; c++) putF32(0.0f);
    for (float c : k.rot) putF32(c);
    putParams(k.p);
  }
  putU32(0);
  putU32(0);
  putU32(0);
  putU32(0);
}

// y at x on a curve of parameters p (channel c), solved by halving finely.
double curveAt(const unsigned char* p, int c, double x) {
  auto cubic = [](double a, double b, double t) { return 3 * (1 - t) * (1 - t) * t * a + 3 * (1 - t) * t * t * b + t * t * t; };
  const double x1 = p[c] / 127.0, y1 = p[4 + c] / 127.0, x2 = p[8 + c] / 127.0, y2 = p[12 + c] / 127.0;
  double lo = 0, hi = 1;
  for (int i = 0; i < 60; i++) (cubic(x1, x2, (lo + hi) / 2) < x ? lo : hi) = (lo + hi) / 2;
  return cubic(y1, y2, (lo + hi) / 2);
}

// The shorter slerp from a to b at s, rotations as X, Y, Z, W.
void slerp(const float* a, const float* b, double s, double* out) {
  double dot = 0, sign = 1;
  for (int i = 0; i < 4; i++) dot += double(a[i]) * b[i];
  if (dot < 0) dot = -dot, sign = -1;
  const double half = std::acos(std::min(dot, 1.0)), wa = half > 1e-9 ? std::sin((1 - s) * half) / std::sin(half) : 1 - s;
  const double wb = half > 1e-9 ? std::sin(s * half) / std::sin(half) : s;
  for (int i = 0; i < 4; i++) out[i] = wa * a[i] + sign * wb * b[i];
}

// The dance with the wrists, and センター walking about (its own curves on
// every channel), played as a player does and keyed at every frame of every
// bone on straight curves, as a motion baked in another tool is; `noise`
// degrees (and a hundredth of that in units) of jitter on each keyframe, as
// a motion traced from video has.
void writeBaked(uint32_t frames, uint64_t seed, double noise, bool keyed) {
  uint32_t count = makeDance(frames, seed, Wrists::Often);
  double x = 0, z = 0, turn = 0;
  for (uint32_t f = 0; f < frames && count < kMostDanceKeys; f += 10 + static_cast<uint32_t>(uniform() * 30)) {
    x += (uniform() - 0.5) * 4, z += (uniform() - 0.5) * 4, turn += (uniform() - 0.5) * 1.5;
    DanceKey& k = gDance[count++];
    k = {0, f, {static_cast<float>(x), static_cast<float>(uniform() * 1.5 - 1), static_cast<float>(z)}, {}, {}};
    limbRotation(0, turn, 0, k.rot);  // about Y
    const bool uneven = uniform() < 0.5;
    for (int c = 0; c < 16; c++) k.p[c] = static_cast<unsigned char>(uneven ? uniform() * 128 : (c < 8 ? 20 : 107));
  }
  if (keyed) {  // the motion the bake plays, as it was keyed
    writeHeader(count);
    for (uint32_t i = 0; i < count; i++) {
      putName(kBones[gDance[i].bone].name, 15);
      putU32(gDance[i].frame);
      for (float c : gDance[i].pos) putF32(c);
      for (float c : gDance[i].rot) putF32(c);
      putParams(gDance[i].p);
    }
    for (int i = 0; i < 4; i++) putU32(0);
    return;
  }
  const int bones[] = {0, 1, 2, 3, 4, 7, 8, 10, 11};
  writeHeader(static_cast<uint32_t>(sizeof bones / sizeof bones[0]) * frames);
  const unsigned char straight[16] = {20, 20, 20, 20, 20, 20, 20, 20, 107, 107, 107, 107, 107, 107, 107, 107};
  for (int bone : bones) {
    uint32_t first = count, last = count;  // the bone's keyframes: first to last, in frame order
    for (uint32_t i = 0; i < count; i++) {
      if (gDance[i].bone != bone) continue;
      if (first == count) first = i;
      last = i;
    }
    const DanceKey rest = {bone, 0, {0, 0, 0}, {0, 0, 0, 1}, {}};  // a bone the dance never keyed
    for (uint32_t f = 0, i = first; f < frames; f++) {
      while (i < last && gDance[i + 1].frame <= f) i++;
      const DanceKey& a = first < count ? gDance[i] : rest;
      const DanceKey& b = i < last ? gDance[i + 1] : a;
      const double s = f <= a.frame || i == last ? 0 : double(f - a.frame) / double(b.frame - a.frame);
      double q[4], pos[3];
      slerp(a.rot, b.rot, s > 0 ? curveAt(b.p, 3, s) : 0, q);
      for (int c = 0; c < 3; c++) pos[c] = a.pos[c] + (double(b.pos[c]) - a.pos[c]) * (s > 0 ? curveAt(b.p, c, s) : 0);
      if (noise > 0) {  // a turn of up to `noise` degrees about a random axis, after
        const double ax = uniform() - 0.5, ay = uniform() - 0.5, az = uniform() - 0.5, len = std::sqrt(ax * ax + ay * ay + az * az);
        const double half = (uniform() - 0.5) * noise * 3.14159265358979 / 180, k = std::sin(half) / len;
        const double n[4] = {ax * k, ay * k, az * k, std::cos(half)};
        const double r[4] = {n[3] * q[0] + n[0] * q[3] + n[1] * q[2] - n[2] * q[1], n[3] * q[1] + n[1] * q[3] + n[2] * q[0] - n[0] * q[2],
                             n[3] * q[2] + n[2] * q[3] + n[0] * q[1] - n[1] * q[0], n[3] * q[3] - n[0] * q[0] - n[1] * q[1] - n[2] * q[2]};
        for (int c = 0; c < 4; c++) q[c] = r[c];
        for (double& p : pos) p += bone == 0 ? (uniform() - 0.5) * noise / 50 : 0;
      }
      putName(kBones[bone].name, 15);
      putU32(f);
      for (double p : pos) putF32(static_cast<float>(p));
      for (double c : q) putF32(static_cast<float>(c));
      putParams(straight);
    }
  }
  putU32(0);
  putU32(0);
  putU32(0);
  putU32(0);
}

// A pose as MMD writes it (Shift-JIS, CR LF, six decimals): センター moved,
// then per side 腕 腕捩 ひじ 手捩 手首, a limb mostly there, a twist bone
// half the time; 頭 last.
void writePose(uint64_t seed) {
  gState = seed * 2654435761ULL + 0x9E3779B97F4A7C15ULL;
  constexpr const char* kChain[2][5] = {
      {"\x8D\xB6\x98\x72", "\x8D\xB6\x98\x72\x9D\x80", "\x8D\xB6\x82\xD0\x82\xB6", "\x8D\xB6\x8E\xE8\x9D\x80",
       "\x8D\xB6\x8E\xE8\x8E\xF1"},  // 左腕 左腕捩 左ひじ 左手捩 左手首
      {"\x89\x45\x98\x72", "\x89\x45\x98\x72\x9D\x80", "\x89\x45\x82\xD0\x82\xB6", "\x89\x45\x8E\xE8\x9D\x80",
       "\x89\x45\x8E\xE8\x8E\xF1"},  // 右腕 右腕捩 右ひじ 右手捩 右手首
  };
  struct PoseBone {
    const char* name;
    double pos[3], rot[4];
  };
  PoseBone bones[12];
  int count = 0;
  bones[count++] = {kBones[0].name, {uniform() - 0.5, uniform() * 2 - 3, 0.25}, {0, 0, 0, 1}};
  for (const auto& chain : kChain) {
    for (int i = 0; i < 5; i++) {
      const bool twistBone = i == 1 || i == 3;
      if (uniform() >= (twistBone ? 0.5 : 0.85)) continue;
      // (swing about an axis across the limb) ⊗ (twist about X), as putLimbRotation.
      const double twist = (uniform() - 0.5) * 5.0, swing = twistBone ? 0.1 : uniform() * 2, across = uniform() * 6.3;
      const double sw = std::sin(swing / 2), cw = std::cos(swing / 2), st = std::sin(twist / 2), ct = std::cos(twist / 2);
      const double ay = std::cos(across), az = std::sin(across);
      bones[count++] = {chain[i], {0, 0, 0}, {cw * st, ay * sw * ct + az * sw * st, az * sw * ct - ay * sw * st, cw * ct}};
    }
  }
  bones[count++] = {kBones[9].name, {0, 0, 0}, {0, std::sin(0.2), 0, std::cos(0.2)}};
  // 親ファイル名, 総ポーズボーン数
  std::fprintf(gOut, "Vocaloid Pose Data file\r\n\r\nmiku.osm;\t\t// \x90\x65\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC\r\n"
                     "%d;\t\t\t\t// \x91\x8D\x83\x7C\x81\x5B\x83\x59\x83\x7B\x81\x5B\x83\x93\x90\x94\r\n\r\n", count);
  for (int i = 0; i < count; i++) {
    const PoseBone& b = bones[i];
    std::fprintf(gOut, "Bone%d{%s\r\n  %f,%f,%f;\t\t\t\t// trans x,y,z\r\n  %f,%f,%f,%f;\t\t// Quaternion x,y,z,w\r\n}\r\n\r\n",
                 i, b.name, b.pos[0], b.pos[1], b.pos[2], b.rot[0], b.rot[1], b.rot[2], b.rot[3]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc == 3 || argc > 6 || (argc == 6 && std::strcmp(argv[4], "traced") != 0)) {
    std::fprintf(stderr, "usage: make_sample OUT [COUNT SEED [hostile|dance|hands|wrists|keyed|baked|traced [DEGREES]|pose]]\n");
    return 2;
  }
  gOut = std::fopen(argv[1], "wb");
  if (gOut == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  if (argc == 2) {
    writeShort();
  } else if (argc == 5 && (!std::strcmp(argv[4], "dance") || !std::strcmp(argv[4], "hands") ||
                            !std::strcmp(argv[4], "wrists"))) {
    const Wrists wrists = argv[4][0] == 'd' ? Wrists::None : argv[4][0] == 'h' ? Wrists::Often : Wrists::Seldom;
    writeDance(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)), std::strtoull(argv[3], nullptr, 10), wrists);
  } else if (argc >= 5 && (!std::strcmp(argv[4], "baked") || !std::strcmp(argv[4], "traced") || !std::strcmp(argv[4], "keyed"))) {
    const double noise = argv[4][0] != 't' ? 0 : argc == 6 ? std::strtod(argv[5], nullptr) : 0.2;
    writeBaked(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)), std::strtoull(argv[3], nullptr, 10), noise,
               argv[4][0] == 'k');
  } else if (argc == 5 && std::strcmp(argv[4], "pose") == 0) {
    writePose(std::strtoull(argv[3], nullptr, 10));
  } else if (argc == 5) {
    writeHostile(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)), std::strtoull(argv[3], nullptr, 10));
  } else {
    writeLarge(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)), std::strtoull(argv[3], nullptr, 10));
  }
  return std::fclose(gOut) == 0 ? 0 : 1;
}
