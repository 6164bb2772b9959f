#include "run/command_line.h"

namespace {

bool IsSeparator(char16_t c) { return c >= 1 && c <= 32; }

}  // namespace

std::vector<Text> SplitCommandLine(TextView line) {
  std::vector<Text> arguments;
  size_t i = 0;
  for (;;) {
    while (i < line.size()) {
      if (IsSeparator(line[i])) {
        ++i;
      } else if (line[i] == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
        i += 2;
      } else {
        break;
      }
    }
    if (i >= line.size()) return arguments;
    Text argument;
    bool quoted = false;
    for (; i < line.size() && (quoted || !IsSeparator(line[i])); ++i) {
      if (line[i] == u'"') {
        quoted = !quoted;
      } else {
        argument.push_back(line[i]);
      }
    }
    arguments.push_back(std::move(argument));
  }
}

Text PathFromCommandLine(TextView command_line) {
  std::vector<Text> arguments = SplitCommandLine(command_line);
  return arguments.size() > 1 ? arguments[1] : Text();
}

Text PathFromArguments(const std::vector<Text>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (!arguments[i].empty()) return arguments[i];
  }
  return Text();
}
