// The fault matrix: the real executable against hostile files, paths and file system states.
// Every run ends either with the processed file, or with exit status 1 and everything exactly as
// it was: never a hang, a crash, a partial file or a temporary file left behind.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "base/failure.h"
#include "files/line_list.h"
#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

const std::string& kOn = kLaserOnLine;
const std::string& kProgram = kSmallProgram;
const std::string& kPruned = kSmallProgramPruned;

/// A program of about `bytes` bytes whose output is larger than half of it.
std::string LargeProgram(size_t bytes) {
  std::string program = kOn + "\n";
  while (program.size() < bytes) program += "G01 A1\nG00 X1\n";
  return program;
}

/// Options under which a failure shows no box that would wait for a user (its report goes to
/// standard error), and a run that hangs is ended soon.
RunOptions Quick() {
  RunOptions options;
  options.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
  options.timeout_seconds = 20;
  return options;
}

/// Everything below `root`, by relative path: the kind, the permission bits, a link's target
/// and a regular file's bytes. Equal snapshots mean nothing was changed, added or left behind.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    fs::file_status status = fs::symlink_status(entry.path());
    std::string state = std::to_string(static_cast<int>(status.type())) + " " +
                        std::to_string(static_cast<int>(status.permissions())) + " ";
    if (fs::is_symlink(status)) state += fs::read_symlink(entry.path()).string();
    if (fs::is_regular_file(status)) state += ReadFile(entry.path());
    tree[fs::relative(entry.path(), root).string()] = state;
  }
  return tree;
}

/// Has `options` run a copy of the executable in "bin" of `folder`, with `settings` beside it.
void UseCopiedExecutable(const TempFolder& folder, const std::string& settings,
                         RunOptions* options) {
  options->executable = CopyExecutable(folder, "bin", settings);
}

const std::string& kTestOutput = kTestOutputSettings;

void MakeUnixSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);  // the socket's name stays in the folder
}

struct FailureCase {
  std::string name;
  /// Prepares the folder and the options; returns the name of the argument in the folder.
  std::function<std::string(const TempFolder&, RunOptions*)> setup;
};

TEST(FaultE2eTest, FailuresEndWithStatus1AndChangeNothing) {
  if (UnderWine()) GTEST_SKIP() << "file size limits, permission bits, FIFOs and sockets are POSIX";
  const FailureCase cases[] = {
      {"write failure halfway",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", LargeProgram(256 << 10));
         options->file_size_limit = 64 << 10;
         return "part.nc";
       }},
      {"write failure halfway into a ready test output file",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", LargeProgram(256 << 10));
         f.Write("part.tap", "old test output\r\n");
         UseCopiedExecutable(f, kTestOutput, options);
         options->file_size_limit = 64 << 10;
         return "part.nc";
       }},
      {"read-only target",
       [](const TempFolder& f, RunOptions*) {
         fs::permissions(f.Write("part.nc", kProgram), fs::perms(0444));
         return "part.nc";
       }},
      {"read-only test output file",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kProgram);
         fs::permissions(f.Write("part.tap", "old\r\n"), fs::perms(0444));
         UseCopiedExecutable(f, kTestOutput, options);
         return "part.nc";
       }},
      {"test output path held by a folder",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kProgram);
         f.Write("part.tap/inside", "kept");
         UseCopiedExecutable(f, kTestOutput, options);
         return "part.nc";
       }},
      {"test output path held by an empty folder",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kProgram);
         fs::create_directory(f.At("part.tap"));
         UseCopiedExecutable(f, kTestOutput, options);
         return "part.nc";
       }},
      {"test output path held by a FIFO",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kProgram);
         EXPECT_EQ(mkfifo(f.At("part.tap").c_str(), 0644), 0);
         UseCopiedExecutable(f, kTestOutput, options);
         return "part.nc";
       }},
      {"FIFO",
       [](const TempFolder& f, RunOptions*) {
         EXPECT_EQ(mkfifo(f.At("fifo.nc").c_str(), 0644), 0);
         return "fifo.nc";
       }},
      {"Unix socket",
       [](const TempFolder& f, RunOptions*) {
         MakeUnixSocket(f.At("socket.nc"));
         return "socket.nc";
       }},
      {"link to an endless device",
       [](const TempFolder& f, RunOptions*) {
         fs::create_symlink("/dev/zero", f.At("zero.nc"));
         return "zero.nc";
       }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RunOptions options = Quick();
    std::string argument = c.setup(folder, &options);
    auto before = Snapshot(folder.path());
    RunResult result = RunPrune({folder.At(argument)}, options);
    EXPECT_EQ(result.exit_status, 1);
    ExpectReportOnStandardError(result, c.name);
    EXPECT_TRUE(Snapshot(folder.path()) == before) << "the folder changed";
  }
}

