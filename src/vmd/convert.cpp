#include "vmd/convert.h"

#include <cstdio>
#include <cstring>

#include "io/byte_stream.h"
#include "platform/platform.h"
#include "playback/keep_planner.h"
#include "playback/wrist_split.h"
#include "twist/bone_pairs.h"
#include "twist/model_axes.h"
#include "twist/run_settings.h"
#include "twist/separation.h"
#include "vmd/prescan.h"
#include "vmd/vmd_format.h"

namespace torsel {
namespace {

char gTempPath[plat::kPathMax];

// "左肩", "右肩": diagnosed, never converted.
constexpr char kLeftShoulder[] = "\x8D\xB6\x8C\xA8";
constexpr char kRightShoulder[] = "\x89\x45\x8C\xA8";

bool isShoulder(const char* name) {
  // 左肩 and 右肩 share their first bytes with 左腕 and 右腕, not with most bones.
  if (name[0] != kLeftShoulder[0] && name[0] != kRightShoulder[0]) return false;
  return std::strcmp(name, kLeftShoulder) == 0 || std::strcmp(name, kRightShoulder) == 0;
}

// Ends a pass that did not succeed: both streams closed, the temporary
// output removed, any earlier output left as it was.
int32_t abandon(int32_t result) {
  wrClose();
  rdClose();
  plat::removeFile(gTempPath);
  plat::releaseTemp();
  return result;
}

int32_t writeFailure() {
  std::printf("Cannot write to file at %06X=(%02X) \n", static_cast<unsigned>(wrCount()),
              static_cast<unsigned>(gLastByte));
  return abandon(kResultWrite);
}

// A twist bone's keyframe inserted before kf: its frame, position and block.
int writeTwistKeyframe(const BoneKeyframe& kf, const char* bone, const Quat& rot) {
  uint8_t name[kNameSize] = {};
  std::memcpy(name, bone, std::strlen(bone));
  return writeBoneKeyframe(kf, name, rot);
}

// A planned keyframe of `bone`.
int writeHeldKey(const HeldKey& k, const char* bone) {
  BoneKeyframe kf = {};
  kf.frameTime = k.frame;
  kf.pos = k.pos;
  unpackBlock(k, kf.bz);
  return writeTwistKeyframe(kf, bone, k.rot);
}

// A planned pair's keyframes, at the place of its first record: on every
// frame the twist, then the source. Returns the number written, or -1.
int32_t writeKeptPair(int pair) {
  int32_t written = 0;
  for (const KeepFrame& f : keepFrames(pair)) {
    for (const HeldKey* k : {&f.twist, &f.source}) {
      if (!(k == &f.twist ? f.hasTwist : f.hasSource)) continue;
      const char* bone = k == &f.twist ? gPairs[pair].twistBone : gPairs[pair].sourceBone;
      if (writeHeldKey(*k, bone) != 0) return -1;
      written++;
    }
  }
  return written;
}

// -W with -K: a side's planned keyframes at the first record of its
// planned bones: the elbow pair's, unless written already (it may hold no
// record of its own), then 手捩's, then 手首's. The number written, or -1.
int32_t writeKeptWrist(int side, bool* keptWritten) {
  int32_t written = 0;
  const int elbow = 2 * side + 1;
  if (pairIsActive(elbow) && keepPlanned(elbow) && !keptWritten[elbow]) {
    keptWritten[elbow] = true;
    written = writeKeptPair(elbow);
    if (written < 0) return -1;
  }
  for (const WristRole role : {WristRole::HandTwist, WristRole::Wrist}) {
    const Track* keys = wristKept(side, role);
    const char* bone = role == WristRole::Wrist ? wristBone(side) : gPairs[elbow].twistBone;
    for (size_t i = 0; keys != nullptr && i < keys->size(); i++) {
      if (writeHeldKey((*keys)[i], bone) != 0) return -1;
      written++;
    }
  }
  return written;
}

// Bone keyframes: each record as read, a twist keyframe before every
// converted one, merged twist keyframes left out; a pair kept by -K as
// planned. Returns the number of records written, or -1 when the output
// failed.
int32_t copyBoneSection(int32_t count) {
  int32_t written = 0;
  bool keptWritten[kPairCount] = {}, wristWritten[kWristSides] = {};
  BoneKeyframe kf;
  for (int32_t block = 1; !rdIsClosed() && block <= count; block++) {
    if (readBoneKeyframe(&kf) != 0) break;
    if (showBetween(2, 9)) printBoneKeyframe(block, kf, showBetween(3, 9));
    checkBz(kf.bz);

    const KeyframeView view = {block, kf.name.text, kf.name.lastNul, kf.frameTime, kf.rot};
    if (isShoulder(kf.name.text)) shoulderDiagnostics(view);

    Quat rot = kf.rot;
    PairRole role;
    int pair = findPair(kf.name.text, &role);
    int side = 0;
    const WristRole wrist = gSettings.wristTwist ? wristRole(kf.name.text, &side) : WristRole::None;
    if (wrist != WristRole::None && wristKept(side, wrist) != nullptr) {
      if (wristWritten[side]) continue;
      wristWritten[side] = true;
      int32_t kept = writeKeptWrist(side, keptWritten);
      if (kept < 0) return -1;
      written += kept;
      continue;
    }
    if (pair >= 0 && planningPairs() && keepPlanned(pair)) {
      if (keptWritten[pair]) continue;
      keptWritten[pair] = true;
      int32_t kept = writeKeptPair(pair);
      if (kept < 0) return -1;
      written += kept;
      continue;
    }
    if (gSettings.unfoldTwist) pair = -1;  // nothing to fold: as it is
    if (wrist == WristRole::HandTwist && wristAbsorbs(side, kf.frameTime)) {
      if (showAtLeast(1)) std::printf("  => skipped recording %s block. \n", plat::conText(kf.name.text));
      continue;
    }
    if (wrist == WristRole::Wrist && inFrameRange(kf.frameTime)) {
      Quat twist, hand;
      wristSplit(side, kf.rot, &twist, &rot);
      wristCount(side, twist);
      if (wristCarrier(side, block, kf.frameTime, &hand)) {
        if (writeTwistKeyframe(kf, gPairs[2 * side + 1].twistBone, hand) != 0) return -1;
        written++;
      }
    }
    if (pair >= 0 && role == PairRole::Source) {
      SeparationResult split;
      if (convertSourceKeyframe(pair, view, &split) == PairAction::Convert) {
        // A wrist keyed on the same frame writes the one 手捩 keyframe there.
        const bool absorbed = gSettings.wristTwist && pair % 2 == 1 && wristAbsorbs(pair / 2, kf.frameTime);
        if (!absorbed && writeTwistKeyframe(kf, gPairs[pair].twistBone, split.twist) != 0) return -1;
        written += !absorbed;
        rot = split.kept;
      }
    } else if (pair >= 0 && filterTwistKeyframe(pair, view) == PairAction::Drop) {
      continue;
    }
    if (writeBoneKeyframe(kf, kf.name.raw, rot) != 0) return -1;
    written++;
  }
  return written;
}

// Morph keyframes, copied. Returns the number written, or -1.
int32_t copyMorphSection(int32_t count) {
  int32_t written = 0;
  MorphKeyframe kf;
  for (int32_t block = 1; !rdIsClosed() && block <= count; block++) {
    if (readMorphKeyframe(&kf) != 0) break;
    if (showBetween(2, 9)) printMorphKeyframe(block, kf);
    if (writeMorphKeyframe(kf) != 0) return -1;
    written++;
  }
  return written;
}

void copyTrailingData() {
  if (rdIsClosed()) return;
  int c = vmdGetByte();
  if (c < 0) return;
  if (showAtLeast(1)) std::printf("Unrecognized data bytes found. \n");
  int32_t copied = 0;
  for (; c >= 0; c = vmdGetByte()) {
    wrPutByte(c);
    copied++;
    if (showAtLeast(2)) {
      std::printf("%02X ", static_cast<unsigned>(c));
      if (copied % 16 == 0) std::printf("\n");
    }
  }
  if (showAtLeast(2)) std::printf("\n");
  if (showAtLeast(1)) std::printf("Unrecognized block: Total %ld bytes.\n", static_cast<long>(copied));
}

// Records a planned pair writes: both bones on every frame kept, the
// source and the twist keyframes left when folded.
int32_t plannedRecords(int pair) {
  int32_t records = 0;
  for (const KeepFrame& f : keepFrames(pair)) records += f.hasTwist + f.hasSource;
  return records;
}

// Keyframes a pair adds to the bone count: as planned when -K or -U plans it.
int32_t keptCountDelta(int pair) {
  if (planningPairs() && keepPlanned(pair)) return plannedRecords(pair) - keepHeldCount(pair);
  return gSettings.unfoldTwist ? 0 : pairFrameCountDelta(pair);
}

// Per planned pair: keyframes added beyond a plain conversion (kept) or
// twist keyframes folded (folded), and the largest deviation left; the
// counts go into the run's summary.
void reportKeptPairs() {
  if (!planningPairs()) return;
  // "  %s: %+ld キーフレーム, 最大誤差 %.3f 度 \n"
  constexpr char kKeptJa[] = "  %s: %+ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80, "
                             "\x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78 \n";
  // "  %s: 捩 %ld キーフレームを戻した, 最大誤差 %.3f 度 \n"
  constexpr char kFoldedJa[] = "  %s: \x9D\x80 %ld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80\x82\xF0"
                               "\x96\xDF\x82\xB5\x82\xBD, \x8D\xC5\x91\xE5\x8C\xEB\x8D\xB7 %.3f \x93\x78 \n";
  const bool ja = plat::langId() == plat::kLangJapanese, fold = gSettings.unfoldTwist != 0;
  bool shown = false;
  for (int i = 0; i < kPairCount; i++) {
    if (!pairIsActive(i) || !keepPlanned(i)) continue;
    const long count = fold ? keepFoldedCount(i) : keptCountDelta(i) - pairFrameCountDelta(i);
    (fold ? gTotals.twistFolded : gTotals.keepAdded) += static_cast<int32_t>(count);
    if (!showAtLeast(1)) continue;
    const char* line = fold ? (ja ? kFoldedJa : "  Unfold.twist %s: %ld twist keyframes folded, largest deviation %.3f deg \n")
                            : (ja ? kKeptJa : "  Keep.motion %s: %+ld keyframes, largest deviation %.3f deg \n");
    std::printf(plat::conText(line), plat::conText(gPairs[i].sourceBone), count, keepDeviation(i));
    shown = true;
  }
  if (!shown) return;
  // "  %s で %ld.%ld 度以内 \n": on which model the bound holds.
  constexpr char kWithinJa[] = "  %s \x82\xC5 %ld.%ld \x93\x78\x88\xC8\x93\xE0 \n";
  const long tenths = keepBound();
  if (ja) {
    std::printf(plat::conText(kWithinJa), modelInUse(), tenths / 10, tenths % 10);
  } else {
    std::printf("  Within %ld.%ld degrees on %s \n", tenths / 10, tenths % 10, modelInUse());
  }
}

}  // namespace

int32_t convertMotionFile(const char* outPath, const char* inPath) {
  std::printf("Reading from: %s \n", inPath);
  std::printf("Writing to  : %s \n", outPath);
  resetPairCounts();
  if (rdOpen(inPath) != 0) return kResultCannotOpen;
  if (wrOpenBeside(outPath, gTempPath) != 0) {
    rdClose();
    return kResultCannotOpen;
  }

  for (int i = 0; i < kMagicSize; i++) {
    int c = vmdGetByte();
    if (isTestedMagicByte(i) && c != static_cast<unsigned char>(kMagic[i])) {
      if (reportReadFailure() != 0) return abandon(kResultCannotOpen);
      std::printf("Illegal file format at %06X=(%02X) \n", static_cast<unsigned>(rdCount()), static_cast<unsigned>(c));
      return abandon(kResultFormat);
    }
    wrPutByte(c);
    if ((i == 0 || i == 24) && wrIsClosed()) return writeFailure();
  }

  // A read that fails in the header ends the pass before anything of it is shown.
  NameField model;
  readNameField(kModelNameSize, &model);
  if (reportReadFailure() != 0) return abandon(kResultCannotOpen);
  for (int i = 0; i < kModelNameSize; i++) wrPutByte(model.raw[i]);
  if (showAtLeast(1) && model.lastNul >= 1) std::printf("model name = %s \n", plat::conText(model.text));

  int32_t boneCount = rdGetInt32();
  if (reportReadFailure() != 0) return abandon(kResultCannotOpen);
  if (gSettings.wristTwist) wristPrepare();
  if (planningPairs()) keepPlan();
  if (gSettings.wristTwist) wristPlan();
  uint32_t announced = static_cast<uint32_t>(boneCount);  // wraps, never overflows
  for (int i = 0; i < kPairCount; i++) announced += static_cast<uint32_t>(keptCountDelta(i));
  if (gSettings.wristTwist) announced += static_cast<uint32_t>(wristCountDelta());
  wrPutInt32(static_cast<int32_t>(announced));
  if (showAtLeast(1)) {
    std::printf("max blocks of frames = %ld \n", static_cast<long>(boneCount));
    std::printf(" => max blocks of frames = %ld (cnv) \n", static_cast<long>(static_cast<int32_t>(announced)));
  }

  int32_t bonesWritten = copyBoneSection(boneCount);
  if (bonesWritten < 0) return writeFailure();
  // A cut input, or several twist keyframes dropped at the start frame,
  // leaves fewer records than announced; the header must say what is there.
  if (static_cast<int32_t>(announced) != bonesWritten && wrPatchInt32(kBoneCountOffset, bonesWritten) != 0) {
    return writeFailure();
  }

  int32_t morphCount = rdGetInt32();
  if (!rdIsClosed()) {
    int32_t morphCountOffset = wrCount();
    wrPutInt32(morphCount);
    if (showAtLeast(1)) {
      std::printf("\nMorph exist. \n");
      std::printf("max morph frames = %ld \n", static_cast<long>(morphCount));
      std::printf(" => max morph frames = %ld (cnv) \n", static_cast<long>(morphCount));
    }
    int32_t morphsWritten = copyMorphSection(morphCount);
    if (morphsWritten < 0) return writeFailure();
    if (morphsWritten != morphCount && wrPatchInt32(morphCountOffset, morphsWritten) != 0) return writeFailure();
    copyTrailingData();
  }

  if (reportReadFailure() != 0) return abandon(kResultCannotOpen);
  // Every failure counts, also one in the trailing bytes or the last flush.
  if (wrIsClosed() || wrClose() != 0) return writeFailure();
  if (plat::replaceFile(gTempPath, outPath) != 0) {
    std::printf("Cannot replace file : %s\n", outPath);
    return writeFailure();
  }
  plat::releaseTemp();
  rdClose();
  std::printf("\n");
  reportKeptPairs();
  if (gSettings.wristTwist) wristReport();
  reportPairCounts();
  gTotals.convertedFileCount++;
  return kResultOk;
}

}  // namespace torsel
