#include "core/scp/scp_queue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/scp/scp_message.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;

const Bytes kKey{4, 2};
const Bytes kOld{0xC0, 0, 10, 2, 2, 4, 2, 0, 1, 0x11};
const Bytes kNew{0xC0, 0, 10, 2, 2, 4, 2, 0, 1, 0x22};

TEST(ScpQueue, OneEntryPerKeyAndHost) {
  KT_ScpQueue q;
  EXPECT_EQ(q.Add(kOld, 0, kKey, 1), 0);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  q.MarkSent(0);
  EXPECT_EQ(q.Add(kOld, 0, kKey, 1), 0);  // asking again only marks it for resending
  EXPECT_EQ(q.GetCount(), 1);
  q.ResetCursor();
  EXPECT_EQ(q.Next(e), 0);
  EXPECT_EQ(e.sent, 0);

  EXPECT_EQ(q.Add(kOld, 0, kKey, 2), 0);  // another host: another entry
  EXPECT_EQ(q.GetCount(), 2);
  EXPECT_EQ(q.Find(kKey.data(), 2, 2), 1);
  EXPECT_EQ(q.Find(kKey.data(), 1, 2), -1);
}

TEST(ScpQueue, FullTableRefusesNewEntriesWithoutErrorRecord) {
  TempDir dir;
  KT_ScpQueue q;
  for (int i = 0; i < KT_ScpQueue::kDefaultCapacity; ++i) {
    ASSERT_EQ(q.Add(kOld, 0, Bytes{4, static_cast<uint8_t>(i)}, 1), 0);
  }
  EXPECT_EQ(q.Add(kOld, 0, Bytes{5}, 1), -1);
  EXPECT_FALSE(std::filesystem::exists("error.dat"));
  // A newer frame for a queued key still gets through.
  EXPECT_EQ(q.Add(kNew, 0, Bytes{4, 7}, 1), 0);
  ScpQueueEntry e;
  q.MarkSent(0);
  q.ResetCursor();
  ASSERT_EQ(q.Next(e), 1);
  ASSERT_EQ(q.Find(Bytes{4, 7}.data(), 2, 1), 7);
}

TEST(ScpQueue, RemovingFromAnEmptyTableIsAnError) {
  TempDir dir;
  KT_ScpQueue q;
  EXPECT_EQ(q.Remove(kKey.data(), 2, 1), -1);
  EXPECT_EQ(q.errorClass, ERR_SCP_QUEUE);
  EXPECT_EQ(q.function, 2);
  EXPECT_EQ(q.code, 1);
  EXPECT_EQ(q.RemoveHost(1), -1);
  EXPECT_EQ(q.function, 3);
  q.Add(kOld, 0, kKey, 1);
  EXPECT_EQ(q.Remove(kKey.data(), 2, 9), 0);
  EXPECT_EQ(q.Remove(kKey.data(), 2, 1), 1);
  EXPECT_EQ(q.GetCount(), 0);
}

TEST(ScpQueue, NextWalksUnsentEntriesFromTheCursor) {
  KT_ScpQueue q(4);
  q.Add(kOld, 0, Bytes{1}, 1);
  q.Add(kOld, 0, Bytes{2}, 1);
  q.Add(kOld, 0, Bytes{3}, 2);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  q.MarkSent(0);
  ASSERT_EQ(q.Next(e), 1);  // cursor moved to 1
  q.MarkSent(1);
  ASSERT_EQ(q.Next(e), 2);
  EXPECT_EQ(e.host, 2);
  q.MarkSent(2);
  EXPECT_EQ(q.Next(e), -1);  // only sent entries left
  std::string text;
  q.Print(text);
  EXPECT_EQ(text, "  #=3\n  I=0 H=1 P=0 A=1 \n  I=1 H=1 P=0 A=2 \n  I=2 H=2 P=0 A=3 \n\n");

  q.ResetHost(1);
  EXPECT_EQ(q.Next(e), 0);
  EXPECT_EQ(q.RemoveHost(1), 1);
  EXPECT_EQ(q.GetCount(), 1);
  q.Clear();
  EXPECT_EQ(q.GetCount(), 0);
  EXPECT_EQ(q.MarkSent(2), 0);
}

TEST(ScpQueue, NewerFrameReplacesAnUnsentOne) {
  KT_ScpQueue q;
  q.Add(kOld, 0, kKey, 1);
  q.Add(kNew, 0, kKey, 1);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  EXPECT_EQ(e.frame, kNew);
  EXPECT_EQ(q.GetCount(), 1);
}

TEST(ScpQueue, NewerFrameWaitsBehindTheOneInFlight) {
  KT_ScpQueue q;
  q.Add(kOld, 0, kKey, 1);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  q.MarkSent(0);
  EXPECT_EQ(q.Add(kNew, 0, kKey, 1), 0);
  EXPECT_EQ(q.Next(e), -1);  // not sent while the older one is unanswered

  EXPECT_EQ(q.Remove(kKey.data(), 2, 1), 1);  // the older frame's answer
  EXPECT_EQ(q.GetCount(), 1);
  ASSERT_EQ(q.Next(e), 0);
  EXPECT_EQ(e.frame, kNew);
  q.MarkSent(0);
  EXPECT_EQ(q.Remove(kKey.data(), 2, 1), 1);  // the newer frame's answer
  EXPECT_EQ(q.GetCount(), 0);
}

