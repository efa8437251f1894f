#include "core/base/error_status.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace {

// Serialises the log within the process; flock() serialises it across processes.
std::mutex g_log_mutex;
// The log's path (guarded by g_log_mutex): its name in the working directory unless a folder
// was named. A function's own, so that it is there for an error of any static constructor.
std::string& LogPath() {
  static std::string path = kErrorLogName;
  return path;
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

}  // namespace

void AppendErrorLog(int32_t errClass, int32_t func, int32_t errCode, int32_t sysError) {
  const int saved_errno = errno;
  std::lock_guard<std::mutex> lock(g_log_mutex);
  // Never through a link planted under the log's name, nor into a FIFO or device.
  int fd = ::open(LogPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    errno = saved_errno;
    return;
  }
  if (::flock(fd, LOCK_EX) == 0) {
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      unsigned char rec[20];
      PutLe32(rec, static_cast<int32_t>(platform::Now()));
      if (st.st_size <= kErrorLogLimit) {
        PutLe32(rec + 4, errClass);
        PutLe32(rec + 8, func);
        PutLe32(rec + 12, errCode);
        PutLe32(rec + 16, sysError);
        WriteAll(fd, rec, sizeof rec, st.st_size);
      } else {
        for (int i = 1; i < 5; ++i) PutLe32(rec + 4 * i, 255);
        WriteAll(fd, rec, sizeof rec, 0);
      }
    }
    ::flock(fd, LOCK_UN);
  }
  ::close(fd);
  errno = saved_errno;
}

void SetErrorLogFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  LogPath() = folder.empty() ? std::string(kErrorLogName) : folder + "/" + kErrorLogName;
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
