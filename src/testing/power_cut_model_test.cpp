#include "testing/power_cut_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;
using Steps = std::function<void(PowerCutModel&)>;
using Contents = std::set<std::string>;

/// Stands for a path that names no file in a state.
const std::string kAbsent = "(absent)";

std::string ContentAt(const Files& files, const std::string& path) {
  auto file = files.find(path);
  return file == files.end() ? kAbsent : file->second;
}

/// The distinct contents under `path`, over every state or over those after the last step.
Contents Seen(const PowerCutModel& model, const std::string& path, bool only_at_end) {
  Contents seen;
  model.ForEachState([&](size_t step, const Files& files) {
    if (!only_at_end || step == model.steps()) seen.insert(ContentAt(files, path));
    return true;
  });
  return seen;
}

/// Every state a power cut may leave, of every step.
std::vector<Files> AllStates(const PowerCutModel& model) {
  std::vector<Files> states;
  model.ForEachState([&](size_t, const Files& files) {
    states.push_back(files);
    return true;
  });
  return states;
}

// The save's usual ways: a new file renamed over the old one, or the old one written in place.
const Steps kRenameUnflushed = [](PowerCutModel& m) {
  m.Existing("/d/f", 1, "old");
  m.Create("/d/f~", 2);
  m.Write(2, 0, "ne");
  m.Write(2, 2, "w!");
  m.Rename("/d/f~", "/d/f");
};
const Steps kRenameAfterFileFlush = [](PowerCutModel& m) {
  m.Existing("/d/f", 1, "old");
  m.Create("/d/f~", 2);
  m.Write(2, 0, "new");
  m.FlushFile(2);
  m.Rename("/d/f~", "/d/f");
};
const Steps kRenameAllFlushed = [](PowerCutModel& m) {
  kRenameAfterFileFlush(m);
  m.FlushFolder("/d");
};
const Steps kWindowsRenameUnflushed = [](PowerCutModel& m) {
  m.Existing("Z:\\tmp\\a\\b", 1, "old");
  m.Create("Z:\\tmp\\a\\b~", 2);
  m.Write(2, 0, "new");
  m.Rename("Z:\\tmp\\a\\b~", "Z:\\tmp\\a\\b");
};
const Steps kInPlaceUnflushed = [](PowerCutModel& m) {
  m.Existing("/d/f", 1, "aaaa");
  m.Write(1, 0, "bb");
  m.Write(1, 2, "cc");
};
const Steps kInPlaceFlushed = [](PowerCutModel& m) {
  kInPlaceUnflushed(m);
  m.FlushFile(1);
};
const Steps kResizeAndWritePastEnd = [](PowerCutModel& m) {
  m.Existing("C:\\x\\y", 1, "abcdef");
  m.Resize(1, 2);
  m.Write(1, 4, "xy");
};
const Steps kInNewFolder = [](PowerCutModel& m) {
  m.CreateFolder("/d/new", 5);
  m.Create("/d/new/f", 6);
  m.Write(6, 0, "x");
  m.FlushFile(6);
  m.FlushFolder("/d/new");
};
const Steps kInNewFolderFlushed = [](PowerCutModel& m) {
  kInNewFolder(m);
  m.FlushFolder("/d");
};
const Steps kNewFolderRenamed = [](PowerCutModel& m) {
  m.CreateFolder("/d/tmp", 5);
  m.Rename("/d/tmp", "/d/out");
  m.Create("/d/out/f", 6);  // the folder is found under its new name
  m.Write(6, 0, "x");
  m.FlushFile(6);
  m.FlushFolder("/d/out");
  m.FlushFolder("/d");
};
// Each rename is allowed where it is made; with only some folder changes kept, folder a can hold
// b, and b hold a.
const Steps kFolderMovedBelowItsChild = [](PowerCutModel& m) {
  m.CreateFolder("/d/a", 10);
  m.CreateFolder("/d/a/b", 11);
  m.Create("/d/a/b/f", 12);
  m.Rename("/d/a/b", "/d/b");
  m.Rename("/d/a", "/d/b/a");
};
const Steps kRemoveUnflushed = [](PowerCutModel& m) {
  m.Existing("/d/f", 1, "old");
  m.Remove("/d/f");
};
const Steps kLinkThenRemoveOld = [](PowerCutModel& m) {
  m.Existing("/d/f", 1, "old");
  m.Link("/d/backup", 1);
  m.FlushFolder("/d");
  m.Remove("/d/f");
};

