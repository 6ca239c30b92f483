// POSIX side of the platform layer: the locale variables stand in for the
// user's language and code page, an exact look-up for the file search, and
// the console for the dialog and the message box.
#include "platform/platform.h"

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace torsel::plat {
namespace {

// The locale variable that decides language and code page.
const char* localeName() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && v[0] != '\0') return v;
  }
  return "";
}

// The codeset of the locale name, lower-cased, without '-' and '_'.
void codesetOf(const char* locale, char* out, size_t cap) {
  const char* dot = std::strchr(locale, '.');
  size_t n = 0;
  if (dot != nullptr) {
    for (const char* p = dot + 1; *p != '\0' && *p != '@' && n + 1 < cap; p++) {
      if (*p == '-' || *p == '_') continue;
      out[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    }
  }
  out[n] = '\0';
}

enum class Codeset { Other, ShiftJis, Utf8 };

struct LocaleFacts {
  bool known = false;
  Codeset codeset = Codeset::Other;
  bool japanese = false;
};
LocaleFacts gLocale;

// Read from the environment once; names and messages are shown often.
const LocaleFacts& locale() {
  if (!gLocale.known) {
    const char* name = localeName();
    char cs[32];
    codesetOf(name, cs, sizeof cs);
    std::string_view v(cs);
    if (v == "sjis" || v == "shiftjis" || v == "cp932" || v == "windows31j") {
      gLocale.codeset = Codeset::ShiftJis;
    } else if (v == "utf8") {
      gLocale.codeset = Codeset::Utf8;
    } else {
      gLocale.codeset = Codeset::Other;
    }
    gLocale.japanese = name[0] == 'j' && name[1] == 'a';
    gLocale.known = true;
  }
  return gLocale;
}

Codeset codeset() { return locale().codeset; }

}  // namespace

int langId() { return locale().japanese ? kLangJapanese : kLangEnglish; }

void reloadLocale() { gLocale.known = false; }

