#include "program/prune.h"

#include <vector>

namespace {

/// Feeds the pruning rule the lines of a program's bytes, as the scan over them calls it; the
/// scan holds it by value, so that the rule's state can stay in registers.
struct ByteLineFeed {
  const ProgramBytes& program;
  MovePruning<char> rule;

  /// Whether the line before `line` is deleted.
  PRUNE_INLINE bool operator()(const ProgramBytes::Line& line) {
    return rule.Examine(program.BytesOf(line), line.has_needle);
  }
};

}  // namespace

const MarkerSet& SelectMarkerSet(const LineList& lines) {
  TextView first = lines.Count() > 0 ? lines.Get(0) : TextView();
  return SelectMarkerSet(first.size(), [&](size_t i) { return first[i]; });
}

const MarkerSet& SelectMarkerSet(const ProgramBytes& program) {
  std::string_view first = program.FirstLine();
  const size_t width = program.unit_width();
  return SelectMarkerSet(first.size() / width,
                         [&](size_t i) { return program.UnitAt(first, i * width); });
}

void Prune(LineList& lines) {
  const MarkerSet& markers = SelectMarkerSet(lines);
  MovePruning<char16_t> rule(markers, [](TextView ascii) { return Text(ascii); });
  std::vector<bool> redundant(lines.Count());
  for (int i = 0; i < lines.Count(); ++i) {
    TextView line = lines.Get(i);
    if (rule.Examine(line, line.find(markers.move_pattern) != TextView::npos)) {
      redundant[i - 1] = true;
    }
  }
  lines.DeleteMarked(redundant);
}

void Prune(ProgramBytes& program) {
  const MarkerSet& markers = SelectMarkerSet(program);
  MovePruning<char> rule(markers, [&](TextView ascii) { return program.Encoded(ascii); });
  program.DeletePreviousWhere(markers.move_pattern, ByteLineFeed{program, rule});
}
