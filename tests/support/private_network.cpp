#include "tests/support/private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

namespace {
bool g_private = false;
}

bool EnterPrivateNetwork(std::string& error) {
  if (g_private) return true;
  if (::unshare(CLONE_NEWNET) != 0) {
    error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    return false;
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
