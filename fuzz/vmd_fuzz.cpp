// libFuzzer target: the pre-scan, then the conversion in every method, of
// one input; an input the pre-scan accepts must convert, into an output
// whose counts describe its records.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "arm/model_axes.h"
#include "run/run_settings.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"

static std::string gIn, gOut;
static uint32_t u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[64];  // memory-backed where there is one: files are written on every run
  std::snprintf(dir, sizeof dir, "%s/torsel-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (mkdtemp(dir) == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  gIn = std::string(dir) + "/in.vmd";
  gOut = std::string(dir) + "/in-cnv.vmd";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  std::FILE* f = std::fopen(gIn.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  using namespace torsel;
  RunSettings base;  // what is printed and where the range starts, from the size
  base.displayLevel = static_cast<int8_t>(size % 11);
  base.fromFrame = static_cast<int32_t>(size % 3 == 2 ? 30 : size % 3);
  base.checkMode = size % 7 == 0 ? 0xFF : 0;
  gSettings = base;
  useModel(builtInModel());
  if (confirmMotionFile(gIn.c_str()) != 0 || gSettings.checkMode) return 0;
  for (int8_t mode : {8, 9, 10, 11, 12, 13, 4}) {
    gSettings = base;
    gSettings.handTwist = mode >= 8 ? 8 : 0;
    gSettings.subMode = static_cast<int8_t>(mode & ~8);
    if (convertMotionFile(gOut.c_str(), gIn.c_str()) != 0) std::abort();
    static uint8_t buf[1 << 22];
    f = std::fopen(gOut.c_str(), "rb");
    size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    if (n < 54) continue;  // the input itself ended inside the header
    size_t at = 54 + static_cast<size_t>(u32(buf + 50)) * 111;
    if (u32(buf + 50) > (n - 54) / 111 || (n - at < 4 && n != at)) std::abort();
    if (n - at >= 4 && u32(buf + at) > (n - at - 4) / 23) std::abort();
  }
  return 0;
}
