// The pruning rule: which A-axis feed moves are redundant inside the sections in which the
// laser is on. Written once for lines of UTF-16 text and for lines in the bytes of a file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/simd.h"
#include "base/text.h"

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

/// The dialect marker set when the first line of a program, trimmed of the code units up to code
/// 32 at both ends, is the dialect header; the default marker set otherwise, also for a program
/// without lines. The first line has `size` code units; `unit_at(i)` gives the i-th of them.
template <typename UnitAt>
const MarkerSet& SelectMarkerSet(size_t size, UnitAt unit_at) {
  size_t begin = 0, end = size;
  while (begin < end && unit_at(begin) <= u' ') ++begin;
  while (end > begin && unit_at(end - 1) <= u' ') --end;
  if (end - begin != kDialectHeader.size()) return kDefaultMarkerSet;
  for (size_t i = 0; i < kDialectHeader.size(); ++i) {
    if (unit_at(begin + i) != kDialectHeader[i]) return kDefaultMarkerSet;
  }
  return kDialectMarkerSet;
}

/// The pruning rule, fed every line of a program in order: inside every pruning section (laser-on
/// to the next laser-off line, and the strobe line to the end), each run of consecutive move
/// lines keeps only its last line. A line is a view of `Char`s: UTF-16 text, or the bytes of a
/// file in an encoding in which ASCII text lies where it lies in the decoded text. No whole-line
/// marker holds the move pattern, and all of them differ.
template <typename Char>
class MovePruning {
 public:
  using Line = std::basic_string_view<Char>;

  /// The rule under `markers`; `encode(TextView ascii)` gives ASCII text as the lines hold it.
  template <typename Encode>
  MovePruning(const MarkerSet& markers, Encode encode)
      : strobe_(encode(kStrobeLine)),
        laser_off_(encode(markers.laser_off)),
        laser_on_(encode(markers.laser_on)) {}

  /// Examines the next line, which holds the move pattern where `is_move`; true when the line
  /// before it is to be deleted, being a move line that this one, another move line, follows
  /// inside a pruning section.
  PRUNE_INLINE bool Examine(Line line, bool is_move) {
    // Few lines have the length of a whole-line marker.
    size_t length = line.size();
    if (length == strobe_.size() || length == laser_off_.size() || length == laser_on_.size())
        [[unlikely]] {
      if (ExamineMarker(line)) return false;
    }
    // Move lines and other lines come in no order that could be foreseen: no jumps here.
    bool delete_previous = is_move & active_ & move_pending_;
    move_pending_ = is_move & active_;
    return delete_previous;
  }

 private:
  /// Takes in `line` where it is a marker line; false where it is none.
  bool ExamineMarker(Line line) {
    if (line == strobe_) {
      strobe_seen_ = active_ = true;
    } else if (line == laser_off_) {
      if (!strobe_seen_) active_ = false;
    } else if (line == laser_on_) {
      active_ = true;
    } else {
      return false;
    }
    move_pending_ = false;  // a marker line is no move line, and ends a run
    return true;
  }

  std::basic_string<Char> strobe_, laser_off_, laser_on_;
  bool active_ = false;
  bool strobe_seen_ = false;
  bool move_pending_ = false;
};