TEST(ScpQueue, TimeOutSendsTheNewestFrame) {
  KT_ScpQueue q;
  const Bytes newest{0xC0, 0, 10, 2, 2, 4, 2, 0, 1, 0x33};
  q.Add(kOld, 0, kKey, 1);
  q.MarkSent(0);
  q.Add(kNew, 0, kKey, 1);
  q.Add(newest, 0, kKey, 1);
  q.ResetHost(1);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  EXPECT_EQ(e.frame, newest);
}

TEST(ScpQueue, TheTypeOfWhatAnEntrySendsAndTheKeysOfAType) {
  const Bytes get{0xC0, 0, 8, 1, 0, 2, 4, 4};
  const Bytes set{0xC0, 0, 10, 2, 2, 4, 4, 0, 1, 0x33};
  const Bytes setKey{4, 4};
  KT_ScpQueue q;
  EXPECT_EQ(q.FrameType(setKey.data(), 2, 1), 0);  // no entry
  EXPECT_TRUE(q.KeysOfType(SCP_SET).empty());
  ASSERT_EQ(q.Add(get, 0, setKey, 1), 0);
  ASSERT_EQ(q.Add(kOld, 0, kKey, 2), 0);
  EXPECT_EQ(q.FrameType(setKey.data(), 2, 1), SCP_GET);
  EXPECT_EQ(q.FrameType(kKey.data(), 2, 2), SCP_SET);
  EXPECT_EQ(q.FrameType(kKey.data(), 2, 1), 0);  // another host's
  EXPECT_EQ(q.KeysOfType(SCP_SET), std::vector<Bytes>{kKey});
  // A SET waiting behind the GET in flight counts as a SET, and the GET still is what is in
  // flight; its answer brings the SET forward.
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  q.MarkSent(0);
  ASSERT_EQ(q.Add(set, 0, setKey, 1), 0);
  EXPECT_EQ(q.FrameType(setKey.data(), 2, 1), SCP_GET);
  EXPECT_EQ(q.KeysOfType(SCP_SET), (std::vector<Bytes>{setKey, kKey}));
  EXPECT_EQ(q.KeysOfType(SCP_GET), std::vector<Bytes>{setKey});
  ASSERT_EQ(q.Remove(setKey.data(), 2, 1), 1);
  EXPECT_EQ(q.FrameType(setKey.data(), 2, 1), SCP_SET);
  EXPECT_TRUE(q.KeysOfType(SCP_GET).empty());
  ASSERT_EQ(q.Remove(kKey.data(), 2, 2), 1);
  ASSERT_EQ(q.Remove(setKey.data(), 2, 1), 1);
  EXPECT_TRUE(q.KeysOfType(SCP_SET).empty());
}

TEST(ScpQueue, CopyHandedOutOwnsItsBytes) {
  KT_ScpQueue q;
  q.Add(kOld, 7, kKey, 1);
  ScpQueueEntry e;
  ASSERT_EQ(q.Next(e), 0);
  q.Clear();
  EXPECT_EQ(e.frame, kOld);
  EXPECT_EQ(e.key, kKey);
  EXPECT_EQ(e.reserved, 7);
  EXPECT_EQ(e.FrameLength(), 10);
  EXPECT_EQ(e.KeyLength(), 2);
}

TEST(ScpQueue, ResizeKeepsEntriesThatFit) {
  KT_ScpQueue q(3);
  q.Add(kOld, 0, Bytes{1}, 1);
  q.Add(kOld, 0, Bytes{2}, 1);
  q.Add(kOld, 0, Bytes{3}, 1);
  ScpQueueEntry e;
  q.Next(e);
  q.Next(e);  // cursor 2
  q.Resize(2);
  EXPECT_EQ(q.GetCapacity(), 2);
  EXPECT_EQ(q.GetCount(), 2);
  EXPECT_EQ(q.Add(kOld, 0, Bytes{4}, 1), -1);
  std::string text;
  q.Print(text);
  EXPECT_NE(text.find("P=1"), std::string::npos);
  q.Resize(5);
  EXPECT_EQ(q.Add(kOld, 0, Bytes{4}, 1), 0);
  EXPECT_EQ(q.Find(Bytes{4}.data(), 1, 1), 2);
}

TEST(ScpQueue, BadArgumentsAreRefused) {
  TempDir dir;
  KT_ScpQueue q;
  EXPECT_EQ(q.Add(nullptr, 5, 0, 1, kKey.data(), 1), -1);
  EXPECT_EQ(q.Add(kOld.data(), 10, 0, -1, kKey.data(), 1), -1);
  EXPECT_EQ(q.code, 5);
  EXPECT_EQ(q.GetCount(), 0);
}

}  // namespace
