#include "vpd/pose_convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "arm/separation.h"
#include "io/byte_stream.h"
#include "math/rotation.h"
#include "pass/pair_keyframe.h"
#include "platform/platform.h"
#include "result/result_codes.h"
#include "run/run_settings.h"
#include "vpd/pose_text.h"

namespace torsel {
namespace {

// A pose is one frame, frame 0: the range is that frame alone, whatever -F
// and -T say for the motions of the run.
RunSettings singleFrame(const RunSettings& run) {
  RunSettings pose = run;
  pose.fromFrame = pose.toFrame = 0;
  return pose;
}

// A bone the conversion changes or adds: per pair a limb and its twist
// bone, per side a wrist.
constexpr int kMaxEdits = 2 * kPairCount + kWristSides;
struct Edit {
  const char* name;  // Shift-JIS
  int block;         // the bone's block in the input (its last, which a player takes), or -1: added
  int anchor;        // added: the block it stands beside and takes its layout from
  bool before;       // added: before the anchor, else after it
  Quat rot;
};
// What a conversion changes in the pose, and what it counts.
struct PoseEdits {
  Edit edit[kMaxEdits];
  int count = 0;
  int32_t folded = 0, splits = 0;
  bool indexTooLong = false;  // an index written has more digits than a pose is read with
};
PoseEdits gEdits;

bool isBone(const PoseBlock& b, const char* name) {
  const size_t length = std::strlen(name);
  return !b.morph && static_cast<size_t>(b.nameEnd - b.nameAt) == length &&
         std::memcmp(gPose.text + b.nameAt, name, length) == 0;
}

int lastBlock(const char* name) {
  for (int i = gPose.blocks - 1; i >= 0; i--) {
    if (isBone(gPose.block[i], name)) return i;
  }
  return -1;
}

Edit* findEdit(const char* name) {
  for (int i = 0; i < gEdits.count; i++) {
    if (std::strcmp(gEdits.edit[i].name, name) == 0) return &gEdits.edit[i];
  }
  return nullptr;
}

// What the bone holds now: changed, else the input's; the identity for a
// bone the pose leaves out.
Quat heldRotation(const char* name) {
  if (const Edit* e = findEdit(name)) return e->rot;
  const int block = lastBlock(name);
  return block >= 0 ? gPose.block[block].rot : kIdentity;
}

// Gives the bone `rot`, in its own block, else in one added beside `anchor`.
void setRotation(const char* name, const Quat& rot, int anchor, bool before) {
  Edit* e = findEdit(name);
  if (e == nullptr) {
    e = &gEdits.edit[gEdits.count++];
    *e = {.name = name, .block = lastBlock(name), .anchor = anchor, .before = before, .rot = kIdentity};
  }
  e->rot = rot;
}

// Scaled to length 1 in double, then narrowed: a pose's six decimals
// leave its rotations a little off the unit sphere.
Quat unitFloat(const DQuat& q) {
  const double r = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  return {static_cast<float>(q.x / r), static_cast<float>(q.y / r), static_cast<float>(q.z / r),
          static_cast<float>(q.w / r)};
}

// A pair's bone as the model in use plays it: on its fixed axis, if any.
Quat played(int pair, bool twist, const Quat& rot) { return unitFloat(shownRotation(pair, twist, rot)); }

// Each pair's limb and twist bone as a motion's keyframes at the start
// frame: the twist bone's own rotation is merged into the twist there.
void scanPairs() {
  gScans = {};
  for (int pair = 0; pair < kPairCount; pair++) {
    const int limb = lastBlock(kPairs[pair].sourceBone), twist = lastBlock(kPairs[pair].twistBone);
    PairScan& scan = gScans[pair];
    scan.reccnt = limb >= 0;
    scan.sourceAtFrom = limb >= 0 ? 0xFF : 0;
    scan.twistAtFrom = twist >= 0 ? 0xFF : 0;
    if (twist >= 0) scan.twistRotAtFrom = played(pair, true, gPose.block[twist].rot);
  }
}

int32_t loadPose(const char* path) {
  const int32_t read = readPoseText(path);
  if (read == kResultOk) scanPairs();
  return read;
}

// As a motion's records are listed, with the whole name (as long as a
// listing shows one).
void listPose(const RunSettings& run) {
  auto d = [](float v) { return static_cast<double>(v); };
  char name[256];
  poseModelName(name, sizeof name);
  std::printf("model name = %s \n", plat::conText(name));
  std::printf("max blocks of frames = %ld \n", static_cast<long>(gPose.count));
  long bones = 0, morphs = 0;
  for (int i = 0; i < gPose.blocks; i++) {
    const PoseBlock& b = gPose.block[i];
    poseBlockName(b, name, sizeof name);
    if (b.morph) {
      std::printf("Morph block %ld \n", ++morphs);
      std::printf("  morph name = %s \n", plat::conText(name));
      std::printf("  frame time = 0 \n");
      std::printf("  value = %g \n", d(b.pos.x));
    } else {
      std::printf("Block %ld \n", ++bones);
      std::printf("  bone name = %s \n", plat::conText(name));
      std::printf("  frame time = 0 \n");
      std::printf("  pos (X,Y,Z) = %g %g %g \n", d(b.pos.x), d(b.pos.y), d(b.pos.z));
      std::printf("  rot (X,Y,Z,W) = %g %g %g %g \n", d(b.rot.x), d(b.rot.y), d(b.rot.z), d(b.rot.w));
    }
  }
  if (run.checkMode) std::printf("VPD file format is correct.\n");
}

void convertPairs(const RunSettings& pose) {
  const bool fold = pose.unfoldTwist != 0;
  for (int pair = 0; pair < kPairCount; pair++) {
    if (!pairIsActive(pair, pose)) continue;
    const BonePair& p = kPairs[pair];
    const int limb = lastBlock(p.sourceBone), twist = lastBlock(p.twistBone);
    const Quat held = limb >= 0 ? played(pair, false, gPose.block[limb].rot) : kIdentity;
    if (fold) {
      // The twist bone stays, at rest: a bone a pose leaves out keeps
      // whatever turn the model had, and would twist the limb twice.
      setPairCount(pair, gScans[pair].reccnt);
      if (twist < 0) continue;
      setRotation(p.sourceBone, quatMultiply(held, gScans[pair].twistRotAtFrom), twist, true);
      setRotation(p.twistBone, kIdentity, twist, false);
      gEdits.folded++;
      if (pose.displayLevel >= 1) {
        std::printf("  => folded %s into %s \n", plat::conText(p.twistBone), plat::conText(p.sourceBone));
      }
      continue;
    }
    if (limb < 0) continue;
    SeparationResult split;
    const KeyframeView view = {.block = limb + 1, .name = p.sourceBone, .lastNul = kNameSize - 1, .frameTime = 0,
                               .rot = held};
    convertSourceKeyframe(pair, view, pose, &split);
    setRotation(p.sourceBone, split.kept, limb, false);
    setRotation(p.twistBone, split.twist, limb, false);
  }
}

// -W: 手首 = twist ⊗ rest about the forearm; 手捩, as the model plays what
// it holds now, takes the twist. 手捩 added stands after ひじ, else before
// 手首: where the model has it.
void convertWrists(const RunSettings& pose) {
  for (int side = 0; side < kWristSides; side++) {
    const int wrist = lastBlock(sjisName(side, BoneRole::Wrist));
    if (wrist < 0) continue;
    const int pair = 2 * side + 1;
    const BonePair& p = kPairs[pair];
    const PoseBlock& w = gPose.block[wrist];
    Quat twist, rest;
    wristSplit(side, unitFloat({w.rot.x, w.rot.y, w.rot.z, w.rot.w}), &twist, &rest);
    const Quat hand = quatMultiply(played(pair, true, heldRotation(p.twistBone)), twist);
    const int elbow = lastBlock(p.sourceBone);
    setRotation(p.twistBone, hand, elbow >= 0 ? elbow : wrist, elbow < 0);
    setRotation(sjisName(side, BoneRole::Wrist), rest, wrist, false);
    gEdits.splits++;
    if (pose.displayLevel >= 1) {
      std::printf("  => twist of %s onto %s (X,Y,Z,W) = %g %g %g %g \n", plat::conText(sjisName(side, BoneRole::Wrist)),
                  plat::conText(p.twistBone), static_cast<double>(twist.x), static_cast<double>(twist.y),
                  static_cast<double>(twist.z), static_cast<double>(twist.w));
    }
  }
}

void writeSpan(int32_t from, int32_t to) { wrPutBytes(gPose.text + from, to - from); }
void writeText(const char* text) { wrPutBytes(reinterpret_cast<const uint8_t*>(text), static_cast<int>(std::strlen(text))); }
void writeEol() { writeText(gPose.crlf ? "\r\n" : "\n"); }

void writeRotation(const Quat& q) {
  char number[kPoseNumberSize];
  const float parts[] = {q.x, q.y, q.z, q.w};
  for (int i = 0; i < 4; i++) {
    if (i > 0) writeText(",");
    formatPoseNumber(parts[i], number);
    writeText(number);
  }
}

int64_t blockIndex(const PoseBlock& b) {
  int64_t index = 0;
  for (int32_t i = b.numberAt; i < b.numberEnd; i++) index = index * 10 + (gPose.text[i] - '0');
  return index;
}

// "Bone" and an index, noting one beyond what is read.
void writeBoneHead(int64_t index) {
  char head[32] = "Bone";
  const char* end = std::to_chars(head + 4, head + sizeof head, index).ptr;
  gEdits.indexTooLong = gEdits.indexTooLong || end - head - 4 > kMaxPoseIndexDigits;
  wrPutBytes(reinterpret_cast<const uint8_t*>(head), static_cast<int>(end - head));
}

// A piece of an added block's layout: the anchor's own, else `head`, a
// line end and `tail`.
void writeLayout(bool own, int32_t from, int32_t to, const char* head, const char* tail) {
  if (own) return writeSpan(from, to);
  writeText(head);
  writeEol();
  writeText(tail);
}

// An added bone: the anchor's layout with its own name, index and rotation,
// at rest in place (a twist bone does not move); ends with a line end. A
// limb with more than a few lines of comments gives MMD's plain layout, so
// that what a conversion adds stays small however often a pose is converted.
void writeAdded(const Edit& e, int64_t index) {
  constexpr int32_t kMaxLayout = 256;
  const PoseBlock& m = gPose.block[e.anchor];
  int32_t close = m.end;
  while (close > m.rotEnd && (gPose.text[close - 1] == '\n' || gPose.text[close - 1] == '\r')) close--;
  const bool own = (m.transAt - m.nameEnd) + (m.rotAt - m.transEnd) + (close - m.rotEnd) <= kMaxLayout;
  writeBoneHead(index);
  writeText("{");
  writeText(e.name);
  writeLayout(own, m.nameEnd, m.transAt, "", "  ");
  writeText("0.000000,0.000000,0.000000");
  writeLayout(own, m.transEnd, m.rotAt, ";", "  ");
  writeRotation(e.rot);
  writeLayout(own, m.rotEnd, close, ";", "}");
  writeEol();
}

// The input's text with the edits: the count and the bone indices after an
// added block moved on by the blocks added, a blank line beside each added
// block as MMD writes them. 0, or -1 once the output has failed.
int writePose() {
  int added = 0;
  for (int i = 0; i < gEdits.count; i++) added += gEdits.edit[i].block < 0;
  int32_t from = 0;
  if (added > 0) {
    writeSpan(0, gPose.countAt);
    char count[16];
    std::snprintf(count, sizeof count, "%ld", static_cast<long>(gPose.count) + added);
    writeText(count);
    from = gPose.countEnd;
  }
  int64_t shift = 0;  // bone blocks added so far
  for (int i = 0; i < gPose.blocks; i++) {
    const PoseBlock& b = gPose.block[i];
    writeSpan(from, b.at);
    for (int k = 0; k < gEdits.count; k++) {
      if (gEdits.edit[k].block >= 0 || gEdits.edit[k].anchor != i || !gEdits.edit[k].before) continue;
      writeAdded(gEdits.edit[k], blockIndex(b) + shift++);
      writeEol();
    }
    const Edit* edit = nullptr;
    for (int k = 0; k < gEdits.count; k++) edit = gEdits.edit[k].block == i ? &gEdits.edit[k] : edit;
    if (!b.morph && shift > 0) {
      writeBoneHead(blockIndex(b) + shift);
      writeSpan(b.numberEnd, b.rotAt);
    } else {
      writeSpan(b.at, b.rotAt);
    }
    if (edit != nullptr) {
      writeRotation(edit->rot);
      writeSpan(b.rotEnd, b.end);
    } else {
      writeSpan(b.rotAt, b.end);
    }
    for (int k = 0; k < gEdits.count; k++) {
      if (gEdits.edit[k].block >= 0 || gEdits.edit[k].anchor != i || gEdits.edit[k].before) continue;
      if (gPose.text[b.end - 1] != '\n') writeEol();
      writeEol();
      writeAdded(gEdits.edit[k], blockIndex(b) + ++shift);
    }
    from = b.end;
  }
  writeSpan(from, gPose.size);
  return wrIsClosed();
}

int32_t abandon(int32_t result) {
  wrAbandon();
  return result;
}

}  // namespace

int32_t confirmPoseFile(const char* inPath, const RunSettings& run) {
  std::printf("Confirming: %s \n", inPath);
  const int32_t read = loadPose(inPath);
  if (read != kResultOk) return read;
  if ((run.displayLevel >= 4 && run.displayLevel <= 9) || run.checkMode) listPose(run);
  std::printf("\n");
  return kResultOk;
}

int32_t convertPoseFile(const char* outPath, const char* inPath, const RunSettings& run) {
  const RunSettings pose = singleFrame(run);
  std::printf("Reading from: %s \n", inPath);
  std::printf("Writing to  : %s \n", outPath);
  resetPairCounts();
  // Read again: the file may have changed since it was confirmed.
  const int32_t read = loadPose(inPath);
  if (read != kResultOk) return read;
  gEdits.count = 0;
  gEdits.folded = gEdits.splits = 0;
  convertPairs(pose);
  if (pose.wristTwist) convertWrists(pose);
  int added = 0;
  for (int i = 0; i < gEdits.count; i++) added += gEdits.edit[i].block < 0;
  if (pose.displayLevel >= 1) {
    std::printf("max blocks of frames = %ld \n", static_cast<long>(gPose.count));
    std::printf(" => max blocks of frames = %ld (cnv) \n", static_cast<long>(gPose.count) + added);
  }

  // Nothing is written that would not be read as a pose again.
  if (gPose.blocks + added > kMaxPoseBlocks) return refusePoseOutput();
  if (wrOpenBeside(outPath) != 0) return kResultCannotOpen;
  gEdits.indexTooLong = false;
  const bool written = writePose() == 0;
  if (written && (gEdits.indexTooLong || wrCount() > kMaxPoseSize)) return abandon(refusePoseOutput());
  if (!written || wrClose() != 0) {
    std::printf("Cannot write to file at %06X \n", static_cast<unsigned>(wrCount()));
    return abandon(kResultWrite);
  }
  if (wrPublish() != 0) return abandon(kResultWrite);
  std::printf("\n");
  reportPairCounts(pose);
  gTotals.twistFolded += gEdits.folded;
  gTotals.wristSplit += gEdits.splits;
  gTotals.convertedFileCount++;
  return kResultOk;
}

}  // namespace torsel
