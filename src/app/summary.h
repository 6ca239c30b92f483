#pragma once

namespace torsel {

/// Builds the closing summary of the run in the user's language. `lastInput`
/// is the input path the file pass took up last ("" when none). The text is
/// at most 519 bytes, cut at a character boundary when it would be longer.
const char* buildSummaryText(const char* lastInput);

/// Shows the summary: in a message box, or on standard output with -ND.
void showRunSummary(const char* lastInput);

}  // namespace torsel
