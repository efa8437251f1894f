// The host guard: nesting rules, double release, and exclusion under contention.
#include "dialogs/frame/host_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(HostControlTest, ReaderThenWriterAndDoubleRelease) {
  {
    KT_HostControl reader(0);
    EXPECT_EQ(KT_HostControl::ReaderCount(), 1);
    reader.Release();
    reader.Release();  // the destructor's release changes nothing either
    EXPECT_EQ(KT_HostControl::ReaderCount(), 0);
    KT_HostControl writer;  // a writer after the reader left proceeds at once
    EXPECT_TRUE(KT_HostControl::WriterActive());
  }
  EXPECT_FALSE(KT_HostControl::WriterActive());
  EXPECT_EQ(KT_HostControl::ReaderCount(), 0);
}

TEST(HostControlTest, TwoReadersHoldItTogether) {
  KT_HostControl a(0);
  KT_HostControl b(0);
  EXPECT_EQ(KT_HostControl::ReaderCount(), 2);
  a.Release();
  EXPECT_EQ(KT_HostControl::ReaderCount(), 1);
  b.Release();
  EXPECT_EQ(KT_HostControl::ReaderCount(), 0);
}

TEST(HostControlTest, WritersExcludeReadersAndEachOtherUnderContention) {
  std::atomic<int> readersInside{0};
  std::atomic<int> writersInside{0};
  std::atomic<bool> violated{false};
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      while (!stop) {
        KT_HostControl reader(0);
        ++readersInside;
        if (writersInside.load() != 0) violated = true;
        std::this_thread::yield();
        --readersInside;
      }
    });
  }
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      for (int n = 0; n < 300; ++n) {
        KT_HostControl writer;
        if (++writersInside != 1 || readersInside.load() != 0) violated = true;
        std::this_thread::yield();
        --writersInside;
        ++writes;
      }
    });
  }
  // The writers finish although readers keep coming: waiting writers go first.
  threads[4].join();
  threads[5].join();
  stop = true;
  for (int i = 0; i < 4; ++i) threads[i].join();
  EXPECT_EQ(writes.load(), 600);
  EXPECT_FALSE(violated.load());
  EXPECT_EQ(KT_HostControl::ReaderCount(), 0);
  EXPECT_EQ(KT_HostControl::WritersWaiting(), 0);
}

}  // namespace
