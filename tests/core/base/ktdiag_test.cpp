#include "core/base/ktdiag.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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

TEST(KtDiag, EachFinishedLineIsOneWrite) {
  TraceCapture capture;
  Diag() << "Detection of UPS took " << 3 << " seconds\n";
  EXPECT_EQ(Diag().LastWriteCount(), 32);
  Diag() << -5L << kendl;
  Diag().Printf("%s=%d\nnext ", "x", 7);
  EXPECT_EQ(Diag().LastWriteCount(), 4);  // "x=7\n"; "next " waits for its line end
  Diag() << "line" << kendl;
  Diag() << "unfinished";
  auto writes = capture.Writes();  // writes out the unfinished line first
  EXPECT_EQ(writes, (std::vector<std::string>{"Detection of UPS took 3 seconds\n", "-5\n", "x=7\n",
                                               "next line\n", "unfinished"}));
}

TEST(KtDiag, LongTextIsCutAtTheBuffer) {
  TraceCapture capture;
  std::string longText(5000, 'a');
  Diag() << longText;
  EXPECT_EQ(capture.Text().size(), KtDiag::kBufferSize - 1);
}

// Lines built of several insertions, traced by several threads at once, come out whole and
// in each thread's order; a thread that ends mid-line has its text written.
TEST(KtDiag, ThreadsNeverMixWithinALine) {
  TraceCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) Diag() << "thread " << t << " line " << i << " returned " << i % 7 << kendl;
      Diag() << "thread " << t << " ends";
    });
  }
  for (auto& th : threads) th.join();
  const std::string text = capture.Text();
  int next[4] = {0, 0, 0, 0};
  int ends = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    int t = -1;
    int i = -1;
    int r = -1;
    char tail = 0;
    if (std::sscanf(line.c_str(), "thread %d line %d returned %d%c", &t, &i, &r, &tail) == 3 && t >= 0 && t < 4) {
      EXPECT_EQ(i, next[t]) << line;
      EXPECT_EQ(r, i % 7) << line;
      next[t] = i + 1;
    } else if (std::sscanf(line.c_str(), "thread %d ends%c", &t, &tail) == 1) {
      ++ends;
    } else {
      ADD_FAILURE() << "fused line: " << line;
    }
  }
  EXPECT_EQ(std::vector<int>(next, next + 4), std::vector<int>(4, 300));
  EXPECT_EQ(ends, 4);
}

}  // namespace

