#include "run/command_line.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;
using Arguments = std::vector<Text>;

TEST(CommandLineTest, Split) {
  struct Case {
    Text line;
    Arguments arguments;
  };
  const Case cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"prune.exe", {u"prune.exe"}},
      {u"prune.exe C:\\jobs\\part.nc", {u"prune.exe", u"C:\\jobs\\part.nc"}},
      {u"  prune.exe   C:\\jobs\\part.nc  ", {u"prune.exe", u"C:\\jobs\\part.nc"}},
      // A bare pair of double quotes before the path counts as no argument.
      {u"prune.exe \"\" C:\\jobs\\part.nc", {u"prune.exe", u"C:\\jobs\\part.nc"}},
      {u"prune.exe \"\"\"\" \"\" C:\\jobs\\part.nc", {u"prune.exe", u"C:\\jobs\\part.nc"}},
      {u"prune.exe \"\"C:\\jobs\\part.nc", {u"prune.exe", u"C:\\jobs\\part.nc"}},
      {u"prune.exe \"\"", {u"prune.exe"}},
      {u"\"\" prune.exe", {u"prune.exe"}},
      // Quoted segments keep blanks and join with unquoted ones.
      {u"prune.exe \"C:\\my jobs\\part 1.nc\"", {u"prune.exe", u"C:\\my jobs\\part 1.nc"}},
      {u"\"C:\\Program Files\\prune.exe\" x.nc", {u"C:\\Program Files\\prune.exe", u"x.nc"}},
      {u"a\"b c\"d", {u"ab cd"}},
      {u"prune C:\\\"my jobs\"\\part.nc", {u"prune", u"C:\\my jobs\\part.nc"}},
      {u"prune \"a b\"c d", {u"prune", u"a bc", u"d"}},
      {u"prune x\"\" y", {u"prune", u"x", u"y"}},
      {u"prune \"\"\"x y\"", {u"prune", u"x y"}},
      {u"prune \"\"\" x.nc", {u"prune", u" x.nc"}},  // a pair, then an unclosed quote
      // A backslash is an ordinary character, also before a double quote.
      {u"prune \"C:\\jobs\\\" x.nc", {u"prune", u"C:\\jobs\\", u"x.nc"}},
      {u"prune a\\\"b c\"", {u"prune", u"a\\b c"}},
      {u"prune \\\\server\\share\\x.nc", {u"prune", u"\\\\server\\share\\x.nc"}},
      // An unclosed quote runs to the end.
      {u"prune \"C:\\my jobs\\part.nc", {u"prune", u"C:\\my jobs\\part.nc"}},
      {u"prune \"a\tb\r\nc", {u"prune", u"a\tb\r\nc"}},
      // Every code from 1 to 32 separates; U+0000 and U+00A0 do not.
      {u"prune\tpart.nc\x01x\x1Fy\r\nz", {u"prune", u"part.nc", u"x", u"y", u"z"}},
      {u"prune a\u00A0b", {u"prune", u"a\u00A0b"}},
      {u"prune a\0b"s, {u"prune", u"a\0b"s}},
      {u"prune \"x\ty\"\t\"\"\tz", {u"prune", u"x\ty", u"z"}},
      {u"prune Auftr\u00E4ge\\Rohr\u00D8.nc", {u"prune", u"Auftr\u00E4ge\\Rohr\u00D8.nc"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << NativeFromText(c.line);
  }
}

TEST(CommandLineTest, PathFromCommandLine) {
  struct Case {
    Text line;
    Text path;
  };
  const Case cases[] = {
      {u"", u""},
      {u"prune.exe", u""},
      {u"prune.exe \"\"", u""},
      {u"prune.exe \"\" C:\\jobs\\part.nc", u"C:\\jobs\\part.nc"},
      {u"prune.exe \"C:\\my jobs\\part.nc\" ignored", u"C:\\my jobs\\part.nc"},
      {u"\"C:\\Program Files\\prune.exe\"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathFromCommandLine(c.line), c.path) << NativeFromText(c.line);
  }
}

TEST(CommandLineTest, PathFromArgumentsSkipsEmptyOnes) {
  struct Case {
    Arguments arguments;
    Text path;
  };
  const Case cases[] = {
      {{}, u""},
      {{u"prune"}, u""},
      {{u"prune", u""}, u""},
      {{u"prune", u"", u""}, u""},
      {{u"prune", u"/a/part.nc"}, u"/a/part.nc"},
      {{u"prune", u"", u"/a/part.nc"}, u"/a/part.nc"},
      {{u"prune", u"/a/part.nc", u"/b/other.nc"}, u"/a/part.nc"},
      {{u"prune", u" "}, u" "},  // used unchanged
      {{u"/a/part.nc"}, u""},    // the program name never counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathFromArguments(c.arguments), c.path);
  }
}

}  // namespace
