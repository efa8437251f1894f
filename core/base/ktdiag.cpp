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
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/named_object.h"

namespace {

std::atomic<bool> g_enabled{false};

// Taken around each write, before the machine-wide trace mutex.
std::mutex g_emit_mutex;

// Sink and trace file, guarded by one mutex (they change rarely).
std::mutex g_out_mutex;
KtDiag::Sink g_sink;
int g_file_fd = -1;

// A blocked output must not stop the caller for good: past this bound the rest of a write is
// dropped.
constexpr int kOutputWaitMs = 1000;

// The trace mutex is open to every local user, so another process may hold it for as long as
// it likes, or let it go only now and then. A trace line is never worth more than a moment:
// the time a process spends waiting for the mutex comes out of one budget of kMutexWaitMs,
// which refills at kMutexWaitMs per kMutexRefillMs. A wait is bounded by what is left; once a
// wait ran out, lines only try the mutex and go out without it when it is not free, until it
// is had again. So a mutex held for good costs the process one wait of kMutexWaitMs in all,
// and one let go now and then a few hundredths of its time at most.
constexpr uint32_t kMutexWaitMs = 2000;
constexpr int64_t kMutexRefillMs = 60000;
// The time that refills one millisecond of the budget.
constexpr int64_t kRefillPerMs = kMutexRefillMs / kMutexWaitMs;
static_assert(kMutexRefillMs % kMutexWaitMs == 0);
// How often a mutex that could not be made is tried again (at once when the name changes).
constexpr int64_t kMutexRemakeMs = 5000;

// The process's monotonic clock (a test's clock when one is installed).
int64_t SteadyMs() {
  return static_cast<int64_t>(platform::TickMs());
}

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

// Writes text to the trace's output (the sink, the trace file or standard error).
void WriteOut(const char* text, size_t n) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  if (g_sink) {
    g_sink(std::string_view(text, n));
  } else {
    WriteFd(g_file_fd >= 0 ? g_file_fd : STDERR_FILENO, text, n);
  }
}

// Says once in the trace why its lines go out unserialised.
void Note(const std::string& text) {
  const std::string line = "KtDiag: " + text + "\n";
  WriteOut(line.data(), line.size());
}

