#include "testing/fault_matrix.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string_view>

#include "base/messages.h"
#include "files/read.h"
#include "program/program_file.h"
#include "save/save.h"
#include "testing/save_contents.h"

namespace fs = std::filesystem;

namespace {

/// What the runs of one situation are held to: the folder before and after a good run, and the
/// content the save replaces (empty where there is none) and writes.
struct Expected {
  FolderState before;
  FolderState after;
  bool had_old = false;
  std::string old_content;
  std::string new_content;
};

/// How many failing runs of one situation are shown in full; the rest are counted.
constexpr int kFailingRunsShown = 3;

/// The words of `state`.
std::vector<std::string_view> Words(std::string_view state) {
  std::vector<std::string_view> words;
  while (!state.empty()) {
    size_t end = state.find(' ');
    words.push_back(state.substr(0, end));
    state.remove_prefix(end == std::string_view::npos ? state.size() : end + 1);
  }
  return words;
}

/// Whether `actual` is the state that `expected` describes, where "*" stands for any word.
bool Matches(const std::string& expected, const std::string& actual) {
  if (expected == actual) return true;
  if (expected.find('*') == std::string::npos) return false;
  std::vector<std::string_view> wanted = Words(expected), found = Words(actual);
  if (wanted.size() != found.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i] != "*" && wanted[i] != found[i]) return false;
  }
  return true;
}

/// Where `a` and `b` differ, entry by entry; a word "*" of `a` stands for any.
std::string Difference(const FolderState& a, const FolderState& b) {
  std::string difference;
  for (const auto& [name, state] : a) {
    auto other = b.find(name);
    if (other == b.end()) {
      difference += "\n  only before: " + name;
    } else if (!Matches(state, other->second)) {
      difference += "\n  " + name + ":\n    " + state.substr(0, 200) + "\n    " +
                    other->second.substr(0, 200);
    }
  }
  for (const auto& [name, state] : b) {
    if (!a.count(name)) difference += "\n  only after: " + name + " " + state.substr(0, 80);
  }
  return difference;
}

std::string Describe(const FaultPlatform& platform, const FaultPlan& plan) {
  std::string text;
  for (const Fault& fault : plan) {
    std::string error = fault.error == kShortTransfer    ? "a short transfer"
                        : fault.error == kDoneThenFailed ? "done, then failed"
                                                         : platform.ErrorName(fault.error);
    text += (text.empty() ? "" : ", then ") + fault.name + " #" + std::to_string(fault.nth) +
            " with " + error;
  }
  return text;
}

/// The folder's state as a good run of `situation` leaves it: the written file's content
/// replaced, everything else as before.
FolderState ExpectedAfter(const FaultPlatform& platform, const FaultSituation& situation,
                          const FolderState& before, const std::string& folder) {
  FolderState expected = before;
  std::string& written = expected[situation.written];
  if (written.empty()) {
    written = platform.NewFileState(folder, situation.content);
  } else {
    written = platform.AfterGoodSave(written, situation.content, situation.way);
  }
  // Further names of the same file show the same.
  for (auto& [name, state] : expected) {
    if (name != situation.written && before.count(situation.written) &&
        state == before.at(situation.written)) {
      state = written;
    }
  }
  return expected;
}

/// Whether the folder holds the old content whole in a backup that the failure names.
bool OldContentInNamedBackup(const RunRecord& record, const Expected& expected) {
  std::string message = NativeFromText(record.failure.message);
  for (const auto& [name, state] : record.folder) {
    if (expected.before.count(name)) continue;
    bool holds_old = state.ends_with(" content " + Digest(expected.old_content));
    std::string file = fs::path(name).filename().string();
    if (holds_old && message.find(file) != std::string::npos) return true;
  }
  return false;
}

/// The folder of `record` without the save's own files that stayed because the plan failed their
/// removal: nothing else can remove them.
FolderState WithoutUnremovable(const FaultPlatform& platform, const RunRecord& record,
                               const Expected& expected) {
  FolderState folder = record.folder;
  std::erase_if(folder, [&](const auto& entry) {
    return !expected.before.count(entry.first) && platform.SavesOwnFile(entry.first) &&
           platform.MayRemain(entry.first);
  });
  return folder;
}

/// Whether `failure` says that the old content could not be written back either.
bool SaysNotRestored(const Failure& failure) {
  TextView restore_failure = kRestoreFailureTemplate;
  size_t path = restore_failure.find(u"%s");
  TextView after_path = restore_failure.substr(path + 2);
  return failure.message.starts_with(restore_failure.substr(0, path)) &&
         failure.message.find(after_path) != Text::npos;
}

