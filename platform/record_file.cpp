#include "platform/record_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

// ---- ByteWriter ----

void ByteWriter::PutU16BE(uint16_t v) {
  data_.push_back(static_cast<uint8_t>(v >> 8));
  data_.push_back(static_cast<uint8_t>(v));
}

void ByteWriter::PutU32BE(uint32_t v) {
  data_.push_back(static_cast<uint8_t>(v >> 24));
  data_.push_back(static_cast<uint8_t>(v >> 16));
  data_.push_back(static_cast<uint8_t>(v >> 8));
  data_.push_back(static_cast<uint8_t>(v));
}

void ByteWriter::PutU16LE(uint16_t v) {
  data_.push_back(static_cast<uint8_t>(v));
  data_.push_back(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::PutU32LE(uint32_t v) {
  data_.push_back(static_cast<uint8_t>(v));
  data_.push_back(static_cast<uint8_t>(v >> 8));
  data_.push_back(static_cast<uint8_t>(v >> 16));
  data_.push_back(static_cast<uint8_t>(v >> 24));
}

void ByteWriter::PutBytes(std::span<const uint8_t> bytes) {
  data_.insert(data_.end(), bytes.begin(), bytes.end());
}

void ByteWriter::PutBytes(const void* p, size_t n) {
  if (n == 0) return;
  const auto* b = static_cast<const uint8_t*>(p);
  data_.insert(data_.end(), b, b + n);
}

void ByteWriter::PutZString(std::string_view text) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  PutBytes(text.data(), text.size());
  PutU8(0);
}

bool ByteWriter::PutCountedText(std::optional<std::string_view> text) {
  if (!text) {
    PutU8(0);
    return true;
  }
  if (text->size() > kMaxCountedText || text->find('\0') != std::string_view::npos) return false;
  PutU8(static_cast<uint8_t>(text->size() + 1));
  PutBytes(text->data(), text->size());
  PutU8(0);
  return true;
}

bool ByteWriter::PatchU16BE(size_t at, uint16_t v) {
  if (at > data_.size() || data_.size() - at < 2) return false;
  data_[at] = static_cast<uint8_t>(v >> 8);
  data_[at + 1] = static_cast<uint8_t>(v);
  return true;
}

bool ByteWriter::PatchU32BE(size_t at, uint32_t v) {
  if (at > data_.size() || data_.size() - at < 4) return false;
  data_[at] = static_cast<uint8_t>(v >> 24);
  data_[at + 1] = static_cast<uint8_t>(v >> 16);
  data_[at + 2] = static_cast<uint8_t>(v >> 8);
  data_[at + 3] = static_cast<uint8_t>(v);
  return true;
}

// ---- ByteReader ----

const uint8_t* ByteReader::Take(size_t n) {
  if (!ok_ || n > Remaining()) {
    ok_ = false;
    return nullptr;
  }
  const uint8_t* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

bool ByteReader::GetU8(uint8_t& v) {
  const uint8_t* p = Take(1);
  if (!p) return false;
  v = p[0];
  return true;
}

bool ByteReader::GetI8(int8_t& v) {
  uint8_t u;
  if (!GetU8(u)) return false;
  v = static_cast<int8_t>(u);
  return true;
}

bool ByteReader::GetU16BE(uint16_t& v) {
  const uint8_t* p = Take(2);
  if (!p) return false;
  v = static_cast<uint16_t>((p[0] << 8) | p[1]);
  return true;
}

bool ByteReader::GetI16BE(int16_t& v) {
  uint16_t u;
  if (!GetU16BE(u)) return false;
  v = static_cast<int16_t>(u);
  return true;
}

bool ByteReader::GetU32BE(uint32_t& v) {
  const uint8_t* p = Take(4);
  if (!p) return false;
  v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
      (static_cast<uint32_t>(p[2]) << 8) | p[3];
  return true;
}

bool ByteReader::GetI32BE(int32_t& v) {
  uint32_t u;
  if (!GetU32BE(u)) return false;
  v = static_cast<int32_t>(u);
  return true;
}

bool ByteReader::GetU16LE(uint16_t& v) {
  const uint8_t* p = Take(2);
  if (!p) return false;
  v = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

bool ByteReader::GetI16LE(int16_t& v) {
  uint16_t u;
  if (!GetU16LE(u)) return false;
  v = static_cast<int16_t>(u);
  return true;
}

bool ByteReader::GetU32LE(uint32_t& v) {
  const uint8_t* p = Take(4);
  if (!p) return false;
  v = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
      (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

bool ByteReader::GetI32LE(int32_t& v) {
  uint32_t u;
  if (!GetU32LE(u)) return false;
  v = static_cast<int32_t>(u);
  return true;
}

bool ByteReader::GetBytes(size_t n, std::span<const uint8_t>& out) {
  const uint8_t* p = Take(n);
  if (!p) return false;
  out = std::span<const uint8_t>(p, n);
  return true;
}

bool ByteReader::GetBytes(size_t n, std::vector<uint8_t>& out) {
  const uint8_t* p = Take(n);
  if (!p) return false;
  out.assign(p, p + n);
  return true;
}

bool ByteReader::GetBytes(void* dst, size_t n) {
  const uint8_t* p = Take(n);
  if (!p) return false;
  if (n) std::memcpy(dst, p, n);
  return true;
}

bool ByteReader::Skip(size_t n) {
  return Take(n) != nullptr;
}

bool ByteReader::GetZString(std::string& out, size_t maxLen) {
  if (!ok_) return false;
  const size_t window = std::min(Remaining(), maxLen == SIZE_MAX ? maxLen : maxLen + 1);
  const uint8_t* start = data_.data() + pos_;
  const void* zero = window ? std::memchr(start, 0, window) : nullptr;
  if (!zero) {
    ok_ = false;
    return false;
  }
  const size_t len = static_cast<size_t>(static_cast<const uint8_t*>(zero) - start);
  out.assign(reinterpret_cast<const char*>(start), len);
  pos_ += len + 1;
  return true;
}

bool ByteReader::GetCountedText(std::optional<std::string>& out) {
  uint8_t count;
  if (!GetU8(count)) return false;
  if (count == 0) {
    out.reset();
    return true;
  }
  const uint8_t* p = Take(count);
  if (!p) return false;
  const void* zero = std::memchr(p, 0, count);
  const size_t len = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : count;
  out.emplace(reinterpret_cast<const char*>(p), len);
  return true;
}

// ---- RecordFile ----

const char* FileStatusText(FileStatus status) {
  switch (status) {
    case FileStatus::kOk: return "ok";
    case FileStatus::kMissing: return "file does not exist";
    case FileStatus::kNotUsable: return "file cannot be used";
    case FileStatus::kReadFailed: return "read failed";
    case FileStatus::kTooLarge: return "file too large";
    case FileStatus::kOpenFailed: return "cannot create temporary file";
    case FileStatus::kWriteFailed: return "write failed";
    case FileStatus::kFlushFailed: return "flush failed";
    case FileStatus::kReplaceFailed: return "replace failed";
  }
  return "unknown";
}

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

// A replacement's temporary file: the file's name, this, and mkostemp's six letters or digits.
constexpr std::string_view kTemporarySuffix = ".tmp-";
constexpr size_t kTemporaryUniqueChars = 6;

FileResult Fail(FileStatus s, int err) {
  return FileResult{s, err};
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = EIO;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Resolves a symbolic link chain to the file it names, so that a replacement lands there.
std::string ResolveTarget(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real) {
      std::string r(real);
      std::free(real);
      return r;
    }
  }
  return path;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool RecordFile::Exists(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileResult RecordFile::Read(const std::string& path, std::vector<uint8_t>& out, Open mode, size_t maxSize,
                            Links links) {
  out.clear();
  if (path.empty()) return Fail(FileStatus::kNotUsable, ENOENT);
  // O_NONBLOCK keeps a FIFO of that name from blocking the open; it is refused below.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::kRefuse ? O_NOFOLLOW : 0);
  int raw = ::open(path.c_str(), flags);
  if (raw < 0 && errno == ENOENT && mode == Open::kCreateIfMissing) {
    raw = ::open(path.c_str(), flags | O_CREAT, 0644);
    if (raw < 0) return Fail(FileStatus::kNotUsable, errno);
  }
  if (raw < 0) {
    const int err = errno;
    return Fail(err == ENOENT ? FileStatus::kMissing : FileStatus::kNotUsable, err);
  }
  Fd fd(raw);
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return Fail(FileStatus::kNotUsable, errno);
  if (!S_ISREG(st.st_mode)) return Fail(FileStatus::kNotUsable, EINVAL);
  if (static_cast<uint64_t>(st.st_size) > maxSize) return Fail(FileStatus::kTooLarge, EFBIG);
  out.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  for (;;) {
    if (got == out.size()) {
      // The file may have grown since fstat; take what is there, up to the limit.
      if (out.size() >= maxSize) {
        uint8_t probe;
        ssize_t r = ::read(fd.get(), &probe, 1);
        if (r > 0) {
          out.clear();
          return Fail(FileStatus::kTooLarge, EFBIG);
        }
        break;
      }
      out.resize(std::min(maxSize, out.size() + 4096));
    }
    ssize_t r = ::read(fd.get(), out.data() + got, out.size() - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      out.clear();
      return Fail(FileStatus::kReadFailed, err);
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  return FileResult{};
}

FileResult RecordFile::Replace(const std::string& path, std::span<const uint8_t> data, Links links) {
  if (path.empty()) return Fail(FileStatus::kOpenFailed, ENOENT);
  const bool follow = links == Links::kFollow;
  if (!follow) {
    // Only a regular file of that name is replaced; a link is left as it is, and so is the
    // file it points to.
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) return Fail(FileStatus::kNotUsable, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
    } else if (errno != ENOENT) {
      return Fail(FileStatus::kNotUsable, errno);
    }
  }
  const std::string target = follow ? ResolveTarget(path) : path;
  std::string tmp = target + std::string(kTemporarySuffix) + std::string(kTemporaryUniqueChars, 'X');
  // mkostemp creates the file exclusively, which never goes through a link; O_NOFOLLOW says
  // so once more.
  Fd fd(::mkostemp(tmp.data(), O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
  if (fd.get() < 0) return Fail(FileStatus::kOpenFailed, errno);

  auto abandon = [&](FileStatus s) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Fail(s, err);
  };

  struct stat old{};
  if ((follow ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0 && S_ISREG(old.st_mode)) {
    ::fchmod(fd.get(), old.st_mode & 07777);
    // Keep the owner too where allowed (an agent running as root rewriting a user's file).
    if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Not permitted: the file becomes ours, which is what a fresh write would give.
    }
  } else {
    ::fchmod(fd.get(), 0644);
  }
  if (!WriteAll(fd.get(), data.data(), data.size())) return abandon(FileStatus::kWriteFailed);
  if (::fsync(fd.get()) != 0) return abandon(FileStatus::kFlushFailed);
  if (::close(fd.release()) != 0) return abandon(FileStatus::kFlushFailed);
  if (::rename(tmp.c_str(), target.c_str()) != 0) return abandon(FileStatus::kReplaceFailed);
  // Make the rename itself durable.
  Fd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return FileResult{};
}

FileResult RecordFile::Truncate(const std::string& path) {
  if (path.empty()) return Fail(FileStatus::kMissing, ENOENT);
  Fd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (fd.get() < 0) {
    const int err = errno;
    return Fail(err == ENOENT ? FileStatus::kMissing : FileStatus::kNotUsable, err);
  }
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(FileStatus::kNotUsable, EINVAL);
  if (::ftruncate(fd.get(), 0) != 0) return Fail(FileStatus::kWriteFailed, errno);
  return FileResult{};
}

void RecordFile::RemoveLeftovers(const std::string& path, std::vector<std::string>& removed) {
  const size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTemporarySuffix);
  const std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  DIR* dir = ::opendir(DirectoryOf(path).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() != prefix.size() + kTemporaryUniqueChars || !name.starts_with(prefix)) continue;
    if (!std::all_of(name.begin() + prefix.size(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
      continue;
    }
    struct stat st{};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    // unlinkat never follows a link: a link swapped in since the check goes, never its target.
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) removed.push_back(head + std::string(name));
  }
  ::closedir(dir);
}

}  // namespace platform
