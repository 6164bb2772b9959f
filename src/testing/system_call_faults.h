// For tests: the calls that go through a platform's seam of system calls (system_calls_*.h),
// counted, and one of them made to fail. A fault test traces a good run first, then repeats it
// once for each call with each error, so that every call the run makes is tried, also one that
// is added later.
#pragma once

#include <string>
#include <vector>

// Building blocks for a fault test on a seam's list of calls (PRUNE_SYSTEM_CALLS): each is an X
// for that list. The test keeps the system's functions in a namespace `real`, makes the
// replacements in a namespace `faulty`, and defines ReportError(int), which reports an error as
// the platform does, ShortTransfer overloads for its reads and writes, PartlyDone overloads for
// its writes (the rest do all they were asked) and kEffectError, the error that a call done
// and then failed reports.

/// The arguments of a list entry without their parentheses.
#define PRUNE_UNPARENTHESIZE(...) __VA_ARGS__

/// A copy of the system's own function, in `real`.
#define PRUNE_KEEP_REAL_CALL(result, name, parameters, arguments, failed) \
  result(*name) parameters = os::name;

/// A replacement, in `faulty`: the real call, unless SystemCallFaults makes this one fail; then
/// the error reported and the result that reports a failure.
#define PRUNE_FAULTY_CALL(result, name, parameters, arguments, failed)                             \
  result name parameters {                                                                         \
    int error = SystemCallFaults::Get().Next(#name);                                               \
    if (error == 0) return real::name arguments;                                                   \
    if (error == kShortTransfer) return ShortTransfer(real::name, PRUNE_UNPARENTHESIZE arguments); \
    if (error == kDoneThenFailed) {                                                                \
      PartlyDone(real::name, PRUNE_UNPARENTHESIZE arguments);                                      \
      error = kEffectError;                                                                        \
    }                                                                                              \
    ReportError(error);                                                                            \
    return failed;                                                                                 \
  }

/// Puts the replacement in the seam, or the system's function back.
#define PRUNE_REPLACE_CALL(result, name, parameters, arguments, failed) os::name = faulty::name;
#define PRUNE_RESTORE_CALL(result, name, parameters, arguments, failed) os::name = real::name;

/// A call that has no short form does all it was asked.
template <typename Call, typename... Arguments>
auto ShortTransfer(Call call, Arguments... arguments) {
  return call(arguments...);
}

/// A call that has no partial form, done then failed, does all it was asked.
template <typename Call, typename... Arguments>
void PartlyDone(Call call, Arguments... arguments) {
  call(arguments...);
}

/// The error that stands for a read or write that does only part of what it was asked.
constexpr int kShortTransfer = -1;

/// The error that stands for a call that takes effect (a write: in part) and then reports a
/// failure, as a disk or a network file system may.
constexpr int kDoneThenFailed = -2;

/// One call made to fail: the `nth` call (counted from 1) of the call `name`, with `error`.
struct Fault {
  std::string name;
  int nth = 0;
  int error = 0;
};

/// The faults of one run, each on a call of its own, in the order the run reaches them.
using FaultPlan = std::vector<Fault>;

/// How often a traced run made each call, in the order of each call's first use.
struct CallCount {
  std::string name;
  int count = 0;
};

/// The seam's replacements report every call here. One per process.
class SystemCallFaults {
 public:
  /// The one instance.
  static SystemCallFaults& Get();

  /// Counts every call from now on; none fails.
  void Trace();
  /// Counts every call from now on, and makes the calls that `plan` names fail.
  void Arm(const FaultPlan& plan);
  /// Makes the next `times` calls of `name` fail with `error` (a bound, so that a caller that
  /// never gives up ends all the same).
  void FailEvery(const std::string& name, int error, int times);
  /// Stops counting and failing: every call is the real one again.
  void Stop();

  /// Called by each replacement for a call of `name`: 0 where the real call is to be made, else
  /// the error with which it fails (or kShortTransfer).
  int Next(const char* name);

  /// The calls counted since Trace or Arm.
  const std::vector<CallCount>& counts() const { return counts_; }
  /// The names of the calls counted since Trace or Arm, in the order they were made.
  const std::vector<std::string>& sequence() const { return sequence_; }
  /// Whether every armed fault was reached.
  bool fired() const { return fired_ == plan_.size(); }
  /// Where in sequence() the armed faults that were reached fell, in order.
  const std::vector<size_t>& fired_at() const { return fired_at_; }

 private:
  bool active_ = false;
  FaultPlan plan_;
  int every_ = 0;
  size_t fired_ = 0;
  std::vector<size_t> fired_at_;
  std::vector<CallCount> counts_;
  std::vector<std::string> sequence_;
};

/// Which errors a fault matrix tries on which calls.
struct FaultKinds {
  std::vector<int> errors;             ///< on every call
  std::vector<std::string> transfers;  ///< the calls that also get kShortTransfer
  std::vector<std::string> effects;    ///< the calls that also get kDoneThenFailed
  /// Errors that tell what the file system cannot do at all (that it has no locks, say): a run
  /// gets at most one of them, since two would contradict each other about the same file system.
  std::vector<int> about_the_file_system;
  /// The errors of a second fault in a run, where fewer than `errors` tell every way apart
  /// (where the runs are costly); empty: `errors`.
  std::vector<int> second_errors = {};
};

/// The faults to try on the calls of `calls` from position `from` on: the first, the second
/// and the last call of each kind there, with each error that `kinds` gives it; `nth` counts
/// from the start of `calls`.
std::vector<Fault> FaultsToTry(const std::vector<std::string>& calls, size_t from,
                               const FaultKinds& kinds);
