// The only door to the operating system. Everything that differs between
// Win32 and POSIX sits behind these few calls; nothing else in the tree
// includes <windows.h> or a POSIX header.
#pragma once

#include <cstdint>
#include <cstdio>

namespace torsel::plat {

#ifdef _WIN32
inline constexpr int kPathMax = 260;  // MAX_PATH, terminator included
#else
inline constexpr int kPathMax = 4096;  // PATH_MAX on Linux
#endif

#ifdef _WIN32
inline constexpr bool kSlashStartsOption = true;
#else
// An absolute POSIX path starts with '/': there only '-' starts an option.
inline constexpr bool kSlashStartsOption = false;
#endif

inline constexpr int kLangJapanese = 1041;
inline constexpr int kLangEnglish = 1033;

/// Language of the user's messages: 1041 for Japanese, else 1033.
int langId();

/// True where the user's language is Japanese: the one place that chooses
/// between a message and its Japanese twin.
inline bool inJapanese() { return langId() == kLangJapanese; }

/// Reads the user's language and code page again (they are read once, at
/// first use).
void reloadLocale();

/// True when the byte starts a double-byte character in the user's code page.
bool isLeadByte(unsigned char c);

/// Text held as Shift-JIS bytes (messages, bone and model names), ready for
/// the console. Where the console shows Shift-JIS the bytes come back as
/// they are; the result stays valid until four more calls have been made.
const char* conText(const char* sjis);

/// A message in the user's language: its Japanese twin (Shift-JIS) ready
/// for the console, else the English as it stands.
inline const char* say(const char* japanese, const char* english) {
  return inJapanese() ? conText(japanese) : english;
}

/// True when conText() converts to UTF-8, so text cut for display must not
/// be split inside a UTF-8 sequence.
bool conIsUtf8();

/// Text of a model file (UTF-16LE or UTF-8 bytes) ready for the console,
/// like conText; characters the console cannot show become '?'.
const char* conFromUtf16(const uint8_t* le, int bytes);
const char* conFromUtf8(const char* utf8);

/// Size in bytes of an open file; -1 when it cannot be told.
int64_t fileSize(std::FILE* f);

/// Hands the memory freed so far back to the system where its allocator
/// keeps it (many small blocks freed, then large ones taken anew).
void giveBackMemory();

/// Called once, first: a console whose reader has gone (or a file-size limit
/// reached) fails the write at hand instead of ending the process, and an
/// interruption removes the temporary output of createTemp.
void guardRun();

/// Opens a regular file for binary reading; a folder, FIFO, device or socket
/// is refused like a missing file.
std::FILE* openRead(const char* path);
/// Creates a new file of the program's own in the folder of `target`,
/// exclusively (never an existing file, whatever runs beside), with the
/// permission bits of `target` where it exists, and opens it for binary
/// writing; its path goes to `tempPath` (kPathMax bytes). Until releaseTemp,
/// an interruption (Ctrl-C, termination, hang-up, the console closed)
/// removes it before the process ends. Null on failure.
std::FILE* createTemp(const char* target, char* tempPath);
/// The file of createTemp has been published or removed: no longer the
/// program's to clean up.
void releaseTemp();
/// True when an existing file at `path` is write-protected.
bool isWriteProtected(const char* path);
/// Moves `from` over `to` in one step, replacing it. 0 or -1.
int replaceFile(const char* from, const char* to);
/// Removes a file; 0 or -1.
int removeFile(const char* path);

/// What tells one file from another, whatever path reaches it (links
/// followed): the device and the file's number, or on Windows the volume's
/// serial number and the file index.
struct FileId {
  uint64_t volume, index;
  bool operator==(const FileId&) const = default;
};
/// 0 with the identity of the file at `path`; -1 when there is none.
int fileId(const char* path, FileId* out);

/// One match of a file search.
struct FindData {
  char name[kPathMax];  // the name without any folder
  bool isDir;
};
/// FindFirstFileA: 0 with the first match, -1 when nothing matches. On
/// POSIX the name is looked up exactly: no byte is a pattern there.
int findFirst(const char* pattern, FindData* out);
/// FindNextFileA: 0 with the next match, -1 when there is none.
int findNext(FindData* out);
/// FindClose. Safe to call when no search is open.
void findClose();

/// The parameters of the standard file-open dialog that the program sets.
struct OpenFileParams {
  const char* filter;      // pairs of strings, ended by an empty string
  unsigned filterIndex;
  char* file;              // in: initial name; out: chosen path
  unsigned fileCapacity;
  const char* initialDir;  // null for the platform's default
  const char* title;
  const char* defExt;      // null for none
  unsigned flags;
};
/// GetOpenFileNameA: nonzero when a file was chosen.
int getOpenFileName(OpenFileParams* params);
/// CommDlgExtendedError: 0 after a cancel.
unsigned long commDlgExtendedError();

/// MessageBoxA with no owner window; returns when the user closes it.
void messageBox(const char* text, const char* caption, unsigned style);

}  // namespace torsel::plat
