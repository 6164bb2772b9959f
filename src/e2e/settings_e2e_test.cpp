// Test output chosen by the settings file beside the executable: each case runs a copy of the
// executable in a fresh folder, with the settings file named after it beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

/// A copy of the executable under test in its own fresh folder, with the settings file beside
/// it that holds `settings` (none when not given).
class CopiedProgram {
 public:
  /// Copies the executable under the name `name` (its own name when empty).
  explicit CopiedProgram(const std::optional<std::string>& settings = std::nullopt,
                         const std::string& name = "")
      : executable_(CopyExecutable(folder_, "", settings, name)),
        name_(fs::path(executable_).filename().string()) {}

  const TempFolder& folder() const { return folder_; }
  /// The executable's file name.
  const std::string& name() const { return name_; }
  /// The settings file's name: the executable's with the extension ".ini".
  std::string SettingsName() const {
    return fs::path(SettingsPathOf(executable_)).filename().string();
  }

  /// Runs the copy with the host path of `name` in the folder as its argument.
  RunResult Run(const std::string& name, RunOptions options = {}) const {
    options.executable = executable_;
    return RunPrune({ProgramPath(folder_.At(name))}, options);
  }

  /// The names that the folder holds besides the executable and its settings file.
  std::vector<std::string> OtherNames() const {
    std::vector<std::string> names;
    for (const std::string& name : folder_.Names()) {
      if (name != name_ && name != SettingsName()) names.push_back(name);
    }
    return names;
  }

 private:
  TempFolder folder_;
  std::string executable_;
  std::string name_;
};

struct SettingsCase {
  std::string name;
  std::optional<std::string> settings;  // the bytes of the settings file, if there is one
  bool test_output;
};

const std::vector<SettingsCase> kSettingsCases = {
    {"one", "[common]\r\ntest=1\r\n", true},
    {"two", "[common]\r\ntest=2\r\n", false},
    {"minus one", "[common]\r\ntest=-1\r\n", false},
    {"zero", "[common]\r\ntest=0\r\n", false},
    {"no settings file", std::nullopt, false},
    {"empty settings file", "", false},
    {"no section common", "[other]\r\ntest=1\r\n", false},
    {"no key test", "[common]\r\ntests=1\r\nTest1=1\r\n", false},
    {"key outside the section", "test=1\r\n[common]\r\n", false},
    {"empty value", "[common]\r\ntest=\r\n", false},
    {"trailing space inside quotes", "[common]\r\ntest=\"1 \"\r\n", false},
    {"leading spaces inside quotes", "[common]\r\ntest=\"  1\"\r\n", true},
    {"blanks around key and value", "[common]\r\n  test \t=  1 \t\r\n", true},
    {"quoted", "[common]\r\ntest=\"1\"\r\n", true},
    {"dollar", "[common]\r\ntest=$1\r\n", true},
    {"0x", "[common]\r\ntest=0x1\r\n", true},
    {"minus hex", "[common]\r\ntest=-$FFFFFFFF\r\n", true},
    {"leading zeros", "[common]\r\ntest=0001\r\n", true},
    {"not a number", "[common]\r\ntest=yes\r\n", false},
    {"2^32 + 1", "[common]\r\ntest=4294967297\r\n", false},
    {"2047 zeros then 1", "[common]\r\ntest=" + std::string(2047, '0') + "1\r\n", false},
    {"names in capitals", "[COMMON]\r\nTEST=1\r\n", true},
    {"comment", "[common]\r\n;test=1\r\n", false},
    {"LF line ends", "[common]\ntest=1\n", true},
    {"UTF-8 with mark", "\xEF\xBB\xBF[common]\r\ntest=1\r\n", true},
    {"UTF-16 with mark", "\xFF\xFE" + Utf16Le(u"[common]\r\ntest=1\r\n"), true},
    {"first of two keys", "[common]\r\ntest=2\r\ntest=1\r\n", false},
};

