// Running the real executable on files in a fresh temporary folder.
#pragma once

#include <map>
#include <optional>
#include <string>
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

/// The executable under test: $PRUNE_EXE, or the one that this build made.
std::string PruneExecutable();

/// Places a copy of the executable under test in `subfolder` of `folder` ("" for the folder
/// itself), readable and runnable by everyone, with a settings file beside it that holds
/// `settings` (none when it is empty). Returns the copy's host path.
std::string CopyExecutable(const TempFolder& folder, const std::string& subfolder,
                           const std::string& settings);

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
