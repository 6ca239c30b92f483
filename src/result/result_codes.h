// The run's result codes: what a pass over a file, the model's set-up and
// the driver's checks end with, and the run's exit status in the end.
#pragma once

#include <cstdint>

namespace torsel {

inline constexpr int32_t kResultOk = 0;
/// A file cannot be opened or read, or its output is refused.
inline constexpr int32_t kResultCannotOpen = -1;
/// Options that cannot go together, or a mode with no method.
inline constexpr int32_t kResultRefused = 1;
/// A wrong header byte; a pose that is no pose.
inline constexpr int32_t kResultFormat = 2;
/// The model named cannot serve the run.
inline constexpr int32_t kResultModel = 3;
/// The output cannot be written.
inline constexpr int32_t kResultWrite = 4;
/// Not failures: the file is converted and the run goes on, but it ends
/// with this status. A motion cut short (converted as far as it goes); a
/// planned chain beyond its bound somewhere.
inline constexpr int32_t kResultCut = 5;
inline constexpr int32_t kResultBeyond = 6;

/// Statuses with which a file is still written and the run goes on.
inline constexpr bool isWarning(int32_t result) { return result == kResultCut || result == kResultBeyond; }

}  // namespace torsel
