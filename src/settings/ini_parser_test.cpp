#include "settings/ini_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/ini_value.h"

namespace {

using std::string_literals::operator""s;

/// The value of key `test` in section `common` of a file of `bytes`, as the lookup delivers it.
Text TestValue(std::string_view bytes) {
  return FindIniValue(DecodeIniFile(bytes), u"common", u"test");
}

/// `text` in UTF-16, little-endian or big-endian.
std::string Utf16(TextView text, bool big_endian) {
  std::string bytes;
  for (char16_t c : text) {
    char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

struct IniCase {
  std::string bytes;
  Text value;
};

const std::vector<IniCase> kIniCases = {
    // The plain form and its line ends.
    {"[common]\r\ntest=1\r\n", u"1"},
    {"[common]\ntest=1\n", u"1"},
    {"[common]\rtest=1\r", u"1"},
    {"[common]\ntest=1", u"1"},
    {"[other]\r\nx=2\r\n\r\n[common]\r\nfoo=3\r\ntest=1\r\nbar=4\r\n", u"1"},
    // No key test in [common].
    {"", u""},
    {"test=1\r\n", u""},
    {"[other]\r\ntest=1\r\n", u""},
    {"[common]\r\n", u""},
    {"[common]\r\ntests=1\r\ntes=1\r\n", u""},
    {"[common]\r\ntest=\r\n", u""},
    {"[common]\r\ntest\r\n", u""},
    {"[common]\r\n  Test  \r\ntest=1\r\n", u""},
    {"[common]\r\n[other]\r\ntest=1\r\n", u""},
    {"[commons]\r\ntest=1\r\n", u""},
    // Names match regardless of case.
    {"[COMMON]\r\nTEST=1\r\n", u"1"},
    {"[Common]\r\nTeSt=1\r\n", u"1"},
    // Blanks around lines, names and values.
    {"  [common]  \r\n\t test \t=\t 1 \t\r\n", u"1"},
    {"[ common ]\r\ntest=1\r\n", u"1"},
    {"[common] ; the settings\r\ntest=1\r\n", u"1"},
    {"[common]\r\ntest=1\x1A", u"1"},
    {"[common]\r\n\x1A\v\ftest\x1A=\x1A\v\f1\v\f\r\n", u"1"},
    {"\v[common]\f\r\ntest=1\r\n", u"1"},
    {"[common]\r\ntest=\xA0"
     "1\x1C\r\n",
     u"\u00A0"
     u"1\u001C"},
    {"[common]\r\ntest=1 2\r\n", u"1 2"},
    {std::string("[common]\r\ntest=1\0junk\r\n", 19), u"1"},
    {std::string("[common]\r\ntest=\0"
                 "1\r\n",
                 16),
     u""},
    {std::string("[common]\r\ntest=\"1\0\"\r\n", 18), u"\"1"},
    {"[common]\r\ntest=a=b\r\n", u"a=b"},
    {"[common]\r\ntest = 1;2\r\n", u"1;2"},
    // One pair of matching quotes goes; what is inside stays as it is.
    {"[common]\r\ntest=\"1\"\r\n", u"1"},
    {"[common]\r\ntest='1'\r\n", u"1"},
    {"[common]\r\ntest=\"1 \"\r\n", u"1 "},
    {"[common]\r\ntest=  \" 1\"  \r\n", u" 1"},
    {"[common]\r\ntest=\"\"1\"\"\r\n", u"\"1\""},
    {"[common]\r\ntest=\"1'\r\n", u"\"1'"},
    {"[common]\r\ntest=\"1\r\n", u"\"1"},
    {"[common]\r\ntest=\"\r\n", u"\""},
    {"[common]\r\ntest=\"\"\r\n", u""},
    // Comments.
    {"[common]\r\n;test=1\r\n", u""},
    {"[common]\r\n  ; test=1\r\ntest=2\r\n", u"2"},
    {";[other]\r\n[common]\r\ntest=1\r\n", u"1"},
    {"[common]\r\n#test=1\r\ntest=2\r\n", u"2"},
    // The first section and the first key of the names count.
    {"[common]\r\ntest=1\r\ntest=2\r\n", u"1"},
    {"[common]\r\nx=0\r\n[common]\r\ntest=1\r\n", u""},
    {"[common]\r\ntest=2\r\n[common]\r\ntest=1\r\n", u"2"},
    // Lines that are neither sections nor keys are passed over.
    {"[common\r\n[common]\r\ngarbage\r\n\x01\x02\r\n[\r\n[x\r\ntest=1\r\n", u"1"},
    {"[common\r\ntest=1\r\n", u""},
    {"[]\r\ntest=1\r\n[common]\r\ntest=2\r\n", u"2"},
    {"[common]\rtest=1\nfoo=2\n", u"1"},
    {"\x7F"
     "ELF\x02\x01\x01\0\0\0[common]\r\ntest=1\r\n",
     u""},
    // Encodings by byte-order mark; Windows-1252 without one.
    {"\xEF\xBB\xBF[common]\r\ntest=\xC3\xA4\r\n", u"\u00E4"},
    {"\xEF\xBB\xBF[common]\r\ntest=1\r\nx=\xFF\r\n", u"1"},
    {"\xEF\xBB\xBF[common]\r\ntest=\xFF"
     "1\r\n",
     u"\uFFFD"
     u"1"},
    {"[common]\r\ntest=\xE4\x80\r\n", u"\u00E4\u20AC"},
    {"[common]\r\ntest=\xEF\xBC\x91\r\n", u"\u00EF\u00BC\u2018"},
    {Utf16(u"\uFEFF[common]\r\ntest=1\u203A\r\n", false), u"1\u203A"},
    {Utf16(u"\uFEFF[common]\ntest=1\u203A", true), u"1\u203A"},
    {Utf16(u"[common]\r\ntest=1\r\n", false), u""},
};

TEST(IniParserTest, Table) {
  for (const IniCase& c : kIniCases) {
    EXPECT_EQ(TestValue(c.bytes), c.value) << "file \"" << c.bytes << "\"";
  }
}

TEST(IniParserTest, LooksUpAnySectionAndKeyFoldingOnlyAsciiCase) {
  const Text tools = u"[Tools]\nPath = C:\\Tools\n[common]\ntest=1\nmode = 'fast'\n";
  const struct {
    Text text;
    Text section;
    Text key;
    Text value;
  } cases[] = {
      {tools, u"tools", u"path", u"C:\\Tools"},
      {tools, u"common", u"MODE", u"fast"},
      {tools, u"tools", u"test", u""},
      {u"[\u00C4]\ntest=1\n", u"\u00E4", u"test", u""},
      {u"[\u00C4]\ntest=1\n", u"\u00C4", u"TEST", u"1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindIniValue(c.text, c.section, c.key), c.value)
        << NativeFromText(c.section) << "/" << NativeFromText(c.key);
  }
}

TEST(IniParserTest, DeliversAtMostTheLongestValue) {
  std::string value(kMaxIniValue, '0');
  EXPECT_EQ(TestValue("[common]\ntest=" + value + "1\n"), Text(kMaxIniValue, u'0'));
  EXPECT_EQ(TestValue("[common]\ntest=" + value.substr(1) + "1\n"),
            Text(kMaxIniValue - 1, u'0') + u"1");
  // The quotes go before the value is cut.
  EXPECT_EQ(TestValue("[common]\ntest=\"" + value + "1\"\n"), Text(kMaxIniValue, u'0'));
}

TEST(IniParserTest, ReadsOnlyTheStartOfAHugeFile) {
  std::string head = "[common]\r\ntest=1\r\n";
  std::string padding = ";" + std::string(kMaxIniFileBytes, 'x') + "\r\n";
  EXPECT_EQ(TestValue(head + padding), u"1");
  EXPECT_EQ(TestValue("[common]\r\n" + padding + "test=1\r\n"), u"");
}

TEST(IniParserTest, DropsTheLineThatTheCutFallsInto) {
  // Cut after "test=1" of "test=10": the cut value must not be delivered.
  std::string start = "[common]\r\n";
  std::string filler = ";" + std::string(kMaxIniFileBytes - start.size() - 1 - 2 - 6, 'x');
  std::string bytes = start + filler + "\r\ntest=10\r\n";
  ASSERT_EQ(bytes.substr(0, kMaxIniFileBytes).substr(kMaxIniFileBytes - 6), "test=1");
  EXPECT_EQ(TestValue(bytes), u"");
  // A line that ends right at the cut is whole and counts.
  EXPECT_EQ(TestValue(start + filler.substr(3) + "\r\ntest=1\r\n" + "more"), u"1");
  // UTF-16 is cut the same way.
  Text text = u"\uFEFF[common]\r\n;" + Text(kMaxIniFileBytes / 2 - 1 - 10 - 1 - 2 - 6, u'x') +
              u"\r\ntest=10\r\n";
  std::string utf16 = Utf16(text, false);
  ASSERT_EQ(utf16.substr(kMaxIniFileBytes - 12, 12), Utf16(u"test=1", false));
  EXPECT_EQ(TestValue(utf16), u"");
}

}  // namespace
