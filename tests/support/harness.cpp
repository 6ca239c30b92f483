#include "support/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace testsupport {

std::array<uint8_t, 64> canonicalBlock(int base) {
  std::array<uint8_t, 64> bz{};
  for (int k = 0; k < 64; k++) bz[k] = k % 16 + k / 16 < 16 ? static_cast<uint8_t>(base + k % 16 + k / 16) : 0;
  return bz;
}

void putU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

namespace {
void putName(Bytes* out, const std::string& name, size_t width) {
  for (size_t i = 0; i < width; i++) out->push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
}
uint32_t u32(const Bytes& d, size_t at) { return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24; }
float f32(const Bytes& d, size_t at) { return std::bit_cast<float>(u32(d, at)); }
}  // namespace

Bytes buildVmd(const std::vector<Key>& bones, const std::vector<Morph>& morphs, bool morphSection,
               const Bytes& trailing) {
  Bytes out;
  putName(&out, "Vocaloid Motion Data 0002", 30), putName(&out, "model", 20), putU32(&out, uint32_t(bones.size()));
  for (const Key& k : bones) {
    putName(&out, k.name, 15), putU32(&out, k.frame);
    for (float v : {k.pos[0], k.pos[1], k.pos[2], k.rot.x, k.rot.y, k.rot.z, k.rot.w}) putU32(&out, std::bit_cast<uint32_t>(v));
    out.insert(out.end(), k.bz.begin(), k.bz.end());
  }
  if (morphSection) putU32(&out, static_cast<uint32_t>(morphs.size()));
  for (const Morph& m : morphs) putName(&out, m.name, 15), putU32(&out, m.frame), putU32(&out, std::bit_cast<uint32_t>(m.value));
  out.insert(out.end(), trailing.begin(), trailing.end());
  return out;
}

bool readVmd(const Bytes& d, ReadVmd* out, std::string* error) {
  *out = ReadVmd{};
  if (d.size() < 54) return *error = "header shorter than 54 bytes", false;
  out->header.assign(d.begin(), d.begin() + 50);
  out->boneCount = static_cast<int32_t>(u32(d, 50));
  size_t at = 54;
  if (out->boneCount < 0 || (d.size() - at) / 111 < static_cast<size_t>(out->boneCount)) {
    return *error = "bone count " + std::to_string(out->boneCount) + " exceeds the records present", false;
  }
  for (int32_t i = 0; i < out->boneCount; i++, at += 111) {
    ReadBone b = {std::string(reinterpret_cast<const char*>(&d[at]), strnlen(reinterpret_cast<const char*>(&d[at]), 15)),
                  u32(d, at + 15), {f32(d, at + 19), f32(d, at + 23), f32(d, at + 27)},
                  {f32(d, at + 31), f32(d, at + 35), f32(d, at + 39), f32(d, at + 43)}, {}, Bytes(&d[at], &d[at] + 111)};
    std::memcpy(b.bz.data(), &d[at + 47], 64);
    out->bones.push_back(b);
  }
  if (d.size() - at < 4) return d.size() == at || (*error = "a morph count cut short", false);
  out->morphCount = static_cast<int32_t>(u32(d, at));
  at += 4;
  if (out->morphCount < 0 || (d.size() - at) / 23 < static_cast<size_t>(out->morphCount)) {
    return *error = "morph count " + std::to_string(out->morphCount) + " exceeds the records present", false;
  }
  for (int32_t i = 0; i < out->morphCount; i++, at += 23) out->morphs.emplace_back(&d[at], &d[at] + 23);
  out->trailing.assign(d.begin() + static_cast<long>(at), d.end());
  return true;
}

