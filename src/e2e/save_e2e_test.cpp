// How a save treats the file it replaces: run by an ordinary user on shared files and folders,
// by several runs at once, and killed while it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

// An ordinary user, and the group of the shop's users that the user belongs to.
constexpr unsigned kUser = 65534;
constexpr unsigned kShopGroup = 100;

/// Owner, group and permission bits of a file, as "uid:gid mode".
std::string Ownership(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "missing";
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
  return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " + mode;
}

void Own(const std::string& path, unsigned uid, unsigned gid, fs::perms mode) {
  ASSERT_EQ(chown(path.c_str(), uid, gid), 0);
  fs::permissions(path, mode);
}

struct SharedFileCase {
  std::string name;
  fs::perms folder_mode;
  unsigned owner;
  unsigned group;
  fs::perms file_mode;
  bool test_output;
  int exit_status;
  std::string content_after;  // of part.nc, or of part.tap in test output
  std::string ownership_after;
  std::vector<std::string> created;  // in the folder during the run: the way the save took
};

/// Watches a folder for the names created in it, or given to a file by a rename or a link.
/// A temporary name of the save's own (`.prune-` and six random digits) shows as ".prune-XXXXXX".
class CreationWatch {
 public:
  explicit CreationWatch(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO);
  }
  ~CreationWatch() { close(fd_); }
  /// The names created since the watch began, in order.
  std::vector<std::string> Created() const {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* at = buffer; at < buffer + length;) {
        auto* event = reinterpret_cast<inotify_event*>(at);
        std::string name = event->len > 0 ? event->name : "";
        if (name.starts_with(".prune-") && name.size() == 13) name = ".prune-XXXXXX";
        if (!name.empty()) names.push_back(name);
        at += sizeof(inotify_event) + event->len;
      }
    }
    return names;
  }

 private:
  int fd_;
};

TEST(SaveE2eTest, AnOrdinaryUserOnSharedFilesAndFolders) {
  if (UnderWine()) GTEST_SKIP() << "owners, groups and permission bits are POSIX";
  if (geteuid() != 0) GTEST_SKIP() << "setting up files of other owners needs the superuser";
  using P = fs::perms;
  const P shared_folder = P(0755), writable_folder = P(0777), sticky_folder = P(01777);
  // clang-format off
  const SharedFileCase cases[] = {
      // In place, the backup in the user's state folder.
      {"own file in a folder the user may not create files in", shared_folder, kUser, kUser,
       P(0644), false, 0, kSmallProgramPruned, "65534:65534 0644", {}},
      // In place, never by a new file that would not keep the owner: a backup, written under a
      // temporary name and then named, and no other file.
      {"a colleague's group-writable file in a sticky folder", sticky_folder, 0, kShopGroup,
       P(0664), false, 0, kSmallProgramPruned, "0:100 0664",
       {".prune-XXXXXX", "part.nc.prune-backup"}},
      {"a colleague's group-writable file in a writable folder", writable_folder, 0, kShopGroup,
       P(0664), false, 0, kSmallProgramPruned, "0:100 0664",
       {".prune-XXXXXX", "part.nc.prune-backup"}},
      {"a colleague's file without group write permission", writable_folder, 0, kShopGroup,
       P(0644), false, 1, kSmallProgram, "0:100 0644", {}},
      {"own file without read permission", writable_folder, kUser, kUser, P(0200), false, 1,
       kSmallProgram, "65534:65534 0200", {}},
      {"test output into a folder the user may not create files in", shared_folder, kUser, kUser,
       P(0644), true, 1, "", "missing", {}},
  };
  // clang-format on
  for (const SharedFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RunOptions options = DisplayFree();
    options.user = RunAsUser{kUser, kUser, {kShopGroup}};
    // A copy the user can reach, wherever the build lies (a checkout in root's home is not).
    options.executable = CopyExecutable(
        folder, "bin", c.test_output ? std::optional(kTestOutputSettings) : std::nullopt);
    std::string path = folder.Write("part.nc", kSmallProgram);
    Own(path, c.owner, c.group, c.file_mode);
    fs::permissions(folder.path(), c.folder_mode);
    CreationWatch watch(folder.path());
    RunResult result = RunPrune({path}, options);
    EXPECT_EQ(watch.Created(), c.created);
    EXPECT_EQ(result.exit_status, c.exit_status) << result.err;
    std::string written = c.test_output ? folder.At("part.tap") : path;
    if (fs::exists(written)) {
      EXPECT_EQ(ReadFile(written), c.content_after);
    }
    EXPECT_EQ(Ownership(written), c.ownership_after);
    if (c.test_output) {
      EXPECT_EQ(ReadFile(path), kSmallProgram);
    }
    std::vector<std::string> names = {"bin", "part.nc"};
    EXPECT_EQ(folder.Names(), names) << "something was left behind";
  }
}

