#include "report/report_text.h"

#include <gtest/gtest.h>

namespace {

struct ReportCase {
  const char16_t* kind;
  const char16_t* module_path;
  uint64_t location;
  const char16_t* message;
  const char16_t* expected;
};

TEST(ReportTextTest, ComposesTheTemplate) {
  const ReportCase cases[] = {
      {u"EOutOfMemory", u"C:\\Programme\\prune.exe", 0x1234, u"Zu wenig Arbeitsspeicher",
       u"Exception EOutOfMemory in Modul prune.exe bei 0000000000001234.\r\n"
       u"Zu wenig Arbeitsspeicher.\r\n"},
      // The end mark: a full stop after anything but a full stop, none after nothing.
      {u"EWriteError", u"prune", 0, u"Stream-Schreibfehler.",
       u"Exception EWriteError in Modul prune bei 0000000000000000.\r\nStream-Schreibfehler.\r\n"},
      {u"EFOpenError", u"prune", 0x10, u"Datei x kann nicht geöffnet werden. ",
       u"Exception EFOpenError in Modul prune bei 0000000000000010.\r\n"
       u"Datei x kann nicht geöffnet werden. .\r\n"},
      {u"E", u"p", 1, u"Halt!", u"Exception E in Modul p bei 0000000000000001.\r\nHalt!.\r\n"},
      {u"E", u"p", 1, u"(so)", u"Exception E in Modul p bei 0000000000000001.\r\n(so).\r\n"},
      {u"E", u"p", 1, u"zwei\r\n",
       u"Exception E in Modul p bei 0000000000000001.\r\nzwei\r\n.\r\n"},
      {u"E", u"p", 1, u"", u"Exception E in Modul p bei 0000000000000001.\r\n\r\n"},
      // 16 capital hexadecimal digits whatever the value.
      {u"E", u"p", 0xFFFFFFFFFFFFFFFF, u"m",
       u"Exception E in Modul p bei FFFFFFFFFFFFFFFF.\r\nm.\r\n"},
      {u"E", u"p", 0xABCDEF0123, u"m", u"Exception E in Modul p bei 000000ABCDEF0123.\r\nm.\r\n"},
      // The module name follows the last separator of either kind.
      {u"E", u"/opt/nc tools/prune", 2, u"m",
       u"Exception E in Modul prune bei 0000000000000002.\r\nm.\r\n"},
      {u"E", u"C:\\a/b\\Ü prune.exe", 2, u"m",
       u"Exception E in Modul Ü prune.exe bei 0000000000000002.\r\nm.\r\n"},
      {u"E", u"C:\\dir\\", 2, u"m", u"Exception E in Modul  bei 0000000000000002.\r\nm.\r\n"},
      {u"E", u"", 2, u"m", u"Exception E in Modul  bei 0000000000000002.\r\nm.\r\n"},
      // Placeholders inside the inputs are copied, not filled.
      {u"E%s", u"%p\\x%s", 3, u"100% %s %d %p",
       u"Exception E%s in Modul x%s bei 0000000000000003.\r\n100% %s %d %p.\r\n"},
  };
  for (const ReportCase& c : cases) {
    EXPECT_EQ(ComposeReportText(c.kind, c.module_path, c.location, c.message), c.expected)
        << "message: " << NativeFromText(c.message);
  }
}

TEST(ReportTextTest, CutsAfter1024CodeUnits) {
  const Text head = u"Exception E in Modul p bei 0000000000000000.\r\n";
  const size_t room = kMaxReportLength - head.size();
  struct {
    size_t message_length;
    Text expected_tail;  // the end of the report text
  } cases[] = {
      {room - 3, u"x.\r\n"},  // exactly 1024: kept whole
      {room - 2, u"x.\r"},    // one too many: the LF goes
      {room, u"x"},           // the end mark and the line break go
      {5000, u"x"},
  };
  for (const auto& c : cases) {
    Text text = ComposeReportText(u"E", u"p", 0, Text(c.message_length, u'x'));
    EXPECT_EQ(text.size(), std::min(head.size() + c.message_length + 3, kMaxReportLength));
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_TRUE(text.ends_with(c.expected_tail)) << c.message_length;
  }
}

TEST(ReportTextTest, FillsTheFallbackTemplate) {
  const struct {
    int status;
    uint64_t address;
    const char* expected;
  } cases[] = {
      {217, 0x40FD44, "Runtime error 217 at 000000000040FD44"},
      {0, 0, "Runtime error   0 at 0000000000000000"},
      {1, 0xabc, "Runtime error   1 at 0000000000000ABC"},
      {42, 0x7FFF12345678, "Runtime error  42 at 00007FFF12345678"},
      {255, 0xFFFFFFFFFFFFFFFF, "Runtime error 255 at FFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(FallbackText(c.status, c.address), c.expected);
}

}  // namespace
