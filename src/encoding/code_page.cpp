#include "encoding/code_page.h"

namespace {

bool ConversionsKeepEveryByte() {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  Text text;
  DecodeAnsi(all, &text);
  if (text.size() != all.size()) return false;
  for (int byte = 0; byte < 256; ++byte) {
    // Line breaks, markers and blanks are ASCII: they must be found in the bytes exactly where
    // they are in the text.
    bool ascii = byte < 0x80;
    if (ascii ? text[byte] != byte : text[byte] < 0x80) return false;
  }
  std::string back;
  EncodeAnsi(text, &back);
  return back == all;
}

}  // namespace

bool AnsiKeepsEveryByte() {
  static const bool keeps = AnsiIsSingleByte() && ConversionsKeepEveryByte();
  return keeps;
}
