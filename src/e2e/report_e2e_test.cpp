// The failure report of the real executable on POSIX: the box goes to the desktop's dialog
// program, here a stand-in that records its arguments; where it cannot be shown, the report goes
// to standard error.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;

/// A dialog program named zenity that appends its arguments, each ended by a NUL, to a file
/// beside itself, and then ends as `ending` (shell commands) says; by default with status 0, as
/// when the user has pressed OK. `interpreter` is the script's own.
class StandInDialog {
 public:
  explicit StandInDialog(const std::string& ending = "exit 0",
                         const std::string& interpreter = "/bin/sh") {
    std::string script =
        folder_.Write("zenity", "#!" + interpreter +
                                    "\n"
                                    "for argument in \"$@\"; do printf '%s\\0' \"$argument\"; "
                                    "done >> \"$(dirname \"$0\")/arguments\"\n" +
                                    ending + "\n");
    chmod(script.c_str(), 0755);
  }

  /// Options that put the stand-in first on PATH, with a display set.
  RunOptions Options() const {
    const char* path = getenv("PATH");
    RunOptions options;
    options.env = {{"DISPLAY", ":99"}, {"PATH", folder_.path() + ":" + (path ? path : "")}};
    return options;
  }

  bool Shown() const { return folder_.Exists("arguments"); }

  /// The arguments of every run of the stand-in, in order.
  std::vector<std::string> Arguments() const {
    std::vector<std::string> arguments;
    std::string recorded = Shown() ? folder_.Read("arguments") : "";
    for (size_t at = 0, end; (end = recorded.find('\0', at)) != std::string::npos; at = end + 1) {
      arguments.push_back(recorded.substr(at, end - at));
    }
    return arguments;
  }

 private:
  TempFolder folder_;
};

/// Checks the report text: the first line with 16 hexadecimal digits that lie within the
/// executable's image, then exactly `rest`.
void ExpectReportText(const std::string& text, const std::string& kind, const std::string& rest) {
  const std::string head = "Exception " + kind + " in Modul prune bei ";
  ASSERT_TRUE(text.starts_with(head)) << text;
  std::string digits = text.substr(head.size(), 16);
  ASSERT_EQ(digits.size(), 16u) << text;
  ASSERT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
  uint64_t relative = std::stoull(digits, nullptr, 16);
  EXPECT_GT(relative, 0u);
  EXPECT_LT(relative, fs::file_size(PruneExecutable()));
  EXPECT_EQ(text.substr(head.size() + 16), ".\n" + rest);
}

std::string Fill(std::string message, const std::string& path) {
  size_t at = message.find("{}");
  return at == std::string::npos ? message : message.replace(at, 2, path);
}

const std::string kProgram = "G00 X0\r\nFARCALL $STRGLOB1 \"LASER_ON\"\r\nG01 A1\r\nG01 A2\r\n";

TEST(ReportE2eTest, FailureShowsTheReportBoxAndEndsWithStatus1) {
  if (UnderWine()) GTEST_SKIP() << "the Windows box is checked under Wine by its own tests";
  const FailureCase cases[] = {
      {"decode failure",
       [](const TempFolder& f, RunOptions*) {
         f.Write("bad.nc", "\xEF\xBB\xBFG01 A1\r\n\xFF\r\n");
         return "bad.nc";
       },
       "EEncodingError",
       "Keine Zuordnung f\xC3\xBCr Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden."},
      {"open failure: no regular file",
       [](const TempFolder& f, RunOptions*) {
         mkfifo(f.At("pipe.nc").c_str(), 0644);
         return "pipe.nc";
       },
       "EFOpenError",
       "Datei {} kann nicht ge\xC3\xB6"
       "ffnet werden. Keine regul\xC3\xA4re Datei."},
      {"open failure: no read permission",
       [](const TempFolder& f, RunOptions*) {
         chmod(f.Write("secret.nc", kProgram).c_str(), 0200);
         return "secret.nc";
       },
       "EFOpenError",
       "Datei {} kann nicht ge\xC3\xB6"
       "ffnet werden. Permission denied.",
       true},
      {"create failure: read-only file",
       [](const TempFolder& f, RunOptions*) {
         chmod(f.Write("read only.nc", kProgram).c_str(), 0444);
         return "read only.nc";
       },
       "EFCreateError", "Datei \"{}\" kann nicht erstellt werden. Permission denied."},
      {"write failure: the file size limit",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("big.nc", std::string(4000, 'x'));
         options->file_size_limit = 1000;
         return "big.nc";
       },
       "EWriteError", "Stream-Schreibfehler."},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_ordinary_user && geteuid() == 0) continue;
    TempFolder folder;
    StandInDialog dialog;
    RunOptions options = dialog.Options();
    std::string path = folder.At(c.setup(folder, &options));
    std::vector<std::string> names = folder.Names();
    std::string before = c.kind == "EFOpenError" ? "" : folder.Read(fs::path(path).filename());

    RunResult result = RunPrune({path}, options);

    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(folder.Names(), names);
    if (c.kind != "EFOpenError") {
      EXPECT_EQ(folder.Read(fs::path(path).filename()), before);
    }
    std::vector<std::string> arguments = dialog.Arguments();
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[0], "--error");
    EXPECT_EQ(arguments[1], "--no-markup");
    EXPECT_EQ(arguments[2], "--title=Anwendungsfehler");
    ASSERT_TRUE(arguments[3].starts_with("--text="));
    ExpectReportText(arguments[3].substr(7), c.kind,
                     Fill(c.message, fs::absolute(path).string()) + "\n");
  }
}

