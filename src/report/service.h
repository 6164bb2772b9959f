// A service of the system that is started before the run and cleaned up after it.
#pragma once

/// One of the system's services. Start and Stop raise a failure when they cannot be done.
class Service {
 public:
  virtual ~Service() = default;
  /// Makes the service ready; called once, before the run.
  virtual void Start() = 0;
  /// Undoes Start; called once for every service whose start had begun, also when the start
  /// raised a failure.
  virtual void Stop() = 0;
};
