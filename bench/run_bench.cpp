// Times the real executable on synthetic programs beside `cat in > out` on the same file and
// prints throughput and peak memory. It prints figures only; it asserts nothing about them.
//
//   run_bench [--runs K] [--prune PATH] [--no-sync LIB] [LINES...]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "synthetic_program.h"

namespace {

struct Options {
  std::string prune = PRUNE_EXE;
  std::string no_sync = NO_SYNC_LIB;
  int runs = 5;
  std::vector<int64_t> line_counts;
};

/// How one child process went: its wall time, its peak resident memory and its exit status.
struct Measure {
  double seconds = 0;
  double cpu_seconds = 0;  ///< user and system time of the child
  long max_rss_kb = 0;
  int status = -1;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "run_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail(path);
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail(path);
    done += n;
  }
  // On disk before the timing starts, so that no writeback of ours runs during a measure.
  if (fsync(fd) != 0 || close(fd) != 0) Fail(path);
}

off_t FileSize(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(path);
  off_t size = lseek(fd, 0, SEEK_END);
  close(fd);
  return size;
}

/// Runs `argv` with standard output going to `output` (if not empty) and `preload` in
/// LD_PRELOAD (if not empty), and measures it from the fork to the end of the wait.
Measure Run(const std::vector<std::string>& argv, const std::string& output,
            const std::string& preload) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    if (!output.empty()) {
      int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    }
    if (!preload.empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) < 0) Fail("wait4");
  Measure measure;
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                        usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  measure.max_rss_kb = usage.ru_maxrss;
  measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measure;
}

/// The fastest of `runs` measures; `prepare` runs untimed before each, on a quiet disk.
template <typename Prepare>
Measure Best(int runs, Prepare prepare, const std::vector<std::string>& argv,
             const std::string& output, const std::string& preload) {
  Measure best;
  for (int i = 0; i < runs; ++i) {
    prepare();
    sync();
    Measure m = Run(argv, output, preload);
    if (m.status != 0) {
      std::fprintf(stderr, "run_bench: %s ended with status %d\n", argv[0].c_str(), m.status);
      std::exit(1);
    }
    long max_rss_kb = std::max(best.max_rss_kb, m.max_rss_kb);
    if (i == 0 || m.seconds < best.seconds) best = m;
    best.max_rss_kb = max_rss_kb;  // the highest of all runs
  }
  return best;
}

void PrintRow(const char* name, const Measure& m, double megabytes, int64_t lines,
              double cat_seconds) {
  std::printf("  %-24s %7.1f ms %6.0f MB/s %6.2f M lines/s %6.2fx cat  (cpu %.1f ms)\n", name,
              m.seconds * 1e3, megabytes / m.seconds, lines / m.seconds / 1e6,
              m.seconds / cat_seconds, m.cpu_seconds * 1e3);
}

void BenchOne(const Options& options, const std::string& folder, int64_t lines) {
  std::string program = folder + "/program.nc";
  std::string copy = folder + "/copy.nc";
  std::string work = folder + "/work.nc";
  std::string bytes = SyntheticProgram(lines);
  WriteFile(program, bytes);
  double megabytes = FileSize(program) / 1e6;

  // The program is in the page cache: it was just written, and every run below reads it. Each
  // run of cat creates its output anew, as each run of prune replaces a fresh copy.
  auto remove_output = [&] { unlink(copy.c_str()); };
  Measure cat = Best(options.runs, remove_output, {"cat", program}, copy, "");
  // cat may copy inside the kernel (copy_file_range); dd copies through a buffer of its own.
  Measure dd = Best(options.runs, remove_output,
                    {"dd", "if=" + program, "of=" + copy, "bs=1M", "status=none"}, "", "");
  auto copy_program = [&] { WriteFile(work, bytes); };
  Measure prune = Best(options.runs, copy_program, {options.prune, work}, "", "");
  Measure no_sync = Best(options.runs, copy_program, {options.prune, work}, "", options.no_sync);
  off_t kept_bytes = FileSize(work);

  std::printf("%lld lines, %.2f MB (Windows-1252, CR LF); the result keeps %.2f MB\n",
              static_cast<long long>(lines), megabytes, kept_bytes / 1e6);
  PrintRow("cat in > out", cat, megabytes, lines, cat.seconds);
  PrintRow("dd bs=1M (read/write)", dd, megabytes, lines, cat.seconds);
  PrintRow("prune", prune, megabytes, lines, cat.seconds);
  PrintRow("prune, fsync a no-op", no_sync, megabytes, lines, cat.seconds);
  double sync_seconds = std::max(0.0, prune.seconds - no_sync.seconds);
  std::printf("  %-24s %7.1f ms (%.0f%% of the run); prune is %.2fx dd\n", "of which fsync",
              sync_seconds * 1e3, 100 * sync_seconds / prune.seconds, prune.seconds / dd.seconds);
  std::printf("  %-24s %7.1f MB (%.2fx the file)\n", "peak memory of prune",
              prune.max_rss_kb * 1024.0 / 1e6, prune.max_rss_kb * 1024.0 / 1e6 / megabytes);
  std::printf("\n");
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      options.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--prune" && i + 1 < argc) {
      options.prune = argv[++i];
    } else if (arg == "--no-sync" && i + 1 < argc) {
      options.no_sync = argv[++i];
    } else {
      options.line_counts.push_back(std::atoll(arg.c_str()));
    }
  }
  if (options.line_counts.empty()) options.line_counts = {200000, 2000000};
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/prune-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) Fail(pattern);
  std::printf("best of %d runs each; MB = 10^6 bytes; prune: %s\n\n", options.runs,
              options.prune.c_str());
  for (int64_t lines : options.line_counts) BenchOne(options, pattern, lines);
  for (const char* name : {"/program.nc", "/copy.nc", "/work.nc"}) unlink((pattern + name).c_str());
  rmdir(pattern.c_str());
  return 0;
}
