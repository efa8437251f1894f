// A named object as the previous release makes and holds it (its layout 2: the header, then
// for a mutex a pthread mutex, for an event its kind and state, for a mapping the data at 64),
// for the tests of two releases on one machine. Header-only, so the tests' peers use it too.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class PreviousReleaseKind : uint32_t { kMutex = 1, kEvent = 2, kMapping = 3 };

// Makes the file at `path` such an object (an event: manual-reset, signalled) and holds it as
// that release does, with a shared flock: the descriptor (closing it lets go), or -1.
inline int HoldPreviousReleaseObject(const std::string& path, PreviousReleaseKind kind, uint64_t dataSize = 0) {
  std::vector<uint32_t> block(kind == PreviousReleaseKind::kEvent ? 8 : 16 + dataSize / 4 + 1, 0);
  block[0] = 0x4F4E4756;  // "VGNO"
  block[1] = 2;
  block[2] = static_cast<uint32_t>(kind);
  block[4] = static_cast<uint32_t>(dataSize);
  if (kind == PreviousReleaseKind::kEvent) block[6] = block[7] = 1;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0 && (::fchmod(fd, 0666) != 0 || ::write(fd, block.data(), block.size() * 4) < 0 ||
                  ::flock(fd, LOCK_SH) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace testing_support
