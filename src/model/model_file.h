// Twist axes from the user's own model (PMX 2.0/2.1 or PMD), in place of
// the built-in ones, and what the rig check needs of its arm group.
#pragma once

#include <cstdint>

#include "arm/bone_pairs.h"
#include "math/quat.h"

namespace torsel {

/// Where a pair's bones stand and how they hang together.
struct PairRig {
  Vec3 limbPos, twistPos, nextPos;  // the limb, its twist bone, the next bone of the limb
  // The limb an ancestor of the twist bone, the twist bone one of the next
  // bone: 1 yes, 0 no, -1 where the chain could not be followed.
  int8_t twistUnderLimb, nextUnderTwist;
};

/// A bone that takes, or by its name should take, a share of a twist
/// bone's rotation by appending it (付与): 左腕捩1 to 3, 左腕捩連 and the like.
struct RigHelper {
  int8_t namedFor;       // the pair whose twist bone's name its own begins with, or -1
  int8_t number;         // 1 to 3 for that name followed by the digit alone, else 0
  int8_t follows;        // the pair whose twist bone it appends, or -1
  bool appends;          // it appends a rotation
  int32_t appendParent;  // the bone it appends, by its index in the file
  float ratio;
  uint8_t name[48];      // the rest of its name after the twist bone's, or all of it
  int nameLen;           // in the model's encoding
};

inline constexpr int kMaxRigHelpers = 24;

/// The encoding of a model's names.
enum class NameEncoding : uint8_t { Utf16, Utf8, ShiftJis };

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
  PairRig rig[kPairCount];
  RigHelper helpers[kMaxRigHelpers];  // the first ones in the file
  int helperCount;
  NameEncoding encoding;
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
