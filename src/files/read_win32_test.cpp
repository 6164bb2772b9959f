#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/failure.h"
#include "files/absolute_path.h"
#include "files/read.h"
#include "testing/failure_of.h"
#include "testing/system_text_win32.h"
#include "testing/test_support.h"

namespace {

/// Writes `bytes` to `name` in `folder` and gives its path as the system's operations take it.
Text Put(const TempFolder& folder, const std::string& name, const std::string& bytes) {
  folder.Write(name, bytes);
  return folder.PathOf(name);
}

TEST(ReadWin32Test, LoadReadsTheWholeFileOrFailsToOpen) {
  TempFolder folder;
  std::string bytes(
      "\xEF\xBB\xBF"
      "A\0\r\n\xFF",
      8);
  EXPECT_EQ(ReadWholeFile(Put(folder, "part.nc", bytes)), bytes);
  EXPECT_EQ(ReadWholeFile(Put(folder, "empty.nc", "")), "");

  struct Case {
    const char* name;
    Text path;
    DWORD error;
  };
  const Case cases[] = {
      {"missing file", folder.PathOf("missing.nc"), ERROR_FILE_NOT_FOUND},
      {"missing folder", folder.PathOf("missing\\part.nc"), ERROR_PATH_NOT_FOUND},
      {"folder", folder.PathOf(""), ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Failure failure = FailureOf([&] { ReadWholeFile(c.path); });
    EXPECT_EQ(failure.kind, "EFOpenError");
    EXPECT_EQ(failure.message, u"Datei " + AbsolutePath(c.path) +
                                   u" kann nicht ge\u00F6ffnet werden. " + SystemText(c.error));
  }
}

}  // namespace
