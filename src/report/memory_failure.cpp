#include "report/memory_failure.h"

namespace {

/// Called by the allocation function that could not get memory; the location it records is the
/// code address in that function at which the refusal was detected.
[[noreturn]] __attribute__((noinline)) void OnRefusedMemory() {
  throw OutOfMemory(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

}  // namespace

void MemoryFailure::Start() { previous_ = std::set_new_handler(OnRefusedMemory); }

void MemoryFailure::Stop() { std::set_new_handler(previous_); }
