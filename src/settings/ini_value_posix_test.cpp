#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/system_calls_posix.h"
#include "settings/ini_parser.h"
#include "settings/ini_value.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

/// A fresh folder for the lookups.
class IniValueTest : public testing::Test {
 protected:
  std::string At(const std::string& name) const { return folder_.At(name); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    return folder_.Write(name, bytes);
  }
  static Text Lookup(const std::string& path) {
    return ReadIniValue(u"common", u"test", TextFromNative(path));
  }

  TempFolder folder_;
};

TEST_F(IniValueTest, ReadsTheValue) {
  EXPECT_EQ(Lookup(Write("prune.ini", "[common]\r\ntest=1\r\n")), u"1");
  EXPECT_EQ(Lookup(Write("Ördner mit Leerzeichen/prune.ini", "[Common]\ntest = '$1'\n")), u"$1");
}

TEST_F(IniValueTest, ReadsTheFileAfreshOnEachLookup) {
  std::string path = Write("prune.ini", "[common]\ntest=1\n");
  EXPECT_EQ(Lookup(path), u"1");
  Write("prune.ini", "[common]\ntest=2\n");
  EXPECT_EQ(Lookup(path), u"2");
  fs::remove(path);
  EXPECT_EQ(Lookup(path), u"");
}

TEST_F(IniValueTest, LeavesTheFileAsItWas) {
  std::string path = Write("prune.ini", "[common]\ntest=1\n");
  fs::permissions(path, fs::perms::owner_read);
  auto before = fs::last_write_time(path);
  EXPECT_EQ(Lookup(path), u"1");
  EXPECT_EQ(fs::last_write_time(path), before);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()), 1);
}

TEST_F(IniValueTest, WhatIsNoReadableFileGivesTheEmptyText) {
  EXPECT_EQ(Lookup(At("missing.ini")), u"");
  EXPECT_EQ(Lookup(At("missing folder/prune.ini")), u"");
  EXPECT_EQ(Lookup(""), u"");
  fs::create_directory(At("folder.ini"));
  EXPECT_EQ(Lookup(At("folder.ini")), u"");
  fs::create_symlink(At("missing.ini"), At("dangling.ini"));
  EXPECT_EQ(Lookup(At("dangling.ini")), u"");
  Write("file", "[common]\ntest=1\n");
  EXPECT_EQ(Lookup(At("file/prune.ini")), u"");
}

TEST_F(IniValueTest, FollowsALinkToAFile) {
  Write("real.ini", "[common]\ntest=1\n");
  fs::create_symlink(At("real.ini"), At("prune.ini"));
  EXPECT_EQ(Lookup(At("prune.ini")), u"1");
}

TEST_F(IniValueTest, AFifoDoesNotStallTheLookup) {
  ASSERT_EQ(mkfifo(At("prune.ini").c_str(), 0600), 0);
  EXPECT_EQ(Lookup(At("prune.ini")), u"");
}

TEST_F(IniValueTest, AnUnreadableFileGivesTheEmptyText) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser reads every file";
  std::string path = Write("prune.ini", "[common]\ntest=1\n");
  fs::permissions(path, fs::perms::none);
  EXPECT_EQ(Lookup(path), u"");
}

TEST_F(IniValueTest, ReadsOnlyTheStartOfAHugeFile) {
  std::string padding = ";" + std::string(kMaxIniFileBytes, 'x') + "\n";
  EXPECT_EQ(Lookup(Write("head.ini", "[common]\ntest=1\n" + padding)), u"1");
  EXPECT_EQ(Lookup(Write("tail.ini", "[common]\n" + padding + "test=1\n")), u"");
}

TEST_F(IniValueTest, ACallThatFailsGivesTheEmptyText) {
  // Through the seam, also where the superuser may read every file.
  const std::string path = Write("prune.ini", "[common]\ntest=1\n");
  const auto system_open = os::open;
  const auto system_fstat = os::fstat;
  const auto system_read = os::read;
  struct Case {
    std::string call;
    void (*fail)();
  };
  const Case cases[] = {
      {"open",
       [] {
         os::open = [](const char*, int, mode_t) {
           errno = EACCES;
           return -1;
         };
       }},
      {"fstat",
       [] {
         os::fstat = [](int, struct stat*) {
           errno = EIO;
           return -1;
         };
       }},
      {"read",
       [] {
         os::read = [](int, void*, size_t) -> ssize_t {
           errno = EIO;
           return -1;
         };
       }},
  };
  for (const Case& c : cases) {
    c.fail();
    EXPECT_EQ(Lookup(path), u"") << c.call;
    os::open = system_open;
    os::fstat = system_fstat;
    os::read = system_read;
  }
  EXPECT_EQ(Lookup(path), u"1");
}

}  // namespace
