#pragma once

#include <cstdint>

#include "result/result_codes.h"

namespace torsel {

/// Reads a motion file once: checks its header, lists it by display level
/// (in full in check mode), reports interpolation mismatches and fills the
/// four pairs' PairScan. 0; -1 when it cannot be opened or read; 2 when a
/// header byte is wrong; 5 when it ends before what it announces (said at
/// every display level). Leaves the input stream closed.
int32_t confirmMotionFile(const char* inPath);

}  // namespace torsel
