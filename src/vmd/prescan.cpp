#include "vmd/prescan.h"

#include <cstdio>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "format/vmd_format.h"
#include "io/byte_stream.h"
#include "platform/platform.h"
#include "playback/planner.h"
#include "run/run_settings.h"
#include "vmd/planned.h"
#include "vmd/thinned.h"
#include "vmd/wrist_pass.h"

namespace torsel {
namespace {

void scanBoneKeyframe(const BoneKeyframe& kf, int32_t block) {
  // With -K the planner carries the wrist; the plain -W pass holds nothing then.
  if (gSettings.wristTwist && !planningPairs() && !gSettings.checkMode) wristHold(kf, block);
  const KnownBone known = knownBone(kf.name.text);
  // Thinned, the arm group comes to the plan from the thinning.
  if (planningPairs() && !thinningMotion() && !gSettings.checkMode) plannedHold(kf, known);
  if (thinningMotion() && !gSettings.checkMode) thinnedHold(kf, known);
  PairRole role;
  int pair = pairOf(known, &role);
  if (pair < 0 || !inFrameRange(kf.frameTime)) return;
  PairScan& scan = gScans[pair];
  bool atFrom = kf.frameTime == static_cast<uint32_t>(gSettings.fromFrame);
  if (role == PairRole::Source) {
    scan.reccnt++;
    if (showAtLeast(4)) {
      std::printf("  %s %ld counted. \n", plat::conText(kf.name.text), static_cast<long>(scan.reccnt));
    }
    if (atFrom) scan.sourceAtFrom = 0xFF;
  } else if (atFrom) {
    scan.twistAtFrom = 0xFF;
    scan.twistRotAtFrom = kf.rot;
  }
}

// In check mode: what follows the morph section, dumped 16 bytes a line.
void reportTrailingData() {
  int c = rdIsClosed() ? -1 : rdGetByte();
  if (c < 0) {
    std::printf("VMD file format is correct.\n");
    return;
  }
  std::printf("Unrecognized data bytes found. \n");
  int32_t shown = 0;
  for (; c >= 0; c = rdGetByte()) {
    std::printf("%02X ", c);
    if (++shown % 16 == 0) std::printf("\n");
  }
  std::printf("\n");
  std::printf("Total %ld bytes.\n", static_cast<long>(shown));
}

enum class Cut { None, Header, Bones, MorphCount, Morphs };

// A motion that ends before what it announces: said at every display level,
// in the user's language.
void reportCut(Cut cut, int32_t announced, int32_t present) {
  constexpr const char* kEnglish[] = {"", "the file ends inside its header. \n",
                                      "%ld bone keyframes announced, %ld in the file. \n",
                                      "the file ends inside its morph count. \n",
                                      "%ld morph keyframes announced, %ld in the file. \n"};
  constexpr const char* kJapanese[] = {
      "",
      // ヘッダの途中で終わっています.
      "\x83\x77\x83\x62\x83\x5F\x82\xCC\x93\x72\x92\x86\x82\xC5\x8F\x49\x82\xED\x82\xC1\x82\xC4\x82\xA2\x82\xDC"
      "\x82\xB7. \n",
      // ボーンのキーフレーム %ld 個のはずが %ld 個しかありません.
      "\x83\x7B\x81\x5B\x83\x93\x82\xCC\x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80 %ld \x8C\xC2\x82\xCC\x82\xCD"
      "\x82\xB8\x82\xAA %ld \x8C\xC2\x82\xB5\x82\xA9\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1. \n",
      // モーフの数の途中で終わっています.
      "\x83\x82\x81\x5B\x83\x74\x82\xCC\x90\x94\x82\xCC\x93\x72\x92\x86\x82\xC5\x8F\x49\x82\xED\x82\xC1\x82\xC4"
      "\x82\xA2\x82\xDC\x82\xB7. \n",
      // モーフのキーフレーム %ld 個のはずが %ld 個しかありません.
      "\x83\x82\x81\x5B\x83\x74\x82\xCC\x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80 %ld \x8C\xC2\x82\xCC\x82\xCD"
      "\x82\xB8\x82\xAA %ld \x8C\xC2\x82\xB5\x82\xA9\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1. \n"};
  // "モーションが途中で切れています: "
  constexpr char kCutJa[] = "\x83\x82\x81\x5B\x83\x56\x83\x87\x83\x93\x82\xAA\x93\x72\x92\x86\x82\xC5\x90\xD8\x82\xEA"
                            "\x82\xC4\x82\xA2\x82\xDC\x82\xB7: ";
  const int i = static_cast<int>(cut);
  std::printf("%s", plat::say(kCutJa, "Motion cut short: "));
  std::printf(plat::say(kJapanese[i], kEnglish[i]), static_cast<long>(announced), static_cast<long>(present));
}

int32_t finish(Cut cut = Cut::None, int32_t announced = 0, int32_t present = 0) {
  rdClose();
  if (rdReportFailure() != 0) return kResultCannotOpen;
  if (cut != Cut::None) reportCut(cut, announced, present);
  std::printf("\n");
  return cut != Cut::None ? kResultCut : kResultOk;
}

}  // namespace

int32_t confirmMotionFile(const char* inPath) {
  gScans = {};
  plannedStart();
  thinnedStart();
  wristReset();
  std::printf("Confirming: %s \n", inPath);
  if (rdOpen(inPath) != 0) return kResultCannotOpen;

  const bool listing = showBetween(4, 9) || gSettings.checkMode;
  for (int i = 0; i < kMagicSize; i++) {
    int c = rdGetByte();
    if (isTestedMagicByte(i) && c != static_cast<unsigned char>(kMagic[i])) {
      rdClose();
      if (rdReportFailure() != 0) return kResultCannotOpen;
      std::printf("Illegal file format at %06X=(%02X) \n", static_cast<unsigned>(rdCount()), static_cast<unsigned>(c));
      return kResultFormat;
    }
  }

  // A read that fails in the header ends the pass before anything of it is shown.
  NameField model;
  readNameField(kModelNameSize, &model);
  if (rdHasFailed()) return finish();
  if (model.lastNul >= 1 && listing) std::printf("model name = %s \n", plat::conText(model.text));

  int32_t boneCount = rdGetInt32();
  if (rdIsClosed()) return finish(rdHasFailed() ? Cut::None : Cut::Header);
  if (listing) std::printf("max blocks of frames = %ld \n", static_cast<long>(boneCount));
  BoneKeyframe kf;
  int32_t bones = 0;
  for (; bones < boneCount; bones++) {
    if (readBoneKeyframe(&kf) != 0) break;
    if (listing) printBoneKeyframe(bones + 1, kf, true);
    checkBz(kf.bz);
    scanBoneKeyframe(kf, bones + 1);
  }
  if (bones < boneCount) return finish(Cut::Bones, boneCount, bones);

  // The morph section may be missing altogether, but not in part.
  const int32_t before = rdCount();
  int32_t morphCount = rdGetInt32();
  if (rdIsClosed()) return finish(rdCount() != before ? Cut::MorphCount : Cut::None);
  if (listing) {
    std::printf("\nMorph exist. \n");
    std::printf("max morph frames = %ld \n", static_cast<long>(morphCount));
  }
  MorphKeyframe morph;
  int32_t morphs = 0;
  for (; morphs < morphCount; morphs++) {
    if (readMorphKeyframe(&morph) != 0) break;
    if (listing) printMorphKeyframe(morphs + 1, morph);
  }
  if (morphs < morphCount) return finish(Cut::Morphs, morphCount, morphs);

  if (gSettings.checkMode && !rdHasFailed()) reportTrailingData();
  return finish();
}

}  // namespace torsel
