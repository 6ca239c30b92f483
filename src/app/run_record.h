// What a run did, file by file, as the page takes it: each file's status,
// its pairs' counts, the twist bones it keyed already, each planned chain's
// verdict, largest deviation and the input's misreading by the players that
// bisect its curve there, what thinning it (-S) said (keyframes in
// and out, the largest deviation and distance, the frames beyond), and why
// a file or the model was refused;
// all as the passes know them, never read back from the console. Filled in
// every build; only the WebAssembly build hands it out (as JSON, from
// torselRunRecord), so that native runs print and write what they did before.
#pragma once

#include <cstdint>

namespace torsel {

/// Why a file was refused where its result code alone does not say.
enum class FileRefusal : uint8_t { None, Path, Output };

/// A run begins: the record emptied.
void recordRunStart();
/// The start-up's echo of the options begins (true) or ends (false): the
/// span of the console that the page's fields already show.
void recordEchoes(bool begin);
/// The model named cannot serve: the model reader's reason, or the bone
/// (Shift-JIS) it lacks, or whose axis has no direction.
void recordModelRefused(const char* reason, const char* bone, bool noDirection);
/// The file under way was refused before it was read.
void recordRefusal(FileRefusal why);
/// The file under way is done with `result` (a pose when `pose`).
void recordFile(bool pose, int32_t result);

}  // namespace torsel
