// Seed models for the model fuzz target: PMX in both encodings and every
// index size, and PMD.
#include "support/harness.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace testsupport;
  for (int size : {1, 2, 4}) {
    for (bool utf8 : {false, true}) {
      PmxOptions o{utf8, size - 1, size, size == 4 ? 2.1f : 2.0f};
      writeFile(std::string(argv[1]) + "/pmx-" + std::to_string(utf8) + std::to_string(size) + ".pmx",
                buildPmx(bonesWithBuiltInAxes(), o));
    }
  }
  writeFile(std::string(argv[1]) + "/model.pmd", buildPmd(bonesWithBuiltInAxes()));
}
