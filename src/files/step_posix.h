// What a step of the load or the save came to on POSIX systems, as a value.
#pragma once

/// What a step came to: done, or failed with the system's code for the error, read from errno
/// right after the call that failed, so that no later call can change it. The failure's text
/// is made from it. A step that fails for a reason of its own, which no call reported, has the
/// error 0.
class Step {
 public:
  static Step Done() { return Step(true, 0); }
  static Step Failed(int error) { return Step(false, error); }
  bool done() const { return done_; }
  int error() const { return error_; }

 private:
  Step(bool done, int error) : done_(done), error_(error) {}
  bool done_;
  int error_;
};

/// What a step found: `value`, where `step` is done.
template <typename Value>
struct Found {
  Step step;
  Value value;
};
