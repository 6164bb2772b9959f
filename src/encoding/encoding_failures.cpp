#include "encoding/encoding_failures.h"

#include "base/failure.h"
#include "base/messages.h"

void RaiseDecodeFailure() { RaiseFailure(kEncodingFailureKind, kDecodeFailureMessage); }

void RaiseCodePageFailure() { RaiseFailure(kEncodingFailureKind, kCodePageFailureMessage); }
