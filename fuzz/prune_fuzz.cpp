// Bytes as an NC program file: decode by the byte-order mark, split into lines, prune, encode.
// Never crashes; either the decode fails, or the pruned program is the input less some move
// lines, exactly as the step-by-step pass deletes them, it reloads to the same lines, and a
// second pass changes nothing.
#include <vector>

#include "encoding/file_encoding.h"
#include "fuzz/fuzz_check.h"
#include "program/line_list.h"
#include "program/prune.h"
#include "testing/program_forms.h"
#include "testing/reference_prune.h"

namespace {

using Lines = std::vector<Text>;

/// Whether `part` is `whole` less some of its lines, each of them holding the move pattern.
bool IsInputLessMoves(const Lines& part, const Lines& whole, const MarkerSet& m) {
  size_t i = 0;
  for (const Text& line : whole) {
    if (i < part.size() && part[i] == line) {
      ++i;
    } else if (line.find(m.move_pattern) == Text::npos) {
      return false;
    }
  }
  return i == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = FuzzBytes(data, size);
  std::optional<LineList> loaded = LinesOfFile(std::string(bytes));
  if (!loaded) {
    EncodingMark mark = DetectEncoding(bytes);
    bool utf16 = mark.encoding == FileEncoding::kUtf16Le || mark.encoding == FileEncoding::kUtf16Be;
    FUZZ_CHECK(mark.encoding == FileEncoding::kUtf8 || (utf16 && size == mark.mark_length + 1),
               "only ill-formed UTF-8 or a single byte after a UTF-16 mark fails the decode");
    return 0;
  }
  LineList& list = *loaded;
  Lines input = LinesOf(list);
  for (const Text& line : input) {
    FUZZ_CHECK(line.find_first_of(u"\r\n") == Text::npos, "a line holds a line break");
  }

  const MarkerSet& markers = SelectMarkerSet(list);
  Prune(list);
  Lines pruned = LinesOf(list);
  FUZZ_CHECK(IsInputLessMoves(pruned, input, markers), "the output is not the input less moves");
  FUZZ_CHECK(pruned == StepByStepPrune(input, markers), "differs from the step-by-step pass");

  std::string saved = SavedBytes(list);
  std::optional<LineList> reloaded = LinesOfFile(saved);
  FUZZ_CHECK(reloaded, "the saved program does not load");
  FUZZ_CHECK(reloaded->encoding() == list.encoding(), "the saved program changed its encoding");
  FUZZ_CHECK(LinesOf(*reloaded) == pruned, "the saved program reloads to other lines");
  FUZZ_CHECK(&SelectMarkerSet(*reloaded) == &markers, "the marker set changed");
  Prune(*reloaded);
  FUZZ_CHECK(LinesOf(*reloaded) == pruned, "a second pass changed the program");
  FUZZ_CHECK(SavedBytes(*reloaded) == saved, "a second save gives other bytes");
  return 0;
}
