#include "core/ktdiag.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> g_enabled{false};

// Sink and trace file, guarded by one mutex (they change rarely).
std::mutex g_out_mutex;
KtDiag::Sink g_sink;
int g_file_fd = -1;

void WriteFd(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

}  // namespace

KtDiag::KtDiag() = default;
KtDiag::~KtDiag() = default;

void KtDiag::EnableOutput(bool on) {
  g_enabled.store(on);
}

bool KtDiag::IsOutputEnabled() {
  return g_enabled.load();
}

void KtDiag::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  g_sink = std::move(sink);
}

void KtDiag::SetOutputFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  if (g_file_fd >= 0) ::close(g_file_fd);
  g_file_fd = -1;
  if (!path.empty()) g_file_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

KtDiag& KtDiag::Format(const char* format, ...) {
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer_, sizeof buffer_, format, ap);
  va_end(ap);
  Write();
  return *this;
}

KtDiag& KtDiag::Printf(const char* format, ...) {
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer_, sizeof buffer_, format, ap);
  va_end(ap);
  Write();
  return *this;
}

// Called with buffer_mutex_ held.
void KtDiag::Write() {
  if (!g_enabled.load()) {
    last_count_ = 0;
    std::memset(buffer_, 0, sizeof buffer_);
    return;
  }
  const size_t n = ::strnlen(buffer_, sizeof buffer_);
  {
    std::lock_guard<std::mutex> lock(g_out_mutex);
    if (g_sink) {
      g_sink(std::string_view(buffer_, n));
    } else {
      WriteFd(g_file_fd >= 0 ? g_file_fd : STDERR_FILENO, buffer_, n);
    }
  }
  last_count_ = static_cast<int>(n);
  std::memset(buffer_, 0, sizeof buffer_);
}

KtDiag& KtDiag::operator<<(const char* text) { return Format("%s", text ? text : "(null)"); }
KtDiag& KtDiag::operator<<(const std::string& text) { return Format("%s", text.c_str()); }
KtDiag& KtDiag::operator<<(char c) { return Format("%c", c); }
KtDiag& KtDiag::operator<<(short v) { return Format("%d", v); }
KtDiag& KtDiag::operator<<(unsigned short v) { return Format("%u", v); }
KtDiag& KtDiag::operator<<(int v) { return Format("%d", v); }
KtDiag& KtDiag::operator<<(unsigned int v) { return Format("%u", v); }
KtDiag& KtDiag::operator<<(long v) { return Format("%ld", v); }
KtDiag& KtDiag::operator<<(unsigned long v) { return Format("%lu", v); }
KtDiag& KtDiag::operator<<(long long v) { return Format("%lld", v); }
KtDiag& KtDiag::operator<<(unsigned long long v) { return Format("%llu", v); }
KtDiag& KtDiag::operator<<(double v) { return Format("%lf", v); }
KtDiag& KtDiag::operator<<(const void* p) { return Format("%p", p); }
KtDiag& KtDiag::operator<<(KtDiag& (*manipulator)(KtDiag&)) { return manipulator(*this); }

KtDiag& Diag() {
  static KtDiag diag;
  return diag;
}

KtDiag& kendl(KtDiag& diag) {
  return diag << "\n";
}
