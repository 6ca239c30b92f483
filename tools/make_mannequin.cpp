// Writes the page's mannequin: a small PMX 2.0 model with the bones of the
// model the program is set up for, its twist bones fixed on the built-in
// axes, and plain boxes weighted to the bones, so that the preview shows
// what a player makes of a motion when the user brings no model.
//
//   make_mannequin OUT.pmx            the mannequin
//   make_mannequin OUT.pmx VERTICES   a model as heavy as a real one, for
//                                     measuring the preview: hair, skirt
//                                     and finger chains (about 180 bones),
//                                     the boxes cut into a grid to about
//                                     VERTICES vertices, blended weights,
//                                     16 materials and 60 face morphs
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arm/model_axes.h"

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
  std::u16string name;
  std::string english;
  V3 pos;
  int parent;
  uint16_t flags;
  V3 axis;  // the fixed axis, with kFixedAxis
};

constexpr int kMaxBones = 400, kMaxBoxes = 400, kMaterials = 16, kMorphs = 60;
Bone gBones[kMaxBones];
int gBoneCount;

// A box from `from` along `along`, `width` wide and `depth` deep, on one
// bone; with a blend bone, its first third bends with that bone too.
struct Box {
  V3 from, along, side, up;
  int bone, blend;
};
Box gBoxes[kMaxBoxes];
int gBoxCount;

int addBone(std::u16string name, std::string english, V3 pos, int parent, uint16_t flags, V3 axis = {0, 0, 0}) {
  gBones[gBoneCount] = {name, english, pos, parent, static_cast<uint16_t>(kRotate | kVisible | kOperable | flags), axis};
  return gBoneCount++;
}

