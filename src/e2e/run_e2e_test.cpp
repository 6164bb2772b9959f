// The run as a user meets it: the real executable on files in a fresh folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;

const std::string kOff = "FARCALL $STRGLOB1 \"LASER_OFF\"";

/// A program with moves to prune, as an editor may leave it, and what a run makes of it.
const std::string kProgram = "G00 X0\n" + kLaserOnLine + "\nG01 A1\nG01 A2\nG01 A3\nG00 X5\n" +
                             kOff + "\nG01 A4\nG01 A5\nM30\n";
const std::string kPruned = "G00 X0\r\n" + kLaserOnLine + "\r\nG01 A3\r\nG00 X5\r\n" + kOff +
                            "\r\nG01 A4\r\nG01 A5\r\nM30\r\n";

/// A normal run prints nothing (Wine's own chatter aside).
void ExpectSilent(const RunResult& result, const std::string& name) {
  if (!UnderWine()) {
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(result.err, "") << name;
  }
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST(RunE2eTest, PrunesAndWritesBackWithCrLf) {
  TempFolder folder;
  std::string path =
      folder.Write("part.nc", "G00 X0\nFARCALL $STRGLOB1 \"LASER_ON\"\nG01 A1\nG01 A2\nM30");
  RunResult result = RunPrune({ProgramPath(path)});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("part.nc"),
            "G00 X0\r\nFARCALL $STRGLOB1 \"LASER_ON\"\r\nG01 A2\r\nM30\r\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  if (!UnderWine()) {
    EXPECT_EQ(result.out + result.err, "");
  }
}

/// A run that is to end at once: `arguments` makes the argument list in a folder that holds
/// part.nc and whatever `prepare` adds.
struct EarlyExitCase {
  const char* name;
  std::function<void(const TempFolder&)> prepare;
  std::function<std::vector<std::string>(const TempFolder&)> arguments;
};

void ExpectEarlyExits(const std::vector<EarlyExitCase>& cases) {
  for (const EarlyExitCase& c : cases) {
    TempFolder folder;
    folder.Write("part.nc", kProgram);
    if (c.prepare) c.prepare(folder);
    auto before = Snapshot(folder.path());
    // Started in the folder, so that anything a run created by mistake would show up there.
    RunOptions options;
    options.working_folder = folder.path();
    RunResult result = RunPrune(c.arguments(folder), DisplayFree(options));
    EXPECT_EQ(result.exit_status, 0) << c.name;
    EXPECT_TRUE(Snapshot(folder.path()) == before) << c.name << ": the folder changed";
    ExpectSilent(result, c.name);
  }
}

std::function<std::vector<std::string>(const TempFolder&)> PathOf(const std::string& name) {
  return [name](const TempFolder& folder) {
    return std::vector<std::string>{ProgramPath(folder.At(name))};
  };
}

void MakeFolder(const TempFolder& folder, const std::string& name) {
  fs::create_directories(folder.At(name));
}

TEST(RunE2eTest, EarlyExitTouchesNothing) {
  ExpectEarlyExits({
      {"no argument", nullptr, [](const TempFolder&) { return std::vector<std::string>{}; }},
      {"empty argument", nullptr, [](const TempFolder&) { return std::vector<std::string>{""}; }},
      {"two empty arguments", nullptr,
       [](const TempFolder&) {
         return std::vector<std::string>{"", ""};
       }},
      {"missing file", nullptr, PathOf("fehlt.nc")},
      {"missing folder in the path", nullptr, PathOf("fehlt/part.nc")},
      {"folder holding a program",
       [](const TempFolder& f) { f.Write("ordner.nc/inside.nc", kProgram); }, PathOf("ordner.nc")},
      {"folder with a trailing separator", [](const TempFolder& f) { MakeFolder(f, "ordner"); },
       [](const TempFolder& f) {
         return std::vector<std::string>{ProgramPath(f.At("ordner")) + (UnderWine() ? "\\" : "/")};
       }},
  });
}

TEST(RunE2eTest, EarlyExitOnLinksTouchesNothing) {
  if (UnderWine()) GTEST_SKIP() << "symbolic links are a POSIX matter here";
  ExpectEarlyExits({
      {"dangling symbolic link",
       [](const TempFolder& f) { fs::create_symlink("fehlt.nc", f.At("link.nc")); },
       PathOf("link.nc")},
      {"symbolic link to a folder",
       [](const TempFolder& f) {
         MakeFolder(f, "ordner");
         fs::create_symlink("ordner", f.At("link.nc"));
       },
       PathOf("link.nc")},
  });
}

