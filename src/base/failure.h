// What a step raises when it cannot do its work.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "base/text.h"

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

/// The memory failure, raised for every request for memory that the platform refuses. Raising
/// it needs no memory beyond the runtime's reserve for exceptions: it holds nothing but the
/// location; its kind name and message text are fixed.
class OutOfMemory : public std::bad_alloc {
 public:
  explicit OutOfMemory(uintptr_t location) : location_(location) {}
  const char* what() const noexcept override { return "EOutOfMemory"; }
  /// Where the refused request for memory was detected.
  uintptr_t location() const { return location_; }

 private:
  uintptr_t location_;
};
