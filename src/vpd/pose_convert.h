// Poses through the same conversion as motions: each bone of a VPD file is
// one keyframe at frame 0, the start frame, whatever -F and -T say. A
// single frame needs no planner: at a keyframe the split of modes 4 and 12
// is exact when the chain is taken as the model plays it, so -K has
// nothing to keep. The run's settings come as an argument: its mode, -U,
// -W, -C and the display level.
#pragma once

#include <cstdint>

#include "run/run_settings.h"

namespace torsel {

/// Reads a pose once: checks all of it, lists it by display level (in full
/// in check mode) and fills the four pairs' PairScan as a motion's keyframes
/// at the start frame would. 0; -1 when it cannot be opened or read; 2 when
/// it is no pose (the reason and its line said).
int32_t confirmPoseFile(const char* inPath, const RunSettings& run);

/// Writes the converted pose to `outPath`: per converted pair the limb's
/// block keeps its rotation's rest and the twist bone's block (added after
/// the limb where the pose has none) takes the twist, merged with its own
/// as the model plays it; with -U the limb takes limb ⊗ twist and the twist
/// bone the identity; with -W 手首 keeps the rest of its split and 手捩
/// takes the twist. Every other byte is the input's. Published as a
/// motion's output is: whole or not at all, and only where it would be read
/// as a pose again (else 2, the reason said). 0; -1; 2; 4.
int32_t convertPoseFile(const char* outPath, const char* inPath, const RunSettings& run);

}  // namespace torsel