TEST(RunE2eTest, TheFirstNonEmptyArgumentNamesTheFile) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;  // "A" and "B" stand for the paths of a.nc and b.nc
  };
  const Case cases[] = {
      {"empty argument before the path", {"", "A"}},
      {"further arguments are ignored", {"A", "B"}},
      {"empty argument, path, further argument", {"", "A", "B"}},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("a.nc", kProgram);
    folder.Write("b.nc", kProgram);
    std::vector<std::string> arguments;
    for (const std::string& a : c.arguments) {
      arguments.push_back(a.empty() ? a : ProgramPath(folder.At(a == "A" ? "a.nc" : "b.nc")));
    }
    RunResult result = RunPrune(arguments);
    EXPECT_EQ(result.exit_status, 0) << c.name;
    EXPECT_EQ(folder.Read("a.nc"), kPruned) << c.name;
    EXPECT_EQ(folder.Read("b.nc"), kProgram) << c.name;
    EXPECT_EQ(folder.Names(), (Names{"a.nc", "b.nc"})) << c.name;
    ExpectSilent(result, c.name);
  }
}

TEST(RunE2eTest, PathsWithBlanksAndUmlauts) {
  struct Case {
    const char* folder;
    const char* file;
  };
  const Case cases[] = {
      {"Auftr\xC3\xA4ge 2024",
       "Rohr \xC3\x98"
       "40 St\xC3\xBC"
       "ck.nc"},
      {"  zwei  Leer", " teil .nc"},
      {"C;x", "a'b\"c.nc"},
  };
  for (const Case& c : cases) {
    if (UnderWine() && std::string(c.file).find('"') != std::string::npos) continue;
    TempFolder folder;
    std::string name = std::string(c.folder) + "/" + c.file;
    folder.Write(name, kProgram);
    RunResult result = RunPrune({ProgramPath(folder.At(name))});
    EXPECT_EQ(result.exit_status, 0) << name;
    EXPECT_EQ(folder.Read(name), kPruned) << name;
    EXPECT_EQ(folder.Names(), Names{c.folder}) << name;
    EXPECT_EQ(fs::directory_iterator(folder.At(c.folder))->path().filename(), c.file);
    ExpectSilent(result, name);
  }
}

TEST(RunE2eTest, RelativePathAgainstTheWorkingFolder) {
  TempFolder folder;
  folder.Write("werkstatt/part.nc", kProgram);
  RunOptions options;
  options.working_folder = folder.At("werkstatt");
  RunResult result = RunPrune({"part.nc"}, options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("werkstatt/part.nc"), kPruned);
  EXPECT_EQ(folder.Names(), Names{"werkstatt"});
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.At("werkstatt")), {}), 1);
  ExpectSilent(result, "relative path");
}

TEST(RunE2eTest, AFileWithNothingToPruneIsStillSaved) {
  TempFolder folder;
  std::string path = folder.Write("part.nc", "G01 A1\nG01 A2\r" + kOff + "\n\nM30");
  RunResult result = RunPrune({ProgramPath(path)});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("part.nc"), "G01 A1\r\nG01 A2\r\n" + kOff + "\r\n\r\nM30\r\n");
}

TEST(RunE2eTest, EmptyFileStaysEmpty) {
  TempFolder folder;
  for (const std::string& content : {""s, "\xEF\xBB\xBF"s, "\xFF\xFE"s}) {
    std::string path = folder.Write("part.nc", content);
    RunResult result = RunPrune({ProgramPath(path)});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(folder.Read("part.nc"), content);
    EXPECT_EQ(folder.Names(), Names{"part.nc"});
  }
}

TEST(RunE2eTest, EveryEncodingComesBackInItselfWithOnlyThePrunedLinesGone) {
  struct Case {
    const char* name;
    std::string mark;
    std::string (*encode)(std::u16string_view);
    std::u16string comment;
  };
  std::u16string all_high_bytes;
  for (char16_t b = 0x80; b <= 0xFF; ++b) all_high_bytes += b;
  const Case cases[] = {
      {"ANSI", "", Latin1, u"(L\u00E4nge " + all_high_bytes + u")"},
      {"UTF-8", "\xEF\xBB\xBF", Utf8, u"(L\u00E4nge \u00D8 40 \u2013 \u20AC \u4E2D \U0001D11E)"},
      {"UTF-16 LE", "\xFF\xFE", Utf16Le, u"(L\u00E4nge \u4E2D \U0001D11E \xD800 \u0000)"s},
      {"UTF-16 BE", "\xFE\xFF", Utf16Be, u"(L\u00E4nge \u4E2D \U0001D11E \xDC00 \u0000)"s},
  };
  const std::u16string on = u"FARCALL $STRGLOB1 \"LASER_ON\"";
  const std::u16string off = u"FARCALL $STRGLOB1 \"LASER_OFF\"";
  // A program of one block, and one of thousands (a few MB, which a run on Linux reads and
  // writes a piece at a time).
  for (int blocks : {1, 12000}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(blocks) + " blocks");
      // Every kind of line ending on the way in, CR LF on the way out.
      std::u16string input, pruned;
      for (int i = 0; i < blocks; ++i) {
        input += c.comment + u"\r\n" + on + u"\nG01 A1\rG01 A2\r\nG01 A3\nG00 X5\n" + off +
                 u"\r\nG01 A4\rG01 A5\n";
        pruned += c.comment + u"\r\n" + on + u"\r\nG01 A3\r\nG00 X5\r\n" + off +
                  u"\r\nG01 A4\r\nG01 A5\r\n";
      }
      input += u"M30";
      pruned += u"M30\r\n";
      TempFolder folder;
      std::string path = folder.Write("part.nc", c.mark + c.encode(input));
      RunResult result = RunPrune({ProgramPath(path)});
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_TRUE(folder.Read("part.nc") == c.mark + c.encode(pruned));
      EXPECT_EQ(folder.Names(), Names{"part.nc"});
      ExpectSilent(result, c.name);
    }
  }
}

