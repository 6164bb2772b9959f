// Running the real executable on files in a fresh temporary folder.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/test_support.h"

/// How a run of the executable ended and what it printed.
struct RunResult {
  int exit_status = -1;  ///< the exit status, or -1 when it ended by a signal or timed out
  std::string out;       ///< everything on standard output
  std::string err;       ///< everything on standard error (Wine's own chatter when under Wine)
  /// Under Wine with a display: the captions of the boxes closed for the user (see RunPrune).
  std::vector<std::string> closed_boxes;
};

/// A user whose rights a run has instead of ours: user and group IDs and supplementary groups.
struct RunAsUser {
  unsigned uid = 0;
  unsigned gid = 0;
  std::vector<unsigned> groups;
};

/// How the executable is started.
struct RunOptions {
  std::map<std::string, std::string> env;  ///< set in the child's environment on top of ours
  std::string working_folder;              ///< the child's working folder, if not empty
  /// RLIMIT_FSIZE in bytes (SIGXFSZ ignored), if >= 0. Standard error then goes through a pipe,
  /// which the limit does not bind, so that a report on it is not cut.
  long file_size_limit = -1;
  int timeout_seconds = 60;  ///< the child is killed after this long
  std::string executable;    ///< another executable than the one under test
  /// Runs it as another user (the superuser only): the working folder is entered as that user.
  std::optional<RunAsUser> user;
};

/// Options for a run that may fail: natively, no failure box may appear on the desktop of
/// whoever runs the tests, so the display is cleared and the report goes to standard error.
/// Under Wine the box shows on the virtual display, where RunPrune closes it.
RunOptions DisplayFree(RunOptions options = {});

/// The executable under test: $PRUNE_EXE, or the one that this build made.
std::string PruneExecutable();

/// Places a copy of the executable under test in `subfolder` of `folder` ("" for the folder
/// itself), readable and runnable by everyone, named `name` with the executable's extension (its
/// own name when `name` is empty), with a settings file beside it that holds `settings` (none
/// when not given). Returns the copy's host path.
std::string CopyExecutable(const TempFolder& folder, const std::string& subfolder,
                           const std::optional<std::string>& settings = std::nullopt,
                           const std::string& name = "");

/// The host path of the settings file that the executable at `executable` reads: its own path
/// with the extension ".ini".
std::string SettingsPathOf(const std::string& executable);

/// The settings file's content that sends the result to a ".tap" file beside the program.
inline const std::string kTestOutputSettings = "[common]\r\ntest=1\r\n";

/// Whether the executable under test is a Windows program run through Wine ($PRUNE_E2E_WINE=1).
bool UnderWine();

/// The Wine program that runs Windows programs: $PRUNE_WINE, or wine64 from PATH.
std::string WineProgram();

/// A host path as the program under test must be given it: unchanged natively, in the Z:\ form
/// with backslashes under Wine.
std::string ProgramPath(const std::string& host_path);

/// Runs the executable under test (under Wine where UnderWine()) with `arguments` after the
/// program name, standard input closed, and waits for it to end. Under Wine, Wine traces the text
/// of every message box on standard error (WINEDEBUG, unless `options` set it), and where there
/// is a display, every box captioned "Anwendungsfehler" or "Error" is closed with the Return key
/// as soon as it appears.
RunResult RunPrune(const std::vector<std::string>& arguments, const RunOptions& options = {});

/// Natively, after a failed run without a box to show: expects nothing on standard output, and on
/// standard error nothing but one report, captioned "Anwendungsfehler" and naming a failure's
/// kind. Under Wine the box shows instead, and Wine's own chatter is not looked at.
void ExpectReportOnStandardError(const RunResult& result, const std::string& context);

/// The texts of the message boxes that Wine traced on standard error, in UTF-8, in order. Wine
/// cuts a long text after a few hundred characters.
std::vector<std::string> WineBoxTexts(const std::string& err);

/// Everything below `root`, by relative path: the kind, the permission bits, a link's target
/// and a regular file's bytes (a file above 64 MiB by its size and time of last change instead).
/// Equal snapshots mean nothing was changed, added or left behind.
std::map<std::string, std::string> Snapshot(const std::string& root);

/// A run that is to fail and change nothing. `setup` fills a fresh folder, adjusts the run's
/// options and returns the name in the folder that the run gets as its argument.
struct FailureCase {
  std::string name;
  std::function<std::string(const TempFolder&, RunOptions*)> setup;
  std::string kind = {};     ///< the failure kind that the report names, where a table checks it
  std::string message = {};  ///< the report's second line; {} stands for the absolute path
  /// Whether the case rests on permission bits, which the superuser passes: skipped for root.
  bool needs_ordinary_user = false;
};

/// Runs every case display-free and expects exit status 1, one report (see
/// ExpectReportOnStandardError) and the folder exactly as `setup` left it. A run that hangs is
/// ended after 20 s.
void ExpectFailuresChangeNothing(const std::vector<FailureCase>& cases);

/// The bytes of `text` in UTF-8: a surrogate pair as one code point, a lone surrogate as the
/// three bytes of its code.
std::string Utf8(std::u16string_view text);
/// The bytes of `text` in UTF-16, little-endian, without a byte-order mark.
std::string Utf16Le(std::u16string_view text);
/// The bytes of `text` in UTF-16, big-endian, without a byte-order mark.
std::string Utf16Be(std::u16string_view text);
/// The code units of `text`, all below 0x100, taken as bytes: ISO 8859-1.
std::string Latin1(std::u16string_view text);