TEST(PowerCutModelTest, ContentsSeenUnderAPath) {
  struct Case {
    const char* name;
    Steps steps;
    std::string path;
    Contents seen;         // over every state of every step
    Contents seen_at_end;  // over the states after the last step
    std::string flushed;
  };
  const Case cases[] = {
      {"a rename before the flush can show the new name empty or in part",
       kRenameUnflushed,
       "/d/f",
       {"old", "", "ne", "new!"},
       {"old", "", "ne", "new!"},
       "old"},
      {"the temporary name comes and goes",
       kRenameUnflushed,
       "/d/f~",
       {kAbsent, "", "ne", "new!"},
       {kAbsent, "", "ne", "new!"},
       kAbsent},
      {"a rename after the file's flush shows the old or the new file whole",
       kRenameAfterFileFlush,
       "/d/f",
       {"old", "new"},
       {"old", "new"},
       "old"},
      {"after both flushes only the new file remains",
       kRenameAllFlushed,
       "/d/f",
       {"old", "new"},
       {"new"},
       "new"},
      {"after both flushes the temporary name is gone",
       kRenameAllFlushed,
       "/d/f~",
       {kAbsent, "", "new"},
       {kAbsent},
       kAbsent},
      {"Windows paths",
       kWindowsRenameUnflushed,
       "Z:\\tmp\\a\\b",
       {"old", "", "new"},
       {"old", "", "new"},
       "old"},
      {"writes in place are kept in order, each prefix of them",
       kInPlaceUnflushed,
       "/d/f",
       {"aaaa", "bbaa", "bbcc"},
       {"aaaa", "bbaa", "bbcc"},
       "aaaa"},
      {"a flushed write in place is all that remains",
       kInPlaceFlushed,
       "/d/f",
       {"aaaa", "bbaa", "bbcc"},
       {"bbcc"},
       "bbcc"},
      {"a cut and a write past the end fill with zeros",
       kResizeAndWritePastEnd,
       "C:\\x\\y",
       {"abcdef", "ab", std::string("ab\0\0xy", 6)},
       {"abcdef", "ab", std::string("ab\0\0xy", 6)},
       "abcdef"},
      {"a file in a new folder whose name is not flushed can vanish",
       kInNewFolder,
       "/d/new/f",
       {kAbsent, "", "x"},
       {kAbsent, "x"},
       kAbsent},
      {"a file in a new folder whose name is flushed stays",
       kInNewFolderFlushed,
       "/d/new/f",
       {kAbsent, "", "x"},
       {"x"},
       "x"},
      {"a file in a renamed new folder is under the new name",
       kNewFolderRenamed,
       "/d/out/f",
       {kAbsent, "", "x"},
       {"x"},
       "x"},
      {"a file in a renamed new folder shows under the old name until the rename is flushed",
       kNewFolderRenamed,
       "/d/tmp/f",
       {kAbsent, "", "x"},
       {kAbsent},
       kAbsent},
      {"folders that hold each other are listed once on the way",
       kFolderMovedBelowItsChild,
       "/d/a/b/a/b/f",
       {kAbsent},
       {kAbsent},
       kAbsent},
      {"a file in a folder moved twice",
       kFolderMovedBelowItsChild,
       "/d/b/f",
       {kAbsent, ""},
       {kAbsent, ""},
       kAbsent},
      {"a removal before the folder's flush may not have happened",
       kRemoveUnflushed,
       "/d/f",
       {"old", kAbsent},
       {"old", kAbsent},
       "old"},
      {"a flushed further name keeps the file",
       kLinkThenRemoveOld,
       "/d/backup",
       {kAbsent, "old"},
       {"old"},
       "old"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    PowerCutModel model;
    test.steps(model);
    SCOPED_TRACE(model.Describe());
    EXPECT_EQ(Seen(model, test.path, false), test.seen);
    EXPECT_EQ(Seen(model, test.path, true), test.seen_at_end);
    EXPECT_EQ(ContentAt(model.Flushed(), test.path), test.flushed);
  }
}

TEST(PowerCutModelTest, HardLinksShareTheirContent) {
  PowerCutModel model;
  model.Existing("/d/a", 1, "one");
  model.Link("/e/b", 1);
  model.Write(1, 0, "two");
  model.FlushFolder("/e");
  bool linked_two = false;
  for (const Files& files : AllStates(model)) {
    if (!files.count("/e/b")) continue;
    EXPECT_EQ(files.at("/e/b"), files.at("/d/a"));
    linked_two = linked_two || files.at("/e/b") == "two";
  }
  EXPECT_TRUE(linked_two);
  EXPECT_EQ(model.Flushed(), (Files{{"/d/a", "one"}, {"/e/b", "one"}}));
}

TEST(PowerCutModelTest, FilesAndFoldersChooseIndependently) {
  // A rename between two folders is a change of each: either may be kept without the other.
  PowerCutModel model;
  model.Existing("/d/f", 1, "old");
  model.Existing("/t/x", 2, "new");
  model.Existing("/d/g", 3, "g");
  model.Rename("/t/x", "/d/f");
  model.Write(3, 0, "G");
  std::set<Files> at_end;
  model.ForEachState([&](size_t step, const Files& files) {
    if (step == model.steps()) at_end.insert(files);
    return true;
  });
  const std::set<Files> expected = {
      {{"/d/f", "old"}, {"/t/x", "new"}, {"/d/g", "g"}},
      {{"/d/f", "new"}, {"/t/x", "new"}, {"/d/g", "g"}},
      {{"/d/f", "old"}, {"/d/g", "g"}},
      {{"/d/f", "new"}, {"/d/g", "g"}},
      {{"/d/f", "old"}, {"/t/x", "new"}, {"/d/g", "G"}},
      {{"/d/f", "new"}, {"/t/x", "new"}, {"/d/g", "G"}},
      {{"/d/f", "old"}, {"/d/g", "G"}},
      {{"/d/f", "new"}, {"/d/g", "G"}},
  };
  EXPECT_EQ(at_end, expected);
}

TEST(PowerCutModelTest, ManyPendingChangesStillCoverEachOneAgainstNoneAndAll) {
  // More combinations than the bound: each file at each choice, the others at none or all.
  const int kFiles = 13;
  PowerCutModel model;
  for (int i = 0; i < kFiles; ++i) model.Existing(std::string("/d/") + char('a' + i), i, "a");
  for (int i = 0; i < kFiles; ++i) model.Write(i, 0, "b");
  std::set<std::string> at_end;
  model.ForEachState([&](size_t step, const Files& files) {
    std::string row;
    for (const auto& [path, content] : files) row += content;
    if (step == model.steps()) at_end.insert(row);
    return true;
  });
  for (int i = 0; i < kFiles; ++i) {
    for (const char* others : {"a", "b"}) {
      for (const char* one : {"a", "b"}) {
        std::string row;
        for (int j = 0; j < kFiles; ++j) row += i == j ? one : others;
        EXPECT_EQ(at_end.count(row), 1u) << row;
      }
    }
  }
  EXPECT_LT(at_end.size(), 1u << kFiles);
}

TEST(PowerCutModelTest, StopsWhenTheVisitSaysSo) {
  PowerCutModel model;
  kRenameUnflushed(model);
  std::vector<size_t> steps;
  size_t visited = model.ForEachState([&](size_t step, const Files&) {
    steps.push_back(step);
    return step < 2;
  });
  EXPECT_EQ(visited, steps.size());
  EXPECT_EQ(steps.back(), 2u);
  EXPECT_EQ(std::count(steps.begin(), steps.end(), 2u), 1);
}

TEST(PowerCutModelTest, AStepOnWhatIsNotThereIsRefused) {
  const Steps cases[] = {
      [](PowerCutModel& m) { m.Rename("/d/none", "/d/f"); },
      [](PowerCutModel& m) { m.Remove("/d/none"); },
      [](PowerCutModel& m) { m.Write(9, 0, "x"); },
      [](PowerCutModel& m) { m.Link("/d/g", 9); },
      [](PowerCutModel& m) {
        m.Existing("/d/f", 1, "");
        m.Create("/d/g", 1);
      },
  };
  for (const Steps& steps : cases) {
    PowerCutModel model;
    steps(model);
    EXPECT_THROW(model.Flushed(), std::invalid_argument) << model.Describe();
  }
}

TEST(PowerCutModelTest, DescribeListsTheSteps) {
  PowerCutModel model;
  kRenameUnflushed(model);
  EXPECT_EQ(model.Describe(),
            "existing /d/f #1, 3 bytes\n"
            "1 create /d/f~ #2\n"
            "2 write #2 at 0, 2 bytes \"ne\"\n"
            "3 write #2 at 2, 2 bytes \"w!\"\n"
            "4 rename /d/f~ -> /d/f\n");
}

}  // namespace
