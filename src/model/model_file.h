// Twist axes from the user's own model (PMX 2.0/2.1 or PMD), in place of
// the built-in ones.
#pragma once

#include "twist/bone_pairs.h"
#include "twist/quat.h"

namespace torsel {

/// What a model file says about the four pairs.
struct ModelAxes {
  char name[1024];            // the model's name, ready for the console
  bool found[kPairCount];     // the model gives this pair an axis
  bool fixed[kPairCount];     // from the twist bone's fixed axis, else from the bones' positions
  Vec3 axis[kPairCount];      // not normalised; X is not negative
  const char* missing[kPairCount];  // Shift-JIS name of a bone the pair lacks
  bool noDirection[kPairCount];     // its axis has no length, or is no number
  bool sourceFixed[kPairCount];     // the limb bone has a fixed axis of its own
  Vec3 sourceAxis[kPairCount];
};

/// True for a path whose file name ends in ".pmx" or ".pmd", any case.
bool isModelPath(const char* path);

/// Reads the model at `path`. 0; or -1 with a short English reason in
/// `reason` (the file cannot be opened, is no PMX or PMD model, or is cut
/// short or damaged). Never reads outside the file; counts are checked
/// against what is left of it before anything is read.
int readModelAxes(const char* path, ModelAxes* out, char* reason, int reasonSize);

}  // namespace torsel
