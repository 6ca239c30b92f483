// libFuzzer target: a pose confirmed, then converted in every method, with
// the wrists, and folded. A pose confirmed must convert, into a pose the
// reader takes again, holding the input's blocks and at most the six that
// the twist bones of a conversion may add.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "twist/model_axes.h"
#include "twist/run_settings.h"
#include "vpd/pose_convert.h"
#include "vpd/pose_text.h"

static std::string gIn, gOut;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[64];  // memory-backed where there is one: files are written on every run
  std::snprintf(dir, sizeof dir, "%s/torsel-pose-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (mkdtemp(dir) == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  gIn = std::string(dir) + "/in.vpd";
  gOut = std::string(dir) + "/in-cnv.vpd";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20) + 1) return 0;
  std::FILE* f = std::fopen(gIn.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  using namespace torsel;
  RunSettings base;  // what is printed, from the size
  base.displayLevel = static_cast<int8_t>(size % 11);
  base.checkMode = size % 7 == 0 ? 0xFF : 0;
  gSettings = base;
  copySetupRestQuats();
  if (confirmPoseFile(gIn.c_str()) != 0 || gSettings.checkMode) return 0;
  const int blocks = gPose.blocks;
  const struct { int8_t mode; bool wrists, fold; } runs[] = {
      {8, false, false}, {9, true, false}, {10, false, false}, {11, true, false}, {12, true, false},
      {13, false, false}, {4, true, false}, {12, false, true}, {4, false, true}};
  for (const auto& run : runs) {
    gSettings = base;
    gSettings.handTwist = run.mode >= 8 ? 8 : 0;
    gSettings.subMode = static_cast<int8_t>(run.mode & ~8);
    gSettings.wristTwist = run.wrists ? 0xFF : 0;
    gSettings.unfoldTwist = run.fold ? 0xFF : 0;
    if (convertPoseFile(gOut.c_str(), gIn.c_str()) != 0) std::abort();
    if (readPoseText(gOut.c_str()) != 0 || gPose.blocks < blocks || gPose.blocks > blocks + 6) std::abort();
  }
  return 0;
}