Bytes buildVpd(const std::vector<PoseBone>& bones, const std::string& eol) {
  std::string t = "Vocaloid Pose Data file" + eol + eol + "miku.osm;\t\t// \x90\x65" + eol;  // 親
  t += std::to_string(bones.size()) + ";\t\t\t\t// count" + eol + eol;
  char line[200];
  for (size_t i = 0; i < bones.size(); i++) {
    const PoseBone& b = bones[i];
    std::snprintf(line, sizeof line, "  %f,%f,%f;\t\t\t\t// trans x,y,z%s  %f,%f,%f,%f;\t\t// Quat",
                  b.pos[0], b.pos[1], b.pos[2], eol.c_str(), b.rot.x, b.rot.y, b.rot.z, b.rot.w);
    t += "Bone" + std::to_string(i) + "{" + b.name + eol + line + eol + "}" + eol + eol;
  }
  return Bytes(t.begin(), t.end());
}

bool readVpd(const Bytes& data, std::vector<PoseBone>* bones, std::string* error) {
  const std::string t(data.begin(), data.end());
  size_t count = 0, at = t.find(';');
  bones->clear();
  if (t.rfind("Vocaloid Pose Data file", 0) || at == std::string::npos ||
      std::sscanf(t.c_str() + at + 1, "%*[^\n]%zu;", &count) != 1) {  // the count after the model line
    return *error = "no header, model line or count", false;
  }
  // Each block whole: its name to the line end, both statements and their comments, the brace.
  for (PoseBone b; (at = t.find("Bone", at)) != std::string::npos; bones->push_back(b)) {
    char name[64] = {};
    int n = 0;
    std::sscanf(t.substr(at, 1024).c_str(), "Bone%*u{%63[^\r\n] %f,%f,%f;%*[^\n] %f,%f,%f,%f;%*[^\n] }%n", name,
                &b.pos[0], &b.pos[1], &b.pos[2], &b.rot.x, &b.rot.y, &b.rot.z, &b.rot.w, &n);
    if (n == 0) return *error = "block " + std::to_string(bones->size()) + " is not whole", false;
    b.name = name, at += static_cast<size_t>(n);
  }
  return bones->size() == count || (*error = "a count for other blocks", false);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::ssize(data));
}
bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string listDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  for (dirent* e; d != nullptr && (e = readdir(d)) != nullptr;) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  if (d != nullptr) closedir(d);
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

Rot multiply(const Rot& p, const Rot& r) {
  return {p.x * r.w + p.w * r.x + p.y * r.z - p.z * r.y, p.y * r.w + p.w * r.y + p.z * r.x - p.x * r.z,
          p.z * r.w + p.w * r.z + p.x * r.y - p.y * r.x, p.w * r.w - p.x * r.x - p.y * r.y - p.z * r.z};
}
Rot conj(const Rot& p) { return {-p.x, -p.y, -p.z, p.w}; }
Rot turn(double x, double y, double z, double angle) {
  double s = std::sin(angle / 2) / std::sqrt(x * x + y * y + z * z);
  return {float(x * s), float(y * s), float(z * s), float(std::cos(angle / 2))};
}
double angleBetween(const Rot& a, const Rot& b) {
  const Rot d = multiply(conj(b), a);  // the turn from b to a
  return 2 * std::atan2(std::sqrt(double(d.x) * d.x + double(d.y) * d.y + double(d.z) * d.z), std::fabs(d.w)) * 180 / M_PI;
}

std::string digest(const std::string& text) {
  uint64_t h = 0xCBF29CE484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ULL;
  char buf[17];
  return std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h)), buf;
}

