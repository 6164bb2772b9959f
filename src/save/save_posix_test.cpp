#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "base/failure.h"
#include "files/read.h"
#include "save/save.h"
#include "testing/failure_of.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

/// The kind and permission bits of what `path` names itself (a link, not its target).
mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

using Names = std::vector<std::string>;

TEST(SavePosixTest, ReplaceWholeFileCreatesAndReplaces) {
  TempFolder folder;
  ReplaceWholeFile(folder.PathOf("neu.nc"), "A\r\n");
  EXPECT_EQ(folder.Read("neu.nc"), "A\r\n");
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(ModeOf(folder.At("neu.nc")) & 0777, 0666 & ~mask);

  folder.Write("alt.nc", "a much longer old content\r\n");
  chmod(folder.At("alt.nc").c_str(), 0640);
  ReplaceWholeFile(folder.PathOf("alt.nc"), "B\r\n");
  EXPECT_EQ(folder.Read("alt.nc"), "B\r\n");
  EXPECT_EQ(ModeOf(folder.At("alt.nc")) & 07777, 0640u) << "the permission bits are kept";

  ReplaceWholeFile(folder.PathOf("alt.nc"), "");
  EXPECT_EQ(folder.Read("alt.nc"), "");
  EXPECT_EQ(folder.Names(), (Names{"alt.nc", "neu.nc"}));
}

TEST(SavePosixTest, ReplaceThroughASymbolicLinkKeepsTheLink) {
  TempFolder folder;
  fs::create_directory(folder.At("echt"));
  folder.Write("echt/part.nc", "old");
  fs::create_symlink("echt/part.nc", folder.At("link.nc"));
  ReplaceWholeFile(folder.PathOf("link.nc"), "new");
  EXPECT_TRUE(S_ISLNK(ModeOf(folder.At("link.nc"))));
  EXPECT_EQ(fs::read_symlink(folder.At("link.nc")), "echt/part.nc");
  EXPECT_EQ(folder.Read("echt/part.nc"), "new");
  EXPECT_EQ(folder.Names(), (Names{"echt", "link.nc"}));
}

TEST(SavePosixTest, CreateFailuresLeaveEverythingAsItWas) {
  TempFolder folder;
  fs::create_directory(folder.At("ordner"));
  folder.Write("schreibgeschuetzt.nc", "old");
  // Read-only also for the superuser, as the read-only attribute binds administrators too.
  chmod(folder.At("schreibgeschuetzt.nc").c_str(), 0444);
  struct Case {
    std::string name;
    std::u16string reason;
  };
  const Case cases[] = {
      {"ordner", u"Is a directory"},
      {"fehlt/part.nc", u"No such file or directory"},
      {"schreibgeschuetzt.nc", u"Permission denied"},
  };
  for (const Case& c : cases) {
    Text path = folder.PathOf(c.name);
    Failure failure = FailureOf([&] { ReplaceWholeFile(path, "new"); });
    EXPECT_EQ(failure.kind, "EFCreateError") << c.name;
    EXPECT_EQ(failure.message, u"Datei \"" + path + u"\" kann nicht erstellt werden. " + c.reason);
  }
  EXPECT_EQ(folder.Read("schreibgeschuetzt.nc"), "old");
  EXPECT_EQ(ModeOf(folder.At("schreibgeschuetzt.nc")) & 07777, 0444u);
  EXPECT_TRUE(fs::is_empty(folder.At("ordner")));
  EXPECT_EQ(folder.Names(), (Names{"ordner", "schreibgeschuetzt.nc"}));
}

TEST(SavePosixTest, WriteFailureLeavesTheFileAndNoTemporaryFile) {
  TempFolder folder;
  folder.Write("part.nc", "old content");
  rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Failure failure = FailureOf([&] { ReplaceWholeFile(folder.PathOf("part.nc"), "new content"); });
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(failure.kind, "EWriteError");
  EXPECT_EQ(failure.message, u"Stream-Schreibfehler");
  EXPECT_EQ(folder.Read("part.nc"), "old content");
  EXPECT_EQ(folder.Names(), Names{"part.nc"});
}

/// Runs `step` with the file size limit at `bytes`, as a full disk would stop a write there.
void WithFileSizeLimit(rlim_t bytes, const std::function<void()>& step) {
  rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = bytes;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  step();
  setrlimit(RLIMIT_FSIZE, &before);
}

