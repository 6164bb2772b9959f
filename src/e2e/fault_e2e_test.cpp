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
#include <string>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

/// A program of about `bytes` bytes whose output is larger than half of it.
std::string LargeProgram(size_t bytes) {
  std::string program = kLaserOnLine + "\n";
  while (program.size() < bytes) program += "G01 A1\nG00 X1\n";
  return program;
}

/// Display-free options under which a run that hangs is ended soon.
RunOptions Quick() {
  RunOptions options = DisplayFree();
  options.timeout_seconds = 20;
  return options;
}

/// Has `options` run a copy of the executable in "bin" of `folder` that writes test output.
void UseTestOutput(const TempFolder& folder, RunOptions* options) {
  options->executable = CopyExecutable(folder, "bin", kTestOutputSettings);
}

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

TEST(FaultE2eTest, FailuresEndWithStatus1AndChangeNothing) {
  if (UnderWine()) GTEST_SKIP() << "file size limits, permission bits, FIFOs and sockets are POSIX";
  ExpectFailuresChangeNothing({
      {"write beyond the file size limit",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kSmallProgram);
         options->file_size_limit = 16;
         return "part.nc";
       }},
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
         UseTestOutput(f, options);
         options->file_size_limit = 64 << 10;
         return "part.nc";
       }},
      // The read-only attribute of Windows binds administrators too, and so does this.
      {"read-only file",
       [](const TempFolder& f, RunOptions*) {
         fs::permissions(f.Write("part.nc", kSmallProgram), fs::perms(0444));
         return "part.nc";
       }},
      {"read-only file in a read-only folder",
       [](const TempFolder& f, RunOptions*) {
         fs::permissions(f.Write("part.nc", kSmallProgram), fs::perms(0444));
         fs::permissions(f.path(), fs::perms(0555));
         return "part.nc";
       }},
      {"read-only test output file",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kSmallProgram);
         fs::permissions(f.Write("part.tap", "old\r\n"), fs::perms(0444));
         UseTestOutput(f, options);
         return "part.nc";
       }},
      {"test output path held by a folder",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kSmallProgram);
         f.Write("part.tap/inside", "kept");
         UseTestOutput(f, options);
         return "part.nc";
       }},
      {"test output path held by an empty folder",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kSmallProgram);
         fs::create_directory(f.At("part.tap"));
         UseTestOutput(f, options);
         return "part.nc";
       }},
      {"test output path held by a FIFO",
       [](const TempFolder& f, RunOptions* options) {
         f.Write("part.nc", kSmallProgram);
         EXPECT_EQ(mkfifo(f.At("part.tap").c_str(), 0644), 0);
         UseTestOutput(f, options);
         return "part.nc";
       }},
      {"FIFO without a writer",
       [](const TempFolder& f, RunOptions*) {
         EXPECT_EQ(mkfifo(f.At("fifo.nc").c_str(), 0644), 0);
         return "fifo.nc";
       }},
      {"symbolic link to a FIFO",
       [](const TempFolder& f, RunOptions*) {
         EXPECT_EQ(mkfifo(f.At("fifo").c_str(), 0644), 0);
         fs::create_symlink("fifo", f.At("link.nc"));
         return "link.nc";
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
      {"file of 2 GiB",
       [](const TempFolder& f, RunOptions*) {
         std::ofstream(f.At("gross.nc"));
         fs::resize_file(f.At("gross.nc"), uintmax_t{1} << 31);
         return "gross.nc";
       }},
  });
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
      {"lone CRs and NULs around moves", kLaserOnLine + "\rG01 A1\0\rG01 A2\r\0M30\r"s,
       kLaserOnLine + "\r\nG01 A2\r\n\0M30\r\n"s},
      {"a NUL inside the move pattern", kLaserOnLine + "\rG01\0A1\rG01\0A2\r"s,
       kLaserOnLine + "\r\nG01\0A1\r\nG01\0A2\r\n"s},
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
  std::string input = kLaserOnLine + "\n", expected = kLaserOnLine + "\r\n";
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
    std::ofstream(path, std::ios::binary) << kSmallProgram;
    auto before = Snapshot(folder.path());
    RunResult result = RunPrune({path}, Quick());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(ReadFile(path), kSmallProgramPruned);
    EXPECT_EQ(Snapshot(folder.path()).size(), before.size()) << "a file was left behind";
  }
}

}  // namespace
