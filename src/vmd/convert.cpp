#include "vmd/convert.h"

#include <cstdio>
#include <cstring>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "arm/separation.h"
#include "format/key_block.h"
#include "format/vmd_format.h"
#include "io/byte_stream.h"
#include "pass/pair_keyframe.h"
#include "platform/platform.h"
#include "result/result_codes.h"
#include "run/run_settings.h"
#include "vmd/planned.h"
#include "vmd/prescan.h"
#include "vmd/wrist_pass.h"

namespace torsel {
namespace {

// Ends a pass that did not succeed: both streams closed, the temporary
// output removed, any earlier output left as it was.
int32_t abandon(int32_t result) {
  wrAbandon();
  rdClose();
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

// A keyframe -W writes beside the wrist's: 手捩 at a range's end.
int writeHeldKey(const HeldKey& k, const char* bone) {
  BoneKeyframe kf = {};
  kf.frameTime = k.frame;
  kf.pos = k.pos;
  unpackBlock(k, kf.bz);
  return writeTwistKeyframe(kf, bone, k.rot);
}

// Bone keyframes: each record as read, a twist keyframe before every
// converted one, merged twist keyframes left out; the arm group as planned
// where -K or -U plans it. Returns the number of records written, or -1
// when the output failed.
int32_t copyBoneSection(int32_t count) {
  int32_t written = 0;
  bool sideWritten[kWristSides] = {};
  const bool planning = planningPairs();
  BoneKeyframe kf;
  for (int32_t block = 1; !rdIsClosed() && block <= count; block++) {
    if (readBoneKeyframe(&kf) != 0) break;
    if (showBetween(2, 9)) printBoneKeyframe(block, kf, showBetween(3, 9));
    checkBz(kf.bz);

    const KeyframeView view = {block, kf.name.text, kf.name.lastNul, kf.frameTime, kf.rot};
    const KnownBone bone = knownBone(kf.name.text);
    const int side = bone.side;
    // The shoulders are diagnosed, never converted.
    if (bone.role == BoneRole::Shoulder) shoulderDiagnostics(view, gSettings);

    // A planned side's keyframes stand at the place of its first record.
    if (planning && plannedReplaces(bone)) {
      if (sideWritten[side]) continue;
      sideWritten[side] = true;
      const int32_t planned = writePlannedSide(side);
      if (planned < 0) return -1;
      written += planned;
      continue;
    }
    Quat rot = kf.rot;
    PairRole role;
    int pair = findPair(bone, &role, gSettings);
    const bool wristOrHand = bone.role == BoneRole::Wrist || bone.role == BoneRole::HandTwist;
    const BoneRole wrist = gSettings.wristTwist && !planning && wristOrHand ? bone.role : BoneRole::None;
    if (gSettings.unfoldTwist) pair = -1;  // nothing to fold: as it is
    if (wrist == BoneRole::HandTwist && wristAbsorbs(side, kf.frameTime)) {
      if (showAtLeast(1)) std::printf("  => skipped recording %s block. \n", plat::conText(kf.name.text));
      continue;
    }
    if (wrist == BoneRole::Wrist && inFrameRange(kf.frameTime)) {
      Quat twist, hand;
      wristSplit(side, kf.rot, &twist, &rot);
      wristCount(side, twist);
      const WristPin* pins;
      int before, after;
      if (wristCarrier(side, block, kf.frameTime, &hand, &pins, &before, &after)) {
        const char* handTwist = kPairs[2 * side + 1].twistBone;
        for (int i = 0; i < before + after; i++) {
          if (i == before && writeTwistKeyframe(kf, handTwist, hand) != 0) return -1;
          if (writeHeldKey(pins[i].key, pins[i].wrist ? sjisName(side, BoneRole::Wrist) : handTwist) != 0) return -1;
        }
        if (after == 0 && writeTwistKeyframe(kf, handTwist, hand) != 0) return -1;
        written += 1 + before + after;
      }
    }
    // The records after the range now start their stretches at the range's end.
    Curve recurve;
    if (wrist != BoneRole::None && wristRecurve(side, block, &recurve)) {
      HeldKey k = {};
      packBlock(kf.bz, &k);
      setRotationCurve(&k, recurve);
      unpackBlock(k, kf.bz);
    }
    if (pair >= 0 && role == PairRole::Source) {
      SeparationResult split;
      if (convertSourceKeyframe(pair, view, gSettings, &split) == PairAction::Convert) {
        // A wrist keyed on the same frame writes the one 手捩 keyframe there.
        const bool absorbed = wrist == BoneRole::None && gSettings.wristTwist && !planning && pair % 2 == 1 &&
                              wristAbsorbs(pair / 2, kf.frameTime);
        if (!absorbed && writeTwistKeyframe(kf, kPairs[pair].twistBone, split.twist) != 0) return -1;
        written += !absorbed;
        rot = split.kept;
      }
    } else if (pair >= 0 && filterTwistKeyframe(pair, view, gSettings) == PairAction::Drop) {
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

}  // namespace

int32_t convertMotionFile(const char* outPath, const char* inPath) {
  std::printf("Reading from: %s \n", inPath);
  std::printf("Writing to  : %s \n", outPath);
  resetPairCounts();
  if (rdOpen(inPath) != 0) return kResultCannotOpen;
  if (wrOpenBeside(outPath) != 0) {
    rdClose();
    return kResultCannotOpen;
  }

  for (int i = 0; i < kMagicSize; i++) {
    int c = vmdGetByte();
    if (isTestedMagicByte(i) && c != static_cast<unsigned char>(kMagic[i])) {
      if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
      std::printf("Illegal file format at %06X=(%02X) \n", static_cast<unsigned>(rdCount()), static_cast<unsigned>(c));
      return abandon(kResultFormat);
    }
    wrPutByte(c);
    if ((i == 0 || i == 24) && wrIsClosed()) return writeFailure();
  }

  // A read that fails in the header ends the pass before anything of it is shown.
  NameField model;
  readNameField(kModelNameSize, &model);
  if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
  for (int i = 0; i < kModelNameSize; i++) wrPutByte(model.raw[i]);
  if (showAtLeast(1) && model.lastNul >= 1) std::printf("model name = %s \n", plat::conText(model.text));

  int32_t boneCount = rdGetInt32();
  if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
  // Planned now, so that the bone count written is already the output's.
  if (gSettings.wristTwist && !planningPairs()) wristPlan();
  if (planningPairs()) plannedPlan();
  uint32_t announced = static_cast<uint32_t>(boneCount);  // wraps, never overflows
  if (planningPairs()) {
    announced += static_cast<uint32_t>(plannedCountDelta());
  } else {
    for (int i = 0; i < kPairCount; i++) announced += static_cast<uint32_t>(pairFrameCountDelta(i, gSettings));
    if (gSettings.wristTwist) announced += static_cast<uint32_t>(wristCountDelta());
  }
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

  if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
  // Every failure counts, also one in the trailing bytes or the last flush.
  if (wrIsClosed() || wrClose() != 0) return writeFailure();
  if (wrPublish() != 0) return writeFailure();
  rdClose();
  std::printf("\n");
  const bool within = !planningPairs() || reportPlanned();
  if (gSettings.wristTwist) wristReport();
  reportPairCounts(gSettings);
  gTotals.convertedFileCount++;
  return within ? kResultOk : kResultBeyond;
}

}  // namespace torsel
