#include "program/prune.h"

#include "program/prune_detail.h"

using prune_detail::Examiner;
using prune_detail::LineWalk;

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

const MarkerSet& LineWalk<ProgramBytes>::SelectMarkerSet(const ProgramBytes& program) {
  return MarkerSetOf(program.text(), program.form_);
}

std::string LineWalk<ProgramBytes>::Encoded(const ProgramBytes& program, TextView ascii) {
  return EncodedIn(program.form_, ascii);
}

std::string_view LineWalk<ProgramBytes>::FirstLine(std::string_view text, UnitForm form) {
  const size_t width = UnitWidth(form);
  size_t end = 0;
  while (end + width <= text.size() && UnitAt(form, text, end) != u'\r' &&
         UnitAt(form, text, end) != u'\n') {
    end += width;
  }
  return text.substr(0, end);
}

char16_t LineWalk<ProgramBytes>::UnitAt(UnitForm form, std::string_view bytes, size_t at) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  switch (form) {
    case UnitForm::kUtf16Le:
      return ::UnitAt<UnitForm::kUtf16Le>(p);
    case UnitForm::kUtf16Be:
      return ::UnitAt<UnitForm::kUtf16Be>(p);
    case UnitForm::kByte:
      break;
  }
  return ::UnitAt<UnitForm::kByte>(p);
}

const MarkerSet& LineWalk<ProgramBytes>::MarkerSetOf(std::string_view text, UnitForm form) {
  std::string_view first = FirstLine(text, form);
  const size_t width = UnitWidth(form);
  return ::SelectMarkerSet(first.size() / width,
                           [&](size_t i) { return UnitAt(form, first, i * width); });
}

std::string LineWalk<ProgramBytes>::EncodedIn(UnitForm form, TextView ascii) {
  std::string bytes;
  for (char16_t unit : ascii) {
    char c = static_cast<char>(unit);
    if (form == UnitForm::kUtf16Be) bytes.push_back('\0');
    bytes.push_back(c);
    if (form == UnitForm::kUtf16Le) bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace prune_detail
