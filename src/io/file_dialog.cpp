#include "io/file_dialog.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "io/path_util.h"
#include "platform/platform.h"

namespace torsel {
namespace {

struct FilterEntry {
  const char* description;
  const char* pattern;
};

constexpr FilterEntry kMotionGroup[] = {{"MMD Motion File  (*.vmd)", "*.VMD"}};
constexpr FilterEntry kScriptGroup[] = {
    {"Script Files  (*.txt;*.ini;*.nbl)", "*.TXT;*.INI;*.NBL"},
    {"Text Files  (*.txt)", "*.TXT"},
    {"INI Files  (*.ini)", "*.INI"},
};
constexpr FilterEntry kImageGroup[] = {
    {"Image Files  (*.bmp;*.gif;*.avi;*.png;*.psd;*.jpg;*.jpe)",
     "*.BMP;*.GIF;*.AVI;*.PNG;*.PSD;*.JPG;*.JPE"},
    {"BMP Files  (*.bmp)", "*.BMP"},
    {"PNG Files  (*.png)", "*.PNG"},
    {"PSD Files  (*.psd)", "*.PSD"},
    {"JPEG Files  (*.jpg;*.jpe)", "*.JPG;*.JPE"},
    {"GIF Files  (*.gif)", "*.GIF"},
    {"AVI Files  (*.avi)", "*.AVI"},
};
constexpr FilterEntry kAllGroup[] = {{"All Files  (*.*)", "*.*"}};

constexpr int kFilterCapacity = 16384;
constexpr int kFilterFillLimit = 0x3F80;

// Titles and default extensions by the kind's low two bits.
constexpr std::array<const char*, 4> kTitles = {"Open File", "Open Image File", "Open Script File",
                                                "Open Source File"};
constexpr std::array<const char*, 4> kDefaultExts = {"txt", "bmp", "txt", nullptr};

constexpr struct {
  unsigned long code;
  const char* line;
} kDialogErrors[] = {
    {0xFFFF, "CDERR_DIALOGFAILURE.\n"},   {6, "CDERR_FINDRESFAILURE.\n"},
    {4, "CDERR_NOHINSTANCE.\n"},          {2, "CDERR_INITIALIZATION.\n"},
    {11, "CDERR_NOHOOK.\n"},              {8, "CDERR_LOCKRESFAILURE.\n"},
    {3, "CDERR_NOTEMPLATE.\n"},           {7, "CDERR_LOADRESFAILURE.\n"},
    {1, "CDERR_STRUCTSIZE.\n"},           {5, "CDERR_LOADSTRFAILURE.\n"},
    {0x3003, "FNERR_BUFFERTOOSMALL.\n"},  {9, "CDERR_MEMALLOCFAILURE.\n"},
    {0x3002, "FNERR_INVALIDFILENAME.\n"}, {10, "CDERR_MEMLOCKFAILURE.\n"},
    {0x3001, "FNERR_SUBCLASSFAILURE.\n"},
};

// What the dialog is handed: its filter list, folder, file name and extension.
struct DialogFields {
  char filter[kFilterCapacity];
  char initialDir[plat::kPathMax];
  char fileName[plat::kPathMax];
  char initialExt[plat::kPathMax];
};
DialogFields gFields;

void appendString(int* fill, const char* s) {
  size_t n = std::strlen(s) + 1;
  std::memcpy(gFields.filter + *fill, s, n);
  *fill += static_cast<int>(n);
}

template <size_t N>
void appendGroup(int* fill, const FilterEntry (&group)[N]) {
  for (const FilterEntry& e : group) {
    if (*fill >= kFilterFillLimit) return;
    appendString(fill, e.description);
    appendString(fill, e.pattern);
  }
}

// For the kinds this program never opens: the entry whose pattern names the
// initial extension, 1-based, or 0.
unsigned filterIndexFor(const char* ext) {
  if (ext[0] == '\0') return 0;
  unsigned index = 0;
  for (const char* p = gFields.filter; *p != '\0';) {
    index++;
    const char* pattern = p + std::strlen(p) + 1;
    // Entries with a single pattern only: "*.BMP" names ".BMP".
    if (std::strchr(pattern, ';') == nullptr && prefixMatchNoCase(pattern + 1, ext) == 0 &&
        std::strlen(pattern + 1) == std::strlen(ext)) {
      return index;
    }
    p = pattern + std::strlen(pattern) + 1;
  }
  return 0;
}

}  // namespace

int openFileDialog(char* result, int dialogType, const char* initialPath) {
  if (std::strlen(initialPath) >= sizeof gFields.initialDir) initialPath = "";
  pathDirPart(gFields.initialDir, initialPath);
  pathTrimSlash(gFields.initialDir);
  pathNamePart(gFields.fileName, initialPath);
  pathExtPart(gFields.initialExt, initialPath);
  std::printf("Initext: %s \n", gFields.initialExt);

  int fill = 0;
  bool motion = dialogType == kDialogMotion;
  if (motion) appendGroup(&fill, kMotionGroup);
  if ((dialogType & 2) != 0 && dialogType <= 3) appendGroup(&fill, kScriptGroup);
  if ((dialogType & 1) != 0 && dialogType <= 3) appendGroup(&fill, kImageGroup);
  appendGroup(&fill, kAllGroup);
  gFields.filter[fill] = '\0';
  gFields.filter[fill + 1] = '\0';

  plat::OpenFileParams params{};
  params.filter = gFields.filter;
  params.filterIndex = 0;
  params.file = gFields.fileName;
  params.fileCapacity = 260;
  params.initialDir = gFields.initialDir[0] != '\0' ? gFields.initialDir : nullptr;
  params.title = motion ? "Open MMD Motion File" : kTitles[static_cast<unsigned>(dialogType) & 3];
  params.defExt = motion ? "vmd" : kDefaultExts[static_cast<unsigned>(dialogType) & 3];
  params.flags = 0x1800;  // OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST
  if (motion) {
    if (prefixMatchNoCase(gFields.initialExt, ".VMD") == 0) {
      params.filterIndex = 1;
      params.defExt = "vmd";
    }
  } else if (dialogType != 0) {
    params.filterIndex = filterIndexFor(gFields.initialExt);
    if (params.filterIndex != 0) params.defExt = gFields.initialExt + 1;
  }

  int ok = plat::getOpenFileName(&params);
  if (ok != 0) {
    if (result != nullptr) std::strcpy(result, gFields.fileName);
    return 0;
  }
  unsigned long code = plat::commDlgExtendedError();
  std::printf("\nFailed Opening File-Open Dialog Box: %04X ", static_cast<unsigned>(ok));
  std::printf("(stat=%04X).\n", static_cast<unsigned>(code));
  for (const auto& e : kDialogErrors) {
    if (e.code == code) {
      std::printf("%s", e.line);
      break;
    }
  }
  return -1;
}

}  // namespace torsel
