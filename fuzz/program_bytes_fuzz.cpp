// Bytes as an NC program file, loaded, pruned and saved the fast way (held as the file's bytes,
// where the file encoding gives back every byte) and the reference way (decoded into a UTF-16
// line list): both fail the decode, or both save the same bytes, and the save hands those bytes
// over in batches of the right size.
#include "files/line_list.h"
#include "files/program_file.h"
#include "fuzz/fuzz_check.h"
#include "run/prune.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(FuzzBytes(data, size));
  LineList list;
  ProgramFile program;
  bool decoded = list.Decode(bytes);
  FUZZ_CHECK(program.Decode(bytes) == decoded, "the decode fails one way only");
  if (!decoded) return 0;
  FUZZ_CHECK((program.bytes() != nullptr) == ProgramBytes::Holds(list.encoding()),
             "the program is held in the wrong form");
  FUZZ_CHECK(program.Encode() == list.Encode(), "the unpruned program saves other bytes");
  PruneProgram(program);
  PruneMoves(list, SelectMarkerSet(list));
  std::string saved = list.Encode();
  FUZZ_CHECK(program.Encode() == saved, "the pruned program saves other bytes");
  if (const ProgramBytes* bytes = program.bytes()) {
    ProgramBytes::SavedContent content(*bytes);
    std::string written;
    auto write = [&](FileContent::Pieces pieces) {
      for (std::string_view piece : pieces) written += piece;
      return pieces.size() <= 1024;
    };
    FUZZ_CHECK(content.WriteTo(write), "a batch holds too many pieces");
    FUZZ_CHECK(written == saved, "the save hands over other bytes");
    FUZZ_CHECK(content.Size() == saved.size(), "the saved size is wrong");
  }
  return 0;
}