// The machine-wide trace mutex, opened at the first write with output on and kept open; it is
// opened again when the name it resolves to changes (a new name prefix). The object is never
// destroyed, so that traces written by other objects' destructors at exit stay safe; its handle
// is closed at exit, after which writes go out unserialised. A mutex that cannot be made
// (another user's file at its name, a name too long) leaves the lines unserialised; it is tried
// again now and then.
class TraceMutex {
 public:
  // The held mutex (Release is due), or null: the text then goes out without it.
  std::shared_ptr<platform::NamedMutex> Enter() {
    std::string name;
    std::shared_ptr<platform::NamedMutex> m = Get(name);
    if (!m) return nullptr;
    uint32_t limit = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Whole milliseconds of budget; the time left over counts towards the next one, so that
      // lines that come closer together than kRefillPerMs refill it too.
      const int64_t now = SteadyMs();
      if (now < refilled_) refilled_ = now;  // another clock, behind this one
      const int64_t gained = (now - refilled_) / kRefillPerMs;
      refilled_ += gained * kRefillPerMs;
      budget_ = std::min<int64_t>(kMutexWaitMs, budget_ + gained);
      if (budget_ >= kMutexWaitMs && !spent_) said_ = false;
      if (!spent_) limit = static_cast<uint32_t>(budget_);
    }
    const int64_t began = SteadyMs();
    const platform::WaitResult r = m->Wait(limit);
    const bool got = r == platform::WaitResult::kSignaled || r == platform::WaitResult::kAbandoned;
    bool say = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A wait that ran out took all it was allowed, whatever a test's clock says.
      int64_t waited = std::max<int64_t>(0, SteadyMs() - began);
      if (r == platform::WaitResult::kTimedOut) waited = std::max<int64_t>(waited, limit);
      budget_ = std::max<int64_t>(0, budget_ - waited);
      if (got) {
        spent_ = false;
      } else if (r == platform::WaitResult::kTimedOut) {
        spent_ = true;
        say = limit > 0 && !said_;
        if (say) said_ = true;
      }
    }
    if (say) {
      Note("the trace mutex \"" + name +
           "\" is kept by another process (this program's time to wait for it, " +
           std::to_string(kMutexWaitMs / 1000) +
           " s a minute, is spent); trace lines go out without it while it is not free");
    }
    return got ? m : nullptr;
  }

  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    handle_.reset();
  }

 private:
  // The mutex under the current name, or null; `name` is its name with the prefix.
  std::shared_ptr<platform::NamedMutex> Get(std::string& name) {
    std::string unmade;
    std::shared_ptr<platform::NamedMutex> m;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return nullptr;
      const char* prefix = std::getenv(platform::kNamePrefixVariable);
      name = std::string(prefix ? prefix : "") + KtDiag::kMutexName;
      const std::string resolved = platform::SharedObjectName(KtDiag::kMutexName);
      const int64_t now = SteadyMs();
      const bool renamed = resolved != resolved_ || name != named_;
      if (renamed || (!handle_ && (now - tried_ >= kMutexRemakeMs || now < tried_))) {
        if (renamed) {
          // Another object: its own budget and its own notes.
          budget_ = kMutexWaitMs;
          refilled_ = now;
          spent_ = said_ = unmadeSaid_ = false;
        }
        resolved_ = resolved;
        named_ = name;
        tried_ = now;
        handle_ = std::make_shared<platform::NamedMutex>();
        if (handle_->Create(KtDiag::kMutexName)) {
          unmadeSaid_ = false;
        } else {
          if (!unmadeSaid_) unmade = std::strerror(handle_->SysError());
          unmadeSaid_ = true;
          handle_.reset();
        }
      }
      m = handle_;
    }
    if (!unmade.empty()) {
      Note("the trace mutex \"" + name + "\" cannot be made (" + unmade +
           "); trace lines go out without it until it can");
    }
    return m;
  }

  std::mutex mutex_;
  std::shared_ptr<platform::NamedMutex> handle_;
  std::string resolved_;
  std::string named_;
  int64_t tried_ = 0;        // when the mutex was last made or tried
  bool unmadeSaid_ = false;  // the trace said that it cannot be made
  // The waiting budget (ms), when it was last refilled, whether the last wait ran out (only
  // tries until the mutex is had again), and whether the trace said so since the budget was
  // last full.
  int64_t budget_ = kMutexWaitMs;
  int64_t refilled_ = 0;
  bool spent_ = false;
  bool said_ = false;
  bool closed_ = false;
};

TraceMutex& GetTraceMutex() {
  static TraceMutex* m = [] {
    auto* created = new TraceMutex;
    std::atexit([] { GetTraceMutex().Close(); });
    return created;
  }();
  return *m;
}

// Writes one piece of trace text under the machine-wide trace mutex, or without it when it
// cannot be had in time; the characters written (0 when output is off).
size_t Emit(const char* text, size_t n) {
  if (n == 0 || !g_enabled.load()) return 0;
  // The threads of the process go for the machine-wide mutex one at a time, so that what a
  // wait costs is what other processes hold, never the process's own threads.
  std::lock_guard<std::mutex> turn(g_emit_mutex);
  std::shared_ptr<platform::NamedMutex> held = GetTraceMutex().Enter();
  WriteOut(text, n);
  if (held) held->Release();
  return n;
}

// The longest piece written at once: a line that does not fit goes out in such pieces.
constexpr size_t kMaxPiece = KtDiag::kBufferSize - 1;

// Set once the calling thread's line below is destroyed: at the thread's end, and for the
// thread that calls exit(), before the atexit handlers and the static destructors run (the C
// library destroys that thread's thread_locals first). Text traced after that (a handler's or a
// destructor's last words) goes out at once as it is, never into the freed line. Trivially
// destructible, so it can be read for as long as the thread runs.
thread_local bool t_line_gone = false;

// The calling thread's unfinished line (never kMaxPiece characters or more). A thread that
// ends mid-line has it written on the way out, ended, as the line it was going to be.
struct PendingLine {
  std::string text;
  ~PendingLine() {
    t_line_gone = true;
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
    if (!t_line_gone) t_line.text.clear();
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
  if (t_line_gone) {
    // No line to add to any more (length is below kMaxPiece, as Printf cuts it).
    last_count_ = static_cast<int>(Emit(text, length));
    return;
  }
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
  if (t_line_gone) return;
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
