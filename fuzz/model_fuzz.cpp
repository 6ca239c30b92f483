// libFuzzer target: the PMX and PMD readers on any bytes. Nothing may crash
// or read outside the file, and every axis given must be usable; the rig
// check then says what it finds of the model, whatever it is.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/model_file.h"
#include "model/model_rig.h"

static std::string gPath;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[64];
  std::snprintf(dir, sizeof dir, "%s/torsel-model-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (mkdtemp(dir) == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  gPath = std::string(dir) + "/m.pmx";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(gPath.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  torsel::ModelAxes axes;
  char reason[256];
  if (torsel::readModelAxes(gPath.c_str(), &axes, reason, sizeof reason) != 0) return 0;
  for (int i = 0; i < torsel::kPairCount; i++) {
    const torsel::Vec3& a = axes.axis[i];
    // Usable: a length that rounds to a float other than zero or infinity.
    const double length = std::sqrt(double(a.x) * a.x + double(a.y) * a.y + double(a.z) * a.z);
    if (axes.found[i] && (!(length > 0 && length < 0x1.ffffffp127) || a.x < 0)) {
      std::abort();
    }
  }
  torsel::reportRig(axes, false, true, true);
  return 0;
}
