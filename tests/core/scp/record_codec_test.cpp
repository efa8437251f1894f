#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(RecordWriter, EncodesNumbersAndTextsBigEndian) {
  KT_RecordWriter w;
  EXPECT_EQ(w.Put8(0x1FF), 1);
  EXPECT_EQ(w.Put16(0x1234), 1);
  EXPECT_EQ(w.Put32(1), 1);
  EXPECT_EQ(w.Put32(static_cast<uint32_t>(-2)), 1);
  EXPECT_EQ(w.PutText("abc"), 1);
  EXPECT_EQ(w.PutText(static_cast<const char*>(nullptr)), 1);
  EXPECT_EQ(w.PutText(std::optional<std::string>()), 1);
  EXPECT_EQ(w.PutText(std::string()), 1);
  EXPECT_EQ(w.Data(), (Bytes{0xFF, 0x12, 0x34, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 4, 'a', 'b', 'c', 0, 0, 0, 1, 0}));
}

TEST(RecordWriter, RefusesTextsAndListsItsCountByteCannotDescribe) {
  KT_RecordWriter w;
  EXPECT_EQ(w.PutText(std::string(254, 'x')), 1);
  EXPECT_EQ(w.Data()[0], 255);
  const size_t size = w.Size();
  EXPECT_EQ(w.PutText(std::string(255, 'x')), -1);
  EXPECT_EQ(w.code, RECORD_TEXT_TOO_LONG);
  EXPECT_EQ(w.PutCount8(255), 1);
  EXPECT_EQ(w.PutCount8(256), -1);
  EXPECT_EQ(w.code, RECORD_COUNT_TOO_LARGE);
  EXPECT_EQ(w.Size(), size + 1);
}

TEST(RecordReader, DecodesWhatTheWriterWrote) {
  Bytes b{0xFF, 0x12, 0x34, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 4, 'a', 'b', 'c', 0, 0, 1, 0};
  KT_RecordReader r(b);
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  int32_t i32 = 0;
  std::optional<std::string> t1, t2("old"), t3;
  EXPECT_EQ(r.Get8(u8), 1);
  EXPECT_EQ(r.Get16(u16), 1);
  EXPECT_EQ(r.Get32(u32), 1);
  EXPECT_EQ(r.Get32(i32), 1);
  EXPECT_EQ(r.GetText(t1), 1);
  EXPECT_EQ(r.GetText(t2), 1);
  EXPECT_EQ(r.GetText(t3), 1);
  EXPECT_EQ(u8, 0xFF);
  EXPECT_EQ(u16, 0x1234);
  EXPECT_EQ(u32, 1u);
  EXPECT_EQ(i32, -2);
  EXPECT_EQ(t1, "abc");
  EXPECT_FALSE(t2.has_value());
  EXPECT_EQ(t3, "");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_FALSE(r.Failed());
}

TEST(RecordReader, NeverReadsBeyondItsBytes) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case texts[] = {
      {"no count", {}},
      {"count runs past the end", {5, 'a', 'b', 'c', 0}},
      {"terminator missing", {4, 'a', 'b', 'c', 'd'}},
      {"terminator missing at the very end", {1, 'x'}},
  };
  for (const auto& c : texts) {
    KT_RecordReader r(c.bytes);
    std::optional<std::string> t("keep");
    EXPECT_EQ(r.GetText(t), -1) << c.name;
    EXPECT_EQ(t, "keep") << c.name;
    EXPECT_EQ(r.Position(), 0u) << c.name;
    EXPECT_TRUE(r.Failed()) << c.name;
  }

  Bytes three{1, 2, 3};
  KT_RecordReader r(three);
  uint32_t u32 = 77;
  EXPECT_EQ(r.Get32(u32), -1);
  EXPECT_EQ(u32, 77u);
  EXPECT_EQ(r.code, RECORD_TRUNCATED);
  uint16_t u16 = 0;
  EXPECT_EQ(r.Get16(u16), 1);
  Bytes out;
  EXPECT_EQ(r.GetBytes(out, 2), -1);
  EXPECT_EQ(r.Skip(1), 1);
  uint8_t u8 = 0;
  EXPECT_EQ(r.Get8(u8), -1);

  KT_RecordReader empty(nullptr, 10);
  EXPECT_EQ(empty.Remaining(), 0u);
  EXPECT_EQ(empty.Get8(u8), -1);
}

TEST(RecordReader, TextEndsAtItsFirstZero) {
  Bytes b{4, 'a', 0, 'c', 0, 9};
  KT_RecordReader r(b);
  std::optional<std::string> t;
  EXPECT_EQ(r.GetText(t), 1);
  EXPECT_EQ(t, "a");
  EXPECT_EQ(r.Position(), 5u);
}

}  // namespace
