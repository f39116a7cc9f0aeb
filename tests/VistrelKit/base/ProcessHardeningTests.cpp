// Each case runs in a child process: the settings it checks hold for the whole process and
// cannot be undone.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "VistrelKit/base/ProcessHardening.h"

namespace vistrel {
namespace {

// Runs the body in a child; the child's exit status is the number of failed checks.
int inChild(int (*body)()) {
  const pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ProcessHardeningTest, NoCoreDumpsAndNoAccessByOtherProcesses) {
  EXPECT_EQ(inChild([] {
              int failures = hardenProcess() ? 1 : 0;
              rlimit core{};
              failures +=
                  ::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 && core.rlim_max == 0
                      ? 0
                      : 1;
              failures += ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : 1;
              return failures;
            }),
            0);
}

TEST(ProcessHardeningTest, AnUnhardenedProcessIsDumpable) {
  // The counter-check: without the call, the same checks see an ordinary process.
  EXPECT_EQ(inChild([] { return ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 1 ? 0 : 1; }), 0);
}

}  // namespace
}  // namespace vistrel
