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
      {"xmessage", {"xmessage", "-title", "Anwendungsfehler", "-buttons", "OK:0", text}},
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

TEST(DialogCommandTest, OnlyTheStatusesOfAClosedBoxMeanItWasShown) {
  const struct {
    std::string_view program;
    int exit_status;
    bool shown;
  } cases[] = {
      {"zenity", 0, true},      {"zenity", 1, true},  // OK; Esc or the close button
      {"zenity", 255, false},   {"zenity", 5, false},  {"kdialog", 0, true},
      {"kdialog", 1, false},    {"kdialog", 2, false}, {"xmessage", 0, true},
      {"xmessage", 1, false},  // cannot open the display
      {"xmessage", 101, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialogShowedBox(c.program, c.exit_status), c.shown)
        << c.program << " " << c.exit_status;
  }
}

TEST(DialogCommandTest, ConsoleReportIsCaptionThenTextEndedByOneLineBreak) {
  const struct {
    std::string caption, text, expected;
  } cases[] = {
      {"Anwendungsfehler", "a.\nb.\n", "Anwendungsfehler\na.\nb.\n"},
      {"Error", "Runtime error 217 at 000000000040FD44",
       "Error\nRuntime error 217 at 000000000040FD44\n"},
      {"Error", "", "Error\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConsoleReport(c.caption, c.text), c.expected);
}

}  // namespace
