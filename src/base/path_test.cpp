#include "base/path.h"

#include <gtest/gtest.h>

namespace {

struct ExtensionCase {
  TextView path;
  TextView extension;
  TextView result;
};

void ExpectReplacements(TextView stops, std::initializer_list<ExtensionCase> cases) {
  for (const ExtensionCase& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.path, c.extension, stops), c.result)
        << NativeFromText(Text(c.path));
  }
}

TEST(PathTest, ExtensionWithWindowsStops) {
  ExpectReplacements(kWindowsExtensionStops,
                     {
                         {u"C:\\jobs\\part.nc", u".tap", u"C:\\jobs\\part.tap"},
                         {u"C:\\jobs\\part", u".tap", u"C:\\jobs\\part.tap"},
                         {u"C:\\jobs.old\\part", u".tap", u"C:\\jobs.old\\part.tap"},
                         {u"C:\\jobs.old\\part.nc", u".tap", u"C:\\jobs.old\\part.tap"},
                         {u"C:\\jobs\\part.", u".tap", u"C:\\jobs\\part.tap"},
                         {u"part.", u".tap", u"part.tap"},
                         {u"part", u".tap", u"part.tap"},
                         {u"x.TAP", u".tap", u"x.tap"},
                         {u"C:\\jobs\\part.tap", u".tap", u"C:\\jobs\\part.tap"},
                         {u"C:\\jobs\\part.nc.bak", u".tap", u"C:\\jobs\\part.nc.tap"},
                         {u"C:part", u".tap", u"C:part.tap"},
                         {u"C:.nc", u".tap", u"C:.tap"},
                         {u"\\\\server\\share.d\\part", u".tap", u"\\\\server\\share.d\\part.tap"},
                         {u"C:\\Tools\\prune.exe", u".ini", u"C:\\Tools\\prune.ini"},
                         {u"C:\\Tools\\prune", u".ini", u"C:\\Tools\\prune.ini"},
                         {u"", u".tap", u".tap"},
                         // A forward slash does not end the search here.
                         {u"C:/jobs.old/part", u".tap", u"C:/jobs.tap"},
                         {u"/a.b/c", u".tap", u"/a.tap"},
                     });
}

TEST(PathTest, ExtensionWithPosixStops) {
  ExpectReplacements(kPosixExtensionStops,
                     {
                         {u"/a.b/c", u".tap", u"/a.b/c.tap"},
                         {u"/a.b/c.nc", u".tap", u"/a.b/c.tap"},
                         {u"/home/cnc/part.nc", u".tap", u"/home/cnc/part.tap"},
                         {u"/home/cnc/part", u".tap", u"/home/cnc/part.tap"},
                         {u"/home/cnc/part.", u".tap", u"/home/cnc/part.tap"},
                         {u"part.", u".tap", u"part.tap"},
                         {u"x.TAP", u".tap", u"x.tap"},
                         {u"x.tap", u".tap", u"x.tap"},
                         {u"part.nc.bak", u".tap", u"part.nc.tap"},
                         {u"/home/cnc/Auftr\u00E4ge/Rohr \u00D8 40.nc", u".tap",
                          u"/home/cnc/Auftr\u00E4ge/Rohr \u00D8 40.tap"},
                         {u"/usr/local/bin/prune", u".ini", u"/usr/local/bin/prune.ini"},
                         {u"", u".ini", u".ini"},
                         // Backslash and colon are ordinary characters in POSIX names.
                         {u"C:\\jobs.old\\part", u".tap", u"C:\\jobs.tap"},
                         {u"/a/b:c.d", u".tap", u"/a/b:c.tap"},
                     });
}

TEST(PathTest, FolderAndName) {
  struct Case {
    TextView path;
    TextView separators;
    TextView folder;
    TextView name;
  };
  const Case cases[] = {
      {u"/jobs/part.nc", u"/", u"/jobs/", u"part.nc"},
      {u"/part.nc", u"/", u"/", u"part.nc"},
      {u"part.nc", u"/", u"", u"part.nc"},
      {u"jobs/", u"/", u"jobs/", u""},
      {u"", u"/", u"", u""},
      {u"a\\b/c", u"/", u"a\\b/", u"c"},  // a backslash is part of a POSIX name
      {u"C:\\Jobs\\Teil 1.nc", u"\\/", u"C:\\Jobs\\", u"Teil 1.nc"},
      {u"C:\\Jobs/Teil 1.nc", u"\\/", u"C:\\Jobs/", u"Teil 1.nc"},
      {u"\\\\server\\share\\prune.exe", u"\\/", u"\\\\server\\share\\", u"prune.exe"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FolderPart(c.path, c.separators), c.folder) << NativeFromText(Text(c.path));
    EXPECT_EQ(NamePart(c.path, c.separators), c.name) << NativeFromText(Text(c.path));
  }
}

