// For tests: a load and a save run in each of a platform's situations with every call of the
// seam failed in turn, to depth two: after each fault, the run that follows it (its fallback or
// its cleanup) is traced and each of its calls failed as well. After every run the folder is
// compared with the state before (a failure) or after the good run (a success), and every state
// that a power cut may leave on the way is checked. The platforms give the replacements, the
// situations, the snapshot of a folder and the promises that lie in the order of the calls.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "testing/power_cut_model.h"
#include "testing/system_call_faults.h"
#include "testing/test_support.h"

/// The way a good save of a situation takes.
enum class SaveWay { kRename, kInPlace };

/// One way into the save: the files it starts from, the program it reads and the file it writes.
struct FaultSituation {
  std::string name;
  /// Makes the files in the folder; returns why the situation cannot be made here, or nothing.
  std::function<std::string(TempFolder&)> set_up;
  std::string program = "part.nc";
  std::string output = "part.nc";
  std::string content;
  /// Where the output really lies (a link's target), as seen from the folder.
  std::string written = "part.nc";
  SaveWay way = SaveWay::kRename;
  /// Whether the program and the output are named relative to the working folder, which is then
  /// the situation's folder.
  bool relative_names = false;
};

/// Everything in a folder that a save must keep or may change, entry by entry: each entry's
/// path in the folder and a text of its state, with its content as a Digest at the end.
using FolderState = std::map<std::string, std::string>;

/// A short name for some content, for comparing it.
std::string Digest(const std::string& content);

/// What one run did: its failure (an empty kind where none), the calls it made, and the folder
/// afterwards.
struct RunRecord {
  Failure failure;
  std::vector<std::string> calls;
  std::vector<size_t> fired_at;  ///< where in `calls` the faults that were reached fell
  FolderState folder;
};

/// What a platform gives the fault matrix.
class FaultPlatform {
 public:
  virtual ~FaultPlatform() = default;
  /// Which errors are tried on which calls.
  virtual const FaultKinds& kinds() const = 0;
  /// The name of an error, for a failure message.
  virtual std::string ErrorName(int error) const = 0;
  /// The system's text for an error, which an open or create failure ends with.
  virtual std::string ErrorText(int error) const = 0;
  /// The call whose success puts the new content in place by a rename: a failure reported after
  /// it may leave the new content, which is whole, and which a second run does not change.
  virtual std::string CommitCall() const = 0;
  /// The call that removes a file the save made (a temporary file, a backup): where it fails,
  /// the file stays.
  virtual std::string RemovalCall() const = 0;
  /// Whether `name` is one of the save's own files (a temporary file, a backup).
  virtual bool SavesOwnFile(const std::string& name) const = 0;
  /// The folder, entry by entry.
  virtual FolderState Snapshot(const std::string& folder) const = 0;
  /// Puts the replacements in the seam, and starts recording what the calls change into
  /// `model` (which holds the folder's files as they are), until the returned object goes.
  virtual std::shared_ptr<void> Replace(const std::string& folder, PowerCutModel* model) = 0;
  /// The promises of a good run of `situation` that lie in the order of its calls; empty when
  /// all are kept.
  virtual std::string BrokenPromises(const FaultSituation& situation) const = 0;
  /// The path of `name` in `folder` as the power-cut model names it.
  virtual std::string ModelPath(const std::string& folder, const std::string& name) const = 0;
  /// The state of a file that the save makes new in `folder` with `content`, as Snapshot shows
  /// it (the mode or attributes that any new file gets there).
  virtual std::string NewFileState(const std::string& folder, const std::string& content) const = 0;
  /// Whether `name` (a path as the power-cut model names it) is a backup of the file at
  /// `written`, a name that may only ever hold its whole old content.
  virtual bool IsBackupOf(const std::string& name, const std::string& written) const {
    (void)name;
    (void)written;
    return false;
  }
};

/// The figures of a fault matrix.
struct FaultFigures {
  int situations = 0;
  int skipped = 0;
  int kinds_of_call = 0;
  int first_faults = 0;
  int paths = 0;  ///< distinct runs that first faults led to, each one traced to depth two
  int second_faults = 0;
  int done_then_failed = 0;
  long power_cut_states = 0;
};

/// What a run with faults armed did: the calls it made, and where the faults that were reached
/// fell among them.
struct FaultedRun {
  std::vector<std::string> calls;
  std::vector<size_t> fired_at;
};

/// Runs `run` with every fault plan to depth two, after a good run made `good_calls`: each
/// first fault on those calls; then, once for each distinct run that a first fault leads to,
/// each second fault on the calls of that run after the first fault. Counts into `figures`.
void WalkFaultPlans(const std::vector<std::string>& good_calls, const FaultKinds& kinds,
                    const std::function<FaultedRun(const FaultPlan&)>& run, FaultFigures* figures);

/// Runs every situation through the matrix, with gtest's expectations on each run.
FaultFigures RunFaultMatrix(FaultPlatform& platform, const std::vector<FaultSituation>& situations);

/// The figures, on one line for the test's output.
std::string Describe(const FaultFigures& figures);

/// The load and the save of `situation` in `folder`, with the faults already armed or not.
RunRecord LoadAndSave(FaultPlatform& platform, const FaultSituation& situation, TempFolder& folder);
