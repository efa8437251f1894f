#include "core/base/error_status.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/base/ktdiag.h"
#include "platform/clock.h"

namespace {

constexpr size_t kRecordSize = 20;
using Record = std::array<unsigned char, kRecordSize>;
// Records kept while another process holds the log's lock, at most this many.
constexpr size_t kKeptLimit = 64;

// The log's state, guarded by its mutex, which serialises the log within the process (a flock
// serialises it across processes). Made at its first use, so that it is there for an error of
// any static constructor, and never destroyed, so that it is there for one at exit too.
struct ErrorLog {
  std::mutex mutex;
  // The log's name in the working directory unless a folder was named.
  std::string path = kErrorLogName;
  // Records that found the log locked by another process, oldest first; those that found no
  // room left among them, counted; whether the trace said that the log is locked.
  std::vector<Record> kept;
  size_t dropped = 0;
  bool lockedSaid = false;
};

void WriteKept();

ErrorLog& Log() {
  static ErrorLog* log = [] {
    auto* made = new ErrorLog;
    // What is still kept at the end is written then, if the log is free.
    std::atexit(WriteKept);
    return made;
  }();
  return *log;
}

void PutLe32(unsigned char* p, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
  p[3] = static_cast<unsigned char>(u >> 24);
}

bool WriteAll(int fd, const unsigned char* p, size_t n, off_t at) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

// Adds one record to the open, locked log of `size` bytes: at its end while it is at most
// kErrorLogLimit bytes long, else as the marker (the record's time, 255, 255, 255, 255) over
// its first record.
void WriteRecord(int fd, const Record& rec, off_t& size) {
  if (size <= kErrorLogLimit) {
    if (WriteAll(fd, rec.data(), rec.size(), size)) size += static_cast<off_t>(rec.size());
    return;
  }
  Record marker = rec;
  for (int i = 1; i < 5; ++i) PutLe32(marker.data() + 4 * i, 255);
  WriteAll(fd, marker.data(), marker.size(), 0);
}

// What an append has to say in the trace (said once the log's mutex is let go).
struct Said {
  std::string locked;  // the path of a log found locked
  size_t dropped = 0;  // records dropped while it was
};

// Writes the kept records and then `rec` (when given), under the log's mutex. The log's lock
// is never waited for: another local user may hold it for as long as he likes (a 0644 file
// can be opened for reading, which is all a flock takes). When it is held, the records are
// kept for a later append, up to kKeptLimit of them; beyond that they are dropped and counted.
Said Append(ErrorLog& log, const Record* rec) {
  Said said;
  // Never through a link planted under the log's name, nor into a FIFO or device.
  const int fd = ::open(log.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return said;
  struct stat st{};
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      off_t size = st.st_size;
      for (const Record& k : log.kept) WriteRecord(fd, k, size);
      if (rec != nullptr) WriteRecord(fd, *rec, size);
      log.kept.clear();
      said.dropped = log.dropped;
      log.dropped = 0;
      log.lockedSaid = false;
    }
    ::flock(fd, LOCK_UN);
  } else if (errno == EWOULDBLOCK && rec != nullptr) {
    if (log.kept.size() < kKeptLimit) {
      log.kept.push_back(*rec);
    } else {
      ++log.dropped;
    }
    if (!log.lockedSaid) said.locked = log.path;
    log.lockedSaid = true;
  }
  ::close(fd);
  return said;
}

void Say(const Said& said) {
  if (!said.locked.empty()) {
    Diag() << "error log " << said.locked
           << ": another process holds its lock; error records are kept (up to "
           << static_cast<unsigned long>(kKeptLimit) << ") until a later one finds it free\n";
  }
  if (said.dropped > 0) {
    Diag() << "error log: error records dropped while another process held its lock: "
           << static_cast<unsigned long>(said.dropped) << "\n";
  }
}

void WriteKept() {
  ErrorLog& log = Log();
  Said said;
  size_t lost = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.kept.empty() && log.dropped == 0) return;
    said = Append(log, nullptr);
    lost = log.kept.size() + log.dropped;
    path = log.path;
  }
  Say(said);
  if (lost > 0) {
    Diag() << "error log " << path << ": error records lost, as another process held its lock to the end: "
           << static_cast<unsigned long>(lost) << "\n";
  }
}

}  // namespace

void AppendErrorLog(int32_t errClass, int32_t func, int32_t errCode, int32_t sysError) {
  const int saved_errno = errno;
  Record rec;
  PutLe32(rec.data(), static_cast<int32_t>(platform::Now()));
  PutLe32(rec.data() + 4, errClass);
  PutLe32(rec.data() + 8, func);
  PutLe32(rec.data() + 12, errCode);
  PutLe32(rec.data() + 16, sysError);
  ErrorLog& log = Log();
  Said said;
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    said = Append(log, &rec);
  }
  Say(said);
  errno = saved_errno;
}

void SetErrorLogFolder(const std::string& folder) {
  ErrorLog& log = Log();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.path = folder.empty() ? std::string(kErrorLogName) : folder + "/" + kErrorLogName;
}

void KT_ErrorStatus::LogError(int32_t errClass, int32_t func, int32_t errCode, int32_t sysError) {
  errorClass = errClass;
  function = func;
  code = errCode;
  systemError = sysError;
  AppendErrorLog(errClass, func, errCode, sysError);
}

int32_t GetSocketError() {
  return errno;
}

int64_t FileSize(const char* path) {
  if (path == nullptr || *path == '\0') return -1;
  struct stat st{};
  if (::stat(path, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void DebugPrint(const char* /*format*/, ...) {}
