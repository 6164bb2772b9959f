#include "testing/system_call_faults.h"

#include <algorithm>
#include <map>

SystemCallFaults& SystemCallFaults::Get() {
  static SystemCallFaults faults;
  return faults;
}

void SystemCallFaults::Trace() { Arm({}); }

void SystemCallFaults::Arm(const FaultPlan& plan) {
  active_ = true;
  plan_ = plan;
  every_ = 0;
  fired_ = 0;
  fired_at_.clear();
  counts_.clear();
  sequence_.clear();
}

void SystemCallFaults::FailEvery(const std::string& name, int error, int times) {
  Arm({{name, 0, error}});
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
  for (const Fault& fault : plan_) {
    if (fault.name != name) continue;
    if (every_ > 0 ? found->count > every_ : found->count != fault.nth) continue;
    if (every_ == 0) ++fired_;
    fired_at_.push_back(sequence_.size() - 1);
    return fault.error;
  }
  return 0;
}

std::vector<Fault> FaultsToTry(const std::vector<std::string>& calls, size_t from,
                               const FaultKinds& kinds) {
  // For each kind of call after `from`: its first, second and last call there, counted from 0.
  std::vector<std::pair<std::string, std::vector<int>>> chosen;
  std::map<std::string, int> made;
  for (size_t i = 0; i < calls.size(); ++i) {
    int nth = ++made[calls[i]];
    if (i < from) continue;
    auto found = std::find_if(chosen.begin(), chosen.end(),
                              [&](const auto& entry) { return entry.first == calls[i]; });
    if (found == chosen.end()) found = chosen.insert(chosen.end(), {calls[i], {}});
    std::vector<int>& nths = found->second;
    if (nths.size() < 3) {
      nths.push_back(nth);
    } else {
      nths.back() = nth;
    }
  }
  auto listed = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  std::vector<Fault> faults;
  for (const auto& [name, nths] : chosen) {
    std::vector<int> errors = kinds.errors;
    if (listed(kinds.transfers, name)) errors.push_back(kShortTransfer);
    if (listed(kinds.effects, name)) errors.push_back(kDoneThenFailed);
    for (int nth : nths) {
      for (int error : errors) faults.push_back({name, nth, error});
    }
  }
  return faults;
}
