#include "core/scp/request_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

TEST(RequestQueue, OneEntryPerTypeAndBranch) {
  KT_RequestQueue q;
  EXPECT_EQ(q.Post(4, 0, 1, 1), 1);
  EXPECT_EQ(q.Post(4, 0, 1, 1), 0);
  EXPECT_EQ(q.Post(4, 0, 1, 2), 1);
  EXPECT_EQ(q.GetCount(), 2);
  EXPECT_EQ(q.Find(4, 2), 1);
  EXPECT_EQ(q.Find(5, 1), -1);
}

TEST(RequestQueue, SetPostedOverAPendingReadIsNotLost) {
  KT_RequestQueue q;
  EXPECT_EQ(q.Post(5, 0, 0, 2), 1);  // stale GET: read the block from its file
  EXPECT_EQ(q.Post(5, 0, 1, 2), 0);  // SET of the same branch before the worker ran
  int set = -1, branch = -1;
  q.ResetCursor();
  EXPECT_EQ(q.GetNext(set, branch), 5);
  EXPECT_EQ(set, 1);  // the change is applied, not overwritten by the read
  // A later read never turns a queued SET back into a read.
  EXPECT_EQ(q.Post(5, 0, 0, 2), 0);
  q.ResetCursor();
  EXPECT_EQ(q.GetNext(set, branch), 5);
  EXPECT_EQ(set, 1);
  EXPECT_EQ(q.GetCount(), 1);
}

TEST(RequestQueue, SetPostedWhileItsEntryIsServedIsServedOnceMore) {
  // (first post's set flag, whether the second post comes while the worker serves the entry,
  // the second post's set flag) -> how many passes serve it.
  const struct {
    int firstSet;
    bool whileServed;
    int secondSet;
    int passes;
  } kCases[] = {
      {1, true, 1, 2},   // the worker may have read the block before the change came
      {0, true, 1, 2},   // a read in progress, then a SET
      {1, false, 1, 1},  // merged before the worker got to it: one pass applies both
      {1, true, 0, 1},   // a read during a SET adds nothing
      {0, true, 0, 1},
  };
  for (const auto& c : kCases) {
    KT_RequestQueue q;
    ASSERT_EQ(q.Post(4, 0, c.firstSet, 0), 1);
    if (!c.whileServed) q.Post(4, 0, c.secondSet, 0);
    int passes = 0;
    int set = -1, branch = -1;
    for (int pass = 0; pass < 4 && q.GetCount() > 0; ++pass) {
      q.ResetCursor();
      while (int type = q.GetNext(set, branch)) {
        ++passes;
        if (pass == 0 && c.whileServed) q.Post(4, 0, c.secondSet, 0);
        if (pass > 0) {
          EXPECT_EQ(set, 1);
        }
        q.Remove(type, branch);
      }
    }
    EXPECT_EQ(passes, c.passes) << c.firstSet << c.whileServed << c.secondSet;
    EXPECT_EQ(q.GetCount(), 0);
  }
  // An entry the worker has left (kept after a failure) is not taken any more.
  KT_RequestQueue q;
  ASSERT_EQ(q.Post(4, 0, 1, 0), 1);
  ASSERT_EQ(q.Post(3, 0, 0, 0), 1);
  int set = -1, branch = -1;
  q.ResetCursor();
  ASSERT_EQ(q.GetNext(set, branch), 4);
  ASSERT_EQ(q.GetNext(set, branch), 3);
  q.Post(4, 0, 1, 0);
  EXPECT_EQ(q.Remove(4, 0), 1);
}

TEST(RequestQueue, EleventhRequestIsRefusedAndLogged) {
  TempDir dir;
  KT_RequestQueue q;
  for (int i = 1; i <= KT_RequestQueue::kSlots; ++i) ASSERT_EQ(q.Post(24, 0, 0, i), 1);
  EXPECT_EQ(q.Post(25, 0, 0, 1), -1);
  EXPECT_EQ(q.errorClass, ERR_REQUEST_QUEUE);
  EXPECT_EQ(q.function, 1);
  EXPECT_EQ(q.code, 1);
  auto log = ReadFileBytes("error.dat");
  ASSERT_EQ(log.size(), 20u);
  EXPECT_EQ(log[4], ERR_REQUEST_QUEUE);
  // A duplicate of a queued request is still recognised when the queue is full.
  EXPECT_EQ(q.Post(24, 0, 1, 3), 0);
  EXPECT_EQ(q.GetCount(), KT_RequestQueue::kSlots);
}

