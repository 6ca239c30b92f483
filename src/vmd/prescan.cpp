#include "vmd/prescan.h"

#include <cstdio>

#include "io/byte_stream.h"
#include "platform/platform.h"
#include "playback/keep_planner.h"
#include "playback/wrist_split.h"
#include "twist/bone_pairs.h"
#include "twist/run_settings.h"
#include "vmd/vmd_format.h"

namespace torsel {
namespace {

void scanBoneKeyframe(const BoneKeyframe& kf, int32_t block) {
  if (gSettings.wristTwist && !gSettings.checkMode) wristHold(kf, block);
  PairRole role;
  int pair = findPairAnyRole(kf.name.text, &role);
  if (pair >= 0 && planningPairs() && !gSettings.checkMode && pairIsActive(pair)) {
    keepHold(pair, role == PairRole::Twist, kf);
  }
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

int32_t finish() {
  rdClose();
  if (reportReadFailure() != 0) return kResultCannotOpen;
  std::printf("\n");
  return kResultOk;
}

}  // namespace

int32_t reportReadFailure() {
  if (!rdHasFailed()) return 0;
  std::printf("Cannot read RD file at %06X \n", static_cast<unsigned>(rdCount()));
  return -1;
}

int32_t confirmMotionFile(const char* inPath) {
  gScans = {};
  keepReset();
  wristReset();
  std::printf("Confirming: %s \n", inPath);
  if (rdOpen(inPath) != 0) return kResultCannotOpen;

  const bool listing = showBetween(4, 9) || gSettings.checkMode;
  for (int i = 0; i < kMagicSize; i++) {
    int c = rdGetByte();
    if (isTestedMagicByte(i) && c != static_cast<unsigned char>(kMagic[i])) {
      rdClose();
      if (reportReadFailure() != 0) return kResultCannotOpen;
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
  if (rdHasFailed()) return finish();
  if (listing) std::printf("max blocks of frames = %ld \n", static_cast<long>(boneCount));
  BoneKeyframe kf;
  for (int32_t block = 1; !rdIsClosed() && block <= boneCount; block++) {
    if (readBoneKeyframe(&kf) != 0) break;
    if (listing) printBoneKeyframe(block, kf, true);
    checkBz(kf.bz);
    scanBoneKeyframe(kf, block);
  }

  int32_t morphCount = rdGetInt32();
  if (rdIsClosed()) return finish();
  if (listing) {
    std::printf("\nMorph exist. \n");
    std::printf("max morph frames = %ld \n", static_cast<long>(morphCount));
  }
  MorphKeyframe morph;
  for (int32_t block = 1; !rdIsClosed() && block <= morphCount; block++) {
    if (readMorphKeyframe(&morph) != 0) break;
    if (listing) printMorphKeyframe(block, morph);
  }

  if (gSettings.checkMode && !rdHasFailed()) reportTrailingData();
  return finish();
}

}  // namespace torsel
