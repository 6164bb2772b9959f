// For tests: a load and a save run in each of a platform's situations with every call of the
// seam failed in turn, to depth two: after each fault, the run that follows it (its fallback or
// its cleanup) is traced and each of its calls failed as well. After every run the folder is
// compared with the state before (a failure) or after the good run (a success), and every state
// that a power cut may leave on the way is checked. The platforms give the replacements, the
// situations, the snapshot of a folder and the promises that lie in the order of the calls.
//
// Both platforms stack their seam in one order: `os` (what the save calls) → `faulty` (the
// plan's faults, and the situation's stand-ins above them) → `real` (the recorders, which note
// what reached the system, for the power-cut model) → `system` (the system's own functions).
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
  /// Where not 0, the run is the program's own: the program is loaded in pieces of this size,
  /// pruned and saved, and `content` is what it saves. Otherwise the file is read whole and
  /// `content` saved.
  size_t piece_size = 0;
  /// Where the output really lies (a link's target), as seen from the folder.
  std::string written = "part.nc";
  SaveWay way = SaveWay::kRename;
  /// Whether the program and the output are named relative to the working folder, which is then
  /// the situation's folder.
  bool relative_names = false;
  /// Puts stand-ins for what the test cannot make for real (a disk with no room for a second
  /// copy, say) above the faulty calls, after the platform's replacements.
  std::function<void()> replace = [] {};
};

/// A situation that `set_up` makes, saving the shorter new program (kShorterProgram) over the
/// program, or as `output`, which really lies at `written`, by rename.
FaultSituation SituationOf(std::string name, std::function<std::string(TempFolder&)> set_up,
                           std::string output = "part.nc", std::string written = "part.nc");

/// Everything in a folder that a save must keep or may change, entry by entry: each entry's
/// path in the folder and a text of its state, words separated by blanks, with its content as a
/// Digest at the end. In an expected state, the word "*" stands for any one word.
using FolderState = std::map<std::string, std::string>;

/// A short name for some content, for comparing it.
std::string Digest(const std::string& content);

/// Whether the recorded steps give the file at `path` (as the model names it) by a rename: the
/// moment a save by rename puts the new content in place.
bool RenamedOnto(const PowerCutModel& model, const std::string& path);

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
  /// Whether `name` is one of the save's own files (a temporary file, a backup).
  virtual bool SavesOwnFile(const std::string& name) const = 0;
  /// Whether the save's own file `name`, found after the last run and not there before, may
  /// stay there: a fault of the run's plan failed what would have removed that very file (or
  /// what the save must know before it removes it).
  virtual bool MayRemain(const std::string& name) const {
    (void)name;
    return false;
  }
  /// The state of the written file after a good save by `way`, from its state `before`, as
  /// Snapshot shows it ("*" for what cannot be known before).
  virtual std::string AfterGoodSave(const std::string& before, const std::string& content,
                                    SaveWay way) const;
  /// Whether the recorded run took a way that the save takes knowingly though a power cut may
  /// leave the written file (`written_path`, as the model names it) torn, with no whole copy of
  /// the old content: the last resorts where no file of the save's own could be made.
  virtual bool MayTearByDesign(const PowerCutModel& model, const std::string& written_path,
                               bool had_old) const {
    (void)model;
    (void)written_path;
    (void)had_old;
    return false;
  }
  /// Where a failure does not say what the run's faults make it say; empty where it does.
  /// `program` and `output` are the paths the run was given. The default: a single fault that
  /// fails an open or a create gives the system's text for its error.
  virtual std::string WrongFailureText(const Failure& failure, const FaultPlan& plan,
                                       const Text& program, const Text& output) const;
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
  /// Whether the file system refused a flush of a folder in the run just made as one it cannot
  /// do (a network share): the names there then last only as long as it keeps them.
  virtual bool FolderFlushRefused() const { return false; }
};

/// The figures of a fault matrix.
struct FaultFigures {
  int failing_runs = 0;  ///< runs that failed a check, shown or only counted
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
