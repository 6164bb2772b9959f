#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace {

struct ConversionCase {
  Text text;
  std::optional<int32_t> value;  // empty where the conversion fails
};

const std::vector<ConversionCase> kConversionCases = {
    {u"", std::nullopt},
    {u"1", 1},
    {u"+1", 1},
    {u"01", 1},
    {u"0001", 1},
    {u" 1", 1},
    {u"    1", 1},
    {u"$1", 1},
    {u"x1", 1},
    {u"X1", 1},
    {u"0x1", 1},
    {u"0X1", 1},
    {u"$00000001", 1},
    {u"-$FFFFFFFF", 1},
    {u"-0XFFFFFFFF", 1},
    {u"-xffffffff", 1},
    {u"1 ", std::nullopt},
    {u"\t1", std::nullopt},
    {u"1.0", std::nullopt},
    {u"1x", std::nullopt},
    {u"true", std::nullopt},
    {u"yes", std::nullopt},
    {u"+ 1", std::nullopt},
    {u"--1", std::nullopt},
    {u"+-1", std::nullopt},
    {u"0x", std::nullopt},
    {u"$", std::nullopt},
    {u"x", std::nullopt},
    {u"+", std::nullopt},
    {u"-", std::nullopt},
    {u"   ", std::nullopt},
    {u"2", 2},
    {u"-1", -1},
    {u"2147483647", 2147483647},
    {u"-2147483648", INT32_MIN},
    {u"2147483648", std::nullopt},
    {u"-2147483649", std::nullopt},
    {u"4294967297", std::nullopt},
    {u"$FFFFFFFF", -1},
    {u"$100000001", std::nullopt},
    {u"\uFF11", std::nullopt},
    {Text(2047, u'0'), 0},
    // Beyond the table of the settings file's behaviour.
    {u"$000000001", 1},
    {u"0x000000000000FFFFFFFF", -1},
    {u"$7FFFFFFF", 2147483647},
    {u"$80000000", INT32_MIN},
    {u"-$80000000", INT32_MIN},
    {u"-$1", -1},
    {u"$aBcD", 0xABCD},
    {u"$G", std::nullopt},
    {u"$ 1", std::nullopt},
    {u"0 x1", std::nullopt},
    {u"00x1", std::nullopt},
    {u"-0", 0},
    {u"+0", 0},
    {u"0", 0},
    {u"00000000000000000000002147483647", 2147483647},
    {u"99999999999999999999999999999999", std::nullopt},
    {u"-99999999999999999999999999999999", std::nullopt},
    {u"1 1", std::nullopt},
    {u"1\t", std::nullopt},
    {u"\u00A01", std::nullopt},
    {u"\u30001", std::nullopt},
    {u"\uFF04"
     u"1",
     std::nullopt},
    {Text(u"1\0", 2), std::nullopt},
};

TEST(ConvertIntegerTest, Table) {
  for (const ConversionCase& c : kConversionCases) {
    EXPECT_EQ(ConvertInteger(c.text), c.value)
        << "text \"" << NativeFromText(TextView(c.text).substr(0, 40)) << "\"";
  }
}

TEST(SettingsReaderTest, MissingFileGivesTheDefault) {
  SettingsReader reader(u"/nonexistent folder/prune.ini");
  EXPECT_EQ(reader.ReadText(u"common", u"test"), u"");
  EXPECT_EQ(reader.ReadInteger(u"common", u"test", 0), 0);
  EXPECT_EQ(reader.ReadInteger(u"common", u"test", 7), 7);
}

TEST(SettingsReaderTest, ConvertsTheValueAndFallsBackToTheDefault) {
  TempFolder folder;
  folder.Write("prune.ini", "[common]\r\ntest=$FFFFFFFF\r\nword=yes\r\nempty=\r\n");
  SettingsReader reader(folder.PathOf("prune.ini"));
  EXPECT_EQ(reader.ReadInteger(u"common", u"test", 0), -1);
  EXPECT_EQ(reader.ReadInteger(u"common", u"word", 5), 5);
  EXPECT_EQ(reader.ReadInteger(u"common", u"empty", 6), 6);
  EXPECT_EQ(reader.ReadInteger(u"common", u"missing", 7), 7);
  EXPECT_EQ(reader.ReadInteger(u"other", u"test", 8), 8);
  EXPECT_EQ(reader.ReadText(u"common", u"word"), u"yes");
}

}  // namespace
