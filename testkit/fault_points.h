// The loops that stop a run at every operation in turn: count the operations a run makes
// without a fault, then for each point n prepare the machine, run with a fault planned at n,
// clear the plan and check what the run returned and left. Each point's checks run under a
// trace naming the fault and the point, and the loop ends at the first fatal failure.
//
//   uint64_t points = CountOperations(prepare, [&] { result = Migrate(); });
//   FaultAtEveryPoint(points, Failing(platform::kErrorDiskFull),
//                     {prepare, [&] { result = Migrate(); }, [&](uint64_t n) { ... }});
//
// A fault that stops the run (a crash, a power cut) ends a forked child of the test, which
// must end at the point. Windows has no fork: there each such point is a death test, whose
// child runs the test again from its start up to the point, so the long stopping loops take
// their faults from StoppingFaults(), which has none there.
#ifndef QZ7_TESTKIT_FAULT_POINTS_H_
#define QZ7_TESTKIT_FAULT_POINTS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testkit/child_run.h"
#include "testkit/fault_injection.h"

namespace qz7::testkit {

// The exit status of a child that a stopping fault ended.
inline constexpr int kStoppedExitCode = 86;

// What happens at the point, and the name the trace gives it.
struct PointFault {
  const char* name;
  platform::FaultPlan plan;  // its triggerAt is set to the point
  // A power cut that alternates: every name change undone at odd points, every name change
  // kept but unsynced data lost at even ones (the two cuts a file system can give).
  bool namesKeptAtEven = false;

  bool Stops() const { return plan.crash || plan.powerLoss; }
  platform::FaultPlan At(uint64_t n) const {
    platform::FaultPlan at = plan;
    at.triggerAt = n;
    at.namesKept = plan.namesKept || (namesKeptAtEven && n % 2 == 0);
    return at;
  }
};

// The operation at the point fails with error (with repeat, so does every one after it).
inline PointFault Failing(uint32_t error, uint32_t kinds = platform::kAllOperationKinds,
                          bool repeat = false) {
  return {repeat ? "failing from" : "failing", {.error = error, .repeat = repeat, .kinds = kinds}};
}
// The process ends at the point as a killed one does.
inline PointFault Killed(uint32_t kinds = platform::kAllOperationKinds) {
  return {"killed", {.crash = true, .crashExitCode = kStoppedExitCode, .kinds = kinds}};
}
// The process ends at the point as a power cut ends it, the two cuts alternating.
inline PointFault PowerCut(uint32_t kinds = platform::kAllOperationKinds) {
  return {"power cut",
          {.crashExitCode = kStoppedExitCode, .powerLoss = true, .kinds = kinds},
          /*namesKeptAtEven=*/true};
}

// A killed process and a power cut, where a point can stop a run in a forked child; none on
// Windows.
inline std::vector<PointFault> StoppingFaults(uint32_t kinds = platform::kAllOperationKinds) {
#if defined(_WIN32)
  static_cast<void>(kinds);
  return {};
#else
  return {Killed(kinds), PowerCut(kinds)};
#endif
}

// The points of a loop over run: prepare(), then run() without a fault, its operations of the
// given kinds counted.
inline uint64_t CountOperations(const std::function<void()>& prepare,
                                const std::function<void()>& run,
                                uint32_t kinds = platform::kAllOperationKinds) {
  platform::ClearFaultPlan();
  prepare();
  platform::ResetFileOperationCount();
  run();
  const platform::OperationCounts counts = platform::CurrentOperationCounts();
  uint64_t sum = 0;
  for (int kind = 0; kind < platform::kOperationKindCount; ++kind)
    if (kinds & (1u << kind)) sum += counts.byKind[kind];
  return sum;
}

// body(n) for n = first..last, each under a trace "<what> at operation n"; ends after the first
// body that fails fatally.
inline void ForEachPoint(uint64_t first, uint64_t last, const std::string& what,
                         const std::function<void(uint64_t)>& body) {
  for (uint64_t n = first; n <= last; ++n) {
    SCOPED_TRACE(what + " at operation " + std::to_string(n));
    body(n);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

struct FaultLoop {
  std::function<void()> prepare;  // before each run, no fault planned
  // The run, with the point's fault planned. A run that a fault stops ends with its child:
  // what it holds outside the machine (a capture of standard output) is left behind.
  std::function<void()> run;
  std::function<void(uint64_t)> check;  // after it, the plan cleared
};

// For every point n of first..last (1..points by default): loop.prepare(), loop.run() with fault
// planned at n, the plan cleared, loop.check(n). A stopping fault runs the run in a child that must
// end at the point; after the run the child makes one more file operation (a status query of C:\),
// so that a point one past a run's operations stops the process just after the run returned: a
// power cut there loses what the run left unsynced.
inline void FaultAtEveryPoint(uint64_t last, const PointFault& fault, const FaultLoop& loop,
                              uint64_t first = 1) {
  const auto stoppedRun = [&](uint64_t n) {
    platform::SetFaultPlan(fault.At(n));
    loop.run();
    platform::FileStatus status;
    static_cast<void>(platform::GetFileStatus("C:\\", &status));
  };
  ForEachPoint(first, last, fault.name, [&](uint64_t n) {
    platform::ClearFaultPlan();
    loop.prepare();
    if (!fault.Stops()) {
      platform::SetFaultPlan(fault.At(n));
      loop.run();
      platform::ClearFaultPlan();
    } else {
#if defined(_WIN32)
      EXPECT_EXIT(
          {
            stoppedRun(n);
            std::exit(0);
          },
          ::testing::ExitedWithCode(fault.plan.crashExitCode), "")
          << "the run did not stop at the point";
#else
      const int exitCode = ForkedExitCode([&] {
        stoppedRun(n);
        return 0;
      });
      ASSERT_EQ(exitCode, fault.plan.crashExitCode) << "the run did not stop at the point";
#endif
    }
    loop.check(n);
  });
}

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_FAULT_POINTS_H_
