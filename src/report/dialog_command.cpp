#include "report/dialog_command.h"

std::vector<std::string> DialogCommand(std::string_view program, const std::string& caption,
                                       const std::string& text) {
  std::string name(program);
  if (program == "zenity") {
    return {name, "--error", "--no-markup", "--title=" + caption, "--text=" + text};
  }
  if (program == "kdialog") return {name, "--title", caption, "--error", text};
  // The OK button ends it with status 0, as closing its window does.
  return {name, "-title", caption, "-buttons", "OK:0", text};
}

bool DialogShowedBox(std::string_view program, int exit_status) {
  // Status 1 is how zenity tells that the box was closed by Esc or by its frame's close button.
  return exit_status == 0 || (program == "zenity" && exit_status == 1);
}

std::string ConsoleReport(const std::string& caption, const std::string& text) {
  std::string report = caption + "\n" + text;
  if (!report.ends_with('\n')) report += '\n';
  return report;
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
