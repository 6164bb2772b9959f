#include "report/outermost_handler.h"

#include "report/failure.h"

int RunInsideOutermostHandler(const std::function<void()>& run) {
  try {
    run();
  } catch (const Failure&) {
    return 1;
  }
  return 0;
}
