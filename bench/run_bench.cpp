// Times the real executable on synthetic programs in each file encoding, side by side with
// `cat in > out` and `dd bs=1M conv=fsync` on the same file, and prints the medians, the ratios,
// the throughput and the peak memory. It prints figures only; it asserts nothing about them.
//
//   run_bench [--runs K] [--big-runs K] [--prune PATH] [--compare PATH]... [--no-sync LIB]
//             [LINES...]
//
// prune runs with test output (a settings file beside a copy of it says so), as the save of a
// real run does, flush to disk included; each output file is removed, untimed, before each run
// of each command, so that every run creates its output anew. Each --compare names another build
// of prune (say, one of the main branch), timed in the same rounds and printed on a row of its
// own, so that a change is measured against what it changes in the same moments of the machine.
//
// For the ANSI programs, two more rows give the saves over the program itself (a copy of prune
// without a settings file): "rename" for a program of one link, which the save replaces by a new
// file, and "in place" for one with a second link, which it writes in place behind a backup. The
// program is written anew, untimed, before each of their runs.
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "synthetic_program.h"

namespace {

struct Options {
  std::string prune = PRUNE_EXE;
  std::vector<std::string> compared;  // further builds of prune, timed beside it
  std::string no_sync = NO_SYNC_LIB;
  int runs = 11;     // for programs of up to a million lines
  int big_runs = 5;  // for larger ones
  std::vector<int64_t> line_counts;
};

/// How one child process went.
struct Measure {
  double seconds = 0;
  long max_rss_kb = 0;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "run_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) Fail(path);
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail(path);
    done += n;
  }
  // On disk before the timing starts, so that no writeback of ours runs during a measure.
  if (fsync(fd) != 0 || close(fd) != 0) Fail(path);
}

std::string ReadFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(path);
  std::string bytes;
  char buffer[1 << 16];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  close(fd);
  return bytes;
}

off_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) Fail(path);
  return st.st_size;
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
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "run_bench: %s ended with status %d\n", argv[0].c_str(), status);
    std::exit(1);
  }
  Measure measure;
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.max_rss_kb = usage.ru_maxrss;
  return measure;
}

/// One command to measure: what it runs, and the file it creates, which is removed before each
/// run.
struct Command {
  std::vector<std::string> argv;
  std::string output;  // its standard output goes here, if not empty
  std::string creates;
  std::string preload;
  std::vector<Measure> measures;

  double Median() const {
    std::vector<double> seconds;
    for (const Measure& m : measures) seconds.push_back(m.seconds);
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
  }
  long MaxRssKb() const {
    long most = 0;
    for (const Measure& m : measures) most = std::max(most, m.max_rss_kb);
    return most;
  }
};

void PrintHeader() {
  std::printf("%10s  %-14s %8s %8s %8s %9s %6s %6s %8s %8s %6s %7s  %s\n", "lines", "encoding",
              "file MB", "cat ms", "dd ms", "prune ms", "x cat", "x dd", "M lines/s", "peak MB",
              "x file", "fsync", "prune");
}

/// A copy of a build of prune in the benchmark's folder, with a settings file beside it that
/// asks for test output, and its measures on the program at hand.
struct Prune {
  std::string label;  // "A" for the one measured, "B", "C", … for those compared with it
  std::string copy;
  std::string overwriting;  // a copy without a settings file: it saves over the program
  Command run;
  Command no_sync;
  Command by_rename;
  Command in_place;
};

/// Prints one row of figures.
void PrintRow(int64_t lines, const std::string& what, double megabytes, const Command& cat,
              const Command& dd, const Command& run, const Command* no_sync,
              const std::string& label) {
  double seconds = run.Median();
  double peak_mb = run.MaxRssKb() * 1024.0 / 1e6;
  double fsync_share = no_sync ? std::max(0.0, seconds - no_sync->Median()) / seconds : 0;
  std::printf("%10lld  %-14s %8.1f %8.1f %8.1f %9.1f %6.2f %6.2f %8.1f %8.1f %6.2f %5.0f%%  %s\n",
              static_cast<long long>(lines), what.c_str(), megabytes, cat.Median() * 1e3,
              dd.Median() * 1e3, seconds * 1e3, seconds / cat.Median(), seconds / dd.Median(),
              lines / seconds / 1e6, peak_mb, peak_mb / megabytes, 100 * fsync_share,
              label.c_str());
}

