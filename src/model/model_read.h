// What the PMX and PMD readers share: reads through the RD stream checked
// against what is left of the file, and the bones a run and the rig check
// ask for, noted as the readers come to them. Inside src/model only.
#pragma once

#include <cstdint>

#include "model/model_file.h"
#include "arm/bone_names.h"

namespace torsel::modelread {

// The bones a model is asked for; their names, in each encoding, are the known bones'.
enum Bone { kLeftArm, kLeftElbow, kRightArm, kRightElbow, kLeftArmTwist, kLeftWristTwist, kRightArmTwist,
            kRightWristTwist, kLeftWrist, kRightWrist, kBoneCount };

const BoneName& nameOf(int bone);

// For each pair: the source bone, its twist bone and the next bone of the limb.
struct PairBones {
  Bone source, twist, next;
};
extern const PairBones kPairBones[kPairCount];

struct FoundBone {
  bool present;
  int32_t index;  // in the file
  Vec3 pos;
  bool hasFixedAxis;
  Vec3 fixedAxis;
};
extern FoundBone gBones[kBoneCount];

/// One bone record as a reader hands it on.
struct BoneRecord {
  const uint8_t* name;
  int nameLen;           // -1: too long to be kept
  int32_t index, parent;  // parent -1: none
  Vec3 pos;
  bool hasFixedAxis;
  Vec3 fixedAxis;
  bool appends;           // appends a rotation (付与)
  int32_t appendParent;
  float ratio;
};

/// Starts a file of `size` bytes (-1: none that can be read): nothing noted.
void beginModel(int64_t size);
/// Cut short or damaged: sticky, tested once per section.
bool bad();
void setBad();
/// Bytes left of the file.
int64_t left();
/// Claims n more bytes of the file; false (and the file is bad) past its end.
bool claim(int64_t n);
void skip(int64_t n);
uint32_t readUnsigned(int size);
/// A signed index of 1, 2 or 4 bytes, as PMX stores bone indices.
int32_t readIndex(int size);
int32_t readInt32();
float readFloat();
Vec3 readVec3();
void readBytes(uint8_t* dst, int n);

/// Notes the model's bone count, before its records.
void noteBoneCount(int32_t count);
/// Notes a bone record: its parent, the asked bone it is (its first holder
/// only) and, where it may be one, a helper of a twist bone. Which asked
/// bone, or -1.
int noteBone(const BoneRecord& bone, NameEncoding enc, ModelAxes* out);
/// 1 when `ancestor` is among the parents of `bone`, 0 when not, -1 where
/// the chain cannot be followed (past the parents kept, or a loop).
int8_t isAncestor(int32_t ancestor, int32_t bone);

void readPmx(ModelAxes* out);
void readPmd(ModelAxes* out);

}  // namespace torsel::modelread
