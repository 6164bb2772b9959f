#include "settings/ini_parser.h"

#include "base/utf8.h"
#include "encoding/cp1252.h"
#include "encoding/file_encoding.h"
#include "settings/ini_value.h"

namespace {

/// Decodes UTF-8 as the platform's service does: a byte that starts no well-formed sequence
/// becomes U+FFFD, and the rest of the file still counts.
void DecodeUtf8Replacing(std::string_view bytes, Text* out) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* end = p + bytes.size();
  while (p < end) {
    char32_t code_point;
    size_t length = Utf8Sequence(p, end, &code_point);
    if (length == 0) {
      code_point = 0xFFFD;
      length = 1;
    }
    AppendUtf16(code_point, out);
    p += length;
  }
}

/// Spaces, tabs, vertical tabs and form feeds, and the end-of-file mark (Ctrl-Z) that old editors
/// leave behind.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\x1A';
}

TextView TrimBlanks(TextView text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool SameName(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

/// Cuts the next line, without its line end, from the front of `text`.
TextView TakeLine(TextView* text) {
  size_t end = text->find_first_of(u"\r\n");
  if (end == TextView::npos) end = text->size();
  TextView line = text->substr(0, end);
  size_t next = end;
  if (next < text->size()) next += text->substr(next).starts_with(u"\r\n") ? 2 : 1;
  text->remove_prefix(next);
  return line;
}

/// The value as delivered: up to a null character, which ends it as it ends a C string, without
/// one pair of matching quotes around it, and cut to length.
Text DeliveredValue(TextView value) {
  value = value.substr(0, value.find(u'\0'));
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return Text(value.substr(0, kMaxIniValue));
}

}  // namespace

Text DecodeIniFile(std::string_view bytes) {
  bool cut = bytes.size() > kMaxIniFileBytes;
  if (cut) bytes = bytes.substr(0, kMaxIniFileBytes);
  EncodingMark mark = DetectEncoding(bytes);
  bytes.remove_prefix(mark.mark_length);
  Text text;
  switch (mark.encoding) {
    case FileEncoding::kAnsi:
      DecodeCp1252(bytes, &text);
      break;
    case FileEncoding::kUtf8:
      DecodeUtf8Replacing(bytes, &text);
      break;
    case FileEncoding::kUtf16Le:
    case FileEncoding::kUtf16Be:
      DecodeText(mark.encoding, bytes, &text);
      break;
  }
  if (cut) {
    size_t last_line_end = text.find_last_of(u"\r\n");
    text.resize(last_line_end == Text::npos ? 0 : last_line_end + 1);
  }
  return text;
}

Text FindIniValue(TextView text, TextView section, TextView key) {
  bool in_section = false;
  while (!text.empty()) {
    TextView line = TrimBlanks(TakeLine(&text));
    size_t close = line.rfind(u']');
    if (line.starts_with(u'[') && close != TextView::npos) {
      // Only the first section of the name counts.
      if (in_section) return Text();
      in_section = SameName(TrimBlanks(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section || line.empty() || line.starts_with(u';')) continue;
    // A line without "=" names a key without a value.
    size_t equals = line.find(u'=');
    TextView value = equals == TextView::npos ? TextView() : line.substr(equals + 1);
    if (SameName(TrimBlanks(line.substr(0, equals)), key)) return DeliveredValue(TrimBlanks(value));
  }
  return Text();
}
