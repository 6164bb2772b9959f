#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "files/system_calls_posix.h"
#include "run/existence.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

/// A folder with one object of every kind that the existence test tells apart.
class Fixture {
 public:
  Fixture() {
    std::ofstream(At("part.nc")) << "G01 A1\r\n";
    std::ofstream(At("leer.nc"));
    std::ofstream(At("Auftr\xC3\xA4ge Rohr.nc")) << "M30\r\n";
    std::ofstream(At("gesperrt.nc")) << "M30\r\n";
    chmod(At("gesperrt.nc").c_str(), 0);
    fs::create_directory(At("ordner"));
    fs::create_directory(At("ordner.nc"));
    fs::create_symlink("part.nc", At("link-datei.nc"));
    fs::create_symlink("ordner", At("link-ordner.nc"));
    fs::create_symlink("fehlt.nc", At("link-fehlt.nc"));
    fs::create_symlink("link-datei.nc", At("link-link.nc"));
    fs::create_symlink("schleife.nc", At("schleife.nc"));
    mkfifo(At("fifo.nc").c_str(), 0644);
    fs::create_symlink("gesperrt.nc", At("link-gesperrt.nc"));
    fs::create_symlink("ohne-suche/part.nc", At("link-ohne-suche.nc"));
    // A folder that may be listed but not searched: only the fallback's lookup sees inside.
    fs::create_directories(At("ohne-suche/ordner"));
    std::ofstream(At("ohne-suche/part.nc")) << "M30\r\n";
    chmod(At("ohne-suche").c_str(), 0644);
  }
  std::string At(const std::string& name) const { return folder_.At(name); }

 private:
  TempFolder folder_;
};

TEST(ExistencePosixTest, Table) {
  Fixture fixture;
  struct Case {
    std::string name;
    bool passes;
  };
  const Case cases[] = {
      {"part.nc", true},
      {"leer.nc", true},
      {"Auftr\xC3\xA4ge Rohr.nc", true},
      {"gesperrt.nc", true},  // nothing is read: the load reports what is wrong
      {"fehlt.nc", false},
      {"fehlt/part.nc", false},
      {"part.nc/part.nc", false},  // a file where a folder should be
      {std::string(300, 'x') + ".nc", false},
      {"ordner", false},
      {"ordner.nc", false},
      {"ordner/", false},
      {"link-datei.nc", true},
      {"link-link.nc", true},
      {"link-ordner.nc", false},
      {"link-fehlt.nc", false},
      {"schleife.nc", false},
      {"schleife.nc/part.nc", false},
      {"fifo.nc", true},  // the load refuses it without waiting for a writer
      // A link to a file that may not be read names it all the same: its load reports it.
      {"link-gesperrt.nc", true},
      {"link-ohne-suche.nc", true},
      {"ohne-suche/part.nc", true},
      {"ohne-suche/ordner", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PassesExistenceTest(TextFromNative(fixture.At(c.name))), c.passes) << c.name;
  }
}

TEST(ExistencePosixTest, EmptyAndRelativePaths) {
  Fixture fixture;
  EXPECT_FALSE(PassesExistenceTest(u""));
  fs::path before = fs::current_path();
  fs::current_path(fixture.At(""));
  EXPECT_TRUE(PassesExistenceTest(u"part.nc"));
  EXPECT_TRUE(PassesExistenceTest(u"./ordner/../part.nc"));
  EXPECT_FALSE(PassesExistenceTest(u"fehlt.nc"));
  EXPECT_FALSE(PassesExistenceTest(u"."));
  EXPECT_FALSE(PassesExistenceTest(u".."));
  fs::current_path(before);
}

TEST(ExistencePosixTest, AQueryThatFailsLooksIntoTheFolderThroughTheSeam) {
  Fixture fixture;
  const auto system_lstat = os::lstat;
  const auto system_opendir = os::opendir;
  os::lstat = [](const char*, struct stat*) {
    errno = EIO;
    return -1;
  };
  struct Case {
    std::string name;
    bool folder_listed;
    bool passes;
  };
  const Case cases[] = {
      {"part.nc", true, true},
      {"ordner", true, false},
      {"fehlt.nc", true, false},
      {"part.nc", false, false},
  };
  for (const Case& c : cases) {
    os::opendir = c.folder_listed ? system_opendir : [](const char*) -> DIR* {
      errno = EIO;
      return nullptr;
    };
    EXPECT_EQ(PassesExistenceTest(TextFromNative(fixture.At(c.name))), c.passes)
        << c.name << (c.folder_listed ? "" : ", the folder not listed");
  }
  os::lstat = system_lstat;
  os::opendir = system_opendir;
}

}  // namespace