TEST(SettingsE2eTest, TestOutputOnlyForExactlyOne) {
  for (const SettingsCase& c : kSettingsCases) {
    SCOPED_TRACE(c.name);
    CopiedProgram program(c.settings);
    program.folder().Write("part.nc", kSmallProgram);
    RunResult result = program.Run("part.nc");
    EXPECT_EQ(result.exit_status, 0);
    if (c.test_output) {
      EXPECT_EQ(program.folder().Read("part.tap"), kSmallProgramPruned);
      EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgram);
      EXPECT_EQ(program.OtherNames(), (std::vector<std::string>{"part.nc", "part.tap"}));
    } else {
      EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgramPruned);
      EXPECT_EQ(program.OtherNames(), std::vector<std::string>{"part.nc"});
    }
    // The settings file is only read.
    if (c.settings) {
      EXPECT_EQ(program.folder().Read(program.SettingsName()), *c.settings);
    } else {
      EXPECT_FALSE(program.folder().Exists(program.SettingsName()));
    }
  }
}

struct PathCase {
  std::string input;               // the input's name in the folder
  std::string output;              // the test output's name
  std::vector<std::string> names;  // all names in the folder afterwards, but the program's
};

TEST(SettingsE2eTest, TestOutputPath) {
  const std::vector<PathCase> cases = {
      {"part.nc", "part.tap", {"part.nc", "part.tap"}},
      {"part", "part.tap", {"part", "part.tap"}},
      {"part.", "part.tap", {"part.", "part.tap"}},
      {"part.old.nc", "part.old.tap", {"part.old.nc", "part.old.tap"}},
      {"jobs.old/part", "jobs.old/part.tap", {"jobs.old"}},
      {"Aufträge mit Leerzeichen/Teil 1.nc",
       "Aufträge mit Leerzeichen/Teil 1.tap",
       {"Aufträge mit Leerzeichen"}},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.input);
    // Windows drops the trailing dot of a name: "part." names the file "part" there.
    if (UnderWine() && c.input.ends_with('.')) continue;
    CopiedProgram program(kTestOutputSettings);
    program.folder().Write(c.input, kSmallProgram);
    EXPECT_EQ(program.Run(c.input).exit_status, 0);
    EXPECT_EQ(program.folder().Read(c.output), kSmallProgramPruned);
    EXPECT_EQ(program.folder().Read(c.input), kSmallProgram);
    EXPECT_EQ(program.OtherNames(), c.names);
  }
}

TEST(SettingsE2eTest, ReplacesReadyTestOutput) {
  CopiedProgram program(kTestOutputSettings);
  program.folder().Write("part.nc", kSmallProgram);
  program.folder().Write("part.tap", "an older result that is longer than the new one\r\n");
  EXPECT_EQ(program.Run("part.nc").exit_status, 0);
  EXPECT_EQ(program.folder().Read("part.tap"), kSmallProgramPruned);
  EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgram);
}

TEST(SettingsE2eTest, InputEndingInTapIsReplacedInPlace) {
  CopiedProgram program(kTestOutputSettings);
  program.folder().Write("part.tap", kSmallProgram);
  EXPECT_EQ(program.Run("part.tap").exit_status, 0);
  EXPECT_EQ(program.folder().Read("part.tap"), kSmallProgramPruned);
  EXPECT_EQ(program.OtherNames(), std::vector<std::string>{"part.tap"});
}

TEST(SettingsE2eTest, TestOutputPathHeldByAFolderFails) {
  CopiedProgram program(kTestOutputSettings);
  program.folder().Write("part.nc", kSmallProgram);
  program.folder().Write("part.tap/inside", "kept");
  EXPECT_EQ(program.Run("part.nc", DisplayFree()).exit_status, 1);
  EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgram);
  EXPECT_EQ(program.folder().Read("part.tap/inside"), "kept");
  EXPECT_EQ(program.OtherNames(), (std::vector<std::string>{"part.nc", "part.tap"}));
}

