// The scans' wait over several descriptors: what it tells its callers about
// a wait that ended without anything to read.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>

#include "sys/WaitSet.h"

namespace {

using ylvane::sys::WaitSet;

TEST(WaitSet, TellsReadyFromTimedOut) {
  const int ev = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(ev, 0);
  WaitSet set;
  set.Add(ev);
  EXPECT_EQ(set.Wait(0), WaitSet::Result::Nothing);
  uint64_t one = 1;
  ASSERT_EQ(write(ev, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  EXPECT_EQ(set.Wait(0), WaitSet::Result::Ready);
  EXPECT_TRUE(set.Ready(0));
  close(ev);
}

// A wait the system refuses outright would be refused on every retry: the
// caller must hear of it rather than try again until its deadline.
TEST(WaitSet, RefusedWaitIsAFailureNotATimeOut) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  WaitSet set;
  // More entries than this process may have descriptors: poll() says EINVAL.
  for (int i = 0; i < 17; ++i) set.Add(-1);
  const WaitSet::Result result = set.Wait(0);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_EQ(result, WaitSet::Result::Failed);
}

}  // namespace