TEST(SavePosixTest, SecondLinkGetsTheNewContentToo) {
  // A rename would leave the other name with the old content, so the file is written in place.
  struct Case {
    std::string name;
    std::string old_content;
    std::string new_content;
  };
  const Case cases[] = {
      {"shorter", "a rather long old content\r\n", "B\r\n"},
      {"longer", "A\r\n", "a rather long new content\r\n"},
      {"emptied", "A\r\n", ""},
      {"from empty", "", "B\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    folder.Write("part.nc", c.old_content);
    ASSERT_EQ(link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str()), 0);
    ReplaceWholeFile(folder.PathOf("part.nc"), c.new_content);
    EXPECT_EQ(folder.Read("part.nc"), c.new_content);
    EXPECT_EQ(folder.Read("other.nc"), c.new_content);
    EXPECT_EQ(folder.Names(), (Names{"other.nc", "part.nc"}));
  }
}

TEST(SavePosixTest, FailedWriteInPlaceWritesTheOldBytesBack) {
  // The limit stops the write after 8 bytes, so the first 8 old bytes were overwritten already.
  struct Case {
    std::string name;
    std::string old_content;
    std::string new_content;
  };
  const Case cases[] = {
      {"longer new content", "old content", "the new content is longer"},
      {"old content beyond the limit", "the old content is longer", "new content"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    folder.Write("part.nc", c.old_content);
    ASSERT_EQ(link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str()), 0);
    Failure failure;
    WithFileSizeLimit(8, [&] {
      failure = FailureOf([&] { ReplaceWholeFile(folder.PathOf("part.nc"), c.new_content); });
    });
    EXPECT_EQ(failure.kind, "EWriteError");
    EXPECT_EQ(folder.Read("part.nc"), c.old_content);
    EXPECT_EQ(folder.Names(), (Names{"other.nc", "part.nc"}));
  }
}

