#include "core/base/ktdiag.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/named_object.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::TraceCapture;

TEST(KtDiag, OffWritesNothing) {
  KtDiag::SetSink([](std::string_view) { ADD_FAILURE() << "write while output is off"; });
  KtDiag::EnableOutput(false);
  Diag() << "hidden" << 5 << kendl;
  EXPECT_EQ(Diag().LastWriteCount(), 0);
  KtDiag::SetSink(nullptr);
}

TEST(KtDiag, EachInsertionIsOneWrite) {
  TraceCapture capture;
  Diag() << "Detection of UPS took " << 3 << " seconds\n";
  Diag() << -5L << kendl;
  Diag().Printf("%s=%d", "x", 7);
  auto writes = capture.Writes();
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_EQ(writes[0], "Detection of UPS took ");
  EXPECT_EQ(writes[1], "3");
  EXPECT_EQ(writes[3], "-5");
  EXPECT_EQ(writes[4], "\n");
  EXPECT_EQ(writes[5], "x=7");
}

TEST(KtDiag, LongTextIsCutAtTheBuffer) {
  TraceCapture capture;
  std::string longText(5000, 'a');
  Diag() << longText;
  EXPECT_EQ(capture.Text().size(), KtDiag::kBufferSize - 1);
}

TEST(KtDiag, ThreadsNeverMixWithinAWrite) {
  TraceCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::string line(100, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) Diag() << line;
    });
  }
  for (auto& th : threads) th.join();
  for (const auto& w : capture.Writes()) {
    ASSERT_EQ(w.size(), 100u);
    EXPECT_EQ(w.find_first_not_of(w[0]), std::string::npos);
  }
}

}  // namespace

namespace {

using testing_support::TempDir;

TEST(KtDiag, WritesWaitForTheMachineWideTraceMutex) {
  TraceCapture capture;
  Diag() << "warm-up";  // the trace mutex exists from the first write on
  platform::NamedMutex holder;
  ASSERT_TRUE(holder.Open(KtDiag::kMutexName));
  std::atomic<bool> released{false};
  std::atomic<bool> wroteWhileHeld{false};
  KtDiag::SetSink([&](std::string_view) { wroteWhileHeld = !released.load(); });
  std::thread owner([&] {
    ASSERT_EQ(holder.Wait(1000), platform::WaitResult::kSignaled);
    std::thread writer([] { Diag() << "after release"; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    released = true;
    holder.Release();
    writer.join();
  });
  owner.join();
  EXPECT_FALSE(wroteWhileHeld.load());
  EXPECT_GT(Diag().LastWriteCount(), 0);
}

TEST(KtDiag, MissingTraceMutexDropsTheText) {
  TraceCapture capture;
  const std::string unusable(300, 'p');  // no object can carry a name this long
  ::setenv(platform::kNamePrefixVariable, unusable.c_str(), 1);
  Diag() << "dropped";
  EXPECT_EQ(Diag().LastWriteCount(), 0);
  ::unsetenv(platform::kNamePrefixVariable);
  Diag() << "kept";
  EXPECT_EQ(capture.Text(), "kept");
}

TEST(KtDiag, TraceFileReceivesExactLines) {
  TempDir dir;
  KtDiag::EnableOutput(true);
  KtDiag::SetOutputFile("trace.log");
  Diag() << "Detection of UPS took " << 3 << " seconds" << kendl;
  Diag().Printf("%s %ld\n", "value", -5L);
  KtDiag::SetOutputFile("");
  KtDiag::EnableOutput(false);
  EXPECT_EQ(testing_support::ReadFileText("trace.log"), "Detection of UPS took 3 seconds\nvalue -5\n");
}

}  // namespace
