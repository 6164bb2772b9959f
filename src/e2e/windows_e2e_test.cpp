// Cases that only the Windows build shows, run under Wine: the report box itself, files that
// another Windows program holds open, and the Windows command line and path forms.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

class WindowsE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!UnderWine()) GTEST_SKIP() << "for the Windows build under Wine";
  }
};

/// The same, for cases that read the box back: they need a display to show it on.
class WindowsBoxE2eTest : public WindowsE2eTest {
 protected:
  void SetUp() override {
    WindowsE2eTest::SetUp();
    const char* display = getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs a display for the box";
  }
};

/// Holds a file open for writing, sharing reading and writing, from another Windows process
/// (hold_open.exe beside the executable under test), for as long as it lives.
class HeldOpen {
 public:
  /// Holds `path` until this ends, or for `seconds` only where given.
  explicit HeldOpen(const std::string& path, int seconds = 0) : marker_(signals_.At("holding")) {
    std::string helper = (fs::path(PruneExecutable()).parent_path() / "hold_open.exe").string();
    std::vector<std::string> command = {WineProgram(), helper, ProgramPath(path),
                                        ProgramPath(marker_)};
    if (seconds > 0) command.push_back(std::to_string(seconds));
    helper_ = fork();
    if (helper_ == 0) {
      int quiet = open("/dev/null", O_RDWR);
      dup2(quiet, 0), dup2(quiet, 1), dup2(quiet, 2);
      setenv("WINEDEBUG", "-all", 1);
      std::vector<char*> argv;
      for (std::string& part : command) argv.push_back(part.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    // The helper says that it holds the file by creating the marker.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(marker_) && std::chrono::steady_clock::now() < deadline &&
           waitpid(helper_, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~HeldOpen() {
    // Deleting the marker lets the helper close the file and end.
    std::error_code ignored;
    fs::remove(marker_, ignored);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(helper_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(helper_, SIGKILL);
        waitpid(helper_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool holding() const { return fs::exists(marker_); }

 private:
  TempFolder signals_;
  std::string marker_;
  pid_t helper_ = -1;
};

/// The one box that the run showed: the caption of the box that was closed and its text.
struct Box {
  std::string caption;
  std::string text;
};

Box OnlyBox(const RunResult& result) {
  std::vector<std::string> texts = WineBoxTexts(result.err);
  EXPECT_EQ(texts.size(), 1u) << result.err;
  EXPECT_EQ(result.closed_boxes.size(), 1u);
  return {result.closed_boxes.empty() ? "" : result.closed_boxes[0], texts.empty() ? "" : texts[0]};
}

/// Splits a report text into its first line, which names the failure, the executable and the
/// code location, and the rest.
void ExpectReport(const std::string& text, const std::string& kind, const std::string& message) {
  size_t first_end = text.find("\r\n");
  ASSERT_NE(first_end, std::string::npos) << text;
  std::string first = text.substr(0, first_end);
  const std::string head = "Exception " + kind + " in Modul prune.exe bei ";
  EXPECT_TRUE(first.starts_with(head) && first.size() == head.size() + 17 && first.back() == '.' &&
              first.find_first_not_of("0123456789ABCDEF", head.size()) == first.size() - 1)
      << first;
  EXPECT_EQ(text.substr(first_end + 2), message + "\r\n");
}

TEST_F(WindowsBoxE2eTest, FailureShowsTheReportBoxAndEndsWithStatusOne) {
  TempFolder folder;
  std::string bad =
      "\xEF\xBB\xBF"
      "G01 A1\n\xC0\x80\n";
  std::string path = folder.Write("part.nc", bad);
  RunResult result = RunPrune({ProgramPath(path)});
  EXPECT_EQ(result.exit_status, 1);
  Box box = OnlyBox(result);
  EXPECT_EQ(box.caption, "Anwendungsfehler");
  ExpectReport(box.text, "EEncodingError",
               "Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden.");
  EXPECT_EQ(folder.Read("part.nc"), bad);
  EXPECT_EQ(result.out, "");
}

TEST_F(WindowsBoxE2eTest, FileHeldOpenForWritingFailsTheLoad) {
  TempFolder folder;
  std::string path = folder.Write("part.nc", kSmallProgram);
  HeldOpen held(path);
  ASSERT_TRUE(held.holding());
  RunResult result = RunPrune({ProgramPath(path)});
  EXPECT_EQ(result.exit_status, 1);
  ExpectReport(OnlyBox(result).text, "EFOpenError",
               "Datei " + ProgramPath(path) + " kann nicht geöffnet werden. Sharing violation.");
  EXPECT_EQ(folder.Read("part.nc"), kSmallProgram);
}

TEST_F(WindowsBoxE2eTest, TestOutputFileHeldOpenFailsTheSaveAndStaysAsItWas) {
  TempFolder folder;
  std::string executable = CopyExecutable(folder, "", kTestOutputSettings);
  std::string path = folder.Write("part.nc", kSmallProgram);
  std::string output = folder.Write("part.tap", "earlier output\r\n");
  HeldOpen held(output);
  ASSERT_TRUE(held.holding());
  RunOptions options;
  options.executable = executable;
  RunResult result = RunPrune({ProgramPath(path)}, options);
  EXPECT_EQ(result.exit_status, 1);
  ExpectReport(
      OnlyBox(result).text, "EFCreateError",
      "Datei \"" + ProgramPath(output) + "\" kann nicht erstellt werden. Sharing violation.");
  EXPECT_EQ(folder.Read("part.tap"), "earlier output\r\n");
  EXPECT_EQ(folder.Read("part.nc"), kSmallProgram);
  std::vector<std::string> names = {"part.nc", "part.tap", "prune.exe", "prune.ini"};
  EXPECT_EQ(folder.Names(), names);
}

TEST_F(WindowsE2eTest, TestOutputFileHeldForAMomentIsWrittenOnceFree) {
  // As a virus scanner or a sync client holds a file that has just been written.
  TempFolder folder;
  RunOptions options;
  options.executable = CopyExecutable(folder, "", kTestOutputSettings);
  std::string path = folder.Write("part.nc", kSmallProgram);
  std::string output = folder.Write("part.tap", "earlier output\r\n");
  HeldOpen held(output, 1);
  ASSERT_TRUE(held.holding());
  RunResult result = RunPrune({ProgramPath(path)}, options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("part.tap"), kSmallProgramPruned);
  EXPECT_EQ(folder.Read("part.nc"), kSmallProgram);
}

TEST_F(WindowsE2eTest, FilesKeepTheirNamesAsSpelledInTheFolder) {
  TempFolder folder;
  RunOptions options;
  options.executable = CopyExecutable(folder, "", kTestOutputSettings);
  folder.Write("PART.NC", kSmallProgram);
  folder.Write("part.TAP", "earlier output\r\n");
  RunResult result = RunPrune({ProgramPath(folder.At("part.nc"))}, options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("part.TAP"), kSmallProgramPruned);
  std::vector<std::string> names = {"PART.NC", "part.TAP", "prune.exe", "prune.ini"};
  EXPECT_EQ(folder.Names(), names);
  // Without test output the program itself is written, under its own name.
  fs::remove(folder.At("prune.ini"));
  result = RunPrune({ProgramPath(folder.At("part.nc"))}, options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("PART.NC"), kSmallProgramPruned);
  names = {"PART.NC", "part.TAP", "prune.exe"};
  EXPECT_EQ(folder.Names(), names);
}

TEST_F(WindowsBoxE2eTest, ReportNamesAnExecutablePastTheClassicPathLimit) {
  TempFolder folder;
  // Two folders of 120 characters each put the executable's file name after the 260th
  // character of its path, where the room for the classic longest path ends.
  std::string executable =
      CopyExecutable(folder, std::string(120, 'a') + "/" + std::string(120, 'b'));
  ASSERT_GT(ProgramPath(executable).size() - std::string("prune.exe").size(), 260u);
  std::string bad =
      "\xEF\xBB\xBF"
      "G01 A1\n\xC0\x80\n";
  std::string path = folder.Write("part.nc", bad);
  RunOptions options;
  options.executable = executable;
  RunResult result = RunPrune({ProgramPath(path)}, options);
  EXPECT_EQ(result.exit_status, 1);
  ExpectReport(OnlyBox(result).text, "EEncodingError",
               "Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden.");
}

TEST_F(WindowsE2eTest, CommandLineFormsNameTheFile) {
  struct Case {
    std::string description;
    std::string file;                    // inside the folder
    std::vector<std::string> arguments;  // "@" stands for the file's Z:\ path
    bool relative = false;               // the arguments are relative to the folder
  };
  const Case cases[] = {
      {"a bare pair of double quotes before the path", "part.nc", {"", "@"}},
      {"two bare pairs before the path", "part.nc", {"", "", "@"}},
      {"a quoted path with spaces", "my jobs/part 1.nc", {"@"}},
      {"a further argument after the path", "part.nc", {"@", "ignored.nc"}},
      {"a folder name with a dot", "jobs.old/part", {"@"}},
      {"a relative path with a backslash", "sub/part.nc", {"sub\\part.nc"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    TempFolder folder;
    std::string path = folder.Write(c.file, kSmallProgram);
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments) {
      arguments.push_back(argument == "@" ? ProgramPath(path) : argument);
    }
    RunOptions options;
    if (c.relative) options.working_folder = folder.path();
    RunResult result = RunPrune(arguments, options);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(folder.Read(c.file), kSmallProgramPruned);
  }
}

TEST_F(WindowsE2eTest, PathsThatFailTheExistenceTestChangeNothing) {
  struct Case {
    std::string description;
    std::string argument;  // inside the folder, host form
  };
  const Case cases[] = {
      {"a wildcard in the name", "part?.nc"},
      {"a folder", "jobs.old"},
      {"a missing file in a missing folder", "missing/part.nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    TempFolder folder;
    folder.Write("part1.nc", kSmallProgram);
    folder.Write("jobs.old/part.nc", kSmallProgram);
    RunResult result = RunPrune({ProgramPath(folder.At(c.argument))});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(WineBoxTexts(result.err).empty());
    EXPECT_EQ(folder.Read("part1.nc"), kSmallProgram);
    EXPECT_EQ(folder.Read("jobs.old/part.nc"), kSmallProgram);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"jobs.old", "part1.nc"}));
  }
}

TEST_F(WindowsE2eTest, TestOutputGoesBesideTheFileInAFolderWithADot) {
  struct Case {
    std::string input;
    std::string output;
  };
  const Case cases[] = {
      {"folder.old/part", "folder.old/part.tap"},
      {"folder.old/part.nc", "folder.old/part.tap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TempFolder folder;
    RunOptions options;
    options.executable = CopyExecutable(folder, "", kTestOutputSettings);
    std::string path = folder.Write(c.input, kSmallProgram);
    RunResult result = RunPrune({ProgramPath(path)}, options);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(folder.Read(c.input), kSmallProgram);
    EXPECT_EQ(folder.Read(c.output), kSmallProgramPruned);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"folder.old", "prune.exe", "prune.ini"}));
  }
}

TEST_F(WindowsE2eTest, ProgramReachedThroughAHostLinkKeepsTheLinkAndItsTargetGetsTheResult) {
  // Wine shows a link made on the host as the plain file it leads to: the save must neither
  // replace the link nor delete its target.
  struct Case {
    std::string description;
    std::string link;    // inside the folder, made with the host's symlink
    std::string target;  // relative to the link's folder
    std::string output;  // where the result goes, "" for the program itself
  };
  const Case cases[] = {
      {"the program", "part.nc", "real/part.nc", ""},
      {"a program in another folder", "jobs/part.nc", "../real/other.nc", ""},
      {"a .tap that leads elsewhere", "part.tap", "real/out.tap", "part.tap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    TempFolder folder;
    RunOptions options;
    if (!c.output.empty()) options.executable = CopyExecutable(folder, "", kTestOutputSettings);
    std::string link = c.output.empty() ? c.link : c.output;
    fs::path target = fs::path(folder.At(link)).parent_path() / c.target;
    std::string program = c.output.empty() ? link : "part.nc";
    folder.Write(fs::relative(target, folder.path()).string(),
                 c.output.empty() ? kSmallProgram : "earlier output\r\n");
    if (!c.output.empty()) folder.Write(program, kSmallProgram);
    fs::create_directories(fs::path(folder.At(link)).parent_path());
    fs::create_symlink(c.target, folder.At(link));
    RunResult result = RunPrune({ProgramPath(folder.At(program))}, options);
    EXPECT_EQ(result.exit_status, 0);
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(folder.At(link), error), c.target) << "no longer a link";
    EXPECT_EQ(ReadFile(target), kSmallProgramPruned);
    // Nothing else beside the target: no backup, no temporary file.
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(target.parent_path(), error)) {
      beside.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(beside, std::vector<std::string>{target.filename().string()});
  }
}

}  // namespace