TEST(SavePosixTest, AFileChangedSinceTheLoadIsNotOverwritten) {
  // Another program writes the file between the load and the save: its version stays, by
  // either way of saving, and so does a file put in its place or removed.
  struct Case {
    std::string name;
    std::function<void(TempFolder&)> meanwhile;
    bool second_link;  // the save then writes in place
  };
  auto rewrite = [](TempFolder& folder) {
    std::ofstream(folder.At("part.nc"), std::ios::binary | std::ios::trunc) << "their version";
  };
  auto replace = [](TempFolder& folder) {
    folder.Write("new.nc", "their version");
    fs::rename(folder.At("new.nc"), folder.At("part.nc"));
  };
  auto remove = [](TempFolder& folder) { fs::remove(folder.At("part.nc")); };
  const Case cases[] = {
      {"rewritten, then saved by rename", rewrite, false},
      {"rewritten, then saved in place", rewrite, true},
      {"replaced by a new file", replace, false},
      {"removed", remove, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    folder.Write("part.nc", "loaded version");
    if (c.second_link) fs::create_hard_link(folder.At("part.nc"), folder.At("other.nc"));
    FileStamp loaded;
    ReadWholeFile(folder.PathOf("part.nc"), &loaded);
    c.meanwhile(folder);
    Names names = folder.Names();
    std::string theirs = folder.Read("part.nc");
    Failure failure =
        FailureOf([&] { ReplaceWholeFile(folder.PathOf("part.nc"), "new", &loaded); });
    EXPECT_EQ(failure.kind, "EFCreateError");
    EXPECT_NE(NativeFromText(failure.message).find("seit dem Lesen"), std::string::npos)
        << NativeFromText(failure.message);
    EXPECT_EQ(folder.Read("part.nc"), theirs);
    EXPECT_EQ(folder.Names(), names) << "something was left behind";
  }
}

TEST(SavePosixTest, AFileUnchangedSinceTheLoadIsSaved) {
  for (bool second_link : {false, true}) {
    SCOPED_TRACE(second_link ? "in place" : "by rename");
    TempFolder folder;
    folder.Write("part.nc", "loaded version");
    if (second_link) fs::create_hard_link(folder.At("part.nc"), folder.At("other.nc"));
    FileStamp loaded;
    ReadWholeFile(folder.PathOf("part.nc"), &loaded);
    ReplaceWholeFile(folder.PathOf("part.nc"), "new", &loaded);
    EXPECT_EQ(folder.Read("part.nc"), "new");
    EXPECT_EQ(folder.Read("other.nc"), second_link ? "new" : "");
  }
}

TEST(SavePosixTest, AnEarlierBackupIsNeverTouched) {
  // It may be the only whole copy of a program: a save in place makes its own beside it, and
  // removes only that one.
  TempFolder folder;
  folder.Write("part.nc", "old");
  fs::create_hard_link(folder.At("part.nc"), folder.At("other.nc"));
  folder.Write("part.nc.prune-backup", "an earlier program");
  folder.Write("part.nc.prune-backup-2", "another earlier program");
  ReplaceWholeFile(folder.PathOf("part.nc"), "new");
  EXPECT_EQ(folder.Read("other.nc"), "new") << "not written in place";
  EXPECT_EQ(folder.Read("part.nc.prune-backup"), "an earlier program");
  EXPECT_EQ(folder.Read("part.nc.prune-backup-2"), "another earlier program");
  EXPECT_EQ(folder.Names(),
            (Names{"other.nc", "part.nc", "part.nc.prune-backup", "part.nc.prune-backup-2"}));
}

TEST(SavePosixTest, ReplaceKeepsExtendedAttributes) {
  TempFolder folder;
  folder.Write("part.nc", "old");
  const std::string value = "Maschine 3";
  if (setxattr(folder.At("part.nc").c_str(), "user.prune.test", value.data(), value.size(), 0) !=
      0) {
    GTEST_SKIP() << "the temporary folder's file system has no user attributes";
  }
  ReplaceWholeFile(folder.PathOf("part.nc"), "new");
  EXPECT_EQ(folder.Read("part.nc"), "new");
  char kept[32] = {};
  ssize_t length = getxattr(folder.At("part.nc").c_str(), "user.prune.test", kept, sizeof kept);
  EXPECT_EQ(std::string(kept, std::max<ssize_t>(length, 0)), value);
  EXPECT_EQ(folder.Names(), Names{"part.nc"});
}

TEST(SavePosixTest, NamesUpToTheLongestAreReplaced) {
  // The temporary file beside the file has a short name of its own, whatever the file's name.
  for (size_t length : {1, 200, 242, 255}) {
    SCOPED_TRACE(length);
    TempFolder folder;
    std::string name(length, 'n');
    folder.Write(name, "old");
    ReplaceWholeFile(folder.PathOf(name), "new");
    EXPECT_EQ(folder.Read(name), "new");
    EXPECT_EQ(folder.Names(), Names{name});
  }
}

/// The failure that `step` raises, if any.
Failure OutcomeOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const Failure& failure) {
    return failure;
  }
  return {};
}

/// Another user, and the owner of the shared folder.
constexpr uid_t kOther = 4242, kFolderOwner = 4343;

/// What somebody else may have put in a shared folder before a save, and what the save does.
struct SharedFolderCase {
  std::string name;
  mode_t folder_mode;
  std::string link_to;  // what the planted name leads to; empty: it is a file
  uid_t owner;          // of the planted name
  bool as_program;      // saved as the program loaded from there, else as a file of its own
  bool written;
  uid_t hop_owner = kOther;          // of hop.tap, where the planted link leads there
  std::string planted = "part.tap";  // the planted name in the shared folder
  std::string saved = "part.tap";    // the path saved, from the shared folder
};