TEST(PathTest, FoldedPath) {
  struct Case {
    TextView absolute;
    TextView folded;
  };
  const Case cases[] = {
      {u"/", u"/"},
      {u"/a/b.nc", u"/a/b.nc"},
      {u"/a/./b/../c.nc", u"/a/c.nc"},
      {u"/a/b/..", u"/a"},
      {u"/a/b/.", u"/a/b"},
      {u"/..", u"/"},
      {u"/../../a", u"/a"},
      {u"//a//b.nc", u"/a/b.nc"},
      {u"/a/b/", u"/a/b/"},
      {u"/Auftr\u00E4ge/Rohr \u00D8 40.nc", u"/Auftr\u00E4ge/Rohr \u00D8 40.nc"},
      {u"/tmp/link/../x", u"/tmp/x"},  // links are not followed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldedPath(c.absolute), c.folded) << NativeFromText(Text(c.absolute));
  }
}

TEST(PathTest, FoldedPathKeepsWhatFollowsALink) {
  // The system goes back from where a link leads, which the text does not show.
  auto is_link = [](TextView path) { return path == u"/a/link" || path == u"/a/b/link"; };
  struct Case {
    TextView absolute;
    TextView folded;
  };
  const Case cases[] = {
      {u"/a/link/../part.nc", u"/a/link/../part.nc"},
      {u"/a/link/x/../../part.nc", u"/a/link/x/../../part.nc"},
      {u"/a/./link//../part.nc", u"/a/link/../part.nc"},
      {u"/a/b/../link/../part.nc", u"/a/link/../part.nc"},  // ".." before the link folds
      {u"/a/b/link/part.nc", u"/a/b/link/part.nc"},
      {u"/a/x/../part.nc", u"/a/part.nc"},
      {u"/a/linked/../part.nc", u"/a/part.nc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldedPath(c.absolute, is_link), c.folded) << NativeFromText(Text(c.absolute));
  }
}

TEST(PathTest, LongPrefixComesAndGoes) {
  struct Case {
    TextView plain;     // as the user knows the path
    TextView prefixed;  // as the system takes it at any length
  };
  const Case round_trips[] = {
      {u"C:\\jobs\\part.nc", u"\\\\?\\C:\\jobs\\part.nc"},
      {u"Z:\\", u"\\\\?\\Z:\\"},
      {u"\\\\server\\share\\part.nc", u"\\\\?\\UNC\\server\\share\\part.nc"},
  };
  for (const Case& c : round_trips) {
    EXPECT_EQ(WithLongPrefix(c.plain), c.prefixed) << NativeFromText(Text(c.plain));
    EXPECT_EQ(WithoutLongPrefix(c.prefixed), c.plain) << NativeFromText(Text(c.prefixed));
  }
  // Left as they are, both ways: what is not an absolute drive or share path.
  const TextView unchanged[] = {
      u"part.nc",         u"jobs\\part.nc",       u"C:part.nc", u"\\jobs\\part.nc",
      u"\\\\.\\COM1",     u"\\\\?\\Volume{x}\\a", u"",          u"/home/cnc/part.nc",
      u"\\\\?\\C:\\a.nc", u"\\\\?\\UNC\\s\\t\\a",
  };
  for (TextView path : unchanged) {
    bool prefixed = path.starts_with(u"\\\\?\\C:") || path.starts_with(u"\\\\?\\UNC");
    EXPECT_EQ(WithLongPrefix(path), path) << NativeFromText(Text(path));
    if (!prefixed) {
      EXPECT_EQ(WithoutLongPrefix(path), path) << NativeFromText(Text(path));
    }
  }
}

}  // namespace
