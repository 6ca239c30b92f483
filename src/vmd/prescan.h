#pragma once

#include <cstdint>

namespace torsel {

/// Result codes of the passes over a motion file.
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultCannotOpen = -1;
inline constexpr int32_t kResultFormat = 2;
inline constexpr int32_t kResultWrite = 4;
/// Not failures: the file is converted and the run goes on, but it ends
/// with this status. A motion cut short (converted as far as it goes); a
/// planned chain beyond its bound somewhere.
inline constexpr int32_t kResultCut = 5;
inline constexpr int32_t kResultBeyond = 6;

/// Reads a motion file once: checks its header, lists it by display level
/// (in full in check mode), reports interpolation mismatches and fills the
/// four pairs' PairScan. 0; -1 when it cannot be opened or read; 2 when a
/// header byte is wrong; 5 when it ends before what it announces (said at
/// every display level). Leaves the input stream closed.
int32_t confirmMotionFile(const char* inPath);

/// Prints the read-error line when the input stopped on a failed read, not
/// at its end; -1 then, else 0.
int32_t reportReadFailure();

}  // namespace torsel
