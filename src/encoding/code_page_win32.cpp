// The text conversions of the Windows code page services: the system's ANSI code page and UTF-8.
// Every conversion asks for the length of its result first and then fills exactly that much. The
// one call that can refuse the code page, GetCPInfo, goes through the seam in
// system_calls_win32.h.
#include <windows.h>

#include <algorithm>

#include "base/utf8.h"
#include "encoding/code_page.h"
#include "encoding/encoding_failures.h"
#include "files/system_calls_win32.h"

namespace {

// Text is encoded in chunks of at most this many code units, so that even three bytes for each
// still fit the platform's int count.
constexpr size_t kMaxEncodeChunk = size_t{1} << 28;

UINT AnsiCodePage() {
  static const UINT code_page = GetACP();
  return code_page;
}

/// Appends `bytes` converted from `code_page`; false, appending nothing, when the conversion
/// yields nothing for bytes that are there.
bool Decode(UINT code_page, DWORD flags, std::string_view bytes, Text* out) {
  if (bytes.empty()) return true;
  // The bytes of one file, which is smaller than 2 GiB.
  int size = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
  if (length <= 0) return false;
  size_t start = out->size();
  out->resize(start + length);
  auto* dest = reinterpret_cast<wchar_t*>(out->data() + start);
  MultiByteToWideChar(code_page, flags, bytes.data(), size, dest, length);
  return true;
}

/// Appends `text` converted to `code_page`, with the platform's choice for what it lacks.
void Encode(UINT code_page, TextView text, std::string* out) {
  while (!text.empty()) {
    size_t chunk = std::min(text.size(), kMaxEncodeChunk);
    // A surrogate pair stays in one chunk.
    if (chunk < text.size() && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF) --chunk;
    auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    int size = static_cast<int>(chunk);
    int length = WideCharToMultiByte(code_page, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (length > 0) {
      size_t start = out->size();
      out->resize(start + length);
      WideCharToMultiByte(code_page, 0, wide, size, out->data() + start, length, nullptr, nullptr);
    }
    text.remove_prefix(chunk);
  }
}

}  // namespace

void PrepareAnsiCodePage() {
  CPINFO info;
  if (!os::GetCPInfo(AnsiCodePage(), &info)) RaiseCodePageFailure();
}

bool AnsiIsSingleByte() {
  CPINFO info;
  return os::GetCPInfo(AnsiCodePage(), &info) && info.MaxCharSize == 1;
}

void DecodeAnsi(std::string_view bytes, Text* out) { Decode(AnsiCodePage(), 0, bytes, out); }

void EncodeAnsi(TextView text, std::string* out) { Encode(AnsiCodePage(), text, out); }

std::string_view AnsiByteOrderMark() {
  return AnsiCodePage() == CP_UTF8 ? std::string_view("\xEF\xBB\xBF") : std::string_view();
}

bool DecodeUtf8(std::string_view bytes, Text* out) {
  return Decode(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, out);
}

bool IsDecodableUtf8(std::string_view bytes) {
  // The platform judges every segment of non-ASCII bytes, so that the answer is always its own.
  return IsWellFormedUtf8(bytes, [](std::string_view segment) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, segment.data(),
                               static_cast<int>(segment.size()), nullptr, 0) > 0;
  });
}

void EncodeUtf8(TextView text, std::string* out) { Encode(CP_UTF8, text, out); }
