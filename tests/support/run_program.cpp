#include "support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace testsupport {

#ifdef TORSEL_UNDER_WINE
bool underWine() { return true; }
#else
bool underWine() { return false; }
#endif

namespace {

// "/tmp/a/b.vmd" as Wine's Z: drive shows it. Only a path whose first
// folder exists is taken for one: "/C/ND" stays an option.
std::string toWindowsPath(const std::string& arg) {
  if (arg.empty() || arg[0] != '/') return arg;
  struct stat st;
  if (stat(arg.substr(0, arg.find('/', 1)).c_str(), &st) != 0) return arg;
  std::string out = "Z:" + arg;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

// The program's output with Z:\ paths turned back and CR LF as LF. In code
// page 932 the byte after a lead byte is part of the character, even 0x5C.
std::string fromWindowsOutput(const std::string& text, bool shiftJis) {
  auto lead = [&](unsigned char c) { return shiftJis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); };
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text.compare(i, 3, "Z:\\") == 0) {
      // A path runs to the next space or line end.
      for (i += 2; i < text.size() && text[i] != ' ' && text[i] != '\r' && text[i] != '\n'; i++) {
        if (lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
          out += text[i++];
          out += text[i];
          continue;
        }
        out += text[i] == '\\' ? '/' : text[i];
      }
      i--;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

namespace {
RunResult runOnce(const std::vector<std::string>& args, const RunOptions& options);
}

RunResult runProgram(const std::vector<std::string>& args, const RunOptions& options) {
  RunResult r = runOnce(args, options);
  // The program prints its banner first, always: a run under Wine that
  // printed nothing never reached it (Wine itself failed to start, which it
  // does now and then). Such a run is tried again.
  for (int retry = 0; retry < 2 && underWine() && options.program.empty() && r.out.empty() && r.status != 0;
       retry++) {
    r = runOnce(args, options);
  }
  return r;
}

namespace {

RunResult runOnce(const std::vector<std::string>& args, const RunOptions& options) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const bool wine = underWine() && options.program.empty();
  std::string program = options.program.empty() ? std::string(TORSEL_EXE) : options.program;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    if (options.fileSizeLimit >= 0) {
      // A full disk at a chosen offset: writes past the limit fail.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    setenv("LC_ALL", options.locale.c_str(), 1);
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    std::vector<std::string> words;
    if (wine) {
      // Wine takes the Windows language and code page from a UTF-8 locale.
      if (options.locale.rfind("ja", 0) == 0) setenv("LC_ALL", "ja_JP.UTF-8", 1);
      setenv("WINEDEBUG", "-all", 1);
      words.push_back("wine");
    }
    words.push_back(program);
    for (const std::string& a : args) words.push_back(wine ? toWindowsPath(a) : a);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  RunResult result;
  char buf[65536];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) result.out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (wine) result.out = fromWindowsOutput(result.out, options.locale.rfind("ja", 0) == 0);
  return result;
}

}  // namespace

std::string makeTempDir() {
  char pattern[] = "/tmp/torsel-test-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir != nullptr ? std::string(dir) : std::string();
}

}  // namespace testsupport
