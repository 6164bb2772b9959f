// A large program is read, pruned and written a piece at a time: the file it saves, the failure
// it raises and the files it leaves are those of the program read whole, wherever the pieces
// end (in a CR LF, in a UTF-8 sequence, in a UTF-16 unit, in the first line), and whichever way
// the save goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "base/failure.h"
#include "encoding/file_encoding.h"
#include "files/system_calls_posix.h"
#include "program/program_file.h"
#include "testing/random_program.h"
#include "testing/test_support.h"

namespace {

using namespace std::string_literals;

/// What a run left: its failure (an empty kind where none) and every file in its folder.
struct Outcome {
  std::string failure;
  std::vector<std::pair<std::string, std::string>> files;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << "failure " << testing::PrintToString(outcome.failure);
  for (const auto& [name, bytes] : outcome.files) {
    *out << "\n  " << name << ": " << testing::PrintToString(bytes);
  }
}

/// Where a run saves, and what its folder holds besides the program.
enum class Target { kNewTap, kProgramByRename, kProgramInPlace };

/// Loads `file` as part.nc, prunes it and saves it to `target`, loading a file larger than
/// `piece_size` bytes in pieces of that size.
Outcome LoadPruneAndSave(const std::string& file, size_t piece_size, Target target) {
  TempFolder folder;
  folder.Write("part.nc", file);
  // A second link keeps a rename from keeping everything: the save then goes in place.
  if (target == Target::kProgramInPlace) {
    link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str());
  }
  Outcome outcome;
  try {
    ProgramFile program(piece_size);
    program.Load(folder.PathOf("part.nc"));
    program.Prune();
    program.Save(folder.PathOf(target == Target::kNewTap ? "part.tap" : "part.nc"));
  } catch (const Failure& failure) {
    outcome.failure = failure.kind;
  }
  for (const std::string& name : folder.Names()) outcome.files.push_back({name, folder.Read(name)});
  return outcome;
}

/// Files whose pieces end everywhere that matters: line endings of every kind, a CR LF that a
/// piece's end may split, a long first line that selects the dialect marker set, multi-byte
/// UTF-8 and UTF-16 of both byte orders, an odd last byte, a last line without an ending, and
/// ill-formed UTF-8 at the start, in the middle and at the very end.
const std::string kFiles[] = {
    "%DSPNC3\r\nM98 L20\r\nG01 A1\r\nG01 A2\nG01 A3\rG01 A4\r\n\r\nG01 A5\r\nM98 L21\r\nG01 A6",
    "  %DSPNC3  \nM98 L20\nG01 A1\nG01 A2\nG01 A3\nM98 L21\n",
    "FARCALL $STRGLOB1 \"LASER_ON\"\r\nG01 A1\r\nG01 A2\r\n\r\rG01 A3\n\rG01 A4\r\n",
    "ActivateStrobeModule\rG01 A1\rG01 A2\rG01 A3\r",
    "\xEF\xBB\xBF"
    "ActivateStrobeModule\r\nG01 A1 (L\xC3\xA4nge \xE2\x82\xAC)\r\nG01 A2 \xF0\x9D\x84\x9E\r\nG01 "
    "A3",
    "\xFF\xFE"
    "A\0c\0t\0i\0v\0a\0t\0e\0S\0t\0r\0o\0b\0e\0M\0o\0d\0u\0l\0e\0\r\0\n\0"
    "G\0"
    "0\0"
    "1\0 \0A\0"
    "1\0\r\0G\0"
    "0\0"
    "1\0 \0A\0"
    "2\0\n\0G\0"
    "0\0"
    "1\0 \0A\0"
    "3\0\r\0\n\0!"s,
    "\xFE\xFF\0M\0"
    "9\0"
    "8\0 \0L\0"
    "2\0"
    "0\0\n\0G\0"
    "0\0"
    "1\0 \0A\0"
    "1\0\n\0G\0"
    "0\0"
    "1\0 \0A\0"
    "2\0\r"s,
    "\xEF\xBB\xBF\xC3\r\nG01 A1\r\nG01 A2\r\n",
    "\xEF\xBB\xBF"
    "ActivateStrobeModule\r\nG01 A1\r\nG01 A2 \xE2\x82\r\nG01 A3\r\n",
    "\xEF\xBB\xBF"
    "ActivateStrobeModule\r\nG01 A1\r\nG01 A2\r\nG01 A3 \xC3",
    "ActivateStrobeModule\r\n" + std::string(300, 'x') + "\r\nG01 A1\r\nG01 A2\r\n",
};

