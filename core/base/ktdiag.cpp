#include "core/base/ktdiag.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/named_object.h"

namespace {

std::atomic<bool> g_enabled{false};

// Sink and trace file, guarded by one mutex (they change rarely).
std::mutex g_out_mutex;
KtDiag::Sink g_sink;
int g_file_fd = -1;

// Longest wait for the trace mutex, and for a blocked output to take a write. A holder that
// hangs (a stopped process) or an output nobody drains must not stop the caller for good: past
// the first bound the text is written without the lock, past the second the rest is dropped.
constexpr uint32_t kMutexWaitMs = 2000;
constexpr int kOutputWaitMs = 1000;

void WriteFd(int fd, const char* p, size_t n) {
  while (n > 0) {
    pollfd pfd{fd, POLLOUT, 0};
    int ready = ::poll(&pfd, 1, kOutputWaitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (pfd.revents & (POLLERR | POLLNVAL))) return;
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// The machine-wide trace mutex, opened at the first write with output on and kept open; it is
// opened again when the name it resolves to changes (a new name prefix). The object is never
// destroyed, so that traces written by other objects' destructors at exit stay safe; its handle
// is closed at exit, after which writes go out unserialised.
class TraceMutex {
 public:
  // The held mutex (Release is due) or null. ok is false when no mutex can be had, in which
  // case the text is dropped.
  std::shared_ptr<platform::NamedMutex> Enter(bool& ok) {
    std::shared_ptr<platform::NamedMutex> m = Get();
    if (!m) {
      ok = closed_.load();
      return nullptr;
    }
    switch (m->Wait(kMutexWaitMs)) {
      case platform::WaitResult::kSignaled:
      case platform::WaitResult::kAbandoned:
        ok = true;
        return m;
      case platform::WaitResult::kTimedOut:
        ok = true;
        return nullptr;
      case platform::WaitResult::kFailed:
        break;
    }
    ok = false;
    return nullptr;
  }

  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    handle_.reset();
  }

 private:
  std::shared_ptr<platform::NamedMutex> Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return nullptr;
    const std::string name = platform::SharedObjectName(KtDiag::kMutexName);
    if (!handle_ || name != resolved_) {
      handle_ = std::make_shared<platform::NamedMutex>();
      if (!handle_->Create(KtDiag::kMutexName)) handle_.reset();
      resolved_ = name;
    }
    return handle_;
  }

  std::mutex mutex_;
  std::shared_ptr<platform::NamedMutex> handle_;
  std::string resolved_;
  std::atomic<bool> closed_{false};
};

TraceMutex& GetTraceMutex() {
  static TraceMutex* m = [] {
    auto* created = new TraceMutex;
    std::atexit([] { GetTraceMutex().Close(); });
    return created;
  }();
  return *m;
}

// Writes one piece of trace text under the machine-wide trace mutex; the characters written
// (0 when output is off or the text was dropped).
size_t Emit(const char* text, size_t n) {
  if (n == 0 || !g_enabled.load()) return 0;
  bool ok = false;
  std::shared_ptr<platform::NamedMutex> held = GetTraceMutex().Enter(ok);
  if (!ok) return 0;  // no trace mutex: the text is dropped
  {
    std::lock_guard<std::mutex> lock(g_out_mutex);
    if (g_sink) {
      g_sink(std::string_view(text, n));
    } else {
      WriteFd(g_file_fd >= 0 ? g_file_fd : STDERR_FILENO, text, n);
    }
  }
  if (held) held->Release();
  return n;
}

// The longest piece written at once: a line that does not fit goes out in such pieces.
constexpr size_t kMaxPiece = KtDiag::kBufferSize - 1;

// The calling thread's unfinished line (never kMaxPiece characters or more). A thread that
// ends mid-line has it written on the way out, ended, as the line it was going to be.
struct PendingLine {
  std::string text;
  ~PendingLine() {
    if (text.empty()) return;
    text += '\n';
    Emit(text.data(), text.size());
  }
};
thread_local PendingLine t_line;

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

int KtDiag::SetOutputFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  if (g_file_fd >= 0) ::close(g_file_fd);
  g_file_fd = -1;
  if (path.empty()) return 0;
  g_file_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return g_file_fd >= 0 ? 0 : errno;
}

KtDiag& KtDiag::Printf(const char* format, ...) {
  if (!g_enabled.load()) {
    // Output off (a service without a trace file): nothing to format.
    last_count_ = 0;
    t_line.text.clear();
    return *this;
  }
  char buffer[kBufferSize];
  va_list ap;
  va_start(ap, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  Take(buffer, n <= 0 ? 0 : std::min(static_cast<size_t>(n), sizeof buffer - 1));
  return *this;
}

void KtDiag::Take(const char* text, size_t length) {
  std::string& line = t_line.text;
  line.append(text, length);
  size_t written = 0;
  // Out go the whole lines that fit in one piece, or a piece of a line too long for one.
  while (!line.empty()) {
    const size_t limit = std::min(line.size(), kMaxPiece);
    const size_t newline = line.rfind('\n', limit - 1);
    size_t n = 0;
    if (newline != std::string::npos) {
      n = newline + 1;
    } else if (line.size() >= kMaxPiece) {
      n = kMaxPiece;
    } else {
      break;
    }
    written += Emit(line.data(), n);
    line.erase(0, n);
  }
  last_count_ = static_cast<int>(written);
}

void KtDiag::Flush() {
  std::string& line = t_line.text;
  if (line.empty()) return;
  Emit(line.data(), line.size());
  line.clear();
}

KtDiag& KtDiag::operator<<(const char* text) { return Printf("%s", text ? text : "(null)"); }
KtDiag& KtDiag::operator<<(const std::string& text) { return Printf("%s", text.c_str()); }
KtDiag& KtDiag::operator<<(char c) { return Printf("%c", c); }
KtDiag& KtDiag::operator<<(short v) { return Printf("%d", v); }
KtDiag& KtDiag::operator<<(unsigned short v) { return Printf("%u", v); }
KtDiag& KtDiag::operator<<(int v) { return Printf("%d", v); }
KtDiag& KtDiag::operator<<(unsigned int v) { return Printf("%u", v); }
KtDiag& KtDiag::operator<<(long v) { return Printf("%ld", v); }
KtDiag& KtDiag::operator<<(unsigned long v) { return Printf("%lu", v); }
KtDiag& KtDiag::operator<<(long long v) { return Printf("%lld", v); }
KtDiag& KtDiag::operator<<(unsigned long long v) { return Printf("%llu", v); }
KtDiag& KtDiag::operator<<(double v) { return Printf("%lf", v); }
KtDiag& KtDiag::operator<<(const void* p) { return Printf("%p", p); }
KtDiag& KtDiag::operator<<(KtDiag& (*manipulator)(KtDiag&)) { return manipulator(*this); }

KtDiag& Diag() {
  // Never destroyed: threads that end after the static objects still trace.
  static KtDiag* diag = new KtDiag;
  return *diag;
}

KtDiag& kendl(KtDiag& diag) {
  return diag << "\n";
}
