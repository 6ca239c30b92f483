// libFuzzer target: a pose confirmed, then converted in every method, with
// the wrists, and folded. A pose confirmed must convert, into a pose the
// reader takes again, holding the input's blocks and at most the four that
// a conversion may add; only one with an index of the most digits read may
// be refused, when moved on it would have more.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "arm/model_axes.h"
#include "run/run_settings.h"
#include "vpd/pose_convert.h"
#include "vpd/pose_text.h"

static std::string gIn, gOut;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where it can be: files are written on every run.
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  dir += "/torsel-pose-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || !std::freopen("/dev/null", "w", stdout)) std::abort();
  gIn = dir + "/in.vpd";
  gOut = dir + "/in-cnv.vpd";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(gIn.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  using namespace torsel;
  RunSettings base;  // what is printed, from the size
  base.displayLevel = static_cast<int8_t>(size % 11);
  base.checkMode = size % 7 == 0 ? 0xFF : 0;
  useModel(builtInModel());
  if (confirmPoseFile(gIn.c_str(), base) != 0 || base.checkMode) return 0;
  const int blocks = gPose.blocks;
  bool longIndex = false;
  for (int i = 0; i < blocks; i++) longIndex |= gPose.block[i].numberEnd - gPose.block[i].numberAt == kMaxPoseIndexDigits;
  // Modes 8 to 13 and 4, half with the wrists; then 12 and 4 folded.
  for (int run = 0; run < 9; run++) {
    RunSettings s = base;
    const int mode = run < 6 ? 8 + run : run == 6 ? 4 : 12 - 8 * (run - 7);
    s.handTwist = mode >= 8 ? 8 : 0;
    s.subMode = static_cast<int8_t>(mode & ~8);
    s.wristTwist = run < 7 && run % 2 == 0 ? 0xFF : 0;
    s.unfoldTwist = run >= 7 ? 0xFF : 0;
    const int32_t converted = convertPoseFile(gOut.c_str(), gIn.c_str(), s);
    if (converted == 2 && longIndex) continue;
    if (converted != 0 || readPoseText(gOut.c_str()) != 0) std::abort();
    if (gPose.blocks < blocks || gPose.blocks > blocks + 4) std::abort();
  }
  return 0;
}
