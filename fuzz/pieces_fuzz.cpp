// Bytes as an NC program file, loaded, pruned and saved in pieces of a size that the input
// chooses, by a way that the input chooses (renamed over the program, a new .tap, in place over
// a program with a second link), and the same once more in one piece: both fail with the same
// failure, or both leave the same bytes.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/failure.h"
#include "fuzz/fuzz_check.h"
#include "program/program_file.h"
#include "testing/test_support.h"

namespace {

/// How a run ended and what it left: the failure's kind and text, the program and the .tap.
struct Outcome {
  std::string kind;
  Text message;
  std::string program;
  std::string tap;
  bool operator==(const Outcome&) const = default;
};

enum class Way { kRenamedOver, kNewTap, kInPlace };

/// Loads, prunes and saves `bytes` as `part.nc` in `folder`, in pieces of `piece_size`.
Outcome Run(const TempFolder& folder, const std::string& bytes, size_t piece_size, Way way) {
  folder.Write("part.nc", bytes);
  if (way == Way::kInPlace) link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str());
  Outcome outcome;
  try {
    ProgramFile program(piece_size);
    program.Load(folder.PathOf("part.nc"));
    program.Prune();
    program.Save(folder.PathOf(way == Way::kNewTap ? "part.tap" : "part.nc"));
  } catch (const Failure& failure) {
    outcome.kind = failure.kind;
    outcome.message = failure.message;
  }
  outcome.program = folder.Read("part.nc");
  outcome.tap = folder.Read("part.tap");
  for (const char* name : {"part.nc", "other.nc", "part.tap"}) unlink(folder.At(name).c_str());
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const TempFolder folder;
  // The backups that cannot lie beside the program go to a folder of this run's own.
  setenv("XDG_STATE_HOME", folder.At("state").c_str(), 1);
  const size_t piece_size = 1 + data[0] % 64;
  const Way way = static_cast<Way>(data[1] % 3);
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  const Outcome whole = Run(folder, bytes, kPieceSize, way);
  const Outcome in_pieces = Run(folder, bytes, piece_size, way);
  FUZZ_CHECK(in_pieces.kind == whole.kind, "in pieces, another failure than read whole");
  FUZZ_CHECK(in_pieces.message == whole.message, "in pieces, another failure text");
  FUZZ_CHECK(in_pieces == whole, "in pieces, other bytes saved than read whole");
  return 0;
}