TEST(RequestQueue, RemoveHonoursHoldDeleteDoesNotWithdrawSparesWhatTheWorkerTook) {
  KT_RequestQueue q;
  q.Post(27, 1, 1, 1);
  EXPECT_EQ(q.Remove(27, 1), 0);
  EXPECT_EQ(q.GetCount(), 1);
  EXPECT_EQ(q.Delete(27, 1), 1);
  EXPECT_EQ(q.GetCount(), 0);
  EXPECT_EQ(q.Delete(27, 1), 0);
  q.Post(27, 0, 1, 5);
  EXPECT_EQ(q.Withdraw(27, 5), 1);
  q.Post(27, 0, 1, 5);
  int set = 0, branch = 0;
  q.ResetCursor();
  ASSERT_EQ(q.GetNext(set, branch), 27);
  EXPECT_EQ(q.Withdraw(27, 5), 0);  // the worker serves it
  EXPECT_EQ(q.Delete(27, 5), 1);
  EXPECT_EQ(q.Post(0, 0, 0, 0), 0);  // 0 marks a free slot, never a request
  EXPECT_EQ(q.GetCount(), 0);
}

TEST(RequestQueue, WalkVisitsUsedSlotsAndReusesFreedOnes) {
  KT_RequestQueue q;
  int set = 0, branch = 0;
  EXPECT_EQ(q.GetNext(set, branch), 0);
  q.Post(1, 0, 0, 1);
  q.Post(2, 0, 1, 0);
  q.Post(3, 0, 0, 4);
  q.ResetCursor();
  EXPECT_EQ(q.GetNext(set, branch), 1);
  EXPECT_EQ(q.Remove(1, 1), 1);
  EXPECT_EQ(q.GetNext(set, branch), 2);
  EXPECT_EQ(set, 1);
  EXPECT_EQ(q.GetNext(set, branch), 3);
  EXPECT_EQ(branch, 4);
  EXPECT_EQ(q.GetNext(set, branch), 0);
  EXPECT_EQ(q.Post(9, 0, 0, 9), 1);
  EXPECT_EQ(q.Find(9, 9), 0);  // the slot freed in front of the cursor

  EXPECT_EQ(q.CountPass(3, 4), 1);
  EXPECT_EQ(q.CountPass(3, 4), 1);
  EXPECT_EQ(q.GetAttempts(3, 4), 2);
  EXPECT_EQ(q.CountPass(7, 7), 0);
  EXPECT_EQ(q.GetAttempts(7, 7), 0);
  q.Clear();
  EXPECT_EQ(q.GetCount(), 0);
}

TEST(RequestQueue, PostersAndADrainerShareTheQueue) {
  TempDir dir;  // a full queue logs to error.dat
  KT_RequestQueue q;
  std::atomic<bool> stop{false};
  std::atomic<int> drained{0};
  std::thread drainer([&] {
    while (!stop.load()) {
      int set = 0, branch = 0;
      q.ResetCursor();
      while (int type = q.GetNext(set, branch)) {
        if (q.Delete(type, branch) == 1) ++drained;
      }
    }
  });
  std::vector<std::thread> posters;
  std::atomic<int> added{0};
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (q.Post(1 + (i + t) % 12, 0, i % 2, 0) == 1) ++added;
      }
    });
  }
  for (auto& p : posters) p.join();
  stop = true;
  drainer.join();
  int left = 0, set = 0, branch = 0;
  q.ResetCursor();
  while (q.GetNext(set, branch) != 0) ++left;
  EXPECT_EQ(left, q.GetCount());
  EXPECT_LE(left, KT_RequestQueue::kSlots);
  EXPECT_EQ(added.load(), drained.load() + left);
}

}  // namespace
