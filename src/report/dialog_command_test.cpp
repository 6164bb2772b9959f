#include "report/dialog_command.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogCommandTest, PassesCaptionAndTextAsPlainArguments) {
  const std::string text = "Datei \"$HOME/*.nc\" <b>; rm -rf\n";
  const struct {
    std::string_view program;
    std::vector<std::string> expected;
  } cases[] = {
      {"zenity",
       {"zenity", "--error", "--no-markup", "--title=Anwendungsfehler", "--text=" + text}},
      {"kdialog", {"kdialog", "--title", "Anwendungsfehler", "--error", text}},
      {"xmessage", {"xmessage", "-title", "Anwendungsfehler", "-buttons", "OK", text}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialogCommand(c.program, "Anwendungsfehler", text), c.expected);
  }
}

TEST(DialogCommandTest, TextBreaksLinesAtLfInUtf8) {
  const struct {
    const char16_t* text;
    std::string expected;
  } cases[] = {
      {u"a\r\nb\r\n", "a\nb\n"},
      {u"a\rb\nc", "a\rb\nc"},  // only the pair is one break
      {u"\r\r\n\n", "\r\n\n"},
      {u"geöffnet\r\n",
       "ge\xC3\xB6"
       "ffnet\n"},
      {u"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DialogText(c.text), c.expected);
}

}  // namespace
