#include "files/system_calls_win32.h"

namespace os {
#define PRUNE_DEFINE_SYSTEM_CALL(result, name, parameters, arguments, failed) \
  result(*name) parameters = [] parameters -> result { return ::name arguments; };
PRUNE_SYSTEM_CALLS(PRUNE_DEFINE_SYSTEM_CALL)
#undef PRUNE_DEFINE_SYSTEM_CALL
}  // namespace os