TEST(ReportE2eTest, WithoutABoxTheReportGoesToStandardError) {
  if (UnderWine()) GTEST_SKIP() << "the Windows box is checked under Wine by its own tests";
  TempFolder empty_folder;
  const struct {
    const char* name;
    std::map<std::string, std::string> env;  // on top of the stand-in's options
    std::string ending = "exit 0";           // the stand-in's
    std::string interpreter = "/bin/sh";
    bool started = false;  // whether the stand-in ran, though it showed no box
  } cases[] = {
      {"no display", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}},
      {"no dialog program", {{"PATH", empty_folder.path()}}},
      {"dialog program that cannot start", {}, "exit 0", "/no/such/interpreter"},
      {"dialog program that fails", {}, "exit 255", "/bin/sh", true},
      {"dialog program killed by a signal", {}, "kill -KILL $$", "/bin/sh", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    StandInDialog dialog(c.ending, c.interpreter);
    std::string path = folder.Write("bad.nc", "\xEF\xBB\xBF\xC0\xAF");
    RunOptions options = dialog.Options();
    for (const auto& [name, value] : c.env) options.env[name] = value;

    RunResult result = RunPrune({path}, options);

    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    const std::string caption = "Anwendungsfehler\n";
    ASSERT_TRUE(result.err.starts_with(caption)) << result.err;
    ExpectReportText(result.err.substr(caption.size()), "EEncodingError",
                     "Keine Zuordnung f\xC3\xBCr Unicode-Zeichen in der Multibyte-Zielcodeseite "
                     "vorhanden.\n");
    EXPECT_EQ(dialog.Shown(), c.started);
    EXPECT_EQ(folder.Read("bad.nc"), "\xEF\xBB\xBF\xC0\xAF");
  }
}

TEST(ReportE2eTest, BoxClosedByTheUserWritesNothing) {
  if (UnderWine()) GTEST_SKIP() << "the Windows box is checked under Wine by its own tests";
  const struct {
    const char* name;
    std::string ending;
  } cases[] = {{"OK", "exit 0"}, {"Esc or the close button", "exit 1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    StandInDialog dialog(c.ending);
    std::string path = folder.Write("bad.nc", "\xEF\xBB\xBF\xC0\xAF");
    RunResult result = RunPrune({path}, dialog.Options());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(dialog.Arguments().size(), 4u);
  }
}

TEST(ReportE2eTest, NormalRunShowsNoBox) {
  if (UnderWine()) GTEST_SKIP() << "the Windows box is checked under Wine by its own tests";
  TempFolder folder;
  StandInDialog dialog;
  std::string path = folder.Write("part.nc", kProgram);
  RunResult result = RunPrune({path}, dialog.Options());
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_FALSE(dialog.Shown());
  EXPECT_EQ(folder.Read("part.nc"), "G00 X0\r\nFARCALL $STRGLOB1 \"LASER_ON\"\r\nG01 A2\r\n");
}

}  // namespace
