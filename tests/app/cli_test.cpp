// Users' files whatever runs beside the program, and a summary that names
// the right file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "support/harness.h"

namespace {

using namespace testsupport;

struct FileSafety : TempDirTest {
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
};

TEST_F(FileSafety, OutputPathCases) {
  const std::string stem(247, 'n');  // its output name has 255 bytes, the most a name may have
  const struct {
    std::string input, prepare;  // prepare: shell commands in the folder
    int status;
    std::string message, listing, kept;  // kept: a file that must still read "old"
    unsigned mode;                       // of the output; 0: not looked at
    bool posixOnly;
  } cases[] = {
      {stem + ".vmd", "", 0, "Conversion OK.", stem + "-cnv.vmd " + stem + ".vmd", "", 0, true},
      {"d.vmd", "echo old >d-cnv.vmd; chmod 444 d-cnv.vmd", 255, "Cannot open WR file : " + path("d-cnv.vmd") +
       "\nError code -1.", "d-cnv.vmd d.vmd", "d-cnv.vmd", 0, false},
      {"d.vmd", "echo old >d-cnv.vmd; chmod 600 d-cnv.vmd", 0, "Conversion OK.", "d-cnv.vmd d.vmd", "", 0600, true},
      {"d.vmd", "echo old >d-cnv.vmd.tmp", 0, "Conversion OK.", "d-cnv.vmd d-cnv.vmd.tmp d.vmd", "d-cnv.vmd.tmp", 0, false},
      {"f.vmd", "rm f.vmd; mkfifo f.vmd", 255, "Cannot open RD file : " + path("f.vmd") + "\n", "f.vmd", "", 0, true},
      // A motion that is a link to its own output is never replaced by its conversion.
      {"d.vmd", "rm d.vmd; echo old >d-cnv.vmd; ln -s d-cnv.vmd d.vmd", 255,
       "Output is the input file : " + path("d-cnv.vmd"), "d-cnv.vmd d.vmd", "d-cnv.vmd", 0, true},
  };
  for (const auto& c : cases) {
    if (c.posixOnly && underWine()) continue;
    std::system(("rm -rf " + dir_ + "/*").c_str());
    writeFile(path(c.input), buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.4)}}));
    ASSERT_EQ(std::system(("cd " + dir_ + " && true; " + c.prepare).c_str()), 0);
    RunResult r = runProgram({"-ND", path(c.input)});
    EXPECT_TRUE(r.status == c.status && r.out.find(c.message) != std::string::npos) << c.input << "\n" << r.out;
    EXPECT_EQ(listDir(dir_), c.listing) << c.prepare;
    EXPECT_TRUE(c.kept.empty() || readFile(path(c.kept)) == Bytes({'o', 'l', 'd', '\n'})) << c.prepare;
    struct stat st;
    EXPECT_TRUE(c.mode == 0 || (stat(path("d-cnv.vmd").c_str(), &st) == 0 && (st.st_mode & 0777) == c.mode)) << c.prepare;
  }
}

