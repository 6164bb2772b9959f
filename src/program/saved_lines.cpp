#include "program/saved_lines.h"

UnitForm FormOf(FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::kUtf16Le:
      return UnitForm::kUtf16Le;
    case FileEncoding::kUtf16Be:
      return UnitForm::kUtf16Be;
    case FileEncoding::kAnsi:
    case FileEncoding::kUtf8:
      break;
  }
  return UnitForm::kByte;
}

std::string_view CrLf(UnitForm form) {
  using namespace std::string_view_literals;
  switch (form) {
    case UnitForm::kUtf16Le:
      return "\r\0\n\0"sv;
    case UnitForm::kUtf16Be:
      return "\0\r\0\n"sv;
    case UnitForm::kByte:
      break;
  }
  return "\r\n"sv;
}

Batcher::Batcher(const std::function<bool(ContentStream::Slices)>& write) : write_(write) {
  buffer_.reserve(kBuffer);
}

bool Batcher::Flush() {
  if (count_ > 0 && ok_) ok_ = write_(ContentStream::Slices(slices_.data(), count_));
  count_ = 0;
  buffer_.clear();
  return ok_;
}
