#include "program/prune.h"

#include "program/prune_detail.h"

using prune_detail::LineWalk;

namespace {

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

}  // namespace

template <typename Form>
const MarkerSet& SelectMarkerSet(const Form& program) {
  return LineWalk<Form>::SelectMarkerSet(program);
}

template <typename Form>
void Prune(Form& program) {
  using Walk = LineWalk<Form>;
  const MarkerSet& markers = Walk::SelectMarkerSet(program);
  MovePruning<typename Walk::Char> rule(
      markers, [&](TextView ascii) { return Walk::Encoded(program, ascii); });
  Walk::DeletePreviousWhere(program, markers.move_pattern, Examiner<typename Walk::Char>{rule});
}

template const MarkerSet& SelectMarkerSet(const LineList&);
template const MarkerSet& SelectMarkerSet(const ProgramBytes&);
template void Prune(LineList&);
template void Prune(ProgramBytes&);

namespace prune_detail {

std::string_view LineWalk<ProgramBytes>::FirstLine(const ProgramBytes& program) {
  std::string_view all = program.text();
  const size_t width = UnitWidth(program.form_);
  size_t end = 0;
  while (end < all.size() && UnitAt(program, all, end) != u'\r' &&
         UnitAt(program, all, end) != u'\n') {
    end += width;
  }
  return all.substr(0, end);
}

char16_t LineWalk<ProgramBytes>::UnitAt(const ProgramBytes& program, std::string_view bytes,
                                        size_t at) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  switch (program.form_) {
    case UnitForm::kUtf16Le:
      return ::UnitAt<UnitForm::kUtf16Le>(p);
    case UnitForm::kUtf16Be:
      return ::UnitAt<UnitForm::kUtf16Be>(p);
    case UnitForm::kByte:
      break;
  }
  return ::UnitAt<UnitForm::kByte>(p);
}

const MarkerSet& LineWalk<ProgramBytes>::SelectMarkerSet(const ProgramBytes& program) {
  std::string_view first = FirstLine(program);
  const size_t width = UnitWidth(program.form_);
  return ::SelectMarkerSet(first.size() / width,
                           [&](size_t i) { return UnitAt(program, first, i * width); });
}

std::string LineWalk<ProgramBytes>::Encoded(const ProgramBytes& program, TextView ascii) {
  std::string bytes;
  for (char16_t unit : ascii) {
    char c = static_cast<char>(unit);
    if (program.form_ == UnitForm::kUtf16Be) bytes.push_back('\0');
    bytes.push_back(c);
    if (program.form_ == UnitForm::kUtf16Le) bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace prune_detail
