#include <gtest/gtest.h>
#include <windows.h>

#include "base/wide_win32.h"
#include "files/absolute_path.h"

namespace {

TEST(AbsolutePathWin32Test, AbsolutePathFoldsDotsAndKeepsLongPaths) {
  wchar_t folder[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
  Text working = TextFromWide(folder, length);
  if (working.back() != u'\\') working += u'\\';
  Text long_name(300, u'x');
  struct Case {
    Text path;
    Text absolute;
  };
  const Case cases[] = {
      {u"part.nc", working + u"part.nc"},
      {u"C:\\jobs\\..\\cut\\.\\part.nc", u"C:\\cut\\part.nc"},
      {u"C:/jobs/part.nc", u"C:\\jobs\\part.nc"},
      {u"C:\\" + long_name + u"\\part.nc", u"C:\\" + long_name + u"\\part.nc"},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(AbsolutePath(c.path), c.absolute);
}

}  // namespace
