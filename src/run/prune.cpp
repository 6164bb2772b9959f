#include "run/prune.h"

#include "base/simd.h"

namespace {

LineKind KindOf(TextView line, const MarkerSet& markers) {
  if (line == kStrobeLine) return LineKind::kStrobe;
  if (line == markers.laser_off) return LineKind::kLaserOff;
  if (line == markers.laser_on) return LineKind::kLaserOn;
  if (line.find(markers.move_pattern) != TextView::npos) return LineKind::kMove;
  return LineKind::kOther;
}

/// The whole-line markers as the bytes of a program hold them.
struct EncodedMarkers {
  EncodedMarkers(const ProgramBytes& program, const MarkerSet& markers)
      : strobe(program.Encoded(kStrobeLine)),
        laser_off(program.Encoded(markers.laser_off)),
        laser_on(program.Encoded(markers.laser_on)) {}
  std::string strobe, laser_off, laser_on;
};

/// The kind of a line of bytes that is not a move line.
LineKind KindOf(std::string_view line, const EncodedMarkers& markers) {
  if (line == markers.strobe) return LineKind::kStrobe;
  if (line == markers.laser_off) return LineKind::kLaserOff;
  if (line == markers.laser_on) return LineKind::kLaserOn;
  return LineKind::kOther;
}

/// The pruning pass as the sweep over a program's bytes calls it, line by line; the sweep holds
/// it by value, so that the pruning state can stay in registers.
struct BytePruning {
  const ProgramBytes& program;
  EncodedMarkers markers;
  MovePruning pruning;

  /// Whether the line before `line` is deleted.
  PRUNE_INLINE bool operator()(const ProgramBytes::Line& line) {
    // Few lines have the length of a whole-line marker, and none of those holds the move
    // pattern; move lines and other lines come in no order that could be foreseen.
    size_t length = line.end - line.begin;
    LineKind kind = LineKind::kOther;
    if (length == markers.strobe.size() || length == markers.laser_off.size() ||
        length == markers.laser_on.size()) [[unlikely]] {
      kind = KindOf(program.BytesOf(line), markers);
    }
    return pruning.Examine(line.has_needle ? LineKind::kMove : kind);
  }
};

TextView Trim(TextView text) {
  while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
  return text;
}

/// The bytes of a line trimmed of the code units up to code 32 at both ends.
std::string_view Trim(std::string_view line, const ProgramBytes& program) {
  const size_t width = program.unit_width();
  while (!line.empty() && program.UnitAt(line, 0) <= u' ') line.remove_prefix(width);
  while (!line.empty() && program.UnitAt(line, line.size() - width) <= u' ') {
    line.remove_suffix(width);
  }
  return line;
}

}  // namespace

const MarkerSet& SelectMarkerSet(const LineList& lines) {
  if (lines.Count() > 0 && Trim(lines.Get(0)) == kDialectHeader) return kDialectMarkerSet;
  return kDefaultMarkerSet;
}

const MarkerSet& SelectMarkerSet(const ProgramBytes& program) {
  if (Trim(program.FirstLine(), program) == program.Encoded(kDialectHeader)) {
    return kDialectMarkerSet;
  }
  return kDefaultMarkerSet;
}

std::vector<bool> FindRedundantMoves(const LineList& lines, const MarkerSet& markers) {
  std::vector<bool> redundant(lines.Count());
  MovePruning pruning;
  for (int i = 0; i < lines.Count(); ++i) {
    if (pruning.Examine(KindOf(lines.Get(i), markers))) redundant[i - 1] = true;
  }
  return redundant;
}

void PruneMoves(LineList& lines, const MarkerSet& markers) {
  lines.DeleteMarked(FindRedundantMoves(lines, markers));
}

void PruneMoves(ProgramBytes& program, const MarkerSet& markers) {
  program.Sweep(markers.move_pattern,
                BytePruning{program, EncodedMarkers(program, markers), MovePruning()});
}

void PruneProgram(ProgramFile& program) {
  if (ProgramBytes* bytes = program.bytes()) {
    PruneMoves(*bytes, SelectMarkerSet(*bytes));
  } else {
    PruneMoves(program.lines(), SelectMarkerSet(program.lines()));
  }
}
