// The socket calls of the datagram channels, behind one replaceable object. The system
// implementation calls the kernel; tests and fuzz targets put a scripted one in its place to
// drive the IPX channel, which current kernels do not offer.
//
// Every call answers as the system call does: -1 with errno set on failure.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

class SocketOps {
 public:
  virtual ~SocketOps() = default;

  virtual int Socket(int domain, int type, int protocol);
  // Makes the socket non-blocking.
  virtual int SetNonBlocking(int fd);
  virtual int Bind(int fd, const sockaddr* address, socklen_t length);
  virtual int GetSockName(int fd, sockaddr* address, socklen_t* length);
  virtual int SetSockOpt(int fd, int level, int name, const void* value, socklen_t length);
  virtual ssize_t SendTo(int fd, const void* data, size_t length, int flags, const sockaddr* to, socklen_t toLength);
  // Receives one datagram of at most `capacity` bytes. `truncated` tells whether the
  // datagram was longer than that (its rest is lost).
  virtual ssize_t ReceiveFrom(int fd, void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength,
                              bool* truncated);
  // Bytes of the next waiting datagram (FIONREAD); 0 when none.
  virtual int BytesWaiting(int fd, int* count);
  // Waits until the socket is readable, at most `seconds`; the number of ready sockets
  // (0 on time-out).
  virtual int WaitReadable(int fd, int seconds);
  virtual int Close(int fd);
  // Pause between polls of a socket.
  virtual void SleepMs(int milliseconds);

  // The kernel's sockets.
  static SocketOps& System();
};
