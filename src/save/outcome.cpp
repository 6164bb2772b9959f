#include "save/outcome.h"

#include "base/messages.h"
#include "files/file_failures.h"

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
