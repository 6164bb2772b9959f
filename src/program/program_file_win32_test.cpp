// Where the program file checks the system's ANSI code page: on its creation, before any file is
// opened, whichever form it will hold the program in.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/failure.h"
#include "files/system_calls_win32.h"
#include "program/program_file.h"
#include "testing/failure_of.h"
#include "testing/test_support.h"

namespace {

/// Makes the system refuse every code page while it lives.
class RefusedCodePages {
 public:
  RefusedCodePages() : system_(os::GetCPInfo) {
    os::GetCPInfo = [](UINT, LPCPINFO) -> BOOL {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    };
  }
  ~RefusedCodePages() { os::GetCPInfo = system_; }

 private:
  decltype(os::GetCPInfo) system_;
};

TEST(ProgramFileWin32Test, ARefusedCodePageFailsBeforeAnyFileIsOpened) {
  TempFolder folder;
  folder.Write("utf8.nc", "\xEF\xBB\xBFG01 A1\r\n");
  // A file whose open would fail, and one that would be held as its bytes, with no line list.
  const Text files[] = {folder.PathOf("fehlt.nc"), folder.PathOf("utf8.nc")};
  for (const Text& path : files) {
    RefusedCodePages refused;
    bool loaded = false;
    Failure failure = FailureOf([&] {
      ProgramFile program;
      program.Load(path);
      loaded = true;
    });
    EXPECT_EQ(failure.kind, "EEncodingError");
    EXPECT_EQ(failure.message, u"Ung\u00FCltige Codeseite");
    EXPECT_FALSE(loaded);
  }
}

}  // namespace