/// What another user (4242) leaves in a shared drop folder (mode 1777, like /tmp) before the user
/// runs test output on a program there, and what the run does with it.
struct PlantedCase {
  std::string name;
  std::function<void(const TempFolder&)> plant;  // in "shared"; "home" is the user's own folder
  int exit_status;
  std::string notes_after;                 // of home/notes.txt
  std::string tap_after;                   // of shared/part.tap, read through a link; "missing"
  std::string tap_mode;                    // "" where not looked at
  std::string program = "shared/part.nc";  // the path the run is given
  std::string failure = "EFCreateError";   // where the exit status is 1
};

TEST(SaveE2eTest, NamesPlantedByAnotherUserInASharedFolderGetNothing) {
  if (UnderWine()) GTEST_SKIP() << "owners and sticky folders are POSIX";
  if (geteuid() != 0) GTEST_SKIP() << "setting up files of other owners needs the superuser";
  constexpr unsigned kOther = 4242;
  auto planted_link = [](const std::string& leads_to, unsigned owner) {
    return [leads_to, owner](const TempFolder& folder) {
      fs::create_symlink(leads_to, folder.At("shared/part.tap"));
      ASSERT_EQ(lchown(folder.At("shared/part.tap").c_str(), owner, owner), 0);
    };
  };
  const std::string notes = "keep me\n";
  const PlantedCase cases[] = {
      {"a link to the user's own file", planted_link("../home/notes.txt", kOther), 1, notes, notes,
       ""},
      {"a link to nothing", planted_link("../home/new.txt", kOther), 1, notes, "missing", ""},
      {"a link of the user's own", planted_link("../home/notes.txt", kUser), 0, kSmallProgramPruned,
       kSmallProgramPruned, ""},
      {"a file open to everybody",
       [](const TempFolder& folder) {
         std::string tap = folder.Write("shared/part.tap", "planted\n");
         Own(tap, kOther, kOther, fs::perms(0666));
       },
       1, notes, "planted\n", "0666"},
      {"nothing: the new file is as private as the program", [](const TempFolder&) {}, 0, notes,
       kSmallProgramPruned, "0600"},
      // The rule holds at every hop of a chain, and for a link that stands for a folder.
      {"another's link to a link of the user's own",
       [](const TempFolder& folder) {
         fs::create_symlink("../home/notes.txt", folder.At("shared/hop.tap"));
         ASSERT_EQ(lchown(folder.At("shared/hop.tap").c_str(), kUser, kUser), 0);
         fs::create_symlink("hop.tap", folder.At("shared/part.tap"));
         ASSERT_EQ(lchown(folder.At("shared/part.tap").c_str(), kOther, kOther), 0);
       },
       1, notes, notes, ""},
      {"another's link to the user's folder, which holds the program",
       [](const TempFolder& folder) {
         Own(folder.Write("home/part.nc", kSmallProgram), kUser, kUser, fs::perms(0600));
         fs::create_symlink("../home", folder.At("shared/dir"));
         ASSERT_EQ(lchown(folder.At("shared/dir").c_str(), kOther, kOther), 0);
       },
       1, notes, "missing", "", "shared/dir/part.nc", "EFOpenError"},
  };
  for (const PlantedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RunOptions options = DisplayFree();
    options.user = RunAsUser{kUser, kUser, {}};
    options.executable = CopyExecutable(folder, "bin", kTestOutputSettings);
    fs::create_directories(folder.At("home"));
    fs::create_directories(folder.At("shared"));
    std::string notes_path = folder.Write("home/notes.txt", notes);
    Own(notes_path, kUser, kUser, fs::perms(0600));
    Own(folder.At("home"), kUser, kUser, fs::perms(0700));
    fs::permissions(folder.At("shared"), fs::perms(01777));
    std::string program = folder.Write("shared/part.nc", kSmallProgram);
    Own(program, kUser, kUser, fs::perms(0600));
    c.plant(folder);
    const auto home = Snapshot(folder.At("home"));
    RunResult result = RunPrune({folder.At(c.program)}, options);
    EXPECT_EQ(result.exit_status, c.exit_status) << result.err;
    if (c.exit_status == 1) {
      EXPECT_NE(result.err.find(c.failure), std::string::npos) << result.err;
      EXPECT_EQ(Snapshot(folder.At("home")), home) << "the user's own folder changed";
    }
    EXPECT_EQ(ReadFile(notes_path), c.notes_after);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"bin", "home", "shared"}));
    std::string tap = folder.At("shared/part.tap");
    EXPECT_EQ(fs::exists(tap) ? ReadFile(tap) : "missing", c.tap_after);
    if (!c.tap_mode.empty()) {
      EXPECT_EQ(Ownership(tap).substr(Ownership(tap).find(' ') + 1), c.tap_mode);
    }
    EXPECT_EQ(ReadFile(program), kSmallProgram);
  }
}

