#include "run/prune.h"

namespace {

enum class LineKind { kStrobe, kLaserOff, kLaserOn, kMove, kOther };

LineKind KindOf(TextView line, const MarkerSet& markers) {
  if (line == kStrobeLine) return LineKind::kStrobe;
  if (line == markers.laser_off) return LineKind::kLaserOff;
  if (line == markers.laser_on) return LineKind::kLaserOn;
  if (line.find(markers.move_pattern) != TextView::npos) return LineKind::kMove;
  return LineKind::kOther;
}

TextView Trim(TextView text) {
  while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
  return text;
}

}  // namespace

const MarkerSet& SelectMarkerSet(const LineList& lines) {
  if (lines.Count() > 0 && Trim(lines.Get(0)) == kDialectHeader) return kDialectMarkerSet;
  return kDefaultMarkerSet;
}

std::vector<bool> FindRedundantMoves(const LineList& lines, const MarkerSet& markers) {
  std::vector<bool> redundant(lines.Count());
  bool active = false;
  bool strobe_seen = false;
  bool move_pending = false;
  for (int i = 0; i < lines.Count(); ++i) {
    switch (KindOf(lines.Get(i), markers)) {
      case LineKind::kStrobe:
        strobe_seen = active = true;
        move_pending = false;
        break;
      case LineKind::kLaserOff:
        if (!strobe_seen) active = false;
        move_pending = false;
        break;
      case LineKind::kLaserOn:
        active = true;
        move_pending = false;
        break;
      case LineKind::kMove:
        // The line before is the pending move line: the current one replaces it as the last
        // line of the run.
        if (active && move_pending) redundant[i - 1] = true;
        move_pending = active;
        break;
      case LineKind::kOther:
        move_pending = false;
        break;
    }
  }
  return redundant;
}

void PruneMoves(LineList& lines, const MarkerSet& markers) {
  lines.DeleteMarked(FindRedundantMoves(lines, markers));
}
