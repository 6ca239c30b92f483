// Writes the page's mannequin: a small PMX 2.0 model with the bones of the
// model the program is set up for, its twist bones fixed on the built-in
// axes, and plain boxes weighted to the bones, so that the preview shows
// what a player makes of a motion when the user brings no model.
//
//   make_mannequin OUT.pmx
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "twist/model_axes.h"

namespace {

struct V3 {
  float x, y, z;
};
V3 add(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 scale(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 unit(V3 a) { return scale(a, 1.0f / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z)); }

enum BoneFlag : uint16_t { kRotate = 0x0002, kMove = 0x0004, kVisible = 0x0008, kOperable = 0x0010, kFixedAxis = 0x0400 };

struct Bone {
  const char16_t* name;
  const char* english;
  V3 pos;
  int parent;
  uint16_t flags;
  V3 axis;  // the fixed axis, with kFixedAxis
};

constexpr int kMaxBones = 32, kMaxBoxes = 24;
Bone gBones[kMaxBones];
int gBoneCount;

// A box from `from` along `along`, `width` wide and `depth` deep, on one bone.
struct Box {
  V3 from, along, side, up;
  int bone;
};
Box gBoxes[kMaxBoxes];
int gBoxCount;

int addBone(const char16_t* name, const char* english, V3 pos, int parent, uint16_t flags, V3 axis = {0, 0, 0}) {
  gBones[gBoneCount] = {name, english, pos, parent, static_cast<uint16_t>(kRotate | kVisible | kOperable | flags), axis};
  return gBoneCount++;
}

// A limb's box between two points; `flat` > 1 makes it wider than deep, so
// that a turn about its own length shows.
void addBox(V3 from, V3 to, float width, float flat, int bone) {
  V3 along = add(to, scale(from, -1));
  V3 dir = unit(along);
  V3 ref = std::fabs(dir.z) < 0.9f ? V3{0, 0, 1} : V3{1, 0, 0};
  V3 side = unit(cross(dir, ref)), up = unit(cross(side, dir));
  gBoxes[gBoxCount++] = {from, along, scale(side, width * flat / 2), scale(up, width / 2), bone};
}

std::FILE* gOut;
void putBytes(const void* p, size_t n) { std::fwrite(p, 1, n, gOut); }
void putU8(unsigned v) { std::fputc(static_cast<int>(v & 0xFF), gOut); }
void putU16(unsigned v) { putU8(v), putU8(v >> 8); }
void putU32(uint32_t v) { putU16(v & 0xFFFF), putU16(v >> 16); }
void putF32(float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  putU32(v);
}
void putV3(V3 v) { putF32(v.x), putF32(v.y), putF32(v.z); }
// A PMX text in UTF-16LE.
void putText(const char16_t* s) {
  size_t n = 0;
  while (s[n] != 0) n++;
  putU32(static_cast<uint32_t>(2 * n));
  for (size_t i = 0; i < n; i++) putU16(s[i]);
}
void putAscii(const char* s) {
  putU32(static_cast<uint32_t>(2 * std::strlen(s)));
  for (size_t i = 0; s[i] != 0; i++) putU16(static_cast<unsigned char>(s[i]));
}

// The left limbs run along the built-in axes; the right ones mirror them
// (the table keeps X positive, so the right side's directions are negated).
void buildBones() {
  using torsel::setupRestQuats;
  auto dir = [](int pair, float sign) {
    const torsel::Quat& q = setupRestQuats[pair];
    return V3{q.x * sign, q.y * sign, q.z * sign};
  };
  const int root = addBone(u"\u5168\u3066\u306E\u89AA", "master", {0, 0, 0}, -1, kMove);  // 全ての親
  const int center = addBone(u"\u30BB\u30F3\u30BF\u30FC", "center", {0, 8, 0}, root, kMove);  // センター
  const int upper = addBone(u"\u4E0A\u534A\u8EAB", "upper body", {0, 10, 0}, center, 0);  // 上半身
  const int neck = addBone(u"\u9996", "neck", {0, 15.5f, 0}, upper, 0);  // 首
  const int head = addBone(u"\u982D", "head", {0, 16.5f, 0}, neck, 0);  // 頭
  addBox({0, 4, 0}, {0, 10, 0}, 2.6f, 1.3f, center);                      // hips and legs
  addBox({0, 10, 0}, {0, 15.2f, 0}, 3.0f, 1.2f, upper);
  addBox({0, 15.2f, 0}, {0, 16.4f, 0}, 0.8f, 1, neck);
  addBox({0, 16.4f, 0}, {0, 19, 0}, 2.0f, 1, head);
  addBox({0, 17.5f, -0.6f}, {0, 18, -1.4f}, 0.5f, 1, head);  // the nose says where the face is
  addBox({-0.7f, 0, 0}, {-0.7f, 5, 0}, 1.0f, 1, center);
  addBox({0.7f, 0, 0}, {0.7f, 5, 0}, 1.0f, 1, center);
  // Per side: shoulder, arm, arm twist, elbow, wrist twist, wrist.
  static const char16_t* const kNames[2][6] = {
      {u"\u5DE6\u80A9", u"\u5DE6\u8155", u"\u5DE6\u8155\u6369", u"\u5DE6\u3072\u3058", u"\u5DE6\u624B\u6369",
       u"\u5DE6\u624B\u9996"},  // 左肩 左腕 左腕捩 左ひじ 左手捩 左手首
      {u"\u53F3\u80A9", u"\u53F3\u8155", u"\u53F3\u8155\u6369", u"\u53F3\u3072\u3058", u"\u53F3\u624B\u6369",
       u"\u53F3\u624B\u9996"},  // 右肩 右腕 右腕捩 右ひじ 右手捩 右手首
  };
  static const char* const kEnglish[2][6] = {
      {"shoulder_L", "arm_L", "arm twist_L", "elbow_L", "wrist twist_L", "wrist_L"},
      {"shoulder_R", "arm_R", "arm twist_R", "elbow_R", "wrist twist_R", "wrist_R"},
  };
  for (int s = 0; s < 2; s++) {
    const float x = s == 0 ? 1 : -1;
    const V3 armDir = unit(dir(s * 2, x)), foreDir = unit(dir(s * 2 + 1, x));
    const V3 shoulderAt{0.4f * x, 14.8f, 0}, armAt{1.6f * x, 14.8f, 0};
    const V3 twistAt = add(armAt, scale(armDir, 2.2f)), elbowAt = add(armAt, scale(armDir, 4.2f));
    const V3 wristTwistAt = add(elbowAt, scale(foreDir, 2.0f)), wristAt = add(elbowAt, scale(foreDir, 3.8f));
    const V3 axisArm = dir(s * 2, 1), axisFore = dir(s * 2 + 1, 1);
    const int shoulder = addBone(kNames[s][0], kEnglish[s][0], shoulderAt, upper, 0);
    const int arm = addBone(kNames[s][1], kEnglish[s][1], armAt, shoulder, 0);
    const int armTwist = addBone(kNames[s][2], kEnglish[s][2], twistAt, arm, kFixedAxis, axisArm);
    const int elbow = addBone(kNames[s][3], kEnglish[s][3], elbowAt, armTwist, 0);
    const int wristTwist = addBone(kNames[s][4], kEnglish[s][4], wristTwistAt, elbow, kFixedAxis, axisFore);
    const int wrist = addBone(kNames[s][5], kEnglish[s][5], wristAt, wristTwist, 0);
    addBox(shoulderAt, armAt, 0.9f, 1, shoulder);
    addBox(armAt, twistAt, 0.9f, 1.5f, arm);
    addBox(twistAt, elbowAt, 0.8f, 1.5f, armTwist);
    addBox(elbowAt, wristTwistAt, 0.7f, 1.5f, elbow);
    addBox(wristTwistAt, wristAt, 0.6f, 1.5f, wristTwist);
    // A flat hand and a thumb towards the front: how the wrist turns shows.
    addBox(wristAt, add(wristAt, scale(foreDir, 1.6f)), 0.35f, 3.0f, wrist);
    addBox(add(wristAt, scale(foreDir, 0.3f)), add(add(wristAt, scale(foreDir, 0.9f)), {0, 0, -0.7f}), 0.25f, 1, wrist);
  }
}

void putVertex(V3 p, V3 n, int bone) {
  putV3(p), putV3(n), putF32(0), putF32(0);
  putU8(0), putU8(static_cast<unsigned>(bone));  // BDEF1
  putF32(1);                                     // edge scale
}

void writeModel() {
  putBytes("PMX ", 4), putF32(2.0f), putU8(8);
  // UTF-16, no extra UVs, vertex index 2 bytes, every other index 1 byte.
  for (unsigned v : {0u, 0u, 2u, 1u, 1u, 1u, 1u, 1u}) putU8(v);
  putText(u"Torsel \u30DE\u30CD\u30AD\u30F3");  // マネキン
  putAscii("Torsel mannequin");
  putText(u"Torsel \u306E\u30D7\u30EC\u30D3\u30E5\u30FC\u7528");  // のプレビュー用
  putAscii("For Torsel's preview: the bones and twist axes of the built-in model.");

  putU32(static_cast<uint32_t>(gBoxCount * 24));
  for (int b = 0; b < gBoxCount; b++) {
    const Box& x = gBoxes[b];
    const V3 half[3] = {scale(x.along, 0.5f), x.side, x.up};
    const V3 centre = add(x.from, half[0]);
    for (int e = 0; e < 3; e++) {
      for (float sign : {1.0f, -1.0f}) {
        const V3 face = add(centre, scale(half[e], sign)), p = half[(e + 1) % 3], q = half[(e + 2) % 3];
        for (int k = 0; k < 4; k++) {
          const float i = (k == 1 || k == 2) ? 1.0f : -1.0f, j = k >= 2 ? 1.0f : -1.0f;
          putVertex(add(face, add(scale(p, i), scale(q, j))), scale(unit(half[e]), sign), x.bone);
        }
      }
    }
  }
  // Two triangles a face, wound so that both sides face out whatever the corners' order.
  putU32(static_cast<uint32_t>(gBoxCount * 6 * 12));
  for (int f = 0; f < gBoxCount * 6; f++) {
    const unsigned v = static_cast<unsigned>(f * 4);
    for (unsigned k : {0u, 1u, 2u, 0u, 2u, 3u, 0u, 2u, 1u, 0u, 3u, 2u}) putU16(v + k);
  }
  putU32(0);  // textures
  putU32(1);  // one material, plain grey
  putAscii("body"), putAscii("body");
  for (float f : {0.8f, 0.8f, 0.8f, 1.0f, 0.0f, 0.0f, 0.0f, 5.0f, 0.4f, 0.4f, 0.4f}) putF32(f);
  putU8(0);
  for (float f : {0.0f, 0.0f, 0.0f, 1.0f, 1.0f}) putF32(f);
  putU8(0xFF), putU8(0xFF), putU8(0), putU8(1), putU8(0);  // no texture or sphere, shared toon 0
  putAscii("");
  putU32(static_cast<uint32_t>(gBoxCount * 6 * 12));

  putU32(static_cast<uint32_t>(gBoneCount));
  for (int b = 0; b < gBoneCount; b++) {
    const Bone& x = gBones[b];
    putText(x.name), putAscii(x.english), putV3(x.pos), putU8(static_cast<unsigned>(x.parent)), putU32(0), putU16(x.flags);
    putV3({0, 0, 0});  // tail offset
    if (x.flags & kFixedAxis) putV3(x.axis);
  }
  putU32(0);  // morphs
  putU32(1);  // the root display frame, with the master bone
  putAscii("Root"), putAscii("Root"), putU8(1), putU32(1), putU8(0), putU8(0);
  putU32(0), putU32(0);  // rigid bodies and joints
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_mannequin OUT.pmx\n");
    return 2;
  }
  buildBones();
  gOut = std::fopen(argv[1], "wb");
  if (gOut == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  writeModel();
  return std::fclose(gOut) == 0 ? 0 : 1;
}
