#include "agent/engine/serial_device.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Majors of the pseudo-terminal slaves (/dev/pts/N), which sysfs does not list.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kFirstSerialMinor = 64;
constexpr unsigned kTtyAliasMajor = 5;

bool InTtySubsystem(dev_t device) {
  char path[64];
  std::snprintf(path, sizeof(path), "/sys/dev/char/%u:%u/subsystem", major(device), minor(device));
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path, target, sizeof(target) - 1);
  if (n <= 0) return false;
  const std::string_view link(target, static_cast<size_t>(n));
  return link.size() >= 4 && link.substr(link.size() - 4) == "/tty";
}

}  // namespace

bool IsAllowedSerialDevice(const std::string& name) {
  if (name.empty() || name.size() >= PATH_MAX || name.find('\0') != std::string::npos) return false;
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved) == nullptr) return false;
  if (std::strncmp(resolved, "/dev/", 5) != 0) return false;
  struct stat st {};
  if (::stat(resolved, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  if (m >= kFirstPtyMajor && m <= kLastPtyMajor) return true;
  // Terminals that are no serial line: the virtual consoles (major 4, minors below 64) and
  // /dev/tty, /dev/console, /dev/ptmx (major 5).
  if ((m == kVirtualConsoleMajor && minor(st.st_rdev) < kFirstSerialMinor) || m == kTtyAliasMajor) return false;
  return InTtySubsystem(st.st_rdev);
}