const Target kTargets[] = {Target::kNewTap, Target::kProgramByRename, Target::kProgramInPlace};

TEST(ProgramPiecesPosixTest, SavesWhatTheWholeProgramSavesWhereverThePiecesEnd) {
  for (const std::string& file : kFiles) {
    for (Target target : kTargets) {
      const Outcome whole = LoadPruneAndSave(file, file.size(), target);
      for (size_t piece_size : {1, 2, 3, 5, 7, 16, 64}) {
        EXPECT_EQ(LoadPruneAndSave(file, piece_size, target), whole)
            << testing::PrintToString(file) << " in pieces of " << piece_size << ", target "
            << static_cast<int>(target);
      }
    }
  }
}

TEST(ProgramPiecesPosixTest, AUtf16LineBreakIsFoundInWholeUnitsOnly) {
  // The bytes of two characters side by side can look like a line break one byte out of step
  // with the units: U+0A41 U+0100 is 41 0A 00 01 in UTF-16 LE, U+0100 U+0A41 is 01 00 0A 41 in
  // UTF-16 BE. A piece that ends after them must not be cut there: the start of their line,
  // which holds no move yet, would be taken for the whole move line.
  struct Case {
    const char* name;
    FileEncoding encoding;
    Text characters;
  } cases[] = {
      {"LF out of step, LE", FileEncoding::kUtf16Le, u"\u0A41\u0100"},
      {"LF out of step, BE", FileEncoding::kUtf16Be, u"\u0100\u0A41"},
      {"CR out of step, LE", FileEncoding::kUtf16Le, u"\u0D41\u0100"},
      {"CR out of step, BE", FileEncoding::kUtf16Be, u"\u0100\u0D41"},
  };
  for (const Case& c : cases) {
    std::string file(ByteOrderMark(c.encoding));
    EncodeText(c.encoding,
               u"%DSPNC3\r\nM98 L20\r\nG01 A1\r\nN10 (" + c.characters + c.characters +
                   u") G01 A2\r\nG01 A3\r\nM98 L21\r\n",
               &file);
    const Outcome whole = LoadPruneAndSave(file, file.size(), Target::kNewTap);
    for (size_t piece_size = 40; piece_size <= 80; ++piece_size) {
      EXPECT_EQ(LoadPruneAndSave(file, piece_size, Target::kNewTap), whole)
          << c.name << ", in pieces of " << piece_size;
    }
  }
}

TEST(ProgramPiecesPosixTest, TinyFilesSaveAsTheyDoWholeInPiecesOfAnySize) {
  // A piece is never shorter than the longest byte-order mark; a file no longer than a piece is
  // read whole.
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"UTF-16 LE, its mark", "\xFF\xFE"},
      {"UTF-16 LE, its mark and a byte",
       "\xFF\xFE"
       "A"},
      {"UTF-16 LE, its mark and three bytes",
       "\xFF\xFE"
       "A\0B"s},
      {"UTF-16 BE, its mark", "\xFE\xFF"},
      {"UTF-16 BE, its mark and a byte",
       "\xFE\xFF"
       "A"},
      {"UTF-16 BE, its mark and three bytes", "\xFE\xFF\0AB"s},
      {"UTF-8, its mark", "\xEF\xBB\xBF"},
      {"UTF-8, its mark and a byte",
       "\xEF\xBB\xBF"
       "A"},
      {"UTF-8, its mark and a byte that is no character", "\xEF\xBB\xBF\xC3"},
      {"UTF-8, its mark and three bytes", "\xEF\xBB\xBF\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    for (Target target : kTargets) {
      const Outcome whole = LoadPruneAndSave(c.file, c.file.size(), target);
      for (size_t piece_size = 1; piece_size <= 8; ++piece_size) {
        EXPECT_EQ(LoadPruneAndSave(c.file, piece_size, target), whole)
            << c.name << ", in pieces of " << piece_size << ", target " << static_cast<int>(target);
      }
    }
  }
}

