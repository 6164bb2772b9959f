// Command-line splitting: whatever the line, no argument keeps a double quote, only a last
// argument (a lone quote at the end) may be empty, and the arguments, written again in double
// quotes, split into themselves.
#include <vector>

#include "fuzz/fuzz_check.h"
#include "run/command_line.h"

namespace {

bool IsSeparator(char16_t c) { return c >= 1 && c <= 32; }

Text Join(const std::vector<Text>& arguments, bool quoted) {
  Text line;
  for (const Text& argument : arguments) {
    if (!line.empty()) line += u' ';
    line += quoted ? u'"' + argument + u'"' : argument;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text line = TextFromFuzzBytes(FuzzBytes(data, size));
  std::vector<Text> arguments = SplitCommandLine(line);

  size_t total = 0;
  bool any_separator = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const Text& argument = arguments[i];
    FUZZ_CHECK(argument.find(u'"') == Text::npos, "an argument keeps a double quote");
    FUZZ_CHECK(!argument.empty() || (i + 1 == arguments.size() && line.ends_with(u'"')),
               "an empty argument that is not a lone quote at the end");
    for (char16_t c : argument) any_separator |= IsSeparator(c);
    total += argument.size();
  }
  FUZZ_CHECK(total <= line.size(), "the arguments are longer than the line");

  Text path = PathFromCommandLine(line);
  FUZZ_CHECK(path == (arguments.size() > 1 ? arguments[1] : Text()), "path is not argument 1");
  FUZZ_CHECK(path.find(u'"') == Text::npos, "the path keeps a double quote");

  std::vector<Text> nonempty;
  for (const Text& argument : arguments) {
    if (!argument.empty()) nonempty.push_back(argument);
  }
  FUZZ_CHECK(SplitCommandLine(Join(nonempty, true)) == nonempty, "quoted arguments split apart");
  if (!any_separator) {
    FUZZ_CHECK(SplitCommandLine(Join(nonempty, false)) == nonempty, "plain arguments split apart");
  }
  return 0;
}
