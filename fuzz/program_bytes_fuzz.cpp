// Bytes as an NC program file, loaded, pruned and saved the fast way (held as the file's bytes,
// where the file encoding gives back every byte) and the reference way (decoded into a UTF-16
// line list): both fail the decode, or both save the same bytes, and the save hands those bytes
// over in batches of the right size.
#include "fuzz/fuzz_check.h"
#include "program/line_list.h"
#include "program/program_file.h"
#include "program/prune.h"
#include "testing/program_forms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(FuzzBytes(data, size));
  std::optional<LineList> list = LinesOfFile(bytes);
  ProgramFile program;
  FUZZ_CHECK(program.Decode(bytes) == list.has_value(), "the decode fails one way only");
  if (!list) return 0;
  FUZZ_CHECK(SavedBytes(program) == SavedBytes(*list), "the unpruned program saves other bytes");
  program.Prune();
  Prune(*list);
  std::string saved = SavedBytes(*list);
  FUZZ_CHECK(SavedBytes(program) == saved, "the pruned program saves other bytes");
  if (KeepsEveryByte(list->encoding())) {
    std::optional<ProgramBytes> held = BytesOfFile(bytes);
    FUZZ_CHECK(held, "the bytes fail the decode that the line list passes");
    Prune(*held);
    ProgramBytes::SavedContent content(*held);
    std::string written;
    auto write = [&](FileContent::Slices slices) {
      for (std::string_view slice : slices) written += slice;
      return slices.size() <= 1024;
    };
    FUZZ_CHECK(content.WriteTo(write), "a batch holds too many slices");
    FUZZ_CHECK(written == saved, "the save hands over other bytes");
    FUZZ_CHECK(content.Size() == saved.size(), "the saved size is wrong");
  }
  return 0;
}
