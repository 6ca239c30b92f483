// The command line's options: the letters, what each reads and stores in
// the run's settings and how it confirms it, the walk over a token, and
// the usage text.
#pragma once

namespace torsel {

/// A token that starts with '-' (or, on Windows, '/').
bool isOptionToken(const char* token);

/// Walks one option token, letter by letter (several options may stand in
/// one token). With `store` each value is stored in gSettings and confirmed
/// on the console; without, values are only stepped over. A character that
/// is no option is reported either way.
void walkOptionToken(const char* token, bool store);

/// Prints the usage text with the current range and mode.
void printUsage();

/// --help: the usage with the defaults, and the options this version adds.
void printHelp();

}  // namespace torsel
