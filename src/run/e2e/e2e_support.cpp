#include "run/e2e/e2e_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string WineProgram() {
  const char* wine = getenv("PRUNE_WINE");
  return wine && *wine ? wine : "wine64";
}

}  // namespace

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "prune-e2e-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) ADD_FAILURE() << "cannot create a temporary folder";
  path_ = name.data();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Make everything writable again first, so that read-only fixtures go too.
  for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::string path = At(name);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

std::string TempFolder::Read(const std::string& name) const {
  if (!Exists(name)) ADD_FAILURE() << name << " does not exist";
  return Slurp(At(name));
}

bool TempFolder::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(At(name), ignored));
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string PruneExecutable() {
  const char* exe = getenv("PRUNE_EXE");
  return exe && *exe ? exe : PRUNE_EXE;
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

  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
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
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
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
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  return result;
}
