#include "testing/reference_prune.h"

#include <iterator>
#include <list>

std::vector<Text> StepByStepPrune(const std::vector<Text>& input, const MarkerSet& m) {
  // A list, so that each deletion takes constant time and long random programs stay quick.
  std::list<Text> lines(input.begin(), input.end());
  bool active = false, strobe_seen = false, pending = false;
  for (auto line = lines.begin(); line != lines.end(); ++line) {
    bool is_move = line->find(m.move_pattern) != Text::npos;
    if (*line == kStrobeLine) strobe_seen = active = true;
    if (*line == m.laser_off && !strobe_seen) active = pending = false;
    if (active) {
      if (is_move && pending) {
        lines.erase(std::prev(line));
      } else {
        pending = is_move;
      }
    }
    if (*line == m.laser_on && !strobe_seen) active = true, pending = false;
  }
  return std::vector<Text>(lines.begin(), lines.end());
}