bool isLeadByte(unsigned char c) {
  if (codeset() != Codeset::ShiftJis) return false;
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool conIsUtf8() { return codeset() == Codeset::Utf8; }

namespace {

const char* orShiftJis(const char* name) { return std::strcmp(name, "CP932") == 0 ? "SHIFT_JIS" : name; }

// Converts `len` bytes from one encoding to another into a ring of four
// buffers; a unit that cannot be converted shows as '?'. Null when no
// converter exists.
const char* convert(const char* from, const char* to, const char* in, size_t len, size_t unit) {
  struct Converter {
    const char* from;
    const char* to;
    iconv_t cd;
  };
  static Converter cache[6];
  static int used = 0;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  bool found = false;
  for (int i = 0; i < used; i++) {
    if (std::strcmp(cache[i].from, from) == 0 && std::strcmp(cache[i].to, to) == 0) {
      cd = cache[i].cd;
      found = true;
    }
  }
  if (!found && used < 6) {
    cd = iconv_open(to, from);
    // musl (the WebAssembly build's C library) knows code page 932 only as Shift_JIS.
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open(orShiftJis(to), orShiftJis(from));
    cache[used++] = {from, to, cd};
  }
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;

  static char ring[4][1024];
  static int slot = 0;
  char* out = ring[slot];
  slot = (slot + 1) % 4;
  char* src = const_cast<char*>(in);
  size_t inLeft = len;
  char* dst = out;
  size_t outLeft = sizeof ring[0] - 1;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    if (iconv(cd, &src, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if ((errno != EILSEQ && errno != EINVAL) || outLeft == 0) break;
    *dst++ = '?';
    outLeft--;
    size_t step = inLeft < unit ? inLeft : unit;
    src += step;
    inLeft -= step;
  }
  *dst = '\0';
  return out;
}

// Where the console is not UTF-8, every text it shows is Shift-JIS.
const char* consoleCodeset() { return codeset() == Codeset::Utf8 ? "UTF-8" : "CP932"; }

}  // namespace

const char* conText(const char* sjis) {
  if (codeset() != Codeset::Utf8) return sjis;
  bool ascii = true;
  for (const char* p = sjis; *p != '\0'; p++) {
    if (static_cast<unsigned char>(*p) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return sjis;
  const char* shown = convert("CP932", "UTF-8", sjis, std::strlen(sjis), 1);
  return shown != nullptr ? shown : sjis;
}

const char* conFromUtf16(const uint8_t* le, int bytes) {
  const char* shown = convert("UTF-16LE", consoleCodeset(), reinterpret_cast<const char*>(le),
                              static_cast<size_t>(bytes), 2);
  return shown != nullptr ? shown : "?";
}

const char* conFromUtf8(const char* utf8) {
  if (codeset() == Codeset::Utf8) return utf8;
  const char* shown = convert("UTF-8", "CP932", utf8, std::strlen(utf8), 1);
  return shown != nullptr ? shown : utf8;
}

int64_t fileSize(std::FILE* f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::FILE* openRead(const char* path) {
  // Opened without waiting: a FIFO would otherwise wait for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  std::FILE* f = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, 0) == 0) f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
}

namespace {

// The temporary output, removed when a signal ends the process. Its path is
// in place before the file exists, so the handler only reads it.
struct TempOutput {
  char path[kPathMax];
  volatile sig_atomic_t held = 0;
};
TempOutput gTemp;

void onTermination(int sig) {
  if (gTemp.held) unlink(gTemp.path);
  signal(sig, SIG_DFL);
  raise(sig);
}

void catchTerminations() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  // A reader gone (SIGPIPE) or a file-size limit reached (SIGXFSZ) fails
  // the write instead, and the pass ends as any write failure does.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction old;
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa = {};
    sa.sa_handler = onTermination;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

}  // namespace

void guardRun() { catchTerminations(); }

void giveBackMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);  // whole free pages inside the heap too, not only its top
#endif
}

std::FILE* createTemp(const char* target, char* tempPath) {
  const char* slash = std::strrchr(target, '/');
  const int folder = slash != nullptr ? static_cast<int>(slash - target + 1) : 0;
  if (folder + 32 > kPathMax) return nullptr;
  // A new file gets what the user's umask gives, as "wb" would; a replaced
  // one keeps its permission bits.
  struct stat st;
  const bool replacing = stat(target, &st) == 0;
  catchTerminations();
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    const unsigned tag = static_cast<unsigned>(getpid()) * 2654435761u + serial++ * 40503u;
    std::snprintf(gTemp.path, sizeof gTemp.path, "%.*s.torsel-%08x.tmp", folder, target, tag);
    int fd = open(gTemp.path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;  // somebody else's: never touched
    if (fd < 0) return nullptr;
    gTemp.held = 1;
    std::FILE* f = !replacing || fchmod(fd, st.st_mode & 0777) == 0 ? fdopen(fd, "wb") : nullptr;
    if (f == nullptr) {
      close(fd);
      unlink(gTemp.path);
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
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // No write bit at all protects a file from its owner and from root too.
  return (st.st_mode & 0222) == 0 || (access(path, W_OK) != 0 && errno == EACCES);
}

int replaceFile(const char* from, const char* to) { return std::rename(from, to) == 0 ? 0 : -1; }

int removeFile(const char* path) { return std::remove(path) == 0 ? 0 : -1; }

int fileId(const char* path, FileId* out) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  *out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return 0;
}

int findFirst(const char* pattern, FindData* out) {
  findClose();
  struct stat st;
  if (pattern[0] == '\0' || stat(pattern, &st) != 0) return -1;
  const char* name = pattern;
  for (const char* p = pattern; *p != '\0'; p++) {
    if (*p == '/' && p[1] != '\0') name = p + 1;
  }
  std::snprintf(out->name, sizeof out->name, "%s", name);
  size_t len = std::strlen(out->name);
  if (len > 1 && out->name[len - 1] == '/') out->name[len - 1] = '\0';
  out->isDir = S_ISDIR(st.st_mode);
  return 0;
}

// An exact look-up has one match at most.
int findNext(FindData*) { return -1; }

void findClose() {}

namespace {
unsigned long gDialogError = 0;
}

int getOpenFileName(OpenFileParams* params) {
  // No window system is assumed: the path is asked for on the console, and
  // only when somebody can answer.
  gDialogError = 0;
  if (!isatty(STDIN_FILENO)) return 0;
  std::printf("%s: ", params->title);
  std::fflush(stdout);
  char line[kPathMax];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
  size_t len = std::strcspn(line, "\r\n");
  line[len] = '\0';
  if (len == 0) return 0;
  if (len + 1 > params->fileCapacity) {
    gDialogError = 0x3003;  // FNERR_BUFFERTOOSMALL
    return 0;
  }
  std::memcpy(params->file, line, len + 1);
  // As the real dialog does: a name without extension that does not exist
  // gets the default extension.
  struct stat st;
  const char* base = std::strrchr(line, '/');
  base = base != nullptr ? base + 1 : line;
  if (params->defExt != nullptr && std::strchr(base, '.') == nullptr &&
      stat(line, &st) != 0 &&
      len + 1 + std::strlen(params->defExt) + 1 <= params->fileCapacity) {
    std::strcat(params->file, ".");
    std::strcat(params->file, params->defExt);
  }
  return 1;
}

unsigned long commDlgExtendedError() { return gDialogError; }

void messageBox(const char* text, const char* caption, unsigned /*style*/) {
  std::printf("%s\n", caption);
  for (const char* p = text; *p != '\0'; p++) {
    if (p[0] == '\r' && p[1] == '\n') continue;
    std::putchar(*p);
  }
  std::putchar('\n');
  std::fflush(stdout);
}

}  // namespace torsel::plat
