#include "report/lifecycle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "report/failure.h"
#include "report/memory_failure.h"
#include "report/report_text.h"
#include "run/own_path.h"

namespace {

using Log = std::vector<std::string>;

/// Records the boxes in the same log as the services, so that their order shows.
class RecordingPresenter : public Presenter {
 public:
  explicit RecordingPresenter(Log* log) : log_(log) {}
  void ShowReport(const Text& text) override { log_->push_back("report " + NativeFromText(text)); }
  void ShowFallback(const std::string& text) override { log_->push_back("fallback " + text); }

 private:
  Log* log_;
};

/// A service that logs its start and stop and raises a failure at a given location in one of
/// them when told to.
class FakeService : public Service {
 public:
  FakeService(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
  void Start() override { Do("start", start_failure_); }
  void Stop() override { Do("stop", stop_failure_); }
  uintptr_t start_failure_ = 0, stop_failure_ = 0;  // 0: no failure

 private:
  void Do(const std::string& what, uintptr_t failure) {
    log_->push_back(what + " " + name_);
    if (failure) throw Failure{"EServiceError", u"Dienst", failure};
  }
  std::string name_;
  Log* log_;
};

/// The failure report, logged like the others.
class LoggedReport : public FailureReport {
 public:
  explicit LoggedReport(Log* log) : log_(log) {}
  void Start() override {
    log_->push_back("start report");
    FailureReport::Start();
  }
  void Stop() override {
    log_->push_back("stop report");
    FailureReport::Stop();
  }

 private:
  Log* log_;
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

struct LifecycleCase {
  const char* name;
  std::string services;     // in start order: r = the failure report, a..c = fakes
  const char* start_fails;  // the fake whose start fails at 0x40FD44, if any
  const char* stop_fails;   // fakes whose stop fails, at 0x1000 + their index
  std::function<void()> run;
  int status;
  Log log;
};

void NormalRun() {}
void FailingRun() { throw Failure{"EWriteError", u"Stream-Schreibfehler", kUnmapped}; }
void ForeignRun() { throw std::runtime_error("foreign"); }
void RefusedRun() { throw std::bad_alloc(); }

TEST(LifecycleTest, StartsRunsAndCleansUpInReverse) {
  const LifecycleCase cases[] = {
      {"normal end",
       "rab",
       "",
       "",
       NormalRun,
       0,
       {"start report", "start a", "start b", "run", "stop b", "stop a", "stop report"}},
      {"start-up failure undone, failing one included, before the fallback box",
       "rabc",
       "b",
       "",
       NormalRun,
       217,
       {"start report", "start a", "start b", "stop b", "stop a", "stop report",
        "fallback Runtime error 217 at 000000000040FD44"}},
      {"first start fails",
       "arb",
       "a",
       "",
       NormalRun,
       217,
       {"start a", "stop a", "fallback Runtime error 217 at 000000000040FD44"}},
      {"start-up failure with a failing undo",
       "rab",
       "b",
       "a",
       NormalRun,
       217,
       {"start report", "start a", "start b", "stop b", "stop a", "stop report",
        "fallback Runtime error 217 at 000000000040FD44"}},
      {"clean-up failure after a normal end: all cleaned up, then the fallback box",
       "rab",
       "",
       "b",
       NormalRun,
       217,
       {"start report", "start a", "start b", "run", "stop b", "stop a", "stop report",
        "fallback Runtime error 217 at 0000000000001002"}},
      {"the first clean-up failure counts",
       "rab",
       "",
       "ab",
       NormalRun,
       217,
       {"start report", "start a", "start b", "run", "stop b", "stop a", "stop report",
        "fallback Runtime error 217 at 0000000000001002"}},
      {"run failure: the box before the clean-up",
       "rab",
       "",
       "",
       FailingRun,
       1,
       {"start report", "start a", "start b", "run", kReportOfRunFailure, "stop b", "stop a",
        "stop report"}},
      {"clean-up failure after the failure report changes nothing",
       "rab",
       "",
       "a",
       FailingRun,
       1,
       {"start report", "start a", "start b", "run", kReportOfRunFailure, "stop b", "stop a",
        "stop report"}},
      {"run failure without the failure report in place",
       "ab",
       "",
       "",
       FailingRun,
       217,
       {"start a", "start b", "run", "fallback Runtime error 217 at 0000000000001234", "stop b",
        "stop a"}},
      {"another exception gets the fallback box",
       "ra",
       "",
       "",
       ForeignRun,
       217,
       {"start report", "start a", "run", "fallback Runtime error 217 at 0000000000000000",
        "stop a", "stop report"}},
      {"std::bad_alloc is the memory failure",
       "r",
       "",
       "",
       RefusedRun,
       1,
       {"start report", "run",
        "report Exception EOutOfMemory in Modul " + ExecutableName() +
            " bei 0000000000000000.\r\n"
            "Zu wenig Arbeitsspeicher.\r\n",
        "stop report"}},
  };
  for (const LifecycleCase& c : cases) {
    SCOPED_TRACE(c.name);
    Log log;
    LoggedReport report(&log);
    std::vector<std::unique_ptr<FakeService>> fakes;
    std::vector<Service*> services;
    for (char name : c.services) {
      if (name == 'r') {
        services.push_back(&report);
        continue;
      }
      auto fake = std::make_unique<FakeService>(std::string(1, name), &log);
      if (std::string(c.start_fails).find(name) != std::string::npos) {
        fake->start_failure_ = 0x40FD44;
      }
      if (std::string(c.stop_fails).find(name) != std::string::npos) {
        fake->stop_failure_ = 0x1000 + (name - 'a' + 1);
      }
      services.push_back(fake.get());
      fakes.push_back(std::move(fake));
    }
    RecordingPresenter presenter(&log);
    int status = RunLifecycle(
        services, report,
        [&] {
          log.push_back("run");
          c.run();
        },
        presenter);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(log, c.log);
  }
}

/// The report text of the only box that `run` gives, with the failure report in place.
std::string ReportOf(const std::function<void()>& run, int* status) {
  Log log;
  FailureReport report;
  MemoryFailure memory;
  Service* const services[] = {&report, &memory};
  RecordingPresenter presenter(&log);
  *status = RunLifecycle(services, report, run, presenter);
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

TEST(LifecycleTest, ReportNamesTheRaisePointInTheExecutable) {
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

TEST(LifecycleTest, RefusedMemoryIsReportedAsTheMemoryFailure) {
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
  EXPECT_EQ(rest, ".\r\nZu wenig Arbeitsspeicher.\r\n");
  EXPECT_EQ(std::get_new_handler(), before);  // the clean-up put the old handler back
}

TEST(MemoryFailureTest, RaisesOneSmallFailureWithItsLocation) {
  MemoryFailure memory;
  memory.Start();
  try {
    volatile size_t too_much = SIZE_MAX / 2;
    ::operator delete(::operator new(too_much));
    ADD_FAILURE() << "the request was met";
  } catch (const OutOfMemory& failure) {
    EXPECT_NE(failure.location(), 0u);
  }
  memory.Stop();
  EXPECT_THROW(::operator delete(::operator new(static_cast<size_t>(SIZE_MAX / 2))),
               std::bad_alloc);
}

}  // namespace