void BenchOne(const Options& options, const std::string& folder, std::vector<Prune>& prunes,
              int64_t lines, SyntheticEncoding encoding) {
  const std::string program = folder + "/program.nc";
  const std::string copy = folder + "/copy.nc";
  const std::string tap = folder + "/program.tap";
  const std::string work = folder + "/work.nc", second_link = folder + "/work-link.nc";
  WriteFile(program, SyntheticProgram(lines, encoding));
  double megabytes = FileSize(program) / 1e6;
  const bool ways = encoding == SyntheticEncoding::kAnsi;
  // What goes before a run, untimed: its output removed, or the program written anew.
  std::map<const Command*, std::function<void()>> prepare;

  // cat may copy inside the kernel (copy_file_range); dd copies through a buffer of its own and
  // flushes to disk at the end, as prune does.
  Command cat{{"cat", program}, copy, copy, "", {}};
  Command dd{{"dd", "if=" + program, "of=" + copy, "bs=1M", "conv=fsync", "status=none"},
             "",
             copy,
             "",
             {}};
  for (Prune& prune : prunes) {
    prune.run = {{prune.copy, program}, "", tap, "", {}};
    prune.no_sync = {{prune.copy, program}, "", tap, options.no_sync, {}};
    prune.by_rename = {{prune.overwriting, work}, "", work, "", {}};
    prune.in_place = {{prune.overwriting, work}, "", work, "", {}};
    prepare[&prune.by_rename] = [&] {
      unlink(second_link.c_str());
      WriteFile(work, ReadFile(program));
    };
    prepare[&prune.in_place] = [&] {
      unlink(second_link.c_str());
      WriteFile(work, ReadFile(program));
      if (link(work.c_str(), second_link.c_str()) != 0) Fail(second_link);
    };
  }
  // Round by round, so that whatever else the machine does falls on every command alike; the
  // builds of prune take turns at going first.
  int runs = lines > 1000000 ? options.big_runs : options.runs;
  for (int i = 0; i < runs; ++i) {
    std::vector<Command*> round = {&cat, &dd};
    for (size_t k = 0; k < prunes.size(); ++k) {
      Prune& prune = prunes[(k + i) % prunes.size()];
      round.insert(round.end(), {&prune.run, &prune.no_sync});
      if (ways) round.insert(round.end(), {&prune.by_rename, &prune.in_place});
    }
    for (Command* command : round) {
      if (auto found = prepare.find(command); found != prepare.end()) {
        found->second();
      } else {
        unlink(command->creates.c_str());
      }
      sync();
      command->measures.push_back(Run(command->argv, command->output, command->preload));
    }
  }
  for (const Prune& prune : prunes) {
    PrintRow(lines, SyntheticEncodingName(encoding), megabytes, cat, dd, prune.run, &prune.no_sync,
             prune.label);
  }
  if (ways) {
    for (const Prune& prune : prunes) {
      PrintRow(lines, "ANSI, rename", megabytes, cat, dd, prune.by_rename, nullptr, prune.label);
      PrintRow(lines, "ANSI, in place", megabytes, cat, dd, prune.in_place, nullptr, prune.label);
    }
  }
  std::fflush(stdout);
  for (const std::string& path : {program, copy, tap, work, second_link}) unlink(path.c_str());
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      options.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--big-runs" && i + 1 < argc) {
      options.big_runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--prune" && i + 1 < argc) {
      options.prune = argv[++i];
    } else if (arg == "--compare" && i + 1 < argc) {
      options.compared.push_back(argv[++i]);
    } else if (arg == "--no-sync" && i + 1 < argc) {
      options.no_sync = argv[++i];
    } else {
      options.line_counts.push_back(std::atoll(arg.c_str()));
    }
  }
  if (options.line_counts.empty()) options.line_counts = {200000, 2000000, 10000000};
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  // A child's peak memory counts the pages it shares with this process until its exec, so the
  // programs generated here go back to the system when they are freed, rather than staying in
  // the heap.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  Options options = ParseOptions(argc, argv);
  const char* tmp = getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/prune-bench-XXXXXX";
  if (!mkdtemp(folder.data())) Fail(folder);
  // Each build of prune copied, with a settings file beside it that asks for test output.
  std::vector<std::string> builds = {options.prune};
  builds.insert(builds.end(), options.compared.begin(), options.compared.end());
  std::vector<Prune> prunes;
  std::printf("medians of %d runs (%d above a million lines); MB = 10^6 bytes\n", options.runs,
              options.big_runs);
  for (size_t k = 0; k < builds.size(); ++k) {
    Prune prune;
    prune.label = std::string(1, static_cast<char>('A' + k));
    prune.copy = folder + "/prune-" + prune.label;
    WriteFile(prune.copy, ReadFile(builds[k]), 0755);
    WriteFile(prune.copy + ".ini", "[common]\r\ntest=1\r\n");
    prune.overwriting = folder + "/overwriting-" + prune.label;
    WriteFile(prune.overwriting, ReadFile(builds[k]), 0755);
    std::printf("prune %s: %s\n", prune.label.c_str(), builds[k].c_str());
    prunes.push_back(std::move(prune));
  }
  std::printf("prune writes test output (.tap), flushed to disk; fsync: its share of the run\n\n");
  PrintHeader();
  for (int64_t lines : options.line_counts) {
    for (SyntheticEncoding encoding :
         {SyntheticEncoding::kAnsi, SyntheticEncoding::kUtf8Ascii, SyntheticEncoding::kUtf8Comments,
          SyntheticEncoding::kUtf16Le}) {
      BenchOne(options, folder, prunes, lines, encoding);
    }
  }
  for (const Prune& prune : prunes) {
    unlink(prune.copy.c_str());
    unlink((prune.copy + ".ini").c_str());
    unlink(prune.overwriting.c_str());
  }
  rmdir(folder.c_str());
  return 0;
}
