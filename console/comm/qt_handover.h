// Hand-overs between threads that Qt orders with locks of its own: a posted event and its
// handling, the end of a QThread and the wait() that saw it end. ThreadSanitizer does not see
// those locks (Qt is not built with it), so a ThreadSanitizer build is told of each hand-over
// here, by the address of what is handed over; in any other build these do nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// Everything the calling thread did so far is handed over with `what`.
inline void HandOver(const void* what) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(const_cast<void*>(what));
#else
  (void)what;
#endif
}

// The calling thread takes over `what`, and with it what its hand-over came after.
inline void TakeOver(const void* what) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(const_cast<void*>(what));
#else
  (void)what;
#endif
}
