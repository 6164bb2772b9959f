// The failure raised for every request for memory that the platform refuses.
#pragma once

#include <cstdint>
#include <new>

#include "report/service.h"

/// The memory failure in flight. Raising it needs no memory beyond the runtime's reserve for
/// exceptions: it holds nothing but the location; its kind name and message text are fixed.
class OutOfMemory : public std::bad_alloc {
 public:
  explicit OutOfMemory(uintptr_t location) : location_(location) {}
  const char* what() const noexcept override { return "EOutOfMemory"; }
  /// Where the refused request for memory was detected.
  uintptr_t location() const { return location_; }

 private:
  uintptr_t location_;
};

/// The memory failure's kind name and message text.
inline constexpr char16_t kOutOfMemoryKind[] = u"EOutOfMemory";
inline constexpr char16_t kOutOfMemoryMessage[] = u"Zu wenig Arbeitsspeicher";

/// Turns every refused request for memory into OutOfMemory while it is started.
class MemoryFailure : public Service {
 public:
  void Start() override;
  void Stop() override;

 private:
  std::new_handler previous_ = nullptr;
};
