#include "report/outermost_handler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "base/failure.h"
#include "base/own_path.h"
#include "report/report_text.h"
#include "testing/test_support.h"

namespace {

using Log = std::vector<std::string>;

/// Records the boxes in the same log as the run, so that their order shows, and whether the
/// memory failure's handler was still installed when a box was shown.
class RecordingBoxes : public MessageBoxes {
 public:
  RecordingBoxes(Log* log, std::new_handler outside) : log_(log), outside_(outside) {}
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

TEST(OutermostHandlerTest, RunsAndMapsHowTheRunEnds) {
  const struct {
    const char* name;
    std::function<void()> run;
    int status;
    Log log;
  } cases[] = {
      {"normal end", NormalRun, 0, {"run"}},
      {"run failure: the report box", FailingRun, 1, {"run", kReportOfRunFailure}},
      {"another exception gets the fallback box",
       ForeignRun,
       217,
       {"run", "fallback Runtime error 217 at 0000000000000000"}},
      {"std::bad_alloc is the memory failure",
       RefusedRun,
       1,
       {"run", "report Exception EOutOfMemory in Modul " + ExecutableName() +
                   " bei 0000000000000000.\r\n"
                   "Zu wenig Arbeitsspeicher.\r\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::new_handler outside = std::get_new_handler();
    Log log;
    RecordingBoxes boxes(&log, outside);
    auto run = [&] {
      log.push_back("run");
      EXPECT_NE(std::get_new_handler(), outside) << "the memory failure's handler is installed";
      c.run();
    };
    EXPECT_EQ(RunInsideOutermostHandler(run, boxes), c.status);
    EXPECT_EQ(log, c.log);
    // A box shows while the memory failure's handler is still installed.
    EXPECT_EQ(boxes.handler_at_box(), log.size() > 1);
    EXPECT_EQ(std::get_new_handler(), outside);  // the old handler is back
  }
}

/// The report text of the only box that `run` gives, without further steps.
std::string ReportOf(const std::function<void()>& run, int* status) {
  Log log;
  RecordingBoxes boxes(&log, std::get_new_handler());
  *status = RunInsideOutermostHandler(run, boxes);
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
  RecordingBoxes boxes(&log, std::get_new_handler());
  int status = RunInsideOutermostHandler(inside, boxes);
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
