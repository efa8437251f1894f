#include "core/base/error_status.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "core/base/ktdiag.h"
#include "tests/support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

int32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24));
}

TEST(ErrorLog, FirstErrorCreatesFileWithOneRecord) {
  TempDir dir;
  ScopedManualClock clock(0x12345678);
  KT_ErrorStatus status;
  EXPECT_EQ(status.errorClass, 0);
  status.LogError(ERR_DATAGRAM, 3, 2, -7);
  auto bytes = ReadFileBytes("error.dat");
  ASSERT_EQ(bytes.size(), 20u);
  EXPECT_EQ(Le32(bytes, 0), 0x12345678);
  EXPECT_EQ(Le32(bytes, 4), 8);
  EXPECT_EQ(Le32(bytes, 8), 3);
  EXPECT_EQ(Le32(bytes, 12), 2);
  EXPECT_EQ(Le32(bytes, 16), -7);
  EXPECT_EQ(bytes[0], 0x78);  // little-endian
}

TEST(ErrorLog, GrowsTo10020ThenWritesMarkerOverFirstRecord) {
  TempDir dir;
  ScopedManualClock clock(1000);
  WriteFileBytes("error.dat", std::vector<uint8_t>(10000, 0xAA));
  KT_ErrorStatus status;
  status.LogError(3, 1, 1, 0);
  auto bytes = ReadFileBytes("error.dat");
  ASSERT_EQ(bytes.size(), 10020u);
  EXPECT_EQ(Le32(bytes, 10004), 3);
  EXPECT_EQ(bytes[0], 0xAA);

  clock->Set(2000);
  status.LogError(4, 2, 2, 0);
  bytes = ReadFileBytes("error.dat");
  ASSERT_EQ(bytes.size(), 10020u);
  EXPECT_EQ(Le32(bytes, 0), 2000);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(Le32(bytes, 4 * i), 255);
  EXPECT_EQ(bytes[20], 0xAA);  // second record untouched
  EXPECT_EQ(status.errorClass, 4);
}

TEST(ErrorLog, RecordFilledEvenWhenLogCannotBeWritten) {
  TempDir dir;
  std::filesystem::create_directory("error.dat");  // a folder cannot be opened for update
  KT_ErrorStatus status;
  status.LogError(15, 4, 3, 99);
  EXPECT_EQ(status.errorClass, 15);
  EXPECT_EQ(status.function, 4);
  EXPECT_EQ(status.code, 3);
  EXPECT_EQ(status.systemError, 99);
}

TEST(ErrorLog, NeverWritesThroughALink) {
  TempDir dir;
  WriteFileBytes("elsewhere", {1, 2, 3});
  std::filesystem::create_symlink("elsewhere", "error.dat");
  KT_ErrorStatus status;
  status.LogError(15, 4, 3, 99);
  EXPECT_EQ(ReadFileBytes("elsewhere"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(std::filesystem::is_symlink("error.dat"));
}

TEST(ErrorLog, ConcurrentWritersNeverInterleaveRecords) {
  TempDir dir;
  constexpr int kThreads = 8;
  constexpr int kEach = 50;  // 400 records, below the limit
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      KT_ErrorStatus s;
      for (int i = 0; i < kEach; ++i) s.LogError(100 + t, 1000 + t, 2000 + t, 3000 + t);
    });
  }
  for (auto& th : threads) th.join();
  auto bytes = ReadFileBytes("error.dat");
  ASSERT_EQ(bytes.size(), 20u * kThreads * kEach);
  for (size_t at = 0; at < bytes.size(); at += 20) {
    int32_t t = Le32(bytes, at + 4) - 100;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(Le32(bytes, at + 8), 1000 + t);
    EXPECT_EQ(Le32(bytes, at + 12), 2000 + t);
    EXPECT_EQ(Le32(bytes, at + 16), 3000 + t);
  }
}

// Any user who may read error.dat may hold a flock on it. An append never waits for it: the
// records are kept in their order and written by the first append that finds the log free;
// past 64 kept the rest are dropped, and the trace says how many.
TEST(ErrorLog, ALockHeldByAnotherUserIsNeverWaitedFor) {
  for (const int held : {3, 70}) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    WriteFileBytes("error.dat", {});
    testing_support::HeldFileLock other(dir.File("error.dat"), testing_support::HeldFileLock::Kind::kFlock);
    ASSERT_TRUE(other.held());
    testing_support::TraceCapture trace;
    ScopedManualClock clock(1000);
    auto logging = std::async(std::launch::async, [&] {
      for (int i = 0; i < held; ++i) KT_ErrorStatus().LogError(ERR_DATAGRAM, i, 1, 0);
    });
    const bool prompt = logging.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    other.Release();  // lets an append that waits go on
    EXPECT_TRUE(prompt);
    logging.wait();
    EXPECT_TRUE(ReadFileBytes("error.dat").empty());
    KT_ErrorStatus().LogError(ERR_ADDRESS, 99, 2, 0);
    const auto bytes = ReadFileBytes("error.dat");
    const int kept = std::min(held, 64);
    ASSERT_EQ(bytes.size(), 20u * (kept + 1));
    for (int i = 0; i <= kept; ++i) EXPECT_EQ(Le32(bytes, 20 * i + 8), i < kept ? i : 99);
    EXPECT_TRUE(trace.Contains("error log error.dat: another process holds its lock"));
    EXPECT_EQ(trace.Contains("another process held its lock: 6\n"), held == 70);
  }

  // A program that ends with records still kept (tracing on) says at its exit that they are
  // lost, and ends soundly: the exit's trace lines never touch the thread's line, which the
  // exit has already destroyed.
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  WriteFileBytes("error.dat", {});
  testing_support::HeldFileLock other(dir.File("error.dat"), testing_support::HeldFileLock::Kind::kFlock);
  ASSERT_TRUE(other.held());
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    KtDiag::SetSink(nullptr);
    KtDiag::SetOutputFile(dir.File("trace.log"));
    KtDiag::EnableOutput(true);
    // Too long to be kept inside the string itself: the thread's line holds heap memory.
    Diag() << "the child traces a line of more than fifteen characters" << kendl;
    KT_ErrorStatus().LogError(ERR_DATAGRAM, 1, 1, 0);
    std::exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string text = testing_support::ReadFileText("trace.log");
  EXPECT_NE(
      text.find("error log error.dat: error records lost, as another process held its lock to the end: 1\n"),
      std::string::npos)
      << text;
  EXPECT_TRUE(ReadFileBytes("error.dat").empty());
}

TEST(ErrorLog, FileSize) {
  TempDir dir;
  EXPECT_EQ(FileSize(nullptr), -1);
  EXPECT_EQ(FileSize(""), -1);
  EXPECT_EQ(FileSize("missing"), -1);
  WriteFileBytes("five", {1, 2, 3, 4, 5});
  EXPECT_EQ(FileSize("five"), 5);
}

}  // namespace