/// A setup that writes part.nc with `content` and names it as the argument.
std::function<std::string(const TempFolder&, RunOptions*)> PartWith(const std::string& content) {
  return [content](const TempFolder& folder, RunOptions*) {
    folder.Write("part.nc", content);
    return std::string("part.nc");
  };
}

TEST(RunE2eTest, UndecodableFilesFailAndStayAsTheyWere) {
  const std::string good = "\xEF\xBB\xBFG00 X0\r\n" + kLaserOnLine + "\r\nG01 A1\r\nG01 A2\r\n";
  ExpectFailuresChangeNothing({
      {"stray continuation byte", PartWith(good + "(\x80)\r\n" + kOff)},
      {"lead byte without continuation", PartWith(good + "(L\xC3nge)\r\n")},
      {"overlong form", PartWith(good + "(\xC0\xAF)\r\n")},
      {"encoded surrogate", PartWith(good + "(\xED\xA0\x80)\r\n")},
      {"above U+10FFFF", PartWith(good + "(\xF4\x90\x80\x80)\r\n")},
      {"truncated last sequence", PartWith(good + "\xE2\x82")},
      {"one byte after a UTF-16 mark", PartWith("\xFF\xFE"
                                                "A")},
      {"ill-formed at the end of a program of many pieces",
       PartWith(good + std::string(4 << 20, 'x') + "\r\n(\xC3)\r\n")},
  });
}

TEST(RunE2eTest, SymbolicLinkToAFileStaysALink) {
  if (UnderWine()) GTEST_SKIP() << "symbolic links are a POSIX matter here";
  TempFolder folder;
  folder.Write("echt/part.nc", kProgram);
  fs::create_symlink("echt/part.nc", folder.At("link.nc"));
  RunResult result = RunPrune({ProgramPath(folder.At("link.nc"))});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("echt/part.nc"), kPruned);
  EXPECT_TRUE(fs::is_symlink(folder.At("link.nc")));
  EXPECT_EQ(fs::read_symlink(folder.At("link.nc")), "echt/part.nc");
  EXPECT_EQ(folder.Names(), (Names{"echt", "link.nc"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.At("echt")), {}), 1);
  ExpectSilent(result, "link");
}

TEST(RunE2eTest, PermissionBitsAreKept) {
  if (UnderWine()) GTEST_SKIP() << "permission bits are a POSIX matter";
  for (mode_t mode : {0600, 0640, 0664, 0755, 0604}) {
    TempFolder folder;
    std::string path = folder.Write("part.nc", kProgram);
    chmod(path.c_str(), mode);
    RunResult result = RunPrune({ProgramPath(path)});
    EXPECT_EQ(result.exit_status, 0) << std::oct << mode;
    EXPECT_EQ(folder.Read("part.nc"), kPruned) << std::oct << mode;
    EXPECT_EQ(ModeOf(path) & 07777, mode) << std::oct << mode;
  }
}

/// The folder of the example programs: $PRUNE_EXAMPLES, or the one in the source tree.
fs::path ExamplesFolder() {
  const char* folder = getenv("PRUNE_EXAMPLES");
  if (folder && *folder) return folder;
  return fs::path(__FILE__).parent_path() / "../../examples";
}

/// The example programs in `folder` (NAME.nc), each with what a run makes of it beside it
/// (NAME.pruned.nc), written by hand from the pruning rules.
std::vector<std::string> ExampleNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(".nc") && !name.ends_with(".pruned.nc")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RunE2eTest, ExamplesComeOutAsTheirPrunedFilesSay) {
  const fs::path examples = ExamplesFolder();
  const std::vector<std::string> names = ExampleNames(examples);
  ASSERT_FALSE(names.empty()) << examples;
  for (const std::string& name : names) {
    std::string original = ReadFile(examples / name);
    std::string expected = ReadFile(examples / (name.substr(0, name.size() - 3) + ".pruned.nc"));
    ASSERT_FALSE(original.empty()) << name;
    ASSERT_FALSE(expected.empty()) << name << ": its pruned file is missing";
    TempFolder folder;
    std::string path = folder.Write(name, original);

    RunResult result = RunPrune({ProgramPath(path)});
    EXPECT_EQ(result.exit_status, 0) << name;
    EXPECT_EQ(folder.Read(name), expected) << name;
    EXPECT_EQ(folder.Names(), Names{name}) << name;
    ExpectSilent(result, name);

    // What is left holds no pair of moves in a row inside a section any more.
    RunResult again = RunPrune({ProgramPath(path)});
    EXPECT_EQ(again.exit_status, 0) << name;
    EXPECT_EQ(folder.Read(name), expected) << name << ": a second run changes nothing";
  }
}

}  // namespace