/// A program of many laser-on sections, about `bytes` long, and what a run makes of it.
std::pair<std::string, std::string> LargeProgram(size_t bytes) {
  std::string input, output;
  while (input.size() < bytes) {
    input += kLaserOnLine + "\nG01 A1\nG01 A2\nG01 A3\nM30\n";
    output += kLaserOnLine + "\r\nG01 A3\r\nM30\r\n";
  }
  return {input, output};
}

/// The names in `folder` other than `keep`: what a run left behind.
std::vector<std::string> LeftBehind(const TempFolder& folder, const std::string& keep) {
  std::vector<std::string> names = folder.Names();
  std::erase(names, keep);
  return names;
}

/// Starts the executable under test on `path` without waiting for it.
pid_t StartPrune(const std::string& path) {
  pid_t child = fork();
  if (child == 0) {
    execl(PruneExecutable().c_str(), PruneExecutable().c_str(), path.c_str(), nullptr);
    _exit(127);
  }
  return child;
}

TEST(SaveE2eTest, RunsAtOnceLeaveOneCompleteResult) {
  if (UnderWine()) GTEST_SKIP() << "runs are started and killed as POSIX processes";
  auto [input, output] = LargeProgram(8 << 20);
  // A second link makes the save write the file in place instead of renaming a new one.
  for (bool in_place : {false, true}) {
    SCOPED_TRACE(in_place ? "in place" : "by rename");
    TempFolder folder;
    std::string path = folder.Write("part.nc", input);
    if (in_place) fs::create_hard_link(path, folder.At("other.nc"));
    std::vector<pid_t> runs;
    for (int i = 0; i < 4; ++i) runs.push_back(StartPrune(path));
    // A run that loaded the file before another one saved it finds it changed and writes
    // nothing (status 1); at least the first to save succeeds.
    int saved = 0;
    for (pid_t run : runs) {
      int status = 0;
      waitpid(run, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
      saved += WEXITSTATUS(status) == 0;
    }
    EXPECT_GE(saved, 1);
    EXPECT_TRUE(ReadFile(path) == output) << "the result is not one run's complete result";
    if (in_place) {
      EXPECT_TRUE(ReadFile(folder.At("other.nc")) == output);
    }
    EXPECT_EQ(folder.Names().size(), in_place ? 2u : 1u) << "something was left behind";
  }
}

TEST(SaveE2eTest, RunKilledAtAnyMomentLeavesTheOldOrTheNewContent) {
  if (UnderWine()) GTEST_SKIP() << "runs are started and killed as POSIX processes";
  auto [input, output] = LargeProgram(16 << 20);
  TempFolder folder;
  std::string path = folder.Write("part.nc", input);
  // How long a whole run takes here, so that the kills fall all over it.
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunPrune({path}).exit_status, 0);
  auto whole = std::chrono::steady_clock::now() - start;
  // The kills fall from the start of a run to well past its usual end, so that some come before
  // the rename and some after; under load a run may take longer, so the last one waits for it.
  const int kKills = 16;
  for (int i = 0; i <= kKills; ++i) {
    folder.Write("part.nc", input);
    pid_t run = StartPrune(path);
    if (i < kKills) {
      std::this_thread::sleep_for(whole * i / (kKills - 2));
      kill(run, SIGKILL);
    }
    waitpid(run, nullptr, 0);
    std::string after = ReadFile(path);
    EXPECT_TRUE(after == input || after == output) << "killed after " << i << " steps: a mix";
    EXPECT_TRUE(i != 0 || after == input) << "killed at once, yet changed";
    EXPECT_TRUE(i != kKills || after == output) << "not killed, yet unchanged";
    // What a killed run may leave: its unfinished temporary file, never anything else.
    for (const std::string& name : LeftBehind(folder, "part.nc")) {
      EXPECT_TRUE(name.starts_with(".prune-")) << name;
      fs::remove(folder.At(name));
    }
  }
}

}  // namespace
