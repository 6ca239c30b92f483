// Nanoseconds per keyframe of the twist separation, for each method.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "arm/separation.h"
#include "run/run_settings.h"

namespace {

using namespace torsel;

std::vector<Quat> rotations() {
  std::mt19937 rng(7);
  std::normal_distribution<float> n;
  std::vector<Quat> out(4096);
  for (Quat& q : out) {
    float x = n(rng), y = n(rng), z = n(rng), w = n(rng);
    float len = std::sqrt(x * x + y * y + z * z + w * w);
    q = {x / len, y / len, z / len, w / len};
  }
  return out;
}

void separation(benchmark::State& state) {
  gSettings = RunSettings{};
  gSettings.subMode = static_cast<int8_t>(state.range(0));
  useModel(builtInModel());
  const std::vector<Quat> qs = rotations();
  SeparationInput in{};
  in.r = pairAxes(0).twistAxis;
  in.side = Side::Left;
  in.frameTime = 5;
  in.method = gSettings.subMode;
  size_t i = 0;
  for (auto _ : state) {
    in.q = qs[i++ & 4095];
    benchmark::DoNotOptimize(separateTwist(in));
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(separation)->DenseRange(0, 5)->ArgName("subMode");
BENCHMARK_MAIN();