/// Checks the folder and the failure after one run of the matrix; `committed`: whether the run
/// put the new content in place by a rename; `may_tear`: whether it took a way that may leave
/// the file torn by design.
void CheckOutcome(const FaultPlatform& platform, const RunRecord& given, const Expected& expected,
                  bool committed, bool may_tear) {
  RunRecord record = given;
  record.folder = WithoutUnremovable(platform, given, expected);
  if (record.failure.kind.empty()) {
    EXPECT_EQ(Difference(expected.after, record.folder), "") << "after a reported success";
    return;
  }
  std::string message = NativeFromText(record.failure.message);
  const std::string kinds[] = {"EFOpenError", "EReadError", "EFCreateError", "EWriteError"};
  EXPECT_NE(std::find(std::begin(kinds), std::end(kinds), record.failure.kind), std::end(kinds))
      << record.failure.kind;
  bool as_before = Difference(expected.before, record.folder).empty();
  bool as_after = Difference(expected.after, record.folder).empty();
  if (!as_before && !(as_after && committed) && !OldContentInNamedBackup(record, expected) &&
      !(may_tear && SaysNotRestored(record.failure))) {
    ADD_FAILURE() << record.failure.kind << " " << message
                  << Difference(expected.before, record.folder);
  }
}

/// Checks every state that a power cut may leave during the recorded run: the written file
/// (and the program) old or new, or the old content whole in another file; a backup's name
/// never holds anything but a whole copy (the old content, or the new where a rename reported as
/// failed was done); after a success, the new content in what was flushed. A run that two
/// faults kept from writing a backup anywhere writes in place without one, the last resort:
/// while no backup stands in what was flushed, its cuts may tear the file. Where the file system
/// refused to flush a folder, the names there last only as it keeps them: a cut may lose a
/// backup's name, and after a success the program old or new but whole is enough. Any cut of a
/// run that took a way the platform names as tearing by design (`by_design`) may tear it too.
/// Gives the number of states checked.
long CheckPowerCuts(const FaultPlatform& platform, const PowerCutModel& model,
                    const std::string& written_path, bool by_design, const RunRecord& record,
                    const Expected& expected) {
  // Whether what was flushed after `step` holds the old content in a file the run made.
  std::map<std::string, std::string> at_start;
  std::map<size_t, bool> backed_up;
  auto backup_flushed = [&](size_t step) {
    if (at_start.empty()) at_start = model.FlushedAfter(0);
    auto known = backed_up.find(step);
    if (known != backed_up.end()) return known->second;
    auto files = model.FlushedAfter(step);
    bool flushed = std::any_of(files.begin(), files.end(), [&](const auto& file) {
      return !at_start.count(file.first) && file.second == expected.old_content;
    });
    return backed_up[step] = flushed;
  };
  // On a file system that refused a folder's flush, a backup's name lasts only as it keeps it.
  auto may_tear = [&](size_t step) {
    if (by_design) return true;
    if (!expected.had_old) return false;
    return platform.FolderFlushRefused() || (record.fired_at.size() >= 2 && !backup_flushed(step));
  };
  auto partial_backup = [&](const std::map<std::string, std::string>& files) {
    for (const auto& [name, content] : files) {
      // The new content, where a rename reported as failed was done before the backup was made.
      bool whole_copy = content == expected.old_content || content == expected.new_content;
      if (platform.IsBackupOf(name, written_path) && !whole_copy) return name;
    }
    return std::string();
  };
  auto whole = [&](const std::map<std::string, std::string>& files) {
    auto written = files.find(written_path);
    if (written == files.end()) {
      if (!expected.had_old) return true;
    } else if (written->second == expected.new_content ||
               (expected.had_old && written->second == expected.old_content)) {
      return true;
    }
    // Else the old content must lie whole elsewhere: in a backup.
    return expected.had_old && std::any_of(files.begin(), files.end(), [&](const auto& file) {
             return file.first != written_path && file.second == expected.old_content;
           });
  };
  long states =
      model.ForEachState([&](size_t step, const std::map<std::string, std::string>& files) {
        if (std::string backup = partial_backup(files); !backup.empty()) {
          ADD_FAILURE() << "a power cut after step " << step << " leaves the backup " << backup
                        << " without the whole old content:\n"
                        << model.Describe();
          return false;
        }
        if (whole(files) || may_tear(step)) return true;
        ADD_FAILURE() << "a power cut after step " << step << " loses the program:\n"
                      << model.Describe();
        return false;
      });
  if (record.failure.kind.empty()) {
    auto flushed = model.Flushed();
    auto written = flushed.find(written_path);
    bool saved = written != flushed.end() && written->second == expected.new_content;
    // Not even the new file's name is flushed there: the program old or new, but whole.
    if (!saved && platform.FolderFlushRefused()) saved = whole(flushed);
    EXPECT_TRUE(saved) << "a power cut after a reported success loses the new content:\n"
                       << model.Describe();
  }
  return states;
}