// A limb's box between two points; `flat` > 1 makes it wider than deep, so
// that a turn about its own length shows.
void addBox(V3 from, V3 to, float width, float flat, int bone, int blend = -1) {
  V3 along = add(to, scale(from, -1));
  V3 dir = unit(along);
  V3 ref = std::fabs(dir.z) < 0.9f ? V3{0, 0, 1} : V3{1, 0, 0};
  V3 side = unit(cross(dir, ref)), up = unit(cross(side, dir));
  gBoxes[gBoxCount++] = {from, along, scale(side, width * flat / 2), scale(up, width / 2), bone, blend};
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
int gHead, gCenter, gWrist[2];
V3 gForeDir[2];

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
  const int head = gHead = addBone(u"\u982D", "head", {0, 16.5f, 0}, neck, 0);  // 頭
  gCenter = center;
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
    const int wrist = gWrist[s] = addBone(kNames[s][5], kEnglish[s][5], wristAt, wristTwist, 0);
    gForeDir[s] = foreDir;
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

// A chain of `count` bones from `at` by `step`, each with a box bending with
// its parent: the hair, skirt and fingers a real model sways.
int gChains;
void addChain(const char16_t* stem, int parent, V3 at, V3 step, int count, float width) {
  const char16_t chain = static_cast<char16_t>(u'A' + gChains++ % 26);
  for (int k = 0; k < count; k++) {
    std::u16string name = stem;  // 髪A00, 髪A01 ...: each bone's own name, as a motion finds it
    name += chain, name += static_cast<char16_t>(u'0' + k / 10), name += static_cast<char16_t>(u'0' + k % 10);
    const int bone = addBone(name, "chain", at, parent, 0);
    addBox(at, add(at, step), width, 1.5f, bone, parent);
    parent = bone, at = add(at, step);
  }
}

void buildChains() {
  for (int c = 0; c < 4; c++) {  // hair, down the back
    const float x = (c - 1.5f) * 0.7f;
    addChain(u"\u9AEA", gHead, {x, 18.5f, 0.8f}, {x * 0.05f, -0.9f, 0.15f}, 15, 0.5f);  // 髪
  }
  for (int c = 0; c < 12; c++) {  // skirt, all round
    const float a = static_cast<float>(c) * 0.5236f, x = std::cos(a), z = std::sin(a);
    addChain(u"\u30B9\u30AB\u30FC\u30C8", gCenter, {x * 1.5f, 8.5f, z * 1.2f}, {x * 0.2f, -0.6f, z * 0.2f}, 6, 0.6f);
  }
  for (int s = 0; s < 2; s++) {  // fingers, spread across the hand
    const V3 at = gBones[gWrist[s]].pos, d = scale(gForeDir[s], 1.6f);
    for (int f = 0; f < 5; f++) {
      addChain(u"\u6307", gWrist[s], add(add(at, d), {0, 0, (f - 2) * 0.15f}), scale(gForeDir[s], 0.25f), 3, 0.12f);  // 指
    }
  }
}

int gVertexSize = 2, gBoneSize = 1, gCells = 1;
void putIndex(int size, uint32_t v) { size == 1 ? putU8(v) : size == 2 ? putU16(v) : putU32(v); }

void putVertex(V3 p, V3 n, int bone, int blend, float weight) {
  putV3(p), putV3(n), putF32(0), putF32(0);
  if (blend < 0 || weight >= 1) {
    putU8(0), putIndex(gBoneSize, static_cast<uint32_t>(bone));  // BDEF1
  } else {
    putU8(1), putIndex(gBoneSize, static_cast<uint32_t>(bone)), putIndex(gBoneSize, static_cast<uint32_t>(blend));
    putF32(weight);  // BDEF2
  }
  putF32(1);  // edge scale
}

// Each face of each box as a grid of gCells x gCells squares.
int verticesPerBox() { return 6 * (gCells + 1) * (gCells + 1); }
// The mannequin winds each square both ways, so that both sides face out
// whatever the corners' order; a heavy model once, as real models are.
bool gBothWays = true;
int indicesPerBox() { return 6 * gCells * gCells * (gBothWays ? 12 : 6); }

void writeBoxVertices(const Box& x) {
  const V3 half[3] = {scale(x.along, 0.5f), x.side, x.up};
  const V3 centre = add(x.from, half[0]);
  for (int e = 0; e < 3; e++) {
    for (float sign : {1.0f, -1.0f}) {
      const V3 face = add(centre, scale(half[e], sign)), p = half[(e + 1) % 3], q = half[(e + 2) % 3];
      for (int j = 0; j <= gCells; j++) {
        for (int i = 0; i <= gCells; i++) {
          const float u = 2.0f * i / gCells - 1, v = 2.0f * j / gCells - 1;
          const V3 at = add(face, add(scale(p, u), scale(q, v)));
          // How far along the box's length: 0 at its start, 1 at its end.
          const float along = e == 0 ? (sign + 1) / 2 : e == 1 ? (v + 1) / 2 : (u + 1) / 2;
          putVertex(at, scale(unit(half[e]), sign), x.bone, x.blend, std::fmin(1.0f, 0.5f + along * 1.5f));
        }
      }
    }
  }
}

void writeBoxIndices(int box) {
  const int row = gCells + 1;
  for (int f = 0; f < 6; f++) {
    const uint32_t base = static_cast<uint32_t>(box * verticesPerBox() + f * row * row);
    for (int j = 0; j < gCells; j++) {
      for (int i = 0; i < gCells; i++) {
        const uint32_t c[4] = {base + j * row + i, base + j * row + i + 1, base + (j + 1) * row + i + 1,
                               base + (j + 1) * row + i};
        static const unsigned kCorners[12] = {0, 1, 2, 0, 2, 3, 0, 2, 1, 0, 3, 2};
        for (int k = 0; k < (gBothWays ? 12 : 6); k++) putIndex(gVertexSize, c[kCorners[k]]);
      }
    }
  }
}

void putMaterial(const char* name, int indices) {
  putAscii(name), putAscii(name);
  for (float f : {0.8f, 0.8f, 0.8f, 1.0f, 0.0f, 0.0f, 0.0f, 5.0f, 0.4f, 0.4f, 0.4f}) putF32(f);
  putU8(0);
  for (float f : {0.0f, 0.0f, 0.0f, 1.0f, 1.0f}) putF32(f);
  putU8(0xFF), putU8(0xFF), putU8(0), putU8(1), putU8(0);  // no texture or sphere, shared toon 0
  putAscii("");
  putU32(static_cast<uint32_t>(indices));
}

void writeModel(bool heavy) {
  const int vertices = gBoxCount * verticesPerBox();
  gVertexSize = vertices > 65535 ? 4 : 2;
  gBoneSize = heavy ? 2 : 1;
  putBytes("PMX ", 4), putF32(2.0f), putU8(8);
  // UTF-16, no extra UVs, then the sizes of the vertex, texture, material, bone, morph and rigid body indices.
  for (int v : {0, 0, gVertexSize, 1, 1, gBoneSize, 1, 1}) putU8(static_cast<unsigned>(v));
  putText(heavy ? u"Torsel \u91CD\u3044\u30E2\u30C7\u30EB" : u"Torsel \u30DE\u30CD\u30AD\u30F3");  // 重いモデル, マネキン
  putAscii(heavy ? "Torsel heavy model" : "Torsel mannequin");
  putText(u"Torsel \u306E\u30D7\u30EC\u30D3\u30E5\u30FC\u7528");  // のプレビュー用
  putAscii("For Torsel's preview: the bones and twist axes of the built-in model.");

  putU32(static_cast<uint32_t>(vertices));
  for (int b = 0; b < gBoxCount; b++) writeBoxVertices(gBoxes[b]);
  putU32(static_cast<uint32_t>(gBoxCount * indicesPerBox()));
  for (int b = 0; b < gBoxCount; b++) writeBoxIndices(b);
  putU32(0);  // textures
  const int materials = heavy ? kMaterials : 1;
  putU32(static_cast<uint32_t>(materials));  // plain grey, each over a run of boxes
  for (int m = 0; m < materials; m++) {
    const int boxes = (m + 1) * gBoxCount / materials - m * gBoxCount / materials;
    putMaterial(m == 0 ? "body" : "part", boxes * indicesPerBox());
  }

  putU32(static_cast<uint32_t>(gBoneCount));
  for (int b = 0; b < gBoneCount; b++) {
    const Bone& x = gBones[b];
    putText(x.name.c_str()), putAscii(x.english.c_str()), putV3(x.pos);
    putIndex(gBoneSize, static_cast<uint32_t>(x.parent)), putU32(0), putU16(x.flags);
    putV3({0, 0, 0});  // tail offset
    if (x.flags & kFixedAxis) putV3(x.axis);
  }
  // Face morphs, each moving every vertex of the head's boxes (the fourth and fifth).
  const int morphs = heavy ? kMorphs : 0;
  putU32(static_cast<uint32_t>(morphs));
  for (int m = 0; m < morphs; m++) {
    putText(u"\u8868\u60C5"), putAscii("face"), putU8(1), putU8(1);  // 表情, the face panel, vertex morph
    putU32(static_cast<uint32_t>(2 * verticesPerBox()));
    for (int v = 3 * verticesPerBox(); v < 5 * verticesPerBox(); v++) {
      putIndex(gVertexSize, static_cast<uint32_t>(v)), putV3({0.001f * m, 0.002f, -0.001f * (m % 7)});
    }
  }
  putU32(1);  // the root display frame, with the master bone
  putAscii("Root"), putAscii("Root"), putU8(1), putU32(1), putU8(0), putIndex(gBoneSize, 0);
  putU32(0), putU32(0);  // rigid bodies and joints
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_mannequin OUT.pmx [VERTICES]\n");
    return 2;
  }
  buildBones();
  const bool heavy = argc == 3;
  if (heavy) {
    buildChains();
    gBothWays = false;
    const double perFace = std::atof(argv[2]) / (6.0 * gBoxCount);
    gCells = std::max(1, static_cast<int>(std::lround(std::sqrt(perFace) - 1)));
  }
  gOut = std::fopen(argv[1], "wb");
  if (gOut == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  writeModel(heavy);
  return std::fclose(gOut) == 0 ? 0 : 1;
}
