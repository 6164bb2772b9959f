#include <gtest/gtest.h>

#include <filesystem>

#include "settings/ini_value.h"
#include "testing/path_recorder_win32.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(IniValueWin32Test, DeliversTheValueOrNothing) {
  TempFolder folder;
  folder.Write("prune.ini", "[other]\r\ntest=7\r\n[Common]\r\nTEST=  1  \r\nquoted=\"2\"\r\nlong=" +
                                std::string(2047, '0') + "1\r\n");
  Text path = folder.PathOf("prune.ini");
  Text missing = folder.PathOf("missing.ini");

  struct Case {
    const char16_t* section;
    const char16_t* key;
    Text path;
    Text value;
  };
  const Case cases[] = {
      {u"common", u"test", path, u"1"},
      {u"common", u"quoted", path, u"2"},
      {u"common", u"long", path, Text(2047, u'0')},
      {u"other", u"test", path, u"7"},
      {u"common", u"missing", path, u""},
      {u"missing", u"test", path, u""},
      {u"common", u"test", missing, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadIniValue(c.section, c.key, c.path), c.value)
        << fs::path(c.section).string() << " " << fs::path(c.key).string();
  }
}

TEST(IniValueWin32Test, SettingsPathGoesToTheSystemInItsLongForm) {
  TempFolder folder;
  folder.Write("prune.ini", "[common]\r\ntest=1\r\n");
  for (const Text& path : {folder.PathOf("prune.ini"), folder.PathOf("missing.ini")}) {
    PathRecorder recorder;
    ReadIniValue(u"common", u"test", path);
    ASSERT_EQ(PathRecorder::Paths().size(), 1u);
    EXPECT_TRUE(PathRecorder::Paths()[0].starts_with(L"\\\\?\\"))
        << fs::path(PathRecorder::Paths()[0]).string();
  }
}

}  // namespace