/// One run of `situation` with `plan` armed, checked.
RunRecord RunChecked(FaultPlatform& platform, const FaultSituation& situation,
                     const FaultPlan& plan, const Expected& expected, FaultFigures* figures) {
  SCOPED_TRACE(Describe(platform, plan));
  TempFolder folder;
  situation.set_up(folder);
  PowerCutModel model;
  RunRecord record;
  {
    auto replaced = platform.Replace(folder.path(), &model);
    situation.replace();
    SystemCallFaults::Get().Arm(plan);
    record = LoadAndSave(platform, situation, folder);
  }
  std::string written_path = platform.ModelPath(folder.path(), situation.written);
  try {
    bool may_tear = platform.MayTearByDesign(model, written_path, expected.had_old);
    CheckOutcome(platform, record, expected, RenamedOnto(model, written_path), may_tear);
    figures->power_cut_states +=
        CheckPowerCuts(platform, model, written_path, may_tear, record, expected);
  } catch (const std::invalid_argument& error) {
    ADD_FAILURE() << "the recorded steps do not fit together: " << error.what();
  }
  if (!record.failure.kind.empty()) {
    auto path_of = [&](const std::string& name) {
      return situation.relative_names ? Text(fs::path(name).make_preferred().u16string())
                                      : folder.PathOf(name);
    };
    std::string wrong = platform.WrongFailureText(record.failure, plan, path_of(situation.program),
                                                  path_of(situation.output));
    EXPECT_EQ(wrong, "");
  }
  return record;
}

/// Runs checks, showing the failures of the first few failing runs in full and only counting
/// the rest, so that one slip prints a screen, not every run.
class FailureCap {
 public:
  explicit FailureCap(FaultFigures* figures) : figures_(figures) {}
  /// Reports how many failing runs were not shown.
  ~FailureCap() {
    if (hidden_ > 0) {
      ADD_FAILURE() << "and " << hidden_ << " further failing runs in this situation, not shown";
    }
  }
  /// Runs `checks`, which reports its failures through gtest.
  template <typename Checks>
  void Run(const Checks& checks) {
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      checks();
    }
    if (results.size() == 0) return;
    ++figures_->failing_runs;
    if (++failing_ > kFailingRunsShown) {
      ++hidden_;
      return;
    }
    for (int i = 0; i < results.size(); ++i) {
      const ::testing::TestPartResult& result = results.GetTestPartResult(i);
      if (result.failed()) {
        ADD_FAILURE_AT(result.file_name() ? result.file_name() : "?", result.line_number())
            << result.message();
      }
    }
  }

 private:
  FaultFigures* figures_;
  int failing_ = 0;
  int hidden_ = 0;
};

/// The whole matrix for one situation; false where it cannot be made here.
bool RunSituation(FaultPlatform& platform, const FaultSituation& situation, FaultFigures* figures,
                  std::set<std::string>* kinds_of_call) {
  SCOPED_TRACE(situation.name);
  Expected expected;
  std::vector<std::string> good_calls;
  {
    TempFolder folder;
    if (std::string reason = situation.set_up(folder); !reason.empty()) {
      std::cout << "[ skipped  ] " << situation.name << ": " << reason << "\n";
      return false;
    }
    expected.before = platform.Snapshot(folder.path());
    expected.had_old = folder.Exists(situation.written);
    expected.old_content = expected.had_old ? folder.Read(situation.written) : "";
    expected.new_content = situation.content;
    expected.after = ExpectedAfter(platform, situation, expected.before, folder.path());
  }
  // The good run: saved, as expected, by the expected way.
  FailureCap cap(figures);
  RunRecord good;
  cap.Run([&] {
    good = RunChecked(platform, situation, {}, expected, figures);
    EXPECT_EQ(good.failure.kind, "") << NativeFromText(good.failure.message);
    EXPECT_EQ(platform.BrokenPromises(situation), "");
  });
  good_calls = good.calls;
  for (const std::string& call : good_calls) kinds_of_call->insert(call);
  WalkFaultPlans(
      good_calls, platform.kinds(),
      [&](const FaultPlan& plan) {
        RunRecord record;
        cap.Run([&] { record = RunChecked(platform, situation, plan, expected, figures); });
        for (const std::string& call : record.calls) kinds_of_call->insert(call);
        return FaultedRun{record.calls, record.fired_at};
      },
      figures);
  return true;
}

}  // namespace

