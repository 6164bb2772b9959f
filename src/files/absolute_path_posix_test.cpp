#include <gtest/gtest.h>

#include <filesystem>

#include "files/absolute_path.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(AbsolutePathPosixTest, AbsolutePathKeepsWhatFollowsALink) {
  // The system goes back from where the link leads: the report names that file.
  TempFolder folder;
  fs::create_directories(folder.At("a"));
  fs::create_directories(folder.At("x/y"));
  fs::create_symlink(folder.At("x/y"), folder.At("a/linkdir"));
  Text base = folder.PathOf("");
  EXPECT_EQ(AbsolutePath(base + u"a/linkdir/../part.nc"), base + u"a/linkdir/../part.nc");
  EXPECT_EQ(AbsolutePath(base + u"a/x/../part.nc"), base + u"a/part.nc");
  EXPECT_EQ(AbsolutePath(base + u"a/../a/linkdir/part.nc"), base + u"a/linkdir/part.nc");
}

TEST(AbsolutePathPosixTest, AbsolutePath) {
  const Text here = TextFromNative(fs::current_path().string());
  const Text parent = TextFromNative(fs::current_path().parent_path().string());
  struct Case {
    Text path;
    Text absolute;
  };
  const Case cases[] = {
      {u"", u""},
      {u"/", u"/"},
      {u"/a/b.nc", u"/a/b.nc"},
      {u"b.nc", here + u"/b.nc"},
      {u"a/b.nc", here + u"/a/b.nc"},
      {u".", here},
      {u"./b.nc", here + u"/b.nc"},
      {u"..", parent},
      {u"../b.nc", parent + u"/b.nc"},
      {u"a/../b.nc", here + u"/b.nc"},
      {u"a/", here + u"/a/"},
      // How an absolute path is folded: PathTest.FoldedPath.
      {u"/a/./b/../c.nc", u"/a/c.nc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AbsolutePath(c.path), c.absolute) << NativeFromText(c.path);
  }
}

}  // namespace
