#include "tests/support/private_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace testing_support {

namespace {

bool g_private = false;

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// An ordinary user may not make a network namespace alone, but may in a user namespace of
// its own, where it keeps its user and group ids (so its files, devices and children look as
// before) and holds the rights over the new network.
bool EnterUserAndNetworkNamespace(std::string& error) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    error += std::string("; unshare(CLONE_NEWUSER | CLONE_NEWNET): ") + std::strerror(errno);
    return false;
  }
  if (!WriteProcFile("/proc/self/setgroups", "deny") ||
      !WriteProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1\n") ||
      !WriteProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1\n")) {
    error += std::string("; user namespace id maps: ") + std::strerror(errno);
    return false;
  }
  error.clear();
  return true;
}

}  // namespace

bool EnterPrivateNetwork(std::string& error) {
  if (g_private) return true;
  if (::unshare(CLONE_NEWNET) != 0) {
    const int e = errno;
    error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(e);
    if (e != EPERM || !EnterUserAndNetworkNamespace(error)) return false;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) error = std::string("loopback up: ") + std::strerror(errno);
  ::close(fd);
  g_private = ok;
  return ok;
}

bool InPrivateNetwork() { return g_private; }

}  // namespace testing_support