void WalkFaultPlans(const std::vector<std::string>& good_calls, const FaultKinds& kinds,
                    const std::function<FaultedRun(const FaultPlan&)>& run, FaultFigures* figures) {
  auto tells = [&](const Fault& fault) {
    const std::vector<int>& telling = kinds.about_the_file_system;
    return std::find(telling.begin(), telling.end(), fault.error) != telling.end();
  };
  // At depth two, the errors that steer differently; all of them where none are named.
  FaultKinds second_kinds = kinds;
  if (!kinds.second_errors.empty()) second_kinds.errors = kinds.second_errors;
  std::set<std::vector<std::string>> paths = {good_calls};
  for (const Fault& first : FaultsToTry(good_calls, 0, kinds)) {
    FaultedRun faulted = run({first});
    ++figures->first_faults;
    figures->done_then_failed += first.error == kDoneThenFailed;
    if (faulted.fired_at.empty() || !paths.insert(faulted.calls).second) continue;
    ++figures->paths;
    for (const Fault& second :
         FaultsToTry(faulted.calls, faulted.fired_at.front() + 1, second_kinds)) {
      if (tells(first) && tells(second)) continue;
      run({first, second});
      ++figures->second_faults;
      figures->done_then_failed += second.error == kDoneThenFailed;
    }
  }
}

std::string FaultPlatform::AfterGoodSave(const std::string& before, const std::string& content,
                                         SaveWay way) const {
  (void)way;
  return before.substr(0, before.find(" content ")) + " content " + Digest(content);
}

std::string FaultPlatform::WrongFailureText(const Failure& failure, const FaultPlan& plan,
                                            const Text& program, const Text& output) const {
  (void)program;
  (void)output;
  std::string message = NativeFromText(failure.message);
  const Fault& fault = plan.empty() ? Fault() : plan.front();
  if (plan.size() == 1 && fault.error > 0 && failure.kind.starts_with("EF") &&
      message.find(ErrorText(fault.error)) == std::string::npos) {
    return "the failure does not give the system's reason: " + message;
  }
  return "";
}

bool RenamedOnto(const PowerCutModel& model, const std::string& path) {
  const auto& steps = model.recorded_steps();
  return std::any_of(steps.begin(), steps.end(), [&](const PowerCutModel::Step& step) {
    return step.kind == PowerCutModel::Step::kRename && step.to == path;
  });
}

FaultSituation SituationOf(std::string name, std::function<std::string(TempFolder&)> set_up,
                           std::string output, std::string written) {
  FaultSituation made;
  made.name = std::move(name);
  made.set_up = std::move(set_up);
  made.output = std::move(output);
  made.written = std::move(written);
  made.content = kShorterProgram;
  return made;
}

std::string Digest(const std::string& content) {
  return std::to_string(content.size()) + " bytes #" +
         std::to_string(std::hash<std::string>()(content) % 1000000);
}

RunRecord LoadAndSave(FaultPlatform& platform, const FaultSituation& situation,
                      TempFolder& folder) {
  RunRecord record;
  fs::path working = fs::current_path();
  auto path_of = [&](const std::string& name) {
    return situation.relative_names ? Text(fs::path(name).make_preferred().u16string())
                                    : folder.PathOf(name);
  };
  if (situation.relative_names) fs::current_path(folder.path());
  try {
    Text program = path_of(situation.program);
    if (situation.piece_size != 0) {
      ProgramFile file(situation.piece_size);
      file.Load(program);
      file.Prune();
      file.Save(path_of(situation.output));
    } else {
      FileStamp stamp;
      ReadWholeFile(program, &stamp);
      bool over_program = situation.output == situation.program;
      ReplaceWholeFile(path_of(situation.output), ContiguousContent(situation.content),
                       over_program ? &stamp : nullptr);
    }
  } catch (const Failure& failure) {
    record.failure = failure;
  }
  SystemCallFaults& faults = SystemCallFaults::Get();
  faults.Stop();
  if (situation.relative_names) fs::current_path(working);
  record.calls = faults.sequence();
  record.fired_at = faults.fired_at();
  record.folder = platform.Snapshot(folder.path());
  return record;
}

FaultFigures RunFaultMatrix(FaultPlatform& platform,
                            const std::vector<FaultSituation>& situations) {
  FaultFigures figures;
  std::set<std::string> kinds_of_call;
  for (const FaultSituation& situation : situations) {
    ++figures.situations;
    if (!RunSituation(platform, situation, &figures, &kinds_of_call)) ++figures.skipped;
  }
  figures.kinds_of_call = static_cast<int>(kinds_of_call.size());
  return figures;
}

std::string Describe(const FaultFigures& figures) {
  return std::to_string(figures.situations) + " situations (" + std::to_string(figures.skipped) +
         " skipped here), " + std::to_string(figures.kinds_of_call) + " kinds of call, " +
         std::to_string(figures.first_faults) + " first faults leading to " +
         std::to_string(figures.paths) + " further paths, " +
         std::to_string(figures.second_faults) + " second faults on them, " +
         std::to_string(figures.done_then_failed) +
         " of all the faults a call done, then failed; " +
         std::to_string(figures.power_cut_states) + " power-cut states checked" +
         (figures.failing_runs > 0 ? "; " + std::to_string(figures.failing_runs) + " runs failed"
                                   : "");
}
