#include "base/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, NativeRoundTripOfWellFormedUtf8) {
  const std::string cases[] = {
      "", "/home/werkstatt/part.nc",
      "Auftr\xC3\xA4ge/Rohr \xC3\x98 40.nc",  // Aufträge/Rohr Ø 40.nc
      "\xE4\xB8\xAD\xF0\x9D\x84\x9E",         // U+4E2D U+1D11E
  };
  for (const std::string& bytes : cases) {
    EXPECT_EQ(NativeFromText(TextFromNative(bytes)), bytes) << bytes;
  }
  EXPECT_EQ(TextFromNative("\xC3\xA4\xF0\x9D\x84\x9E"), Text(u"\u00E4\U0001D11E"));
}

TEST(TextTest, NativeBytesThatAreNotUtf8SurviveTheRoundTrip) {
  // File names on POSIX systems are bytes; an ANSI-era name must still name the same file.
  const std::string cases[] = {
      "Auftr\xE4ge.nc",  // Latin-1 ä
      "\x80\xFF",        // bytes that never start UTF-8
      "\xC3",            // truncated sequence at the end
      "\xED\xA0\x80",    // encoded surrogate
      "a\xC0\x80z",      // overlong NUL
  };
  for (const std::string& bytes : cases) {
    Text text = TextFromNative(bytes);
    EXPECT_EQ(NativeFromText(text), bytes);
  }
  EXPECT_EQ(TextFromNative("a\xE4z"), Text(u"a\xDCE4z"));
}

TEST(TextTest, FillTemplate) {
  struct Case {
    TextView pattern;
    std::initializer_list<TextView> args;
    TextView expected;
  };
  const Case cases[] = {
      {u"Datei %s kann nicht ge\u00F6ffnet werden. %s",
       {u"/a/b.nc", u"Permission denied"},
       u"Datei /a/b.nc kann nicht ge\u00F6ffnet werden. Permission denied"},
      {u"\"%s\"", {u""}, u"\"\""},
      {u"%s%s", {u"a", u"b"}, u"ab"},
      {u"%s and %s", {u"one"}, u"one and %s"},  // too few arguments: the rest stays
      {u"%d %p %", {u"x"}, u"%d %p %"},         // only %s is filled here
      {u"%s", {u"%s"}, u"%s"},                  // an argument is not scanned again
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FillTemplate(c.pattern, c.args), c.expected);
  }
}

TEST(TextTest, HexDigits) {
  struct Case {
    uint64_t value;
    size_t digits;
    std::string expected;
  };
  const Case cases[] = {
      {0, 16, "0000000000000000"},
      {0x123AB, 16, "00000000000123AB"},
      {UINT64_MAX, 16, "FFFFFFFFFFFFFFFF"},
      {0xABCDEF, 4, "CDEF"},  // the lowest digits of a longer value
      {0xA, 1, "A"},
  };
  for (const Case& c : cases) EXPECT_EQ(HexDigits(c.value, c.digits), c.expected);
}

}  // namespace
