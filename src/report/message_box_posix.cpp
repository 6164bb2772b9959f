// Boxes on POSIX desktops: the desktop's own dialog program shows them. Where none can be shown
// (no display, no dialog program, or one that fails), the report goes to standard error instead,
// so that a run in a terminal, a cron job or a script is never silently lost.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "report/dialog_command.h"
#include "report/message_box.h"
#include "report/report_text.h"

extern char** environ;

namespace {

/// Gives `signal` the disposition `handler` while it lives, then again the one it had before.
class SignalDisposition {
 public:
  SignalDisposition(int signal, void (*handler)(int)) : signal_(signal) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigaction(signal, &action, &previous_);
  }
  ~SignalDisposition() { sigaction(signal_, &previous_, nullptr); }

 private:
  int signal_;
  struct sigaction previous_;
};

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = getenv(name);
    if (value && *value) return true;
  }
  return false;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

/// The path of `program` in the first folder of PATH that holds it, or empty.
std::string FindOnPath(std::string_view program) {
  const char* path = getenv("PATH");
  std::string_view folders = path ? path : "";
  while (!folders.empty()) {
    size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    std::string candidate = std::string(folder.empty() ? "." : folder) + "/" + std::string(program);
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return std::string();
}

/// Runs the program at `path` with `command` as its arguments, its standard streams on
/// /dev/null, and waits until it ends: until the user has closed its box. Gives its exit status,
/// or nothing when it could not be started or was ended by a signal.
std::optional<int> RunAndWait(const std::string& path, std::vector<std::string> command) {
  // An ignored SIGCHLD, inherited from whoever started us, would leave no status to wait for.
  SignalDisposition child_status(SIGCHLD, SIG_DFL);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : command) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child;
  int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  int status;
  pid_t ended;
  while ((ended = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (ended != child || !WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

/// Shows the box with the first dialog program found; gives whether the user saw it.
bool ShowBox(const std::string& caption, const std::string& text) {
  if (!HasDisplay()) return false;
  for (std::string_view program : kDialogPrograms) {
    std::string path = FindOnPath(program);
    if (path.empty()) continue;
    std::optional<int> status = RunAndWait(path, DialogCommand(program, caption, text));
    return status && DialogShowedBox(program, *status);
  }
  return false;
}

/// Writes `bytes` to standard error, unbuffered. A closed or broken stream loses them, but
/// neither ends the process by SIGPIPE nor changes its exit status.
void WriteToStandardError(const std::string& bytes) {
  SignalDisposition broken_pipe(SIGPIPE, SIG_IGN);
  for (size_t done = 0; done < bytes.size();) {
    ssize_t written = write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += written;
  }
}

/// The box, or where it cannot be shown, the same caption and text on standard error.
void Present(const std::string& caption, const std::string& text) {
  if (!ShowBox(caption, text)) WriteToStandardError(ConsoleReport(caption, text));
}

}  // namespace

void PlatformMessageBoxes::ShowReport(const Text& text) {
  Present(NativeFromText(kReportCaption), DialogText(text));
}

void PlatformMessageBoxes::ShowFallback(const std::string& text) {
  Present(kFallbackCaption, text);
}