TEST(SavePosixTest, LinksAndFilesOfOthersInSharedFolders) {
  if (geteuid() != 0) GTEST_SKIP() << "only the superuser makes files of other owners";
  // clang-format off
  const SharedFolderCase cases[] = {
      // A sticky folder that everybody may write (/tmp): only links of the user or the folder's
      // owner are followed, at every hop of a chain, also to nothing.
      {"another's link", 01777, "../home/notes.txt", kOther, false, false},
      {"another's link to nothing", 01777, "../home/new.txt", kOther, false, false},
      {"a chain through another's link", 01777, "hop.tap", 0, false, false},
      {"a chain from another's link through the user's own", 01777, "hop.tap", kOther, false, false,
       0},
      // Also where the link stands for a folder of the path, not for its last name.
      {"another's link as a folder", 01777, "../home", kOther, false, false, kOther, "dir",
       "dir/notes.txt"},
      {"the user's own link as a folder", 01777, "../home", 0, false, true, kOther, "dir",
       "dir/notes.txt"},
      {"the folder owner's link", 01777, "../home/notes.txt", kFolderOwner, false, true},
      {"the user's own link", 01777, "../home/notes.txt", 0, false, true},
      {"another's link in a folder that is not sticky", 0777, "../home/notes.txt", kOther, false,
       true},
      {"another's link in a sticky folder of a group", 01770, "../home/notes.txt", kOther, false,
       true},
      // A file that somebody else made first is not written as a file of the run's own; the
      // program that the user named is.
      {"another's file", 01777, "", kOther, false, false},
      {"another's file as the program", 01777, "", kOther, true, true},
      {"the folder owner's file", 01777, "", kFolderOwner, false, true},
      {"another's file in a folder that is not sticky", 0777, "", kOther, false, true},
  };
  // clang-format on
  for (const SharedFolderCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    std::string notes = folder.Write("home/notes.txt", "keep me");
    std::string tap = folder.At("shared/" + c.saved);
    std::string planted = folder.At("shared/" + c.planted);
    fs::create_directory(folder.At("shared"));
    ASSERT_EQ(chown(folder.At("shared").c_str(), kFolderOwner, kFolderOwner), 0);
    chmod(folder.At("shared").c_str(), c.folder_mode);
    if (c.link_to.empty()) {
      folder.Write("shared/" + c.planted, "planted");
      chmod(planted.c_str(), 0666);
    } else {
      fs::create_symlink(c.link_to, planted);
    }
    ASSERT_EQ(lchown(planted.c_str(), c.owner, c.owner), 0);
    if (c.link_to == "hop.tap") {
      fs::create_symlink("../home/notes.txt", folder.At("shared/hop.tap"));
      ASSERT_EQ(lchown(folder.At("shared/hop.tap").c_str(), c.hop_owner, c.hop_owner), 0);
    }
    std::string before = ReadFile(tap);
    FileStamp stamp;
    Failure load = OutcomeOf([&] { ReadWholeFile(TextFromNative(tap), &stamp); });
    if (c.link_to.empty() || c.written) {
      EXPECT_EQ(load.kind, "");
    } else {
      EXPECT_EQ(load.kind, "EFOpenError");
      EXPECT_TRUE(NativeFromText(load.message).ends_with("Permission denied"));
    }
    Failure save = OutcomeOf(
        [&] { ReplaceWholeFile(TextFromNative(tap), "new", c.as_program ? &stamp : nullptr); });
    EXPECT_EQ(save.kind, c.written ? "" : "EFCreateError") << NativeFromText(save.message);
    if (!c.written) {
      EXPECT_EQ(save.message, u"Datei \"" + TextFromNative(tap) +
                                  u"\" kann nicht erstellt werden. Permission denied");
      EXPECT_EQ(ReadFile(tap), before);
      EXPECT_EQ(ReadFile(notes), "keep me");
    } else {
      EXPECT_EQ(ReadFile(tap), "new");
    }
    EXPECT_FALSE(fs::exists(folder.At("home/new.txt")));
  }
}

TEST(SavePosixTest, ANewFileAsksForTheProgramsPermissionBits) {
  // As a copy gets them, the umask narrowing them; the user may write it again.
  TempFolder folder;
  mode_t mask = umask(022);
  for (mode_t mode : {0600, 0640, 0666, 0750, 0440}) {
    ReplaceWholeFile(folder.PathOf("part.tap"), "new", nullptr, mode);
    mode_t wanted = (mode | 0200) & ~022u;
    EXPECT_EQ(ModeOf(folder.At("part.tap")) & 07777, wanted) << std::oct << mode;
    // An existing file keeps its own.
    ReplaceWholeFile(folder.PathOf("part.tap"), "newer", nullptr, 0777);
    EXPECT_EQ(ModeOf(folder.At("part.tap")) & 07777, wanted) << std::oct << mode;
    fs::remove(folder.At("part.tap"));
  }
  umask(mask);
}

}  // namespace
