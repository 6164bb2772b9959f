#include "encoding/file_encoding.h"

#include "encoding/code_page.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

void DecodeUtf16(std::string_view bytes, bool big_endian, Text* out) {
  size_t units = bytes.size() / 2;  // an odd last byte is dropped
  size_t start = out->size();
  out->resize(start + units);
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  char16_t* dest = out->data() + start;
  int high = big_endian ? 0 : 1;
  for (size_t i = 0; i < units; ++i, p += 2) {
    dest[i] = static_cast<char16_t>((p[high] << 8) | p[1 - high]);
  }
}

void EncodeUtf16(TextView text, bool big_endian, std::string* out) {
  size_t start = out->size();
  out->resize(start + 2 * text.size());
  char* dest = out->data() + start;
  int high = big_endian ? 0 : 1;
  for (char16_t unit : text) {
    dest[high] = static_cast<char>(unit >> 8);
    dest[1 - high] = static_cast<char>(unit & 0xFF);
    dest += 2;
  }
}

}  // namespace

EncodingMark DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) return {FileEncoding::kUtf8, kUtf8Mark.size()};
  if (bytes.starts_with(kUtf16LeMark)) return {FileEncoding::kUtf16Le, kUtf16LeMark.size()};
  if (bytes.starts_with(kUtf16BeMark)) return {FileEncoding::kUtf16Be, kUtf16BeMark.size()};
  return {FileEncoding::kAnsi, 0};
}

std::string_view ByteOrderMark(FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::kUtf8:
      return kUtf8Mark;
    case FileEncoding::kUtf16Le:
      return kUtf16LeMark;
    case FileEncoding::kUtf16Be:
      return kUtf16BeMark;
    case FileEncoding::kAnsi:
      break;
  }
  return AnsiByteOrderMark();
}

bool DecodeText(FileEncoding encoding, std::string_view bytes, Text* out) {
  size_t before = out->size();
  switch (encoding) {
    case FileEncoding::kAnsi:
      DecodeAnsi(bytes, out);
      break;
    case FileEncoding::kUtf8:
      if (!DecodeUtf8(bytes, out)) return false;
      break;
    case FileEncoding::kUtf16Le:
    case FileEncoding::kUtf16Be:
      DecodeUtf16(bytes, encoding == FileEncoding::kUtf16Be, out);
      break;
  }
  return bytes.empty() || out->size() > before;
}

void EncodeText(FileEncoding encoding, TextView text, std::string* out) {
  switch (encoding) {
    case FileEncoding::kAnsi:
      return EncodeAnsi(text, out);
    case FileEncoding::kUtf8:
      return EncodeUtf8(text, out);
    case FileEncoding::kUtf16Le:
    case FileEncoding::kUtf16Be:
      return EncodeUtf16(text, encoding == FileEncoding::kUtf16Be, out);
  }
}
