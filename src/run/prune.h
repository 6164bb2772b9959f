// Thinning out the A-axis feed moves inside the stretches in which the laser is on.
#pragma once

#include <vector>

#include "base/text.h"
#include "files/line_list.h"
#include "files/program_bytes.h"
#include "files/program_file.h"

/// The texts that decide the kind of a line.
struct MarkerSet {
  TextView move_pattern;
  TextView laser_on;
  TextView laser_off;
};

inline constexpr MarkerSet kDefaultMarkerSet = {u"G01 A", u"FARCALL $STRGLOB1 \"LASER_ON\"",
                                                u"FARCALL $STRGLOB1 \"LASER_OFF\""};
inline constexpr MarkerSet kDialectMarkerSet = {u"G01 A", u"M98 L20", u"M98 L21"};

/// The first line that selects the dialect marker set, once trimmed.
inline constexpr TextView kDialectHeader = u"%DSPNC3";

/// The line that opens pruning for good, under either marker set.
inline constexpr TextView kStrobeLine = u"ActivateStrobeModule";

/// What a line is to the pruning pass. No two kinds overlap: no whole-line marker holds the move
/// pattern, and all of them differ.
enum class LineKind { kStrobe, kLaserOff, kLaserOn, kMove, kOther };

/// The pruning rule, fed the kind of every line in order: inside every pruning stretch (laser-on
/// to the next laser-off line, and the strobe line to the end), each run of consecutive move
/// lines keeps only its last line.
class MovePruning {
 public:
  /// Examines the next line; true when the line before it is to be deleted, being a move line
  /// that this one, another move line, follows inside a pruning stretch.
  bool Examine(LineKind kind) {
    if (kind != LineKind::kMove && kind != LineKind::kOther) [[unlikely]] {
      ExamineMarker(kind);
      return false;
    }
    // Move lines and other lines come in no order that could be foreseen: no jumps here.
    bool move = kind == LineKind::kMove;
    bool delete_previous = move & active_ & move_pending_;
    move_pending_ = move & active_;
    return delete_previous;
  }

 private:
  void ExamineMarker(LineKind kind) {
    if (kind == LineKind::kStrobe) strobe_seen_ = active_ = true;
    if (kind == LineKind::kLaserOff && !strobe_seen_) active_ = false;
    if (kind == LineKind::kLaserOn) active_ = true;
    move_pending_ = false;  // a marker line is no move line, and ends a run
  }

  bool active_ = false;
  bool strobe_seen_ = false;
  bool move_pending_ = false;
};

/// The dialect marker set when the first line, trimmed of characters up to code 32 at both
/// ends, is the dialect header; the default marker set otherwise, also for an empty list.
const MarkerSet& SelectMarkerSet(const LineList& lines);
const MarkerSet& SelectMarkerSet(const ProgramBytes& program);

/// Which lines the pruning pass deletes.
std::vector<bool> FindRedundantMoves(const LineList& lines, const MarkerSet& markers);

/// The pruning pass: deletes the lines that FindRedundantMoves finds, in linear time.
void PruneMoves(LineList& lines, const MarkerSet& markers);

/// The pruning pass over the bytes of the program: one sweep that finds the lines, tells their
/// kinds and deletes the redundant ones.
void PruneMoves(ProgramBytes& program, const MarkerSet& markers);

/// The marker set selection and the pruning pass, on the program in the form it is held in.
void PruneProgram(ProgramFile& program);
