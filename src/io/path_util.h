// Small routines that take paths apart. Paths are byte strings in the
// user's code page; the scanning routines step over double-byte characters
// so that a trail byte equal to '\\' or '.' is never taken for one.
// Destinations are at least as long as the source (plat::kPathMax bytes).
#pragma once

namespace torsel {

/// 0 when `prefix` matches the start of `str`, ASCII letters folded; else -1.
int prefixMatchNoCase(const char* str, const char* prefix);

/// The name of the first file matching `path` as stored on disk (a folder
/// is passed over once). 0; -1 without a match; -2 when the next match is a
/// folder too. `dest` is emptied first.
int findFileName(char* dest, const char* path);

/// `src` up to and including its last '\\' ('/' does not count); else "".
int pathDirPart(char* dest, const char* src);

/// `src` before its last '.', wherever that dot stands; else all of `src`.
int pathStripExt(char* dest, const char* src);

/// The last '.' of `src` and what follows: returns -1. Without a dot: "" and 0.
int pathExtPart(char* dest, const char* src);

/// What follows the last '\\' or '/' of `src`; else all of `src`.
int pathNamePart(char* dest, const char* src);

/// Removes one trailing '\\' or '/' unless it is needed ("\\", "C:\\"), and
/// cuts the path to 259 bytes.
int pathTrimSlash(char* path);

/// The output path of a motion: `src` without the extension of its file
/// name, followed by `suffix` ("-cnv.vmd", for a pose "-cnv.vpd"). A dot in
/// a folder name does not count. -1 when the result would not fit in `cap`
/// bytes.
int pathOutputName(char* dest, int cap, const char* src, const char* suffix);
inline constexpr char kOutputSuffix[] = "-cnv.vmd";
inline constexpr char kPoseOutputSuffix[] = "-cnv.vpd";

/// True for a path whose file name ends in ".vpd", any case: a pose.
bool pathIsPose(const char* path);
/// The output suffix for `path`: a pose's or a motion's.
const char* pathOutputSuffix(const char* path);

}  // namespace torsel
