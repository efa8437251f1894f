// KT_HostControl: the scoped readers/writer guard over gHosts and the host images in it.
//
// A guard is taken by its constructor (writer: non-zero argument, the default; reader: 0) and
// given up by Release or the destructor (a second Release does nothing). Several readers may
// hold it at once; a writer holds it alone. Writers are preferred: once a writer waits, new
// readers wait behind it, so a stream of readers cannot starve it. A writer that finds no
// reader and no writer proceeds at once. Waits have no time limit.
//
// Lock order in a console: this guard, then the mutex "Mutex to lock SCP queue", then
// one SCP image's lock (never two at once), then a queue's own mutex. No thread takes the
// guard twice (a reader asking again while a writer waits would wait for ever), and no
// message box or other nested event loop runs while the guard is held.
//
// The state is one set per process, in the library.
#pragma once

#include <condition_variable>
#include <mutex>

class KT_HostControl {
 public:
  explicit KT_HostControl(int writer = 1);
  ~KT_HostControl();
  // A guard is one hold of the lock: copying it would release that hold twice.
  KT_HostControl(const KT_HostControl&) = delete;
  KT_HostControl& operator=(const KT_HostControl&) = delete;

  void Release();
  bool IsWriter() const { return writer_ != 0; }
  bool IsReleased() const { return released_ != 0; }

  // Process-wide state (read them under m_MutexModifying, or in tests when quiet).
  static std::mutex m_MutexModifying;               // guards the three below
  static std::condition_variable m_EventNoReaders;  // signalled when readers or the writer leave
  static int m_bWriters;                            // 1 while a writer holds the guard
  static long m_lReaderCount;                       // readers holding the guard
  static int m_nWritersWaiting;                     // writers waiting to enter

  // Snapshots for tests and diagnostics.
  static long ReaderCount();
  static bool WriterActive();
  static int WritersWaiting();

 private:
  int writer_;
  int released_ = 0;
};
