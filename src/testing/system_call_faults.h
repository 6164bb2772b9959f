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
// the platform does, and ShortTransfer overloads for its reads and writes.

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

/// The error that stands for a read or write that does only part of what it was asked.
constexpr int kShortTransfer = -1;

/// One call made to fail: the `nth` call (counted from 1) of the call `name`, with `error`.
struct Fault {
  std::string name;
  int nth = 0;
  int error = 0;
};

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
  /// Counts every call from now on, and makes the call that `fault` names fail.
  void Arm(const Fault& fault);
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
  /// Whether the armed fault was reached.
  bool fired() const { return fired_; }

 private:
  bool active_ = false;
  Fault fault_;
  int every_ = 0;
  bool fired_ = false;
  std::vector<CallCount> counts_;
  std::vector<std::string> sequence_;
};

/// The faults to try after a good run made the calls `counts`: the first, the second and the last
/// call of each kind, with each of `errors`; a short transfer only for the calls in `transfers`.
std::vector<Fault> FaultsToTry(const std::vector<CallCount>& counts, const std::vector<int>& errors,
                               const std::vector<std::string>& transfers);

/// Whether the sequence `calls` has `first` before any `then`; true when it has no `then`.
bool CalledBefore(const std::vector<std::string>& calls, const std::string& first,
                  const std::string& then);
