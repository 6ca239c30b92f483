// The options both READMEs name, each with a value or without, against the
// program's own table of options (compiled here from its file) and the long
// options its help names: an option added, dropped or renamed fails here
// until both READMEs say so.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <string>

#include "app/options.cpp"  // the table itself, in its file's own namespace

namespace {

// An option as a README's table writes it ("F" for `-Fn`, "ND", "--help"): whether a value follows.
using Options = std::map<std::string, bool>;

Options programOptions() {
  using torsel::Reading;
  Options names;
  for (const torsel::Option& o : torsel::kOptions) {
    if (o.reading == Reading::Ignored) continue;  // a value read and dropped, as older versions took it
    names[std::string(1, o.letter) + (o.second != 0 ? std::string(1, o.second) : "")] =
        o.reading == Reading::Whole || o.reading == Reading::LowByte;
  }
  testing::internal::CaptureStdout();
  torsel::printHelp();
  const std::string help = testing::internal::GetCapturedStdout();
  for (size_t at = help.find("--"), end; at != std::string::npos; at = help.find("--", end)) {
    for (end = at + 2; std::islower(static_cast<unsigned char>(help[end])) != 0;) end++;
    names[help.substr(at, end - at)] = false;
  }
  return names;
}

Options readmeOptions(const std::string& readme) {
  std::ifstream in(std::string(TORSEL_SOURCE_DIR) + "/" + readme);
  Options names;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `-", 0) != 0) continue;
    const std::string cell = line.substr(3, line.find('`', 3) - 3);
    size_t end = 1;
    while (end < cell.size() && std::isupper(static_cast<unsigned char>(cell[end])) != 0) end++;
    names[cell.rfind("--", 0) == 0 ? cell : cell.substr(1, end - 1)] = cell.rfind("--", 0) != 0 && end < cell.size();
  }
  return names;
}

TEST(OptionRows, BothReadmesNameEveryOptionOfTheProgramAndNoOther) {
  const Options program = programOptions();
  ASSERT_EQ(program.count("ND") + program.count("--help"), 2u);
  for (const char* readme : {"README.md", "README.ja.md"}) EXPECT_EQ(readmeOptions(readme), program) << readme;
}

}  // namespace
