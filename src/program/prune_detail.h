// What the pruning pass needs of each form of a program, and nothing that the form's other users
// need: the first line for the marker set, ASCII text as the lines hold it, and one walk over
// the lines that deletes, in the one place where the form deletes lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/simd.h"
#include "base/text.h"
#include "program/byte_ranges.h"
#include "program/line_list.h"
#include "program/line_scan.h"
#include "program/move_pruning.h"
#include "program/program_bytes.h"

namespace prune_detail {

/// The pass's view of a form of a program. Each form gives:
///   Char: the type of the items of a line;
///   SelectMarkerSet(const Form&): the marker set that its first line selects;
///   Encoded(const Form&, TextView ascii): ASCII text as its lines hold it;
///   DeletePreviousWhere(Form&, TextView needle, Examine examine): calls
///     `examine(std::basic_string_view<Char> line, bool has_needle)` for every line, in order,
///     telling whether `needle` (the move pattern) occurs in it, and deletes the line before it,
///     with its ending, where `examine` returns true (never for the first line). A call starts
///     from the lines as loaded.
template <typename Form>
struct LineWalk;

template <>
struct LineWalk<LineList> {
  using Char = char16_t;

  static const MarkerSet& SelectMarkerSet(const LineList& lines) {
    TextView first = lines.Count() > 0 ? lines.Get(0) : TextView();
    return ::SelectMarkerSet(first.size(), [&](size_t i) { return first[i]; });
  }

  static Text Encoded(const LineList&, TextView ascii) { return Text(ascii); }

  template <typename Examine>
  static void DeletePreviousWhere(LineList& lines, TextView needle, Examine examine) {
    std::vector<bool> deleted(lines.Count());
    for (int i = 0; i < lines.Count(); ++i) {
      TextView line = lines.Get(i);
      if (examine(line, line.find(needle) != TextView::npos) && i > 0) deleted[i - 1] = true;
    }
    lines.DeleteMarked(deleted);
  }
};

/// What the walk over a program's bytes keeps while it scans: the examiner, where the lines begin
/// to end otherwise than in CR LF, and the deletions. Deletions are frequent and hard to foresee,
/// so they are noted without jumps: the range of deleted bytes that may still grow stays open,
/// and a range that closes goes to a small table whether it is the last one or not (the table
/// only moves on when it is). Held by value in the scan, so that all of it can stay in registers.
template <typename Examine>
struct DeletingScan {
  static constexpr size_t kClosed = 256;

  Examine examine;
  const char* text;
  size_t crlf_size;  // the bytes of CR LF
  ByteRanges* deleted;
  size_t crlf_until = 0;
  bool all_crlf = true;
  ScannedLine previous{};
  size_t open_begin = 0, open_end = 0;
  size_t count = 0;
  ByteRanges::Range closed[kClosed] = {};

  PRUNE_INLINE void operator()(const ScannedLine& line) {
    NoteEnding(line);
    // The first line has no line before it: `previous` is then empty, and so is its range.
    bool deletes =
        examine(std::string_view(text + line.begin, line.end - line.begin), line.has_needle);
    bool starts = deletes & (previous.begin != open_end);
    closed[count] = {open_begin, open_end};
    count += starts;
    open_begin = starts ? previous.begin : open_begin;
    open_end = deletes ? previous.next : open_end;
    if (count == kClosed) [[unlikely]]
      Flush();
    previous = line;
  }

  /// Notes where the lines begin to end otherwise than in CR LF.
  PRUNE_INLINE void NoteEnding(const ScannedLine& line) {
    if (all_crlf && line.next - line.end != crlf_size) [[unlikely]] {
      all_crlf = false;
      crlf_until = line.begin;
    }
  }

  void Flush() {
    for (size_t i = 0; i < count; ++i) deleted->Add(closed[i].begin, closed[i].end);
    count = 0;
  }
};

template <>
struct LineWalk<ProgramBytes> {
  using Char = char;

  static const MarkerSet& SelectMarkerSet(const ProgramBytes& program);

  static std::string Encoded(const ProgramBytes& program, TextView ascii);

  template <typename Examine>
  static void DeletePreviousWhere(ProgramBytes& program, TextView needle, Examine examine) {
    const std::string_view text = program.text();
    program.deleted_.Clear();
    auto scan = ScanLinesOf(program.form_, text, Encoded(program, needle),
                            DeletingScan<Examine>{examine, text.data(),
                                                  2 * UnitWidth(program.form_), &program.deleted_});
    scan.Flush();
    program.deleted_.Add(scan.open_begin, scan.open_end);
    program.crlf_until_ = scan.all_crlf ? text.size() : scan.crlf_until;
  }

  /// The marker set that the first line of `text`, of form `form`, selects.
  static const MarkerSet& MarkerSetOf(std::string_view text, UnitForm form);

  /// ASCII text as lines of form `form` hold it.
  static std::string EncodedIn(UnitForm form, TextView ascii);

  /// The bytes of the first line of `text`, without its ending; empty when there is none. An odd
  /// last byte of UTF-16 is no part of it.
  static std::string_view FirstLine(std::string_view text, UnitForm form);

  /// The code unit whose bytes begin at offset `at` of `bytes`.
  static char16_t UnitAt(UnitForm form, std::string_view bytes, size_t at);

  /// FirstLine and UnitAt of a program's text.
  static std::string_view FirstLine(const ProgramBytes& program) {
    return FirstLine(program.text(), program.form_);
  }
  static char16_t UnitAt(const ProgramBytes& program, std::string_view bytes, size_t at) {
    return UnitAt(program.form_, bytes, at);
  }
};

/// The pruning rule as the walk calls it; the walk holds it by value, so that the rule's state
/// can stay in registers.
template <typename Char>
struct Examiner {
  MovePruning<Char> rule;

  /// Whether the line before `line` is deleted.
  PRUNE_INLINE bool operator()(std::basic_string_view<Char> line, bool is_move) {
    return rule.Examine(line, is_move);
  }
};

}  // namespace prune_detail
