#include "tests/support/private_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

namespace {

bool g_private = false;
bool g_private_mounts = false;
bool g_user_namespace = false;
int g_silent_server = -1;
int g_silent_queries = 0;

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// An ordinary user may not make a network or mount namespace alone, but may in a user
// namespace of its own, where it keeps its user and group ids (so its files, devices and
// children look as before) and holds the rights over the new namespaces.
bool EnterUserNamespaceWith(int flags, const char* what, std::string& error) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | flags) != 0) {
    error += std::string("; unshare(CLONE_NEWUSER | ") + what + "): " + std::strerror(errno);
    return false;
  }
  g_user_namespace = true;
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
    if (e != EPERM || !EnterUserNamespaceWith(CLONE_NEWNET, "CLONE_NEWNET", error)) return false;
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

bool EnterPrivateMounts(std::string& error) {
  if (g_private_mounts) return true;
  if (::unshare(CLONE_NEWNS) != 0) {
    const int e = errno;
    error = std::string("unshare(CLONE_NEWNS): ") + std::strerror(e);
    if (e != EPERM || g_user_namespace || !EnterUserNamespaceWith(CLONE_NEWNS, "CLONE_NEWNS", error)) return false;
  }
  // Nothing mounted here reaches the machine's namespace, nor anything of it here.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    error = std::string("making the mounts private: ") + std::strerror(errno);
    return false;
  }
  g_private_mounts = true;
  return true;
}

SmallDisk::SmallDisk(const std::string& dir, size_t bytes) : dir_(dir) {
  if (!EnterPrivateMounts(error_)) return;
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("vigil-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    error_ = "mounting a tmpfs over " + dir + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

bool SmallDisk::Fill() {
  const std::string path = dir_ + "/filler";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::vector<char> block(4096, 'f');
  bool full = false;
  for (;;) {
    const ssize_t n = ::write(fd, block.data(), block.size());
    if (n > 0) continue;
    full = n < 0 && errno == ENOSPC;
    break;
  }
  // Byte by byte into what a page left.
  while (full && ::write(fd, block.data(), 1) == 1) {
  }
  ::close(fd);
  return full;
}

bool SmallDisk::Free() { return ::unlink((dir_ + "/filler").c_str()) == 0 || errno == ENOENT; }

bool SmallDisk::SetReadOnly(bool readOnly) {
  const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
  if (::mount(nullptr, dir_.c_str(), nullptr, flags, nullptr) == 0) return true;
  error_ = std::string("remounting ") + (readOnly ? "read-only: " : "writable: ") + std::strerror(errno);
  return false;
}

namespace {

// Puts a file with `text` over `target` in this process's mounts.
bool CoverFile(const char* target, const std::string& text, std::string& error) {
  char path[] = "/tmp/vigil-silent-dns-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    error = std::string("mkstemp: ") + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::fchmod(fd, 0644);
  ::close(fd);
  const bool ok = written && ::mount(path, target, nullptr, MS_BIND, nullptr) == 0;
  if (!ok) error = std::string("bind ") + target + ": " + std::strerror(errno);
  ::unlink(path);  // the mount keeps the file
  return ok;
}

}  // namespace

bool UseSilentNameServer(std::string& error) {
  if (g_silent_server >= 0) return true;
  if (!g_private) {
    error = "not in a private network";
    return false;
  }
  if (!EnterPrivateMounts(error)) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = std::string("UDP port 53: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  // The system's name service switch, with host names from /etc/hosts, then the name server.
  std::string nsswitch;
  if (std::FILE* f = std::fopen("/etc/nsswitch.conf", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::strncmp(line, "hosts:", 6) != 0) nsswitch += line;
    }
    std::fclose(f);
  }
  nsswitch += "\nhosts: files dns\n";
  if (!CoverFile("/etc/resolv.conf", "nameserver 127.0.0.1\n", error) ||
      (::access("/etc/nsswitch.conf", F_OK) == 0 && !CoverFile("/etc/nsswitch.conf", nsswitch, error))) {
    ::close(fd);
    return false;
  }
  g_silent_server = fd;
  return true;
}

int SilentNameServerQueries() {
  if (g_silent_server < 0) return 0;
  char buffer[1500];
  while (::recv(g_silent_server, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++g_silent_queries;
  return g_silent_queries;
}

}  // namespace testing_support
