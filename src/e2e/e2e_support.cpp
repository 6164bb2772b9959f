#include "e2e/e2e_support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool HasDisplay() {
  const char* display = getenv("DISPLAY");
  return display && *display;
}

/// Presses Return in every box of the system that is open on the display, found by its caption;
/// adds each box to `closed` and its caption to `captions`.
void CloseWineBoxes(std::set<std::string>* closed, std::vector<std::string>* captions) {
  for (std::string caption : {"Anwendungsfehler", "Error"}) {
    std::string command = "xdotool search --name '^" + caption + "$' 2>/dev/null";
    FILE* search = popen(command.c_str(), "r");
    if (!search) return;
    std::vector<std::string> windows;
    char line[64];
    while (fgets(line, sizeof line, search)) windows.emplace_back(line, strcspn(line, "\n"));
    pclose(search);
    for (const std::string& window : windows) {
      if (window.empty() || window.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string key = "xdotool key --window " + window + " Return >/dev/null 2>&1";
      if (system(key.c_str()) == 0 && closed->insert(window).second) captions->push_back(caption);
    }
  }
}

/// Undoes Wine's escapes of a traced wide string: \r, \n, \t, \", \\ and \XXXX (hex).
std::string Unescape(std::string_view traced) {
  std::string text;
  for (size_t i = 0; i < traced.size(); ++i) {
    if (traced[i] != '\\' || i + 1 >= traced.size()) {
      text.push_back(traced[i]);
      continue;
    }
    char escaped = traced[++i];
    if (escaped == 'r') {
      text.push_back('\r');
    } else if (escaped == 'n') {
      text.push_back('\n');
    } else if (escaped == 't') {
      text.push_back('\t');
    } else if (isxdigit(static_cast<unsigned char>(escaped)) && i + 3 < traced.size()) {
      auto unit = static_cast<char16_t>(std::stoul(std::string(traced.substr(i, 4)), nullptr, 16));
      text += Utf8(std::u16string_view(&unit, 1));
      i += 3;
    } else {
      text.push_back(escaped);
    }
  }
  return text;
}

/// Appends to `text` what the non-blocking pipe end `fd` holds now.
void Drain(int fd, std::string* text) {
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text->append(buffer, got);
}

}  // namespace

RunOptions DisplayFree(RunOptions options) {
  if (!UnderWine()) {
    options.env["DISPLAY"] = "";
    options.env["WAYLAND_DISPLAY"] = "";
  }
  return options;
}

std::string PruneExecutable() {
  const char* exe = getenv("PRUNE_EXE");
  return exe && *exe ? exe : PRUNE_EXE;
}

std::string CopyExecutable(const TempFolder& folder, const std::string& subfolder,
                           const std::optional<std::string>& settings, const std::string& name) {
  fs::path source = PruneExecutable();
  fs::path place = subfolder.empty() ? fs::path(folder.path()) : fs::path(folder.At(subfolder));
  fs::create_directories(place);
  fs::permissions(place, fs::perms(0755), fs::perm_options::add);
  fs::path copy =
      place / (name.empty() ? source.filename() : fs::path(name + source.extension().string()));
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms(0755));
  if (settings) std::ofstream(SettingsPathOf(copy.string()), std::ios::binary) << *settings;
  return copy.string();
}

std::string SettingsPathOf(const std::string& executable) {
  return fs::path(executable).replace_extension(".ini").string();
}

std::string WineProgram() {
  const char* wine = getenv("PRUNE_WINE");
  return wine && *wine ? wine : "wine64";
}

bool UnderWine() {
  const char* wine = getenv("PRUNE_E2E_WINE");
  return wine && std::string(wine) == "1";
}

