#pragma once

#include <cstdint>

namespace torsel {

/// Writes the converted copy of `inPath` to `outPath`: a twist keyframe
/// before every in-range keyframe of an active pair's source bone, kept
/// rotations, merged twist keyframes dropped, everything else copied. Relies
/// on the pre-scan of the same file. The output is written under a
/// temporary name beside it and takes its place only when the whole pass
/// succeeded, so an earlier output survives any failure.
/// 0; -1 (cannot open or read); 2 (header byte); 4 (cannot write).
int32_t convertMotionFile(const char* outPath, const char* inPath);

}  // namespace torsel