namespace {

using testing_support::TempDir;

TEST(KtDiag, WritesWaitForTheMachineWideTraceMutex) {
  TraceCapture capture;
  Diag() << "warm-up" << kendl;  // the trace mutex exists from the first write on
  platform::NamedMutex holder;
  ASSERT_TRUE(holder.Open(KtDiag::kMutexName));
  std::atomic<bool> released{false};
  std::atomic<bool> wroteWhileHeld{false};
  KtDiag::SetSink([&](std::string_view) { wroteWhileHeld = !released.load(); });
  std::thread owner([&] {
    ASSERT_EQ(holder.Wait(1000), platform::WaitResult::kSignaled);
    std::thread writer([] { Diag() << "after release" << kendl; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    released = true;
    holder.Release();
    writer.join();
  });
  owner.join();
  EXPECT_FALSE(wroteWhileHeld.load());
  EXPECT_GT(Diag().LastWriteCount(), 0);
}

// Many threads tracing at once: every write goes out while its thread holds the trace mutex
// (none waits out the bound and writes unserialised because a lost owner record left the
// mutex taken for good), every line arrives, and the mutex is free afterwards.
TEST(KtDiag, ManyWritingThreadsAlwaysGetTheTraceMutex) {
  TraceCapture capture;
  Diag() << "warm-up" << kendl;
  platform::NamedMutex probe;
  ASSERT_TRUE(probe.Open(KtDiag::kMutexName));
  constexpr int kThreads = 8;
  constexpr int kLines = 4000;
  std::atomic<int> lines{0};
  std::atomic<int> unguarded{0};
  KtDiag::SetSink([&](std::string_view) {
    // The writing thread holds the mutex: taking it once more must succeed at once.
    if (probe.Wait(0) == platform::WaitResult::kSignaled) {
      probe.Release();
    } else {
      ++unguarded;
    }
    ++lines;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines && unguarded.load() == 0; ++i) Diag() << "writer " << t << " line " << i << kendl;
    });
  }
  for (auto& th : threads) th.join();
  KtDiag::SetSink(nullptr);
  EXPECT_EQ(unguarded.load(), 0);
  EXPECT_EQ(lines.load(), kThreads * kLines);
  EXPECT_EQ(probe.Wait(0), platform::WaitResult::kSignaled);  // not held, not abandoned
  probe.Release();
}

// A trace mutex that cannot be made costs no line: the lines go out unserialised, and the
// trace says once why.
TEST(KtDiag, MissingTraceMutexLeavesTheTextUnserialised) {
  TraceCapture capture;
  const std::string unusable(300, 'p');  // no object can carry a name this long
  ::setenv(platform::kNamePrefixVariable, unusable.c_str(), 1);
  Diag() << "unserialised" << kendl;
  Diag() << "twice" << kendl;
  testing_support::RestoreProgramNamePrefix();
  Diag() << "kept" << kendl;
  EXPECT_EQ(capture.Text(), "KtDiag: the trace mutex \"" + unusable + KtDiag::kMutexName +
                                "\" cannot be made (File name too long); trace lines go out without it "
                                "until it can\nunserialised\ntwice\nkept\n");
}

// Another process that keeps the trace mutex, for good or letting it go only now and then,
// costs a tracing program its 2 s once, not on every line (which took minutes): every line of
// two threads comes out within a few seconds, the trace says so once, and once the mutex is
// free the lines are serialised again.
TEST(KtDiag, TraceMutexKeptByAnotherProcessCostsItsWaitOnce) {
  for (const int gapMs : {0, 25}) {
    SCOPED_TRACE(gapMs);
    const std::string prefix = testing_support::UniqueName("ktdiagheld");
    testing_support::ScopedNamePrefix scoped(prefix);
    TraceCapture capture;
    Diag() << "warm-up" << kendl;  // makes the mutex
    testing_support::HeldFileLock other("/dev/shm" + platform::SharedObjectName(KtDiag::kMutexName),
                                        testing_support::HeldFileLock::Kind::kFirstByte, 300, gapMs);
    ASSERT_TRUE(other.held());
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    std::atomic<int> lines{0};
    auto trace = [&] {
      for (int i = 0; i < 100 && std::chrono::steady_clock::now() < bound; ++i, ++lines) {
        Diag() << "line " << i << kendl;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    };
    std::thread second(trace);
    trace();
    second.join();
    EXPECT_EQ(lines.load(), 200);
    const std::string note = "\"" + prefix + KtDiag::kMutexName + "\" is kept by another process";
    EXPECT_EQ(capture.Text().find(note), capture.Text().rfind(note));
    EXPECT_NE(capture.Text().find(note), std::string::npos);
    other.Release();
    platform::NamedMutex probe;  // the writer holds the mutex when another thread cannot take it
    std::atomic<bool> guarded{false};
    auto probing = [&](std::string_view) {
      std::thread([&] {
        guarded = probe.Open(KtDiag::kMutexName) && probe.Wait(0) == platform::WaitResult::kTimedOut;
      }).join();
    };
    KtDiag::SetSink(probing);
    Diag() << "free again" << kendl;
    KtDiag::SetSink(nullptr);
    EXPECT_TRUE(guarded);
    if (gapMs != 0) continue;
    guarded = false;

    // Lines less than 30 ms apart refill the budget too (the time short of a whole millisecond
    // of it is kept): after a minute of them it is whole again, and a line waits for a mutex
    // that another process keeps for 0.3 s and goes out under it.
    testing_support::ScopedManualClock clock;
    KtDiag::SetSink([](std::string_view) {});
    for (int i = 0; i < 2100; ++i) {
      clock->AdvanceMs(29);
      Diag() << "refill " << i << kendl;
    }
    testing_support::HeldFileLock briefly("/dev/shm" + platform::SharedObjectName(KtDiag::kMutexName),
                                          testing_support::HeldFileLock::Kind::kFirstByte);
    ASSERT_TRUE(briefly.held());
    std::atomic<bool> lettingGo{false};
    std::thread letGo([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      lettingGo = true;
      briefly.Release();
    });
    std::atomic<bool> waited{false};
    KtDiag::SetSink([&](std::string_view text) {
      waited = lettingGo.load();
      probing(text);
    });
    Diag() << "waited for" << kendl;
    KtDiag::SetSink(nullptr);
    letGo.join();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(guarded);
  }
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
