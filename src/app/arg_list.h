// The process-wide argument list: every command-line argument, and later
// the path chosen in the dialog, copied into one fixed pool.
#pragma once

#include <cstdint>

namespace torsel {

inline constexpr int kArgSlots = 512;    // 511 tokens and the end slot
inline constexpr int kArgPoolSize = 65536;

struct ArgList {
  int32_t argCount = 0;
  char* argItems[kArgSlots] = {};  // items[argCount] points at an empty string
  char argPool[kArgPoolSize] = {};
  int32_t poolUsed = 0;
};

extern ArgList gArgs;

/// Empties the list.
void clearArgList(ArgList* list);

/// Appends `arg` as the next token when it yields at least one byte: an
/// argument that starts with '"' gives only the text inside the quotes.
/// Always 0.
int addArgToken(ArgList* list, const char* arg);

}  // namespace torsel
