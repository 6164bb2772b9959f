// The INI reader of the settings file: whatever the bytes, the lookup delivers at most 2047 code
// units and no line break, and a first section "common" with key "test" at the start wins.
#include "fuzz/fuzz_check.h"
#include "settings/ini_parser.h"
#include "settings/ini_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text text = DecodeIniFile(FuzzBytes(data, size));
  Text value = FindIniValue(text, u"common", u"test");
  FUZZ_CHECK(value.size() <= kMaxIniValue, "the value is longer than 2047 code units");
  FUZZ_CHECK(value.find_first_of(u"\r\n") == Text::npos, "the value holds a line break");

  Text first = u"[common]\r\ntest=1\r\n" + text;
  FUZZ_CHECK(FindIniValue(first, u"Common", u"TEST") == u"1", "the first key does not win");
  return 0;
}
