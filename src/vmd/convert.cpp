#include "vmd/convert.h"

#include <cstdio>
#include <cstring>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "arm/separation.h"
#include "format/key_block.h"
#include "format/vmd_format.h"
#include "io/byte_stream.h"
#include "pass/pair_keyframe.h"
#include "platform/platform.h"
#include "result/result_codes.h"
#include "run/run_settings.h"
#include "vmd/planned.h"
#include "vmd/thinned.h"
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

// What the bone section carries from record to record.
struct BoneSection {
  bool planning;                    // -K, -U or -S: the arm group's sides as planned
  bool thinning;                    // -S: the thinning is asked about every other record
  bool wristPass;                   // the plain -W: the wrist pass is asked about every record
  bool sideWritten[kWristSides];    // a planned side's keyframes are out
};

// A planned side's record: the side's planned keyframes written at the
// place of its first record, the others left out. The number written, or -1.
int32_t writePlannedRecord(BoneSection* s, int side) {
  if (s->sideWritten[side]) return 0;
  s->sideWritten[side] = true;
  return writePlannedSide(side);
}

// Before an in-range 手首 record under -W that carries its side's 手捩
// keyframe: the pins of the range's start, that keyframe, the pins of its
// end. The number written, or -1.
int32_t writeWristCarried(const BoneKeyframe& kf, int side, const WristRecord& wrist) {
  if (!wrist.carrier) return 0;
  const char* handTwistBone = kPairs[static_cast<size_t>(2 * side + 1)].twistBone;
  for (int i = 0; i < wrist.before + wrist.after; i++) {
    if (i == wrist.before && writeTwistKeyframe(kf, handTwistBone, wrist.hand) != 0) return -1;
    const char* bone = wrist.pins[i].wrist ? sjisName(side, BoneRole::Wrist) : handTwistBone;
    if (writeHeldKey(wrist.pins[i].key, bone) != 0) return -1;
  }
  if (wrist.after == 0 && writeTwistKeyframe(kf, handTwistBone, wrist.hand) != 0) return -1;
  return 1 + wrist.before + wrist.after;
}

constexpr int32_t kDropped = -2;

// A record of an active pair. A source keyframe in range is split: its twist
// keyframe written before it (unless -W keys 手捩 on its frame), the kept
// rotation in *rot. A twist keyframe merged at the start frame is dropped
// (kDropped). The number written before the record, or -1.
int32_t writePairRecord(int pair, PairRole role, const KeyframeView& view, const BoneKeyframe& kf, bool twistTaken,
                        Quat* rot) {
  if (role == PairRole::Twist) return filterTwistKeyframe(pair, view, gSettings) == PairAction::Drop ? kDropped : 0;
  SeparationResult split;
  if (convertSourceKeyframe(pair, view, gSettings, &split) != PairAction::Convert) return 0;
  if (!twistTaken && writeTwistKeyframe(kf, kPairs[static_cast<size_t>(pair)].twistBone, split.twist) != 0) return -1;
  *rot = split.kept;
  return twistTaken ? 0 : 1;
}

// The records after the -W range start their stretches at the range's end.
void recurve(BoneKeyframe* kf, const Curve& curve) {
  HeldKey k = {};
  packBlock(kf->bz, &k);
  setRotationCurve(&k, curve);
  unpackBlock(k, kf->bz);
}

// Under -S, whether the record is written; written with its curves anew
// where the thinning fitted them.
bool thinnedRecord(BoneKeyframe* kf) {
  const thin::Thinner::Written w = thinnedNext(*kf);
  if (!w.kept || !w.changed) return w.kept;
  HeldKey k = heldKeyOf(*kf);
  std::copy(w.params.begin(), w.params.end(), k.params);
  unpackBlock(k, kf->bz);
  return true;
}

// One bone record, by its kind: a planned side's, one the wrist pass
// answers for, a pair's, or a copy (a thinned one, under -S). The number of
// records written, or -1.
int32_t writeBoneRecord(BoneSection* s, int32_t block, BoneKeyframe* kf) {
  const KeyframeView view = {.block = block, .name = kf->name.text, .lastNul = kf->name.lastNul,
                             .frameTime = kf->frameTime, .rot = kf->rot};
  const KnownBone bone = knownBone(kf->name.text);
  // The shoulders are diagnosed, never converted.
  if (bone.role == BoneRole::Shoulder) shoulderDiagnostics(view, gSettings);
  if (s->planning && plannedReplaces(bone)) return writePlannedRecord(s, bone.side);
  if (s->thinning && !thinnedRecord(kf)) return 0;

  const WristRecord wrist = s->wristPass ? wristRecord(block, *kf, bone) : WristRecord{};
  if (wrist.dropped) {
    if (showAtLeast(1)) std::printf("  => skipped recording %s block. \n", plat::conText(kf->name.text));
    return 0;
  }
  const int32_t carried = wrist.split ? writeWristCarried(*kf, bone.side, wrist) : 0;
  if (carried < 0) return -1;
  if (wrist.recurved) recurve(kf, wrist.curve);
  Quat rot = wrist.split ? wrist.rest : kf->rot;
  PairRole role;
  // Under -U what the plan leaves is as it is: nothing to fold.
  const int pair = gSettings.unfoldTwist ? -1 : findPair(bone, &role, gSettings);
  const int32_t before = pair >= 0 ? writePairRecord(pair, role, view, *kf, wrist.twistTaken, &rot) : 0;
  if (before == kDropped) return 0;
  if (before < 0 || writeBoneKeyframe(*kf, kf->name.raw, rot) != 0) return -1;
  return carried + before + 1;
}

