// What a step raises when it cannot do its work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/text.h"

/// A failure on its way to the outermost handler: the kind name (for example "EFOpenError"),
/// the complete message text, and the code address at which it was raised.
struct Failure {
  std::string kind;
  Text message;
  uintptr_t location;
};

/// Raises a failure whose location is the code address this function returns to, that is the
/// raise point inside the operation that failed.
[[noreturn]] void RaiseFailure(std::string_view kind, Text message);