TEST(ProgramPiecesPosixTest, RandomProgramsSaveAsTheyDoWhole) {
  std::mt19937 random(28);
  for (int i = 0; i < 300; ++i) {
    const std::string file = RandomProgramFile(random, static_cast<FileEncoding>(random() % 4));
    const Target target = kTargets[random() % std::size(kTargets)];
    const size_t piece_size = 1 + random() % 40;
    EXPECT_EQ(LoadPruneAndSave(file, piece_size, target),
              LoadPruneAndSave(file, file.size(), target))
        << testing::PrintToString(file) << " in pieces of " << piece_size << ", target "
        << static_cast<int>(target);
  }
}

ssize_t FailingWritev(int, const iovec*, int) {
  errno = EIO;
  return -1;
}

TEST(ProgramPiecesPosixTest, AFailureOfTheLoadGoesBeforeAFailureOfTheSave) {
  std::string good;
  for (int i = 0; i < 100; ++i) good += "G01 A" + std::to_string(i) + "\r\n";
  const std::string ill_formed_at_the_end = "\xEF\xBB\xBF" + good + "\xC3";
  // A second link to the program takes the save in place, where the program is read whole.
  struct Case {
    std::string file;
    std::string output;
    bool write_fails;
    std::string failure;
    bool second_link = false;
  } cases[] = {
      {good, "missing/part.tap", false, "EFCreateError"},
      {ill_formed_at_the_end, "missing/part.tap", false, "EEncodingError"},
      {good, "part.tap", true, "EWriteError"},
      {ill_formed_at_the_end, "part.tap", true, "EEncodingError"},
      {good, "part.nc", true, "EWriteError", true},
      {ill_formed_at_the_end, "part.nc", true, "EEncodingError", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output + (c.write_fails ? ", the write fails" : "") +
                 (c.second_link ? ", in place" : ""));
    TempFolder folder;
    folder.Write("part.nc", c.file);
    if (c.second_link) link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str());
    auto* system_writev = os::writev;
    if (c.write_fails) os::writev = FailingWritev;
    std::string failure;
    try {
      ProgramFile program(64);
      program.Load(folder.PathOf("part.nc"));
      program.Prune();
      program.Save(folder.PathOf(c.output));
    } catch (const Failure& raised) {
      failure = raised.kind;
    }
    os::writev = system_writev;
    EXPECT_EQ(failure, c.failure);
    std::vector<std::string> names = {"part.nc"};
    if (c.second_link) names = {"other.nc", "part.nc"};
    EXPECT_EQ(folder.Names(), names);
    EXPECT_EQ(folder.Read("part.nc"), c.file);
  }
}

/// The system calls of a save, by name, in order.
std::vector<std::string> calls;

ssize_t RecordingRead(int fd, void* buffer, size_t size) {
  calls.push_back("read");
  return read(fd, buffer, size);
}

ssize_t RecordingWritev(int fd, const iovec* vectors, int count) {
  calls.push_back("writev");
  return writev(fd, vectors, count);
}

TEST(ProgramPiecesPosixTest, ALargeProgramIsStillBeingReadWhileItsFirstPiecesAreWritten) {
  std::string file;
  for (int i = 0; i < 20000; ++i) file += "G01 A" + std::to_string(i) + "\r\n";
  TempFolder folder;
  folder.Write("part.nc", file);
  calls.clear();
  auto* system_read = os::read;
  auto* system_writev = os::writev;
  os::read = RecordingRead;
  os::writev = RecordingWritev;
  ProgramFile program(4096);
  program.Load(folder.PathOf("part.nc"));
  program.Prune();
  program.Save(folder.PathOf("part.tap"));
  os::read = system_read;
  os::writev = system_writev;
  EXPECT_EQ(folder.Read("part.tap"), file);
  auto first_write = std::find(calls.begin(), calls.end(), "writev");
  EXPECT_GT(std::count(first_write, calls.end(), "read"), 10) << "read whole before the write";
}

}  // namespace
