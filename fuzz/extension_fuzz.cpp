// Extension replacement with both separator sets: the result is a prefix of the path followed by
// the extension, and that prefix drops exactly the last dot of the last component and what
// follows it.
#include <algorithm>

#include "base/path.h"
#include "fuzz/fuzz_check.h"

namespace {

void CheckReplacement(TextView path, TextView extension, TextView stops) {
  Text result = ReplaceExtension(path, extension, stops);
  FUZZ_CHECK(result.ends_with(extension), "the result does not end with the extension");
  TextView stem = TextView(result).substr(0, result.size() - extension.size());
  FUZZ_CHECK(path.starts_with(stem), "the part before the extension is no prefix of the path");
  size_t last_stop = path.find_last_of(stops);
  if (stem.size() == path.size()) {
    FUZZ_CHECK(last_stop == TextView::npos || path[last_stop] != u'.', "an extension was kept");
  } else {
    FUZZ_CHECK(last_stop == stem.size() && path[last_stop] == u'.', "cut elsewhere than the dot");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte tells how many of the last characters form the new extension.
  Text text = TextFromFuzzBytes(FuzzBytes(data + 1, size - 1));
  size_t extension_length = std::min<size_t>(data[0] % 8, text.size());
  TextView path = TextView(text).substr(0, text.size() - extension_length);
  Text extension = u"." + Text(TextView(text).substr(path.size()));
  CheckReplacement(path, extension, kWindowsExtensionStops);
  CheckReplacement(path, extension, kPosixExtensionStops);
  return 0;
}
