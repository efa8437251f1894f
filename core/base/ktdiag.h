// KtDiag: the diagnostic trace every component writes its lines to.
//
// Output is off by default. When on, every insertion or Printf is formatted into a bounded
// 1024-byte buffer and added to the calling thread's current line; text goes out in whole
// lines only (one write per insertion that ends one or more lines), so that a line built of
// several insertions never fuses with another thread's. A line longer than the buffer goes
// out in buffer-sized pieces; a thread that ends mid-line has its text written then, ended by
// a line end (Flush writes it at once, as it is); what a thread traces after that (handlers and
// destructors that run at exit) goes out at once, as it is. Output goes to standard error, to a trace
// file (service mode), or to a sink installed by a test. Writes of all processes on the machine
// are serialised by the named mutex "KtDiag Object In Use", so that one write never
// interleaves with another.
//
// Every write is bounded. The mutex is open to every local user, so nothing it holds may stand
// between a program's threads and their work: a process's waits for it come out of a budget of
// 2 s that refills by 2 s a minute; once a wait has run out, a line that finds the mutex taken
// goes out without it, at once, until the mutex is had again. A mutex that cannot be made leaves the lines
// unserialised too, and is tried again now and then. The trace says each of these once, with
// the mutex's name. An output that takes nothing for 1 s drops the rest of that write. A
// program in the foreground traces to standard error; a service leaves output off, or sends
// it to a trace file (SetOutputFile).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class KtDiag {
 public:
  static constexpr size_t kBufferSize = 1024;
  static constexpr const char* kMutexName = "KtDiag Object In Use";

  KtDiag();
  ~KtDiag();
  KtDiag(const KtDiag&) = delete;
  KtDiag& operator=(const KtDiag&) = delete;

  // Switches output on or off (process-wide).
  static void EnableOutput(bool on);
  static bool IsOutputEnabled();

  KtDiag& Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  KtDiag& operator<<(const char* text);
  KtDiag& operator<<(const std::string& text);
  KtDiag& operator<<(char c);
  KtDiag& operator<<(short v);
  KtDiag& operator<<(unsigned short v);
  KtDiag& operator<<(int v);
  KtDiag& operator<<(unsigned int v);
  KtDiag& operator<<(long v);
  KtDiag& operator<<(unsigned long v);
  KtDiag& operator<<(long long v);
  KtDiag& operator<<(unsigned long long v);
  KtDiag& operator<<(double v);
  KtDiag& operator<<(const void* p);
  KtDiag& operator<<(KtDiag& (*manipulator)(KtDiag&));

  // Characters the last insertion wrote (0 when output is off or when it ended no line).
  int LastWriteCount() const { return last_count_.load(); }

  // Writes the calling thread's unfinished line now.
  static void Flush();

  // Where the text goes on Linux. A sink receives each write's text; an empty sink restores
  // the default (standard error, or the trace file when one is set).
  using Sink = std::function<void(std::string_view)>;
  static void SetSink(Sink sink);
  // Appends the trace to a file instead of standard error (service mode); "" restores stderr.
  // 0, or the errno of an open that failed (the trace then goes to standard error).
  static int SetOutputFile(const std::string& path);

 private:
  // Adds formatted text to the calling thread's line and writes what is whole.
  void Take(const char* text, size_t length);

  std::atomic<int> last_count_{0};
};

// The process's trace object.
KtDiag& Diag();

// End-of-line manipulator: writes "\n".
KtDiag& kendl(KtDiag& diag);
