#include "io/path_util.h"

#include <cstring>

#include "platform/platform.h"

namespace torsel {
namespace {

// Index of the last single-byte character of `src` that `match` accepts,
// stepping over double-byte characters; -1 when there is none.
template <typename Match>
int lastSingleByte(const char* src, Match match) {
  int found = -1;
  bool trail = false;
  for (int i = 0; src[i] != '\0'; i++) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    if (trail) {
      trail = false;
    } else if (plat::isLeadByte(c)) {
      trail = true;
    } else if (match(c)) {
      found = i;
    }
  }
  return found;
}

void copyPrefix(char* dest, const char* src, int len) {
  std::memmove(dest, src, static_cast<size_t>(len));
  dest[len] = '\0';
}

bool isSeparator(unsigned char c) { return c == '\\' || c == '/'; }

}  // namespace

int prefixMatchNoCase(const char* str, const char* prefix) {
  for (int i = 0; prefix[i] != '\0'; i++) {
    unsigned char a = static_cast<unsigned char>(str[i]);
    unsigned char b = static_cast<unsigned char>(prefix[i]);
    if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    if (a != b) return -1;  // also where str ends first
  }
  return 0;
}

int findFileName(char* dest, const char* path) {
  dest[0] = '\0';
  plat::FindData data;
  int result = 0;
  if (plat::findFirst(path, &data) != 0) {
    result = -1;
  } else if (data.isDir) {
    if (plat::findNext(&data) != 0) {
      result = -1;
    } else if (data.isDir) {
      result = -2;
    }
  }
  if (result == 0) std::strcpy(dest, data.name);
  plat::findClose();
  return result;
}

int pathDirPart(char* dest, const char* src) {
  int slash = lastSingleByte(src, [](unsigned char c) { return c == '\\'; });
  copyPrefix(dest, src, slash + 1);
  return 0;
}

int pathStripExt(char* dest, const char* src) {
  int dot = lastSingleByte(src, [](unsigned char c) { return c == '.'; });
  copyPrefix(dest, src, dot >= 0 ? dot : static_cast<int>(std::strlen(src)));
  return 0;
}

int pathExtPart(char* dest, const char* src) {
  int dot = lastSingleByte(src, [](unsigned char c) { return c == '.'; });
  if (dot < 0) {
    dest[0] = '\0';
    return 0;
  }
  std::memmove(dest, src + dot, std::strlen(src + dot) + 1);
  return -1;
}

int pathNamePart(char* dest, const char* src) {
  int sep = lastSingleByte(src, isSeparator);
  std::memmove(dest, src + sep + 1, std::strlen(src + sep + 1) + 1);
  return 0;
}

int pathTrimSlash(char* path) {
  int count = 0;
  while (count < 259 && path[count] != '\0') count++;
  unsigned char first = static_cast<unsigned char>(path[0]);
  bool drive = ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) && path[1] == ':';
  int minimum = drive ? 4 : 2;
  if (count >= minimum && count < 259 && isSeparator(static_cast<unsigned char>(path[count - 1]))) {
    count--;
  }
  path[count] = '\0';
  return 0;
}

namespace {

// Where the extension of the file name starts: its last dot, or the end.
int stemLength(const char* src) {
  int sep = lastSingleByte(src, isSeparator);
  int dot = lastSingleByte(src, [](unsigned char c) { return c == '.'; });
  return dot > sep ? dot : static_cast<int>(std::strlen(src));
}

}  // namespace

int pathOutputName(char* dest, int cap, const char* src, const char* suffix) {
  const int stem = stemLength(src);
  const int size = static_cast<int>(std::strlen(suffix)) + 1;
  if (stem + size > cap) return -1;
  copyPrefix(dest, src, stem);
  std::memcpy(dest + stem, suffix, static_cast<size_t>(size));
  return 0;
}

bool pathIsPose(const char* path) {
  const char* ext = path + stemLength(path);
  return prefixMatchNoCase(ext, ".VPD") == 0 && std::strlen(ext) == 4;
}

const char* pathOutputSuffix(const char* path) { return pathIsPose(path) ? kPoseOutputSuffix : kOutputSuffix; }

}  // namespace torsel