TEST(FaultE2eTest, FolderAsArgumentEndsSilentlyWithStatus0) {
  TempFolder folder;
  folder.Write("part.nc/inside.nc", kProgram);
  auto before = Snapshot(folder.path());
  RunResult result = RunPrune({ProgramPath(folder.At("part.nc"))}, Quick());
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(Snapshot(folder.path()) == before) << "the folder changed";
}

struct ContentCase {
  std::string name;
  std::string input;
  std::string output;
};

TEST(FaultE2eTest, NulBytesStayAndLoneCrsBecomeCrLf) {
  using namespace std::string_literals;
  const ContentCase cases[] = {
      {"NULs in a line", "A\0B\0\0C"s, "A\0B\0\0C\r\n"s},
      {"a line of NULs only", "\0\0\0\n\0"s, "\0\0\0\r\n\0\r\n"s},
      {"lone CRs", "A\rB\r\rC"s, "A\r\nB\r\n\r\nC\r\n"s},
      {"lone CRs and NULs around moves", kOn + "\rG01 A1\0\rG01 A2\r\0M30\r"s,
       kOn + "\r\nG01 A2\r\n\0M30\r\n"s},
      {"a NUL inside the move pattern", kOn + "\rG01\0A1\rG01\0A2\r"s,
       kOn + "\r\nG01\0A1\r\nG01\0A2\r\n"s},
      {"UTF-16 with NULs and lone CRs",
       "\xFF\xFE"
       "A\0\0\0\r\0B\0"s,
       "\xFF\xFE"
       "A\0\0\0\r\0\n\0B\0\r\0\n\0"s},
      {"UTF-8 with NULs and lone CRs", "\xEF\xBB\xBF\0\r\xC3\xA4\0"s,
       "\xEF\xBB\xBF\0\r\n\xC3\xA4\0\r\n"s},
  };
  for (const ContentCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RunResult result = RunPrune({ProgramPath(folder.Write("part.nc", c.input))}, Quick());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(folder.Read("part.nc"), c.output);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  }
}

TEST(FaultE2eTest, UnusableSettingsFileCountsAs0) {
  if (UnderWine()) GTEST_SKIP() << "FIFOs, link loops and permission bits are POSIX";
  struct SettingsCase {
    std::string name;
    std::function<void(const std::string& settings_path)> make;
  };
  std::vector<SettingsCase> cases = {
      {"a folder", [](const std::string& path) { fs::create_directories(path + "/test=1"); }},
      {"a FIFO", [](const std::string& path) { EXPECT_EQ(mkfifo(path.c_str(), 0644), 0); }},
      {"a link to itself", [](const std::string& path) { fs::create_symlink(path, path); }},
      {"a link to an endless device",
       [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
  };
  // The superuser reads a file without read permission; the case holds for everyone else.
  if (geteuid() != 0) {
    cases.push_back({"unreadable", [](const std::string& path) {
                       std::ofstream(path) << kTestOutput;
                       fs::permissions(path, fs::perms::none);
                     }});
  }
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RunOptions options = Quick();
    UseCopiedExecutable(folder, "", &options);
    c.make(fs::path(options.executable).replace_extension(".ini").string());
    RunResult result = RunPrune({folder.Write("part.nc", kProgram)}, options);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(folder.Read("part.nc"), kPruned);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"bin", "part.nc"}));
  }
}

