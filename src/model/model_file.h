// Twist axes from the user's own model (PMX 2.0/2.1 or PMD), in place of
// the built-in ones.
#pragma once

#include "arm/bone_pairs.h"
#include "math/quat.h"

namespace torsel {

/// What a model file says about the four pairs.
struct ModelAxes {
  char name[1024];            // the model's name, ready for the console
  bool found[kPairCount];     // the model gives this pair an axis
  bool fixed[kPairCount];     // from the twist bone's fixed axis, else from the bones' positions
  Vec3 axis[kPairCount];      // not normalised; X is not negative
  // The pair's bones the model holds: the limb, its twist bone, the next bone of the limb.
  bool hasSource[kPairCount], hasTwist[kPairCount], hasNext[kPairCount];
  bool noDirection[kPairCount];     // its axis has no length, or is no number
  bool sourceFixed[kPairCount];     // the limb bone has a fixed axis of its own
  Vec3 sourceAxis[kPairCount];
};

/// The Shift-JIS name of the first bone a run needs that the model lacks,
/// or null: per pair in `pairs` the limb, its twist bone (not when folding:
/// a fold writes none) and, where the twist bone has no fixed axis, the next
/// bone of the limb that gives the axis; with `wrists` each side's 手捩 and
/// 手首 with the elbow pair's axis.
const char* missingBone(const ModelAxes& m, const bool pairs[kPairCount], bool fold, bool wrists);

/// True for a path whose file name ends in ".pmx" or ".pmd", any case.
bool isModelPath(const char* path);

/// Reads the model at `path`. 0; or -1 with a short English reason in
/// `reason` (the file cannot be opened, is no PMX or PMD model, or is cut
/// short or damaged). Never reads outside the file; counts are checked
/// against what is left of it before anything is read.
int readModelAxes(const char* path, ModelAxes* out, char* reason, int reasonSize);

}  // namespace torsel
