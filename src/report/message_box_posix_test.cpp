// The boxes where none can be shown: the report reaches standard error instead.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "report/message_box.h"
#include "testing/test_support.h"

namespace {

/// Sets the environment variable `name` to `value` (unsets it for nothing) while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(old_); }

 private:
  void Set(const std::optional<std::string>& value) {
    value ? setenv(name_, value->c_str(), 1) : unsetenv(name_);
  }
  const char* name_;
  std::optional<std::string> old_;
};

/// Runs `show` with file descriptor 2 on `fd`, then puts standard error back.
void WithStandardErrorOn(int fd, const std::function<void()>& show) {
  int saved = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  show();
  dup2(saved, STDERR_FILENO);
  close(saved);
}

TEST(PlatformMessageBoxesTest, WithoutDisplayBothBoxesGoToStandardError) {
  ScopedVariable display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", "");
  const struct {
    const char* name;
    std::function<void(PlatformMessageBoxes&)> show;
    std::string expected;
  } cases[] = {
      {"report",
       [](PlatformMessageBoxes& boxes) {
         boxes.ShowReport(u"Exception E in Modul m.\r\nge\u00f6ffnet.\r\n");
       },
       "Anwendungsfehler\nException E in Modul m.\nge\xC3\xB6"
       "ffnet.\n"},
      {"fallback",
       [](PlatformMessageBoxes& boxes) {
         boxes.ShowFallback("Runtime error 217 at 000000000040FD44");
       },
       "Error\nRuntime error 217 at 000000000040FD44\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    std::string path = folder.Write("err", "");
    FILE* err = fopen(path.c_str(), "w");
    ASSERT_TRUE(err);
    PlatformMessageBoxes boxes;
    WithStandardErrorOn(fileno(err), [&] { c.show(boxes); });
    fclose(err);
    EXPECT_EQ(folder.Read("err"), c.expected);
  }
}

TEST(PlatformMessageBoxesTest, BrokenStandardErrorDoesNotEndTheProcess) {
  ScopedVariable display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
  void (*inherited)(int) = signal(SIGPIPE, SIG_DFL);  // as a shell starts the program
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // no reader: a write raises SIGPIPE
  PlatformMessageBoxes boxes;
  WithStandardErrorOn(ends[1], [&] { boxes.ShowFallback("Runtime error 217 at 0"); });
  close(ends[1]);
  EXPECT_EQ(signal(SIGPIPE, inherited), SIG_DFL);  // the disposition is given back
}

}  // namespace
