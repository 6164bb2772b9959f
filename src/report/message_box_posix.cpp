// Boxes on POSIX desktops: the desktop's own dialog program shows them. Without a display or
// without such a program nothing is shown, and nothing is written anywhere instead.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "report/dialog_command.h"
#include "report/message_box.h"
#include "report/report_text.h"

extern char** environ;

namespace {

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
/// /dev/null, and waits until it ends: until the user has closed its box.
void RunAndWait(const std::string& path, std::vector<std::string> command) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : command) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child;
  if (posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

void ShowBox(const std::string& caption, const std::string& text) {
  if (!HasDisplay()) return;
  for (std::string_view program : kDialogPrograms) {
    std::string path = FindOnPath(program);
    if (path.empty()) continue;
    RunAndWait(path, DialogCommand(program, caption, text));
    return;
  }
}

}  // namespace

void MessageBoxes::ShowReport(const Text& text) {
  ShowBox(NativeFromText(kReportCaption), DialogText(text));
}

void MessageBoxes::ShowFallback(const std::string& text) { ShowBox(kFallbackCaption, text); }
