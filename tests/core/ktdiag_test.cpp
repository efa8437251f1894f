#include "core/ktdiag.h"

#include <gtest/gtest.h>

#include <thread>

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