void TempDirTest::SetUp() {
  char pattern[] = "/tmp/torsel-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}
void TempDirTest::TearDown() { std::system(("chmod -R u+w " + dir_ + " 2>/dev/null; rm -rf " + dir_).c_str()); }

#ifdef TORSEL_UNDER_WINE
bool underWine() { return true; }
#else
bool underWine() { return false; }
#endif

namespace {

// Under Wine, "/tmp/a/b.vmd" goes in as Z:\tmp\a\b.vmd (a path whose first
// folder exists: "/C/ND" stays an option); Z:\ paths come back as POSIX ones,
// up to a space or line end, CR LF as LF. In code page 932 the byte after a
// lead byte is part of the character, even 0x5C.
std::string toWindowsPath(std::string arg) {
  struct stat st;
  if (arg.empty() || arg[0] != '/' || stat(arg.substr(0, arg.find('/', 1)).c_str(), &st) != 0) return arg;
  std::replace(arg.begin(), arg.end(), '/', '\\');
  return "Z:" + arg;
}
std::string fromWindowsOutput(const std::string& text, bool shiftJis) {
  std::string out;
  bool inPath = false;
  for (size_t i = 0; i < text.size(); i++) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (text.compare(i, 2, "\r\n") == 0) continue;
    if (!inPath && text.compare(i, 3, "Z:\\") == 0) {
      inPath = true;
      i += 2;
    }
    inPath = inPath && c != ' ' && c != '\r' && c != '\n';
    out += inPath && text[i] == '\\' ? '/' : text[i];
    if (inPath && shiftJis && ((c >= 0x81 && c <= 0x9F) || c >= 0xE0) && i + 1 < text.size()) out += text[++i];
  }
  return out;
}

RunResult runOnce(const std::vector<std::string>& args, const RunOptions& options) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const bool wine = underWine() && options.program.empty(), ja = options.locale.rfind("ja", 0) == 0;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    // Wine's own notes go nowhere: a service it starts keeps what it was
    // given, and CTest would wait for the test's output until it ends.
    if (wine) dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    if (options.fileSizeLimit >= 0) {  // a full disk at a chosen offset, as a shell's ulimit gives it
      signal(SIGXFSZ, wine ? SIG_IGN : SIG_DFL);  // Wine's own processes are not under test
      struct rlimit limit = {rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // Wine takes the Windows language and code page from a UTF-8 locale.
    setenv("LC_ALL", wine && ja ? "ja_JP.UTF-8" : options.locale.c_str(), 1);
#ifdef TORSEL_UNDER_WINE
    setenv("WINEPREFIX", TORSEL_WINEPREFIX, 1), setenv("WINEDEBUG", "-all", 1);  // the suite's running server
#endif
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    std::vector<std::string> words = {options.program.empty() ? TORSEL_EXE : options.program};
    if (wine) words.insert(words.begin(), "wine");
    for (const std::string& a : args) words.push_back(wine ? toWindowsPath(a) : a);
    std::vector<char*> argv(words.size() + 1, nullptr);
    std::transform(words.begin(), words.end(), argv.begin(), [](std::string& w) { return w.data(); });
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (options.stopAfterMs >= 0) usleep(useconds_t(options.stopAfterMs) * 1000), kill(pid, options.stopSignal);
  RunResult result;
  char buf[65536];
  // Read to the end of the output, or until the program has ended and what
  // it wrote is read: a Wine service started by the run inherits the pipe
  // and may hold it open for many seconds after.
  int status = 0;
  bool ended = false;
  for (pollfd p = {fds[0], POLLIN, 0}; options.readBytes < 0 || long(result.out.size()) < options.readBytes;) {
    const int ready = poll(&p, 1, ended ? 0 : 100);
    if (ready == 0 && ended) break;
    if (ready == 0) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      continue;
    }
    const ssize_t n = ready > 0 ? read(fds[0], buf, sizeof buf) : -1;
    if (n <= 0) break;
    result.out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (!ended) waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return wine ? RunResult{fromWindowsOutput(result.out, ja), result.status} : result;
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& args, const RunOptions& options) {
  RunResult r = runOnce(args, options);
  // The banner comes first, always: a run under Wine that printed nothing
  // never reached the program (Wine now and then fails to start).
  for (int retry = 0; retry < 2 && underWine() && options.program.empty() && r.out.empty() && r.status != 0; retry++) {
    r = runOnce(args, options);
  }
  return r;
}

}  // namespace testsupport
