// libFuzzer target: the pre-scan and the conversion of one input in every
// separation method, each output read back by a reader of its own. Any
// crash, sanitizer report or inconsistent output stops the run.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "twist/bone_pairs.h"
#include "twist/model_axes.h"
#include "twist/run_settings.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"

namespace {

std::string gIn;
std::string gOut;

uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The output's counts must describe its records exactly.
void checkOutput() {
  std::FILE* f = std::fopen(gOut.c_str(), "rb");
  if (f == nullptr) std::abort();
  static uint8_t buf[1 << 22];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  if (n < 54) return;  // the input itself ended inside the header
  uint32_t bones = u32(buf + 50);
  if (bones > (n - 54) / 111) std::abort();
  size_t at = 54 + static_cast<size_t>(bones) * 111;
  if (n - at < 4) {
    if (n != at) std::abort();
    return;
  }
  uint32_t morphs = u32(buf + at);
  if (morphs > (n - at - 4) / 23) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed where the system has it: files are written on every run.
  char dir[64];
  std::snprintf(dir, sizeof dir, "%s/torsel-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (mkdtemp(dir) == nullptr) std::abort();
  gIn = std::string(dir) + "/in.vmd";
  gOut = std::string(dir) + "/in-cnv.vmd";
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  std::FILE* f = std::fopen(gIn.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  using namespace torsel;
  // Vary what is printed and where the range starts, from the input size.
  RunSettings base;
  base.displayLevel = static_cast<int8_t>(size % 11);
  base.fromFrame = static_cast<int32_t>(size % 3 == 0 ? 0 : size % 3 == 1 ? 1 : 30);
  base.checkMode = size % 7 == 0 ? 0xFF : 0;
  gSettings = base;
  copySetupRestQuats();
  // The pre-scan does not depend on the method: once for all of them.
  if (confirmMotionFile(gIn.c_str()) != 0 || gSettings.checkMode) return 0;
  static const int8_t kModes[] = {8, 9, 10, 11, 12, 13, 4};
  for (int8_t mode : kModes) {
    gSettings = base;
    gSettings.convMode = mode;
    gSettings.handTwist = mode >= 8 ? 8 : 0;
    gSettings.subMode = static_cast<int8_t>(mode & ~8);
    std::remove(gOut.c_str());
    if (convertMotionFile(gOut.c_str(), gIn.c_str()) != 0) std::abort();  // the bytes passed the pre-scan
    checkOutput();
  }
  return 0;
}
