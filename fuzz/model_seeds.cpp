// Seed models for the model fuzz target: PMX in both encodings and every
// index size, and PMD.
#include "support/harness.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace testsupport;
  for (int layout = 0; layout < 6; layout++) {
    const int size = 1 << layout / 2;
    writeFile(std::string(argv[1]) + "/pmx-" + std::to_string(layout) + ".pmx",
              buildPmx(bonesWithBuiltInAxes(), {layout % 2 == 1, size - 1, size, size == 4 ? 2.1f : 2.0f}));
  }
  writeFile(std::string(argv[1]) + "/model.pmd", buildPmd(bonesWithBuiltInAxes()));
}