// Bone keyframes, record by record. Returns the number of records written,
// or -1 when the output failed.
int32_t copyBoneSection(int32_t count) {
  BoneSection s = {.planning = planningPairs(), .thinning = thinningMotion(),
                   .wristPass = gSettings.wristTwist && !planningPairs(), .sideWritten = {}};
  int32_t written = 0;
  BoneKeyframe kf;
  for (int32_t block = 1; !rdIsClosed() && block <= count; block++) {
    if (readBoneKeyframe(&kf) != 0) break;
    if (showBetween(2, 9)) printBoneKeyframe(block, kf, showBetween(3, 9));
    checkBz(kf.bz);
    const int32_t n = writeBoneRecord(&s, block, &kf);
    if (n < 0) return -1;
    written += n;
  }
  return written;
}

// Morph keyframes, copied. Returns the number written, or -1.
int32_t copyMorphKeyframes(int32_t count) {
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

// The magic and the model name, copied. kResultOk, or the pass's result
// with the output abandoned.
int32_t copyHeader() {
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
  return kResultOk;
}

// The bone count the output will hold, written: the input's and what the
// pairs, the wrist pass or the plan add and the thinning takes (planned and
// thinned now, so that the count written is already the output's). Returns it.
int32_t writeBoneCount(int32_t boneCount) {
  if (gSettings.wristTwist && !planningPairs()) wristPlan();
  if (thinningMotion()) thinnedRun();
  if (planningPairs()) plannedPlan();
  if (thinningMotion()) thinnedSettle();
  uint32_t announced = static_cast<uint32_t>(boneCount);  // wraps, never overflows
  if (thinningMotion()) announced += static_cast<uint32_t>(thinnedCountDelta());
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
  return static_cast<int32_t>(announced);
}

// The morph section, if the input has one, and any bytes after it. 0, or
// -1 when the output failed.
int copyMorphSection() {
  int32_t morphCount = rdGetInt32();
  if (rdIsClosed()) return 0;
  int32_t morphCountOffset = wrCount();
  wrPutInt32(morphCount);
  if (showAtLeast(1)) {
    std::printf("\nMorph exist. \n");
    std::printf("max morph frames = %ld \n", static_cast<long>(morphCount));
    std::printf(" => max morph frames = %ld (cnv) \n", static_cast<long>(morphCount));
  }
  int32_t morphsWritten = copyMorphKeyframes(morphCount);
  if (morphsWritten < 0) return -1;
  if (morphsWritten != morphCount && wrPatchInt32(morphCountOffset, morphsWritten) != 0) return -1;
  copyTrailingData();
  return 0;
}

// The output published once whole, then the pass's reports: the plan's,
// the wrist pass's, the pairs' lines and the run's totals.
int32_t publish() {
  if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
  // Every failure counts, also one in the trailing bytes or the last flush.
  if (wrIsClosed() || wrClose() != 0) return writeFailure();
  if (wrPublish() != 0) return writeFailure();
  rdClose();
  std::printf("\n");
  // Both say what they found, whatever the other did.
  const bool chainsWithin = !planningPairs() || reportPlanned();
  const bool within = (!thinningMotion() || reportThinned()) && chainsWithin;
  if (gSettings.wristTwist) wristReport();
  reportPairCounts(gSettings);
  gTotals.convertedFileCount++;
  return within ? kResultOk : kResultBeyond;
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
  if (const int32_t header = copyHeader(); header != kResultOk) return header;
  const int32_t boneCount = rdGetInt32();
  if (rdReportFailure() != 0) return abandon(kResultCannotOpen);
  const int32_t announced = writeBoneCount(boneCount);
  const int32_t bonesWritten = copyBoneSection(boneCount);
  if (planningPairs()) plannedDrop();
  if (thinningMotion()) thinnedDrop(bonesWritten);
  if (bonesWritten < 0) return writeFailure();
  // A cut input, or several twist keyframes dropped at the start frame,
  // leaves fewer records than announced; the header must say what is there.
  if (announced != bonesWritten && wrPatchInt32(kBoneCountOffset, bonesWritten) != 0) return writeFailure();
  if (copyMorphSection() != 0) return writeFailure();
  return publish();
}

}  // namespace torsel
