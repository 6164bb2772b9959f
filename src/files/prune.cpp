#include "files/prune.h"

#include <vector>

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
  MovePruning<char16_t> pruning(markers, [](TextView ascii) { return Text(ascii); });
  std::vector<bool> redundant(lines.Count());
  for (int i = 0; i < lines.Count(); ++i) {
    TextView line = lines.Get(i);
    if (pruning.Examine(line, line.find(markers.move_pattern) != TextView::npos)) {
      redundant[i - 1] = true;
    }
  }
  lines.DeleteMarked(redundant);
}

void Prune(ProgramBytes& program) {
  const MarkerSet& markers = SelectMarkerSet(program);
  MovePruning<char> pruning(markers, [&](TextView ascii) { return program.Encoded(ascii); });
  // Held by value in the scan, so that the rule's state can stay in registers.
  program.DeletePreviousWhere(
      markers.move_pattern,
      [&program, pruning](const ProgramBytes::Line& line) mutable PRUNE_INLINE {
        return pruning.Examine(program.BytesOf(line), line.has_needle);
      });
}
