#pragma once

namespace torsel {

/// Kinds of file the dialog offers; the program itself opens only motions.
inline constexpr int kDialogMotion = 4;

/// Lets the user pick a file in the standard file-open dialog, starting in
/// the folder of `initialPath`. 0 with the chosen path in `result` (when
/// given, at least 260 bytes); -1 on cancel or failure, after printing the
/// dialog's error code.
int openFileDialog(char* result, int dialogType, const char* initialPath);

}  // namespace torsel
