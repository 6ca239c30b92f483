// Runs the built program as a user would and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct RunOptions {
  std::string locale = "C";         // LC_ALL
  std::string workDir;              // "" keeps the test's own
  long fileSizeLimit = -1;          // bytes a written file may reach; -1: none
  std::string program;              // "" runs the torsel under test
};

struct RunResult {
  std::string out;   // standard output
  int status = -1;   // exit status 0..255, or -1 when killed by a signal
};

/// Runs the program under test (or options.program) with `args`. Where the
/// program under test is the Windows build, it runs under Wine: absolute
/// paths are given as Z:\ paths and read back as POSIX ones, and "\r\n"
/// line ends are read as "\n".
RunResult runProgram(const std::vector<std::string>& args, const RunOptions& options = {});

/// True when the program under test is the Windows build run under Wine.
bool underWine();

/// A new empty folder for one test.
std::string makeTempDir();

}  // namespace testsupport
