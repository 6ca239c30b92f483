// Win32 side of the platform layer: the real ANSI entry points.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commdlg.h>

#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

namespace torsel::plat {

int langId() { return static_cast<int>(GetUserDefaultLangID()); }

bool isLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

void reloadLocale() {}

// The console shows the ANSI code page, in which the texts are held.
const char* conText(const char* sjis) { return sjis; }

bool conIsUtf8() { return false; }

namespace {

// Wide text to the ANSI code page, in a ring of four buffers.
const char* fromWide(const wchar_t* wide, int chars) {
  static char ring[4][1024];
  static int slot = 0;
  char* out = ring[slot];
  slot = (slot + 1) % 4;
  int n = WideCharToMultiByte(CP_ACP, 0, wide, chars, out, static_cast<int>(sizeof ring[0]) - 1, "?", nullptr);
  out[n > 0 ? n : 0] = '\0';
  return out;
}

}  // namespace

const char* conFromUtf16(const uint8_t* le, int bytes) {
  static wchar_t wide[512];
  int chars = bytes / 2 < 511 ? bytes / 2 : 511;
  for (int i = 0; i < chars; i++) wide[i] = static_cast<wchar_t>(le[2 * i] | le[2 * i + 1] << 8);
  return fromWide(wide, chars);
}

const char* conFromUtf8(const char* utf8) {
  static wchar_t wide[512];
  int chars = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 511);
  return chars > 0 ? fromWide(wide, chars - 1) : "?";
}

int64_t fileSize(std::FILE* f) {
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFREG) == 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::FILE* openRead(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  // Only a file on a disk: not a console, a pipe or a device.
  if (f != nullptr && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

namespace {

// The temporary output, removed when the console is interrupted or closed.
// The file is shared for deletion, so the handler's thread may remove it
// while it is still being written.
struct TempOutput {
  char path[kPathMax];
  volatile LONG held = 0;
};
TempOutput gTemp;

BOOL WINAPI onConsoleEvent(DWORD) {
  if (gTemp.held) DeleteFileA(gTemp.path);
  return FALSE;  // the default handling ends the process
}

}  // namespace

// A closed console fails a write here without a signal: only the handler to set.
void guardRun() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void giveBackMemory() { _heapmin(); }

std::FILE* createTemp(const char* target, char* tempPath) {
  int folder = 0;
  for (int i = 0; target[i] != '\0'; i++) {
    if (IsDBCSLeadByte(static_cast<BYTE>(target[i])) && target[i + 1] != '\0') {
      i++;
    } else if (target[i] == '\\' || target[i] == '/' || (i == 1 && target[i] == ':')) {
      folder = i + 1;
    }
  }
  if (folder + 32 > kPathMax) return nullptr;
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    const unsigned tag = static_cast<unsigned>(GetCurrentProcessId()) * 2654435761u + serial++ * 40503u;
    std::snprintf(gTemp.path, sizeof gTemp.path, "%.*s.torsel-%08x.tmp", folder, target, tag);
    HANDLE h = CreateFileA(gTemp.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;  // never touched
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    gTemp.held = 1;
    // An earlier output's attributes (hidden, archive, ...) stay with the new one.
    const DWORD kept = GetFileAttributesA(target);
    if (kept != INVALID_FILE_ATTRIBUTES && (kept & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      SetFileAttributesA(gTemp.path, kept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    std::FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (f == nullptr) {
      fd >= 0 ? _close(fd) : CloseHandle(h);
      DeleteFileA(gTemp.path);
      gTemp.held = 0;
      return nullptr;
    }
    std::memcpy(tempPath, gTemp.path, sizeof gTemp.path);
    return f;
  }
  return nullptr;
}

void releaseTemp() { gTemp.held = 0; }

bool isWriteProtected(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

int replaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

int removeFile(const char* path) { return DeleteFileA(path) ? 0 : -1; }

int fileId(const char* path, FileId* out) {
  // No access asked: only the identity is read. Folders need the backup flag.
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return -1;
  *out = {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

namespace {
HANDLE gFind = INVALID_HANDLE_VALUE;

void fillFind(const WIN32_FIND_DATAA& data, FindData* out) {
  std::strncpy(out->name, data.cFileName, sizeof out->name - 1);
  out->name[sizeof out->name - 1] = '\0';
  out->isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

int findFirst(const char* pattern, FindData* out) {
  findClose();
  WIN32_FIND_DATAA data;
  gFind = FindFirstFileA(pattern, &data);
  if (gFind == INVALID_HANDLE_VALUE) return -1;
  fillFind(data, out);
  return 0;
}

int findNext(FindData* out) {
  if (gFind == INVALID_HANDLE_VALUE) return -1;
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(gFind, &data)) return -1;
  fillFind(data, out);
  return 0;
}

void findClose() {
  if (gFind != INVALID_HANDLE_VALUE) FindClose(gFind);
  gFind = INVALID_HANDLE_VALUE;
}

int getOpenFileName(OpenFileParams* params) {
  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  // The pre-Windows 2000 layout (76 bytes in a 32-bit build).
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.lpstrFilter = params->filter;
  ofn.nFilterIndex = params->filterIndex;
  ofn.lpstrFile = params->file;
  ofn.nMaxFile = params->fileCapacity;
  ofn.lpstrInitialDir = params->initialDir;
  ofn.lpstrTitle = params->title;
  ofn.lpstrDefExt = params->defExt;
  ofn.Flags = params->flags;
  return GetOpenFileNameA(&ofn) ? 1 : 0;
}

unsigned long commDlgExtendedError() { return CommDlgExtendedError(); }

void messageBox(const char* text, const char* caption, unsigned style) {
  std::fflush(stdout);
  MessageBoxA(nullptr, text, caption, style);
}

}  // namespace torsel::plat
