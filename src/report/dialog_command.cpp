#include "report/dialog_command.h"

std::vector<std::string> DialogCommand(std::string_view program, const std::string& caption,
                                       const std::string& text) {
  std::string name(program);
  if (program == "zenity") {
    return {name, "--error", "--no-markup", "--title=" + caption, "--text=" + text};
  }
  if (program == "kdialog") return {name, "--title", caption, "--error", text};
  return {name, "-title", caption, "-buttons", "OK", text};
}

std::string DialogText(TextView text) {
  Text lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) {
      lines.push_back(text[i]);
    }
  }
  return NativeFromText(lines);
}
