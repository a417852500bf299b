// A test binary that ends in the middle of its tests must not count as
// passed. The launcher ends its process with exit code 0 (after a failed
// download, say), and CTest sees only the code: a test that reached such a
// path outside a death test would end the binary early, "passing" every test
// after it unrun. Linked into every test binary that links the fakes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

int processId() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// The process whose tests are running, or 0 outside a run. A death test's
// child ends by design: one forked from the run has another id, and one
// started anew runs with the death-test flag, and is never guarded.
int gRunningPid = 0;

void refuseExitMidRun() {
  if (gRunningPid == 0 || gRunningPid != processId()) return;
  std::fputs("\nthe test binary ended in the middle of its tests (a code path ended the process)\n", stderr);
  std::_Exit(3);
}

class ExitGuard final : public ::testing::EmptyTestEventListener {
 public:
  void OnTestProgramStart(const ::testing::UnitTest&) override {
    if (!GTEST_FLAG_GET(internal_run_death_test).empty()) return;
    gRunningPid = processId();
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override { gRunningPid = 0; }
};

const bool gGuardInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ExitGuard);
  return std::atexit(refuseExitMidRun) == 0;
}();

}  // namespace
