#include "platform/record_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/support/test_support.h"

namespace {

using platform::ByteReader;
using platform::ByteWriter;
using platform::FileStatus;
using platform::RecordFile;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

TEST(ByteWriterTest, ExactByteLayouts) {
  ByteWriter w;
  w.PutU8(0xFE);
  w.PutU16BE(0x1234);
  w.PutU32BE(1);
  w.PutI32BE(-2);
  w.PutU16LE(0x1234);
  w.PutI32LE(0x01020304);
  EXPECT_EQ(w.Data(), (Bytes{0xFE, 0x12, 0x34, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 0x34, 0x12, 4, 3, 2, 1}));

  ByteWriter t;
  EXPECT_TRUE(t.PutCountedText("abc"));
  EXPECT_TRUE(t.PutCountedText(std::nullopt));
  EXPECT_TRUE(t.PutCountedText(""));
  t.PutZString("hi");
  t.PutZString(std::string_view("x\0y", 3));  // stops at the embedded zero
  EXPECT_EQ(t.Data(), (Bytes{4, 'a', 'b', 'c', 0, 0, 1, 0, 'h', 'i', 0, 'x', 0}));

  ByteWriter limits;
  EXPECT_TRUE(limits.PutCountedText(std::string(254, 'a')));
  EXPECT_EQ(limits.Data()[0], 255);
  limits.Clear();
  EXPECT_FALSE(limits.PutCountedText(std::string(255, 'a')));
  EXPECT_FALSE(limits.PutCountedText(std::string_view("a\0b", 3)));
  EXPECT_EQ(limits.Size(), 0u);

  ByteWriter patch;
  patch.PutU16BE(0);
  patch.PutU8(7);
  EXPECT_TRUE(patch.PatchU16BE(0, 0xABCD));
  EXPECT_FALSE(patch.PatchU16BE(2, 1));
  EXPECT_FALSE(patch.PatchU32BE(0, 1));
  EXPECT_EQ(patch.Data(), (Bytes{0xAB, 0xCD, 7}));
}

TEST(ByteReaderTest, ReadsBackWhatTheWriterWrote) {
  ByteWriter w;
  w.PutI16BE(-300);
  w.PutU32LE(0xDEADBEEF);
  w.PutI8(-1);
  w.PutCountedText("text");
  w.PutCountedText(std::nullopt);
  w.PutZString("zero");
  const Bytes data = w.Take();

  ByteReader r(data);
  int16_t s;
  uint32_t u;
  int8_t b;
  std::optional<std::string> text;
  std::optional<std::string> absent = "x";
  std::string z;
  EXPECT_TRUE(r.GetI16BE(s));
  EXPECT_TRUE(r.GetU32LE(u));
  EXPECT_TRUE(r.GetI8(b));
  EXPECT_TRUE(r.GetCountedText(text));
  EXPECT_TRUE(r.GetCountedText(absent));
  EXPECT_TRUE(r.GetZString(z, 10));
  EXPECT_EQ(s, -300);
  EXPECT_EQ(u, 0xDEADBEEFu);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(text, "text");
  EXPECT_FALSE(absent.has_value());
  EXPECT_EQ(z, "zero");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(r.Ok());
}

TEST(ByteReaderTest, ReadsNeverPassTheEndAndFailuresStick) {
  const Bytes three{1, 2, 3};
  ByteReader r(three);
  uint32_t v = 99;
  EXPECT_FALSE(r.GetU32BE(v));
  EXPECT_EQ(v, 99u);
  EXPECT_EQ(r.Position(), 0u);  // nothing taken
  uint8_t b;
  EXPECT_FALSE(r.GetU8(b));     // failure sticks
  EXPECT_FALSE(r.Ok());

  // A count byte that promises more than is there.
  const Bytes shortText{5, 'a', 'b'};
  ByteReader t(shortText);
  std::optional<std::string> text;
  EXPECT_FALSE(t.GetCountedText(text));

  // A counted text without its stored zero keeps all its bytes.
  const Bytes noZero{2, 'a', 'b'};
  ByteReader nz(noZero);
  EXPECT_TRUE(nz.GetCountedText(text));
  EXPECT_EQ(text, "ab");

  // Zero-terminated strings: no zero byte, or one beyond the length limit.
  const Bytes unterminated{'a', 'b', 'c'};
  ByteReader u(unterminated);
  std::string s;
  EXPECT_FALSE(u.GetZString(s, 255));
  const Bytes tooLong{'a', 'b', 'c', 0};
  ByteReader l(tooLong);
  EXPECT_FALSE(l.GetZString(s, 2));
  ByteReader fits(tooLong);
  EXPECT_TRUE(fits.GetZString(s, 3));
  EXPECT_EQ(s, "abc");

  ByteReader skip(three);
  EXPECT_FALSE(skip.Skip(4));
  std::span<const uint8_t> view;
  ByteReader bytes(three);
  EXPECT_TRUE(bytes.GetBytes(2, view));
  EXPECT_EQ(view[1], 2);
  EXPECT_EQ(bytes.Rest().size(), 1u);
}

TEST(RecordFileTest, ReadMissingEmptyAndUnusableFiles) {
  TempDir dir;
  Bytes out{1};
  EXPECT_EQ(RecordFile::Read("none.dat", out).status, FileStatus::kMissing);
  EXPECT_FALSE(RecordFile::Exists("none.dat"));

  // Opening for update creates the file empty.
  EXPECT_TRUE(RecordFile::Read("none.dat", out, RecordFile::Open::kCreateIfMissing));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(RecordFile::Exists("none.dat"));

  std::filesystem::create_directory("folder.dat");
  EXPECT_EQ(RecordFile::Read("folder.dat", out).status, FileStatus::kNotUsable);
  EXPECT_FALSE(RecordFile::Exists("folder.dat"));

  // A FIFO of that name is refused without waiting for a writer.
  ASSERT_EQ(::mkfifo("pipe.dat", 0644), 0);
  EXPECT_EQ(RecordFile::Read("pipe.dat", out).status, FileStatus::kNotUsable);

  WriteFileBytes("big.dat", Bytes(100, 7));
  EXPECT_EQ(RecordFile::Read("big.dat", out, RecordFile::Open::kExisting, 99).status, FileStatus::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(RecordFile::Read("big.dat", out, RecordFile::Open::kExisting, 100));
  EXPECT_EQ(out, Bytes(100, 7));
}

TEST(RecordFileTest, ReplaceWritesWholeFileAndKeepsModeAndLinks) {
  TempDir dir;
  ASSERT_TRUE(RecordFile::Replace("config.dat", Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(ReadFileBytes("config.dat"), (Bytes{1, 2, 3, 4, 5}));
  struct stat st{};
  ASSERT_EQ(::stat("config.dat", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  ::chmod("config.dat", 0600);
  ASSERT_TRUE(RecordFile::Replace("config.dat", Bytes{9}));  // shorter: no old tail left
  EXPECT_EQ(ReadFileBytes("config.dat"), Bytes{9});
  ASSERT_EQ(::stat("config.dat", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::filesystem::create_symlink("config.dat", "link.dat");
  ASSERT_TRUE(RecordFile::Replace("link.dat", Bytes{7, 7}));
  EXPECT_TRUE(std::filesystem::is_symlink("link.dat"));
  EXPECT_EQ(ReadFileBytes("config.dat"), (Bytes{7, 7}));

  // No temporary file stays behind.
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }

  auto r = RecordFile::Replace("/nonexistent-dir/x.dat", Bytes{1});
  EXPECT_EQ(r.status, FileStatus::kOpenFailed);
  EXPECT_EQ(r.sysError, ENOENT);

  EXPECT_TRUE(RecordFile::Truncate("config.dat"));
  EXPECT_TRUE(ReadFileBytes("config.dat").empty());
  EXPECT_EQ(RecordFile::Truncate("none.dat").status, FileStatus::kMissing);
}

// Told not to follow links, no operation reads, writes or creates anything through a link
// under the file's name, dangling or not; nor does it replace a directory or a FIFO.
TEST(RecordFileTest, LinksAreNotFollowedWhenRefused) {
  TempDir dir;
  WriteFileBytes("target.dat", Bytes{1, 2, 3});
  std::filesystem::create_symlink("target.dat", "link.dat");
  std::filesystem::create_symlink("missing.dat", "dangling.dat");
  std::filesystem::create_directory("folder.dat");
  ASSERT_EQ(::mkfifo("pipe.dat", 0644), 0);
  for (const char* name : {"link.dat", "dangling.dat", "folder.dat", "pipe.dat"}) {
    SCOPED_TRACE(name);
    Bytes out{9};
    const auto read = RecordFile::Read(name, out, RecordFile::Open::kCreateIfMissing,
                                       RecordFile::kDefaultMaxSize, RecordFile::Links::kRefuse);
    EXPECT_EQ(read.status, FileStatus::kNotUsable);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(RecordFile::Replace(name, Bytes{7}, RecordFile::Links::kRefuse).status, FileStatus::kNotUsable);
    EXPECT_EQ(RecordFile::Truncate(name).status, FileStatus::kNotUsable);
  }
  EXPECT_EQ(ReadFileBytes("target.dat"), (Bytes{1, 2, 3}));
  EXPECT_TRUE(std::filesystem::is_symlink("link.dat"));
  EXPECT_FALSE(std::filesystem::exists("missing.dat"));
  EXPECT_TRUE(std::filesystem::is_fifo("pipe.dat"));
  // A regular file is replaced as ever, and a new one created.
  ASSERT_TRUE(RecordFile::Replace("target.dat", Bytes{4}, RecordFile::Links::kRefuse));
  ASSERT_TRUE(RecordFile::Replace("new.dat", Bytes{5}, RecordFile::Links::kRefuse));
  Bytes out;
  ASSERT_TRUE(RecordFile::Read("target.dat", out, RecordFile::Open::kExisting, RecordFile::kDefaultMaxSize,
                               RecordFile::Links::kRefuse));
  EXPECT_EQ(out, Bytes{4});
  EXPECT_EQ(ReadFileBytes("new.dat"), Bytes{5});
}

TEST(RecordFileTest, ConcurrentWritersAndReadersNeverSeeAMix) {
  TempDir dir;
  ASSERT_TRUE(RecordFile::Replace("shared.dat", Bytes(64 * 1024, 0)));
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 1; t <= 3; ++t) {
    writers.emplace_back([t, &stop] {
      const Bytes content(64 * 1024 + t, static_cast<uint8_t>(t));
      while (!stop.load()) ASSERT_TRUE(RecordFile::Replace("shared.dat", content));
    });
  }
  for (int i = 0; i < 300; ++i) {
    Bytes got;
    ASSERT_TRUE(RecordFile::Read("shared.dat", got));
    ASSERT_FALSE(got.empty());
    const uint8_t fill = got[0];
    ASSERT_EQ(got.size(), fill == 0 ? 64u * 1024 : 64u * 1024 + fill);
    ASSERT_EQ(std::count(got.begin(), got.end(), fill), static_cast<ptrdiff_t>(got.size()));
  }
  stop = true;
  for (auto& w : writers) w.join();
}

}  // namespace