TEST(SettingsE2eTest, SettingsNamedAfterTheExecutable) {
  CopiedProgram program(kTestOutputSettings, "Nachbearbeitung 2");
  ASSERT_EQ(program.SettingsName(), "Nachbearbeitung 2.ini");
  program.folder().Write("part.nc", kSmallProgram);
  EXPECT_EQ(program.Run("part.nc").exit_status, 0);
  EXPECT_EQ(program.folder().Read("part.tap"), kSmallProgramPruned);
  EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgram);
}

TEST(SettingsE2eTest, SettingsOnlyBesideTheExecutable) {
  CopiedProgram program;
  // Settings files that are not beside the executable: under another name beside it, beside the
  // input, and in the working folder.
  program.folder().Write("prune2.ini", "[common]\r\ntest=1\r\n");
  program.folder().Write("jobs/" + program.SettingsName(), "[common]\r\ntest=1\r\n");
  program.folder().Write("jobs/part.nc", kSmallProgram);
  RunOptions options;
  options.working_folder = program.folder().At("jobs");
  EXPECT_EQ(program.Run("jobs/part.nc", options).exit_status, 0);
  EXPECT_EQ(program.folder().Read("jobs/part.nc"), kSmallProgramPruned);
  EXPECT_FALSE(program.folder().Exists("jobs/part.tap"));
}

TEST(SettingsE2eTest, UnusableSettingsFileCounts0) {
  struct Case {
    std::string name;
    std::function<void(const std::string& settings_path)> make;
    bool posix_only = true;            // FIFOs, links and permission bits
    bool needs_ordinary_user = false;  // the superuser reads a file without read permission
  };
  const Case cases[] = {
      {"a folder",
       [](const std::string& path) {
         fs::create_directories(path + "/test=1");
         std::ofstream(path + "/inside", std::ios::binary) << kTestOutputSettings;
       },
       false},
      {"a FIFO", [](const std::string& path) { EXPECT_EQ(mkfifo(path.c_str(), 0644), 0); }},
      {"a link to itself", [](const std::string& path) { fs::create_symlink(path, path); }},
      {"a link to an endless device",
       [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
      {"unreadable",
       [](const std::string& path) {
         std::ofstream(path, std::ios::binary) << kTestOutputSettings;
         fs::permissions(path, fs::perms::none);
       },
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if ((c.posix_only && UnderWine()) || (c.needs_ordinary_user && geteuid() == 0)) continue;
    CopiedProgram program;
    c.make(program.folder().At(program.SettingsName()));
    program.folder().Write("part.nc", kSmallProgram);
    // A settings file that stalls the run fails the case soon.
    RunOptions options = DisplayFree();
    options.timeout_seconds = 20;
    RunResult result = program.Run("part.nc", options);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(program.folder().Read("part.nc"), kSmallProgramPruned);
    EXPECT_EQ(program.OtherNames(), std::vector<std::string>{"part.nc"});
    if (!UnderWine()) {
      EXPECT_EQ(result.out + result.err, "");
    }
  }
}

TEST(SettingsE2eTest, MissingInputCreatesNothing) {
  CopiedProgram program(kTestOutputSettings);
  EXPECT_EQ(program.Run("part.nc").exit_status, 0);
  EXPECT_EQ(program.OtherNames(), std::vector<std::string>{});
}

TEST(SettingsE2eTest, FailedLoadCreatesNoTestOutput) {
  CopiedProgram program(kTestOutputSettings);
  const std::string undecodable = "\xEF\xBB\xBF\xFF\xFE";
  program.folder().Write("part.nc", undecodable);
  EXPECT_EQ(program.Run("part.nc", DisplayFree()).exit_status, 1);
  EXPECT_EQ(program.folder().Read("part.nc"), undecodable);
  EXPECT_EQ(program.OtherNames(), std::vector<std::string>{"part.nc"});
}

}  // namespace
