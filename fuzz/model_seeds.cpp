// Writes seed models for the model fuzz target into a folder: PMX in both
// encodings and every index size, and PMD.
#include <cstdio>
#include <string>

#include "support/model_builder.h"
#include "support/vmd_reader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: model_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  using namespace testsupport;
  for (bool utf8 : {false, true}) {
    for (int size : {1, 2, 4}) {
      PmxOptions o;
      o.utf8 = utf8;
      o.vertexIndex = o.textureIndex = o.materialIndex = o.boneIndex = o.morphIndex = o.rigidIndex = size;
      o.version = size == 4 ? 2.1f : 2.0f;
      o.extraUvs = size - 1;
      writeFile(dir + "/pmx-" + (utf8 ? "utf8-" : "utf16-") + std::to_string(size) + ".pmx",
                buildPmx(bonesWithBuiltInAxes(), o));
    }
  }
  writeFile(dir + "/model.pmd", buildPmd(bonesWithBuiltInAxes()));
  return 0;
}