std::string ProgramPath(const std::string& host_path) {
  if (!UnderWine()) return host_path;
  std::string path = "Z:" + fs::absolute(host_path).string();
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

RunResult RunPrune(const std::vector<std::string>& arguments, const RunOptions& options) {
  TempFolder streams;
  std::string out_path = streams.At("out"), err_path = streams.At("err");
  std::vector<std::string> argv_strings;
  if (UnderWine()) argv_strings.push_back(WineProgram());
  argv_strings.push_back(options.executable.empty() ? PruneExecutable() : options.executable);
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());

  int err_pipe[2] = {-1, -1};
  if (options.file_size_limit >= 0 && pipe(err_pipe) != 0) ADD_FAILURE() << "no pipe";
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err =
        err_pipe[1] >= 0 ? err_pipe[1] : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    if (err_pipe[0] >= 0) close(err_pipe[0]), close(err_pipe[1]);
    if (UnderWine()) setenv("WINEDEBUG", "-all,trace+msgbox", 1);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    if (options.user) {
      std::vector<gid_t> groups(options.user->groups.begin(), options.user->groups.end());
      if (setgroups(groups.size(), groups.data()) != 0 || setgid(options.user->gid) != 0 ||
          setuid(options.user->uid) != 0) {
        _exit(125);
      }
    }
    if (!options.working_folder.empty() && chdir(options.working_folder.c_str()) != 0) _exit(126);
    if (options.file_size_limit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                   static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
    }
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  if (err_pipe[0] >= 0) {
    close(err_pipe[1]);
    fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int status = 0;
  bool close_boxes = UnderWine() && HasDisplay();
  std::set<std::string> closed_boxes;
  auto next_look = std::chrono::steady_clock::now();
  for (;;) {
    if (err_pipe[0] >= 0) Drain(err_pipe[0], &result.err);
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (close_boxes && std::chrono::steady_clock::now() >= next_look) {
      CloseWineBoxes(&closed_boxes, &result.closed_boxes);
      next_look = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << "the run did not end within " << options.timeout_seconds << " s";
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (status != -1 && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  result.out = ReadFile(out_path);
  if (err_pipe[0] >= 0) {
    Drain(err_pipe[0], &result.err);
    close(err_pipe[0]);
  } else {
    result.err = ReadFile(err_path);
  }
  return result;
}

void ExpectReportOnStandardError(const RunResult& result, const std::string& context) {
  if (UnderWine()) return;
  const std::string caption = "Anwendungsfehler\n";
  EXPECT_EQ(result.out, "") << context;
  EXPECT_TRUE(result.err.starts_with(caption + "Exception E")) << context << ": " << result.err;
  EXPECT_TRUE(result.err.ends_with(".\n")) << context << ": " << result.err;
  EXPECT_EQ(result.err.find(caption, 1), std::string::npos) << context << ": one report only";
}

std::vector<std::string> WineBoxTexts(const std::string& err) {
  static const std::string kTrace = "trace:msgbox:MSGBOX_OnInit L\"";
  std::vector<std::string> texts;
  for (size_t at = err.find(kTrace); at != std::string::npos; at = err.find(kTrace, at)) {
    at += kTrace.size();
    size_t end = at;
    while (end < err.size() && err[end] != '"' && err[end] != '\n') end += err[end] == '\\' ? 2 : 1;
    texts.push_back(Unescape(std::string_view(err).substr(at, std::min(end, err.size()) - at)));
  }
  return texts;
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  constexpr uintmax_t kLargestCompared = uintmax_t{64} << 20;
  std::map<std::string, std::string> tree;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    fs::file_status status = fs::symlink_status(entry.path());
    std::string state = std::to_string(static_cast<int>(status.type())) + " " +
                        std::to_string(static_cast<int>(status.permissions())) + " ";
    if (fs::is_symlink(status)) state += fs::read_symlink(entry.path()).string();
    if (fs::is_regular_file(status)) {
      uintmax_t size = fs::file_size(entry.path());
      state +=
          size <= kLargestCompared
              ? ReadFile(entry.path())
              : std::to_string(size) + " bytes, changed " +
                    std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
    }
    tree[fs::relative(entry.path(), root).string()] = state;
  }
  return tree;
}

void ExpectFailuresChangeNothing(const std::vector<FailureCase>& cases) {
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_ordinary_user && geteuid() == 0) continue;
    TempFolder folder;
    RunOptions options = DisplayFree();
    options.timeout_seconds = 20;
    std::string argument = c.setup(folder, &options);
    auto before = Snapshot(folder.path());
    RunResult result = RunPrune({ProgramPath(folder.At(argument))}, options);
    EXPECT_EQ(result.exit_status, 1);
    ExpectReportOnStandardError(result, c.name);
    EXPECT_TRUE(Snapshot(folder.path()) == before) << "the folder changed";
  }
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
              static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) out += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return out;
}

std::string Utf16Be(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) out += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  return out;
}

std::string Latin1(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) out += static_cast<char>(unit);
  return out;
}
