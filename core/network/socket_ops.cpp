#include "core/network/socket_ops.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

int SocketOps::Socket(int domain, int type, int protocol) {
  return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

int SocketOps::SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int SocketOps::Bind(int fd, const sockaddr* address, socklen_t length) {
  return ::bind(fd, address, length);
}

int SocketOps::GetSockName(int fd, sockaddr* address, socklen_t* length) {
  return ::getsockname(fd, address, length);
}

int SocketOps::SetSockOpt(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}

ssize_t SocketOps::SendTo(int fd, const void* data, size_t length, int flags, const sockaddr* to,
                          socklen_t toLength) {
  ssize_t n;
  do {
    n = ::sendto(fd, data, length, flags | MSG_NOSIGNAL, to, toLength);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t SocketOps::ReceiveFrom(int fd, void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength,
                               bool* truncated) {
  iovec iov{buffer, capacity};
  msghdr msg{};
  msg.msg_name = from;
  msg.msg_namelen = fromLength != nullptr ? *fromLength : 0;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return n;
  if (fromLength != nullptr) *fromLength = msg.msg_namelen;
  if (truncated != nullptr) *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
  return n;
}

int SocketOps::BytesWaiting(int fd, int* count) {
  int n = 0;
  if (::ioctl(fd, FIONREAD, &n) < 0) return -1;
  if (count != nullptr) *count = n;
  return 0;
}

int SocketOps::WaitReadable(int fd, int seconds) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  // poll() may return early on a signal; the wait goes on for the rest of the time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds < 0 ? 0 : seconds);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int timeout = left.count() < 0 ? 0 : static_cast<int>(left.count());
    const int r = ::poll(&p, 1, timeout);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && (p.revents & POLLNVAL) != 0) {
      errno = EBADF;
      return -1;
    }
    return r;
  }
}

int SocketOps::Close(int fd) {
  return ::close(fd);
}

void SocketOps::SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SocketOps& SocketOps::System() {
  static SocketOps ops;
  return ops;
}
