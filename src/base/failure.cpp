#include "base/failure.h"

[[noreturn]] __attribute__((noinline)) void RaiseFailure(std::string_view kind, Text message) {
  auto location = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  throw Failure{std::string(kind), std::move(message), location};
}