TEST_F(FileSafety, ConcurrentAndInterruptedRunsLeaveWholeOutputsOnly) {
  if (underWine()) GTEST_SKIP() << "POSIX signals and a POSIX shell";
  ASSERT_EQ(runProgram({path("d.vmd"), "3000", "5"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
  Bytes expected[2];
  for (int i = 0; i < 2; i++) expected[i] = (runProgram({"-ND", i == 0 ? "-M0" : "-M12", path("d.vmd")}), readFile(path("d-cnv.vmd")));
  ASSERT_NE(expected[0], expected[1]);
  const RunOptions shell = {"C", -1, "/bin/sh", -1};
  const std::string run = std::string(TORSEL_EXE) + " -ND -M";
  for (int round = 0; round < 20; round++) {
    runProgram({"-c", run + "0 " + path("d.vmd") + " & " + run + "12 " + path("d.vmd") + "; wait"}, shell);
    const Bytes published = readFile(path("d-cnv.vmd"));
    EXPECT_TRUE(published == expected[0] || published == expected[1]) << "round " << round;
    EXPECT_EQ(listDir(dir_), "d-cnv.vmd d.vmd") << round;
  }
  // Stopped while it lists every record (and waits on a full console pipe).
  const Bytes earlier = readFile(path("d-cnv.vmd"));
  for (int sig : {15, 3}) {
    EXPECT_EQ(runProgram({"-ND", "-D3", path("d.vmd")}, {"C", -1, "", 300, sig}).status, 128 + sig);
    EXPECT_TRUE(listDir(dir_) == "d-cnv.vmd d.vmd" && readFile(path("d-cnv.vmd")) == earlier) << sig;
  }
}

// The console's reader gone early, while the pre-scan lists every record, in
// check mode, or while the conversion lists them: nothing ends the run.
TEST_F(FileSafety, AClosedConsoleEndsNothing) {
  ASSERT_EQ(runProgram({path("d.vmd"), "3000", "5"}, {"C", -1, MAKE_SAMPLE_EXE, -1}).status, 0);
  ASSERT_EQ(runProgram({"-ND", path("d.vmd")}).status, 0);
  const Bytes expected = readFile(path("d-cnv.vmd"));
  for (const char* option : {"-D4", "-C", "-D2"}) {
    std::remove(path("d-cnv.vmd").c_str());
    RunOptions closing;
    closing.readBytes = 100;
    EXPECT_EQ(runProgram({"-ND", option, path("d.vmd")}, closing).status, 0) << option;
    const bool written = option[1] == 'D';
    EXPECT_TRUE(written ? readFile(path("d-cnv.vmd")) == expected : listDir(dir_) == "d.vmd") << option;
  }
}

// No output replaces a file the run reads, before or after it, nor one it wrote.
TEST_F(FileSafety, NoOutputReplacesAnInputOrAnEarlierOutput) {
  const Bytes motion = buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.4)}}), own = buildVmd({{kRightArm, 0, {0, 0, 0, 1}}});
  writeFile(path("d.vmd"), motion);
  ASSERT_EQ(runProgram({"-ND", path("d.vmd")}).status, 0);
  const Bytes converted = readFile(path("d-cnv.vmd"));
  const struct {
    std::string first, second, message, listing;
    bool userOwn;  // d-cnv.vmd is the user's own file, read by the run
  } cases[] = {
      {"d.vmd", "d.bak", "Output already written in this run : ", "d-cnv.vmd d.bak d.vmd", false},
      {"d.vmd", "d-cnv.vmd", "Output is an input of this run : ", "d-cnv.vmd d.vmd", true},
      {"d-cnv.vmd", "d.vmd", "Output is an input of this run : ", "d-cnv-cnv.vmd d-cnv.vmd d.vmd", true},
  };
  for (const auto& c : cases) {
    std::system(("rm -rf " + dir_ + "/*").c_str());
    writeFile(path("d.vmd"), motion);
    writeFile(path(c.second == "d.bak" ? "d.bak" : "d-cnv.vmd"), c.userOwn ? own : motion);
    RunResult r = runProgram({"-ND", path(c.first), path(c.second)});
    EXPECT_TRUE(r.status == 255 && r.out.find(c.message + path("d-cnv.vmd")) != std::string::npos) << r.out;
    EXPECT_EQ(readFile(path("d-cnv.vmd")), c.userOwn ? own : converted) << c.second;
    EXPECT_EQ(listDir(dir_), c.listing) << c.second;
  }
}

TEST_F(FileSafety, TheSummaryNamesTheFileTouchedAndWritten) {
  const Bytes motion = buildVmd({{kLeftArm, 0, turn(1, 0, 0, 0.4)}});
  const std::string longName(196, 'x');  // with its output name the text would pass its 520 bytes
  const std::string counts = " Left  arm    1  frame(s) \n Left  elbow  0  frame(s) \n Right arm    0  frame(s) \n"
                             " Right elbow  0  frame(s) \n=> 1 file(s), total 1 frame(s) converted. \n";
  const std::string lines = counts.substr(0, 108), total = counts.substr(108);
  const struct { std::vector<std::string> files; std::string arg, written, summary; bool posixOnly; } cases[] = {
      // Brackets are no pattern: the summary names the file converted, not "M dance.vmd".
      {{"[MMD] dance.vmd", "M dance.vmd"}, "[MMD] dance.vmd", "[MMD] dance-cnv.vmd",
       "[MMD] dance.vmd \n" + lines + "[MMD] dance-cnv.vmd \n" + total, false},
      {{"v1.2\\dance"}, "v1.2\\dance", "v1.2\\dance-cnv.vmd", "v1.2\\dance \n" + lines + "v1.2\\dance-cnv.vmd \n" + total,
       true},
      // The output-name line has no room: it goes whole, and no piece of the next line stands in.
      {{longName + ".vmd"}, longName + ".vmd", longName + "-cnv.vmd", longName + ".vmd \n" + counts, false},
  };
  for (const auto& c : cases) {
    if (c.posixOnly && underWine()) continue;
    std::system(("rm -rf " + dir_ + "/*").c_str());
    for (const std::string& f : c.files) writeFile(path(f), motion);
    RunResult r = runProgram({"-ND", path(c.arg)});
    EXPECT_TRUE(r.status == 0 && r.out.ends_with(c.summary) && fileExists(path(c.written))) << r.out;
  }
}

}  // namespace
