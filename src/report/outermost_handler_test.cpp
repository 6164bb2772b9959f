#include "report/outermost_handler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "base/failure.h"
#include "files/own_path.h"
#include "report/report_text.h"
#include "testing/test_support.h"

namespace {

using Log = std::vector<std::string>;

/// Records the boxes in the same log as the steps, so that their order shows, and whether the
/// memory failure's handler was still installed when a box was shown.
class RecordingPresenter : public Presenter {
 public:
  RecordingPresenter(Log* log, std::new_handler outside) : log_(log), outside_(outside) {}
  void ShowReport(const Text& text) override { Record("report " + NativeFromText(text)); }
  void ShowFallback(const std::string& text) override { Record("fallback " + text); }
  bool handler_at_box() const { return handler_at_box_; }

 private:
  void Record(const std::string& box) {
    log_->push_back(box);
    handler_at_box_ = std::get_new_handler() != outside_;
  }
  Log* log_;
  std::new_handler outside_;
  bool handler_at_box_ = false;
};

/// The executable's file name as reports give it ("prune_tests", or "prune_tests.exe").
std::string ExecutableName() { return NativeFromText(ModuleName(OwnExecutablePath())); }

// The lowest page is never mapped, so a failure there falls back to the executable's name
// with the location less hex 1000.
constexpr uintptr_t kUnmapped = 0x1234;
const std::string kReportOfRunFailure = "report Exception EWriteError in Modul " +
                                        ExecutableName() +
                                        " bei 0000000000000234.\r\n"
                                        "Stream-Schreibfehler.\r\n";

void NormalRun() {}
void FailingRun() { throw Failure{"EWriteError", u"Stream-Schreibfehler", kUnmapped}; }
void ForeignRun() { throw std::runtime_error("foreign"); }
void RefusedRun() { throw std::bad_alloc(); }

/// A step of the start-up or the clean-up: it logs `name`, then raises a failure at `location`
/// (nothing when 0, something that is no failure when kForeign). The memory failure's handler is
/// installed before the start-up's steps and goes after the clean-up's.
constexpr uintptr_t kForeign = ~uintptr_t{0};
std::function<void()> Step(Log* log, std::string name, uintptr_t location,
                           std::new_handler outside) {
  return [=] {
    log->push_back(name);
    EXPECT_NE(std::get_new_handler(), outside) << name;
    if (location == kForeign) throw std::runtime_error("foreign");
    if (location != 0) throw Failure{"EServiceError", u"Dienst", location};
  };
}

TEST(OutermostHandlerTest, StartsRunsAndCleansUpInReverse) {
  const struct {
    const char* name;
    uintptr_t start_failure;     // where the start-up step fails; 0: it does not
    uintptr_t clean_up_failure;  // where the clean-up step fails; 0: it does not
    std::function<void()> run;
    int status;
    Log log;
    bool handler_at_box;  // the memory failure's handler was still installed at the box
  } cases[] = {
      {"normal end", 0, 0, NormalRun, 0, {"start", "run", "clean up"}, false},
      {"start-up failure undone, failing step included, before the fallback box",
       0x40FD44,
       0,
       NormalRun,
       217,
       {"start", "clean up", "fallback Runtime error 217 at 000000000040FD44"},
       false},
      {"start-up failure with a failing undo: the first failure counts",
       0x40FD44,
       0x1002,
       NormalRun,
       217,
       {"start", "clean up", "fallback Runtime error 217 at 000000000040FD44"},
       false},
      {"start-up raising something else than a failure",
       kForeign,
       0,
       NormalRun,
       217,
       {"start", "clean up", "fallback Runtime error 217 at 0000000000000000"},
       false},
      {"clean-up failure after a normal end: all cleaned up, then the fallback box",
       0,
       0x1002,
       NormalRun,
       217,
       {"start", "run", "clean up", "fallback Runtime error 217 at 0000000000001002"},
       false},
      {"run failure: the box before the clean-up",
       0,
       0,
       FailingRun,
       1,
       {"start", "run", kReportOfRunFailure, "clean up"},
       true},
      {"clean-up failure after the failure report changes nothing",
       0,
       0x1002,
       FailingRun,
       1,
       {"start", "run", kReportOfRunFailure, "clean up"},
       true},
      {"another exception gets the fallback box",
       0,
       0,
       ForeignRun,
       217,
       {"start", "run", "fallback Runtime error 217 at 0000000000000000", "clean up"},
       true},
      {"std::bad_alloc is the memory failure",
       0,
       0,
       RefusedRun,
       1,
       {"start", "run",
        "report Exception EOutOfMemory in Modul " + ExecutableName() +
            " bei 0000000000000000.\r\n"
            "Zu wenig Arbeitsspeicher.\r\n",
        "clean up"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::new_handler outside = std::get_new_handler();
    Log log;
    RecordingPresenter presenter(&log, outside);
    EnclosedSteps steps = {Step(&log, "start", c.start_failure, outside),
                           [&] {
                             log.push_back("run");
                             c.run();
                           },
                           Step(&log, "clean up", c.clean_up_failure, outside)};
    EXPECT_EQ(RunInsideOutermostHandler(steps, presenter), c.status);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(presenter.handler_at_box(), c.handler_at_box);
    EXPECT_EQ(std::get_new_handler(), outside);  // the clean-up put the old handler back
  }
}

/// The report text of the only box that `run` gives, without further steps.
std::string ReportOf(const std::function<void()>& run, int* status) {
  Log log;
  RecordingPresenter presenter(&log, std::get_new_handler());
  *status = RunInsideOutermostHandler({.run = run}, presenter);
  EXPECT_EQ(log.size(), 1u);
  return log.empty() ? std::string() : log[0];
}

/// Splits a report box at " bei " and the 16 hexadecimal digits after it.
bool SplitAtLocation(const std::string& box, std::string* before, uint64_t* location,
                     std::string* after) {
  size_t at = box.find(" bei ");
  if (at == std::string::npos || box.size() < at + 5 + 16) return false;
  std::string digits = box.substr(at + 5, 16);
  if (digits.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
  *before = box.substr(0, at);
  *location = std::stoull(digits, nullptr, 16);
  *after = box.substr(at + 5 + 16);
  return true;
}

TEST(OutermostHandlerTest, ReportNamesTheRaisePointInTheExecutable) {
  int status = -1;
  std::string box = ReportOf(
      [] { RaiseFailure("EFOpenError", u"Datei /x kann nicht geöffnet werden. "); }, &status);
  EXPECT_EQ(status, 1);
  std::string module;
  uint64_t relative = 0;
  std::string rest;
  ASSERT_TRUE(SplitAtLocation(box, &module, &relative, &rest)) << box;
  EXPECT_EQ(module, "report Exception EFOpenError in Modul " + ExecutableName());
  EXPECT_EQ(rest,
            ".\r\nDatei /x kann nicht ge\xC3\xB6"
            "ffnet werden. .\r\n");
  // Relative to the start of the executable's image: within its file, not a process address.
  EXPECT_GT(relative, 0u);
  EXPECT_LT(relative, std::filesystem::file_size(NativeFromText(OwnExecutablePath())));
}

TEST(OutermostHandlerTest, RefusedMemoryIsReportedAsTheMemoryFailure) {
  if (UnderAddressSanitizer()) {
    GTEST_SKIP() << "AddressSanitizer takes over operator new, which then aborts on a refused "
                    "request instead of calling the new handler";
  }
  std::new_handler before = std::get_new_handler();
  int status = -1;
  std::string box = ReportOf(
      [] {
        volatile size_t too_much = SIZE_MAX / 2;
        ::operator delete(::operator new(too_much));
      },
      &status);
  EXPECT_EQ(status, 1);
  std::string module;
  uint64_t location = 0;
  std::string rest;
  ASSERT_TRUE(SplitAtLocation(box, &module, &location, &rest)) << box;
  EXPECT_TRUE(module.starts_with("report Exception EOutOfMemory in Modul ")) << box;
  EXPECT_NE(location, 0u) << "the report names where the request was refused";
  EXPECT_EQ(rest, ".\r\nZu wenig Arbeitsspeicher.\r\n");
  EXPECT_EQ(std::get_new_handler(), before);  // the clean-up put the old handler back
}

TEST(OutermostHandlerTest, RefusedMemoryRaisesOneSmallFailureWithItsLocationOnlyInside) {
  if (UnderAddressSanitizer()) {
    GTEST_SKIP() << "AddressSanitizer takes over operator new, which then aborts on a refused "
                    "request instead of calling the new handler";
  }
  auto refuse = [] {
    volatile size_t too_much = SIZE_MAX / 2;
    ::operator delete(::operator new(too_much));
  };
  auto inside = [&] {
    try {
      refuse();
      ADD_FAILURE() << "the request was met";
    } catch (const OutOfMemory& failure) {
      EXPECT_NE(failure.location(), 0u);
    }
  };
  Log log;
  RecordingPresenter presenter(&log, std::get_new_handler());
  int status = RunInsideOutermostHandler({.run = inside}, presenter);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(log, Log());
  // Outside, a refused request raises the plain exception of the language again.
  try {
    refuse();
    ADD_FAILURE() << "the request was met";
  } catch (const std::bad_alloc& failure) {
    EXPECT_EQ(dynamic_cast<const OutOfMemory*>(&failure), nullptr);
  }
}

}  // namespace
