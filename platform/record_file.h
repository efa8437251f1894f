// Binary record files: byte-exact building and parsing of records, and whole-file reads and
// atomic replacement.
//
// ByteWriter builds a record in a growing byte vector; ByteReader walks a record held in memory
// and never reads past its end. Both speak big-endian (the agent's record files, SCP frames) and
// little-endian (error.dat, setup.dat, BCM blocks) 8/16/32-bit numbers, zero-terminated byte
// strings and counted texts (count byte = length + 1, the characters, a 0 byte; a lone 0 byte is
// an absent text).
//
// RecordFile reads a whole file into memory (bounded by a maximum size) and replaces a whole
// file atomically: the new contents go to a temporary file in the same directory, which is
// flushed to disk and then renamed over the old file, so a crash or a power cut leaves either
// the old or the new file, never a mix. Two writers of one file therefore never mix either: the
// last rename wins with a whole file. A crash in the middle of a replacement can leave its
// temporary file (the file's name, ".tmp-" and six letters or digits); RemoveLeftovers removes
// those of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Longest text a counted text can carry (its count byte holds length + 1).
inline constexpr size_t kMaxCountedText = 254;

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(size_t reserve) { data_.reserve(reserve); }

  void PutU8(uint8_t v) { data_.push_back(v); }
  void PutI8(int8_t v) { PutU8(static_cast<uint8_t>(v)); }
  void PutU16BE(uint16_t v);
  void PutI16BE(int16_t v) { PutU16BE(static_cast<uint16_t>(v)); }
  void PutU32BE(uint32_t v);
  void PutI32BE(int32_t v) { PutU32BE(static_cast<uint32_t>(v)); }
  void PutU16LE(uint16_t v);
  void PutI16LE(int16_t v) { PutU16LE(static_cast<uint16_t>(v)); }
  void PutU32LE(uint32_t v);
  void PutI32LE(int32_t v) { PutU32LE(static_cast<uint32_t>(v)); }
  void PutBytes(std::span<const uint8_t> bytes);
  void PutBytes(const void* p, size_t n);

  // The text's bytes followed by one 0 byte. Stops at an embedded 0 byte, so the written string
  // reads back as the same text.
  void PutZString(std::string_view text);

  // Counted text: absent (nullopt) -> 00; present of length L -> L+1, the characters, 00.
  // A text longer than kMaxCountedText, or one holding a 0 byte, writes nothing and gives false.
  bool PutCountedText(std::optional<std::string_view> text);

  // Overwrites bytes already written (for a length known only at the end). False when the
  // range lies beyond what was written.
  bool PatchU16BE(size_t at, uint16_t v);
  bool PatchU32BE(size_t at, uint32_t v);

  size_t Size() const { return data_.size(); }
  const std::vector<uint8_t>& Data() const { return data_; }
  std::vector<uint8_t> Take() { return std::move(data_); }
  void Clear() { data_.clear(); }

 private:
  std::vector<uint8_t> data_;
};

// Reads fields from bytes in memory. Every read is bounded by the bytes left: a read that does
// not fit takes nothing, returns false and marks the reader failed; once failed, every later
// read fails too, so a sequence of reads can be checked once at the end with Ok().
class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  ByteReader(const uint8_t* p, size_t n) : data_(p, n) {}

  bool GetU8(uint8_t& v);
  bool GetI8(int8_t& v);
  bool GetU16BE(uint16_t& v);
  bool GetI16BE(int16_t& v);
  bool GetU32BE(uint32_t& v);
  bool GetI32BE(int32_t& v);
  bool GetU16LE(uint16_t& v);
  bool GetI16LE(int16_t& v);
  bool GetU32LE(uint32_t& v);
  bool GetI32LE(int32_t& v);

  // n bytes, as a view into the reader's data or copied out.
  bool GetBytes(size_t n, std::span<const uint8_t>& out);
  bool GetBytes(size_t n, std::vector<uint8_t>& out);
  bool GetBytes(void* dst, size_t n);
  bool Skip(size_t n);

  // A zero-terminated byte string of at most maxLen characters before its 0 byte. Fails (and
  // takes nothing) when no 0 byte follows within maxLen + 1 bytes or the data ends first.
  bool GetZString(std::string& out, size_t maxLen);

  // Counted text: count byte c; 0 gives an absent text (nullopt); otherwise the next c bytes,
  // the text being those bytes up to the first 0 byte among them (all c when there is none).
  bool GetCountedText(std::optional<std::string>& out);

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }
  bool Ok() const { return ok_; }
  std::span<const uint8_t> Rest() const { return data_.subspan(pos_); }

 private:
  // Returns a pointer to n bytes and advances, or null (and the reader fails).
  const uint8_t* Take(size_t n);

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

enum class FileStatus {
  kOk,
  kMissing,      // the file does not exist (and was not to be created)
  kNotUsable,    // exists but cannot be opened, or is not a regular file
  kReadFailed,
  kTooLarge,     // larger than the caller's limit
  kOpenFailed,   // the temporary file for a replacement cannot be created
  kWriteFailed,
  kFlushFailed,
  kReplaceFailed,  // the rename over the old file failed
};

const char* FileStatusText(FileStatus status);

struct FileResult {
  FileStatus status = FileStatus::kOk;
  int sysError = 0;  // errno of the failing call, 0 on success
  bool ok() const { return status == FileStatus::kOk; }
  explicit operator bool() const { return ok(); }
};

class RecordFile {
 public:
  // Largest file Read accepts unless told otherwise.
  static constexpr size_t kDefaultMaxSize = 16u * 1024u * 1024u;

  enum class Open {
    kExisting,         // a missing file gives kMissing
    kCreateIfMissing,  // a missing file is created empty (the record files' open-for-update)
  };

  // What a symbolic link at the path itself means (links among the path's directories are
  // always followed).
  enum class Links {
    kFollow,  // the file it points to is read or replaced
    kRefuse,  // the file is not usable (kNotUsable); nothing is read, written or created
  };

  // True when the path names an existing regular file.
  static bool Exists(const std::string& path);

  // Reads the whole file into out (emptied first). A FIFO, device or directory is kNotUsable
  // and is never blocked on. A file above maxSize is kTooLarge and nothing is read.
  static FileResult Read(const std::string& path, std::vector<uint8_t>& out, Open mode = Open::kExisting,
                         size_t maxSize = kDefaultMaxSize, Links links = Links::kFollow);

  // Replaces the whole file with data, atomically (see the top of this file). An existing
  // file keeps its permission bits; a new one gets 0644. With kFollow a symbolic link is
  // followed, so the file it points to is replaced and the link stays. With kRefuse a link, or
  // anything else that is not a regular file, is kNotUsable and stays as it is; the temporary
  // file is never opened through a link either.
  static FileResult Replace(const std::string& path, std::span<const uint8_t> data,
                            Links links = Links::kFollow);

  // Empties an existing regular file in place (the file stays). kMissing when there is none; a
  // symbolic link is never followed (kNotUsable).
  static FileResult Truncate(const std::string& path);

  // Removes what interrupted replacements of `path` left: the regular files of its directory
  // named as Replace names its temporary files. Anything else of such a name (a link, a
  // directory) stays, and so does what a link points to. The names removed are added to
  // `removed`.
  static void RemoveLeftovers(const std::string& path, std::vector<std::string>& removed);
};

}  // namespace platform
