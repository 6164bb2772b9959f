// What a step of the load or the save came to on Windows, as a value.
#pragma once

#include <windows.h>

/// What a step came to: done, or failed with the system's code for the error, read with
/// GetLastError right after the call that failed, so that no later call can change it. The
/// failure's text is made from it. A step that fails for a reason of its own, which no call
/// reported, has the error NO_ERROR.
class Step {
 public:
  static Step Done() { return Step(true, NO_ERROR); }
  static Step Failed(DWORD error) { return Step(false, error); }
  bool done() const { return done_; }
  DWORD error() const { return error_; }

 private:
  Step(bool done, DWORD error) : done_(done), error_(error) {}
  bool done_;
  DWORD error_;
};

/// What a step found: `value`, where `step` is done.
template <typename Value>
struct Found {
  Step step;
  Value value;
};
