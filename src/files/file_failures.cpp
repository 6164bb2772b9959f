#include "files/file_failures.h"

#include "base/failure.h"
#include "base/messages.h"
#include "files/native_file.h"

void RaiseOpenFailure(const Text& path, TextView system_text) {
  RaiseFailure(kOpenFailureKind, FillTemplate(kOpenFailureTemplate,
                                              {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseCreateFailure(const Text& path, TextView system_text) {
  RaiseFailure(kCreateFailureKind, FillTemplate(kCreateFailureTemplate,
                                                {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseWriteFailure() { RaiseFailure(kWriteFailureKind, kWriteFailureMessage); }

void RaiseRestoreFailure(const Text& path) {
  RaiseFailure(kWriteFailureKind, FillTemplate(kRestoreFailureTemplate, {AbsolutePath(path)}));
}

void RaiseReadFailure() { RaiseFailure(kReadFailureKind, kReadFailureMessage); }

void RaiseTooLargeFailure(const Text& path) {
  RaiseFailure(kReadFailureKind, FillTemplate(kTooLargeTemplate, {AbsolutePath(path)}));
}

void RaiseDecodeFailure() { RaiseFailure(kEncodingFailureKind, kDecodeFailureMessage); }

void RaiseCodePageFailure() { RaiseFailure(kEncodingFailureKind, kCodePageFailureMessage); }

void RaiseSaveFailure(const Text& path, const SaveFailure& failure) {
  switch (failure.kind) {
    case SaveFailure::kNone:
    case SaveFailure::kTryInPlace:
      return;
    case SaveFailure::kCreate:
      RaiseCreateFailure(path, failure.reason);
    case SaveFailure::kWrite:
      RaiseWriteFailure();
    case SaveFailure::kRestore:
      RaiseRestoreFailure(path);
  }
}

TextView TrimSystemText(TextView text) {
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.remove_suffix(1);
  return text;
}
