#include "testing/system_call_faults.h"

#include <algorithm>

SystemCallFaults& SystemCallFaults::Get() {
  static SystemCallFaults faults;
  return faults;
}

void SystemCallFaults::Trace() { Arm(Fault()); }

void SystemCallFaults::Arm(const Fault& fault) {
  active_ = true;
  fault_ = fault;
  every_ = 0;
  fired_ = false;
  counts_.clear();
  sequence_.clear();
}

void SystemCallFaults::FailEvery(const std::string& name, int error, int times) {
  Arm({name, 0, error});
  every_ = times;
}

void SystemCallFaults::Stop() { active_ = false; }

int SystemCallFaults::Next(const char* name) {
  if (!active_) return 0;
  auto found = std::find_if(counts_.begin(), counts_.end(),
                            [name](const CallCount& count) { return count.name == name; });
  if (found == counts_.end()) found = counts_.insert(counts_.end(), {name, 0});
  ++found->count;
  sequence_.push_back(name);
  if (fault_.name != name) return 0;
  if (every_ > 0 ? found->count > every_ : found->count != fault_.nth) return 0;
  fired_ = true;
  return fault_.error;
}

std::vector<Fault> FaultsToTry(const std::vector<CallCount>& counts, const std::vector<int>& errors,
                               const std::vector<std::string>& transfers) {
  std::vector<Fault> faults;
  for (const CallCount& call : counts) {
    std::vector<int> which = {1, 2, call.count};
    std::sort(which.begin(), which.end());
    which.erase(std::unique(which.begin(), which.end()), which.end());
    bool transfer = std::find(transfers.begin(), transfers.end(), call.name) != transfers.end();
    for (int nth : which) {
      if (nth > call.count) continue;
      for (int error : errors) {
        if (error == kShortTransfer && !transfer) continue;
        faults.push_back({call.name, nth, error});
      }
    }
  }
  return faults;
}

bool CalledBefore(const std::vector<std::string>& calls, const std::string& first,
                  const std::string& then) {
  auto first_at = std::find(calls.begin(), calls.end(), first);
  auto then_at = std::find(calls.begin(), calls.end(), then);
  return then_at == calls.end() || first_at < then_at;
}
