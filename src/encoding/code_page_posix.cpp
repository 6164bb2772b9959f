// Without a system ANSI code page, Windows-1252 stands in for it, as the programs' home platform
// maps it; UTF-8 is our own strict codec.
#include "base/utf8.h"
#include "encoding/code_page.h"
#include "encoding/cp1252.h"

void PrepareAnsiCodePage() {}

bool AnsiIsSingleByte() { return true; }

void DecodeAnsi(std::string_view bytes, Text* out) { DecodeCp1252(bytes, out); }

void EncodeAnsi(TextView text, std::string* out) { EncodeCp1252(text, out); }

std::string_view AnsiByteOrderMark() { return {}; }

bool DecodeUtf8(std::string_view bytes, Text* out) { return DecodeUtf8Strict(bytes, out); }

bool IsDecodableUtf8(std::string_view bytes) {
  return IsWellFormedUtf8(bytes, IsWellFormedUtf8Segment);
}

void EncodeUtf8(TextView text, std::string* out) { EncodeUtf8Replacing(text, out); }