TEST(FaultE2eTest, SingleLineOf100MegabytesComesBackWithCrLf) {
  TempFolder folder;
  std::string line(100 << 20, 'X');
  for (size_t i = 0; i < line.size(); i += 4099) line[i] = "G01 A\0\t"[i % 7];
  folder.Write("part.nc", line);
  RunOptions options = Quick();
  options.timeout_seconds = 120;
  RunResult result = RunPrune({ProgramPath(folder.At("part.nc"))}, options);
  EXPECT_EQ(result.exit_status, 0);
  std::string output = folder.Read("part.nc");
  EXPECT_EQ(output.size(), line.size() + 2);
  EXPECT_TRUE(output == line + "\r\n") << "the line came back changed";
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
}

TEST(FaultE2eTest, TenMillionShortLines) {
  // One laser-on line, then runs of three moves, each closed by another line, then three more.
  const int kBlocks = 2'499'999;
  const std::string block = "G01 A1\nG01 A2\nG01 A3\nM08\n";
  const std::string kept = "G01 A3\r\nM08\r\n";
  std::string input = kOn + "\n", expected = kOn + "\r\n";
  input.reserve(input.size() + kBlocks * block.size() + 12);
  expected.reserve(expected.size() + kBlocks * kept.size() + 15);
  for (int i = 0; i < kBlocks; ++i) input += block, expected += kept;
  input += "M30\nM30\nM30\n", expected += "M30\r\nM30\r\nM30\r\n";
  ASSERT_EQ(std::count(input.begin(), input.end(), '\n'), 10'000'000);

  TempFolder folder;
  folder.Write("part.nc", input);
  input.clear();
  input.shrink_to_fit();
  RunOptions options = Quick();
  options.timeout_seconds = 120;
  RunResult result = RunPrune({ProgramPath(folder.At("part.nc"))}, options);
  EXPECT_EQ(result.exit_status, 0);
  std::string output = folder.Read("part.nc");
  EXPECT_EQ(output.size(), expected.size());
  EXPECT_TRUE(output == expected) << "the pruned program differs";
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
}

/// A path of exactly `length` characters below `folder`, through nested folders of 200
/// characters each, ending in a file name.
std::string LongPath(const TempFolder& folder, size_t length) {
  std::string path = folder.path();
  const std::string file = "/part.nc";
  while (path.size() + 201 + file.size() + 1 < length) path.append("/").append(200, 'd');
  size_t last = length - path.size() - 1 - file.size();
  path.append("/").append(last, 'e').append(file);
  return path;
}

TEST(FaultE2eTest, LongPaths) {
  if (UnderWine()) GTEST_SKIP() << "the limits of path lengths are the platform's own";
  // PATH_MAX (4096, terminator included) bounds every path. Below it the file opens and is
  // processed; where the path of the temporary file beside it would not fit (6 characters
  // longer here), the file is written in place.
  for (size_t length : {4000, 4095}) {
    SCOPED_TRACE(length);
    TempFolder folder;
    std::string path = LongPath(folder, length);
    ASSERT_EQ(path.size(), length);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << kProgram;
    auto before = Snapshot(folder.path());
    RunResult result = RunPrune({path}, Quick());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(ReadFile(path), kPruned);
    EXPECT_EQ(Snapshot(folder.path()).size(), before.size()) << "a file was left behind";
  }
}

TEST(FaultE2eTest, LoadOfAFileThatVanishedFailsWithTheOpenFailure) {
  // The file may go between the existence test and the load; the load then fails as for any
  // missing file, and the line list keeps what it held.
  TempFolder folder;
  std::string path = folder.Write("part.nc", kProgram);
  LineList lines;
  lines.SetText(u"kept");
  fs::remove(path);
  try {
    lines.Load(TextFromNative(path));
    ADD_FAILURE() << "the load of a missing file succeeded";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind, "EFOpenError");
    EXPECT_NE(failure.message.find(TextFromNative(path)), Text::npos);
  }
  ASSERT_EQ(lines.Count(), 1);
  EXPECT_EQ(lines.Get(0), u"kept");
}

}  // namespace
