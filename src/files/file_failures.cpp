#include "files/file_failures.h"

#include "base/failure.h"
#include "base/messages.h"
#include "files/absolute_path.h"

void RaiseOpenFailure(const Text& path, TextView system_text) {
  RaiseFailure(kOpenFailureKind, FillTemplate(kOpenFailureTemplate,
                                              {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseCreateFailure(const Text& path, TextView system_text) {
  RaiseFailure(kCreateFailureKind, FillTemplate(kCreateFailureTemplate,
                                                {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseWriteFailure() { RaiseFailure(kWriteFailureKind, kWriteFailureMessage); }

void RaiseRestoreFailure(const Text& path, const Text& backup) {
  if (backup.empty()) {
    RaiseFailure(kWriteFailureKind, FillTemplate(kRestoreFailureTemplate, {AbsolutePath(path)}));
  }
  RaiseFailure(kWriteFailureKind, FillTemplate(kRestoreFailureBackupTemplate,
                                               {AbsolutePath(path), AbsolutePath(backup)}));
}

void RaiseNotYetLastingFailure(const Text& path) {
  RaiseFailure(kWriteFailureKind, FillTemplate(kNotYetLastingTemplate, {AbsolutePath(path)}));
}

void RaiseReadFailure() { RaiseFailure(kReadFailureKind, kReadFailureMessage); }

void RaiseTooLargeFailure(const Text& path) {
  RaiseFailure(kReadFailureKind, FillTemplate(kTooLargeTemplate, {AbsolutePath(path)}));
}

void RaiseSaveFailure(const Text& path, const SaveOutcome& outcome) {
  switch (outcome.kind) {
    case SaveOutcome::kSaved:
      return;
    case SaveOutcome::kCreateFailed:
      RaiseCreateFailure(path, outcome.reason);
    case SaveOutcome::kWriteFailed:
      RaiseWriteFailure();
    case SaveOutcome::kRestoreFailed:
      RaiseRestoreFailure(path, outcome.backup);
    case SaveOutcome::kChangedMeanwhile:
      RaiseCreateFailure(path, kChangedMeanwhileReason);
    case SaveOutcome::kNotYetLasting:
      RaiseNotYetLastingFailure(path);
  }
  RaiseWriteFailure();
}

TextView TrimSystemText(TextView text) {
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.remove_suffix(1);
  return text;
}
