#include "platform/modem_sideband.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace platform {

struct ModemSideband::Region {
  uint32_t magic;
  uint32_t version;
  int32_t device_pid;
  uint32_t reserved;
  std::atomic<uint32_t> host_lines;
  std::atomic<uint32_t> host_changes;
  std::atomic<uint32_t> device_lines;
  std::atomic<uint32_t> device_ack;
  char device_path[256];
};

namespace {

constexpr uint32_t kMagic = 0x42534D56;  // "VMSB" in memory order
constexpr uint32_t kVersion = 1;

static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

std::string Canonical(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out(real);
  ::free(real);
  return out;
}

uint32_t* Word(std::atomic<uint32_t>& a) {
  return reinterpret_cast<uint32_t*>(&a);
}

void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, int timeout_ms) {
  timespec ts{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
  ::syscall(SYS_futex, Word(word), FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
  ::syscall(SYS_futex, Word(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

uint64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

std::string ModemSideband::RegionName(const std::string& device_path) {
  std::string canonical = Canonical(device_path);
  std::string name = "/vigil-modem";
  for (char c : canonical) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_';
    name += plain ? c : '-';
  }
  if (name.size() > 200) name.resize(200);
  return name;
}

ModemSideband::ModemSideband(Region* region, std::string name, bool owner)
    : region_(region), name_(std::move(name)), owner_(owner) {}

ModemSideband::~ModemSideband() {
  if (owner_) {
    region_->device_pid = 0;
    FutexWakeAll(region_->device_ack);
    ::shm_unlink(name_.c_str());
  }
  ::munmap(region_, sizeof(Region));
}

std::unique_ptr<ModemSideband> ModemSideband::Create(const std::string& device_path, int* error) {
  const std::string canonical = Canonical(device_path);
  const std::string name = RegionName(device_path);
  if (canonical.size() >= sizeof(Region::device_path)) {
    if (error) *error = ENAMETOOLONG;
    return nullptr;
  }
  // A region left behind by a device side that died is replaced.
  ::shm_unlink(name.c_str());
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  ::fchmod(fd, 0666);  // any local user's port may attach, whatever the umask
  if (::ftruncate(fd, sizeof(Region)) != 0) {
    if (error) *error = errno;
    ::close(fd);
    ::shm_unlink(name.c_str());
    return nullptr;
  }
  void* p = ::mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) {
    if (error) *error = errno;
    ::shm_unlink(name.c_str());
    return nullptr;
  }
  auto* region = static_cast<Region*>(p);
  std::memset(region->device_path, 0, sizeof region->device_path);
  std::memcpy(region->device_path, canonical.data(), canonical.size());
  region->version = kVersion;
  region->device_pid = static_cast<int32_t>(::getpid());
  region->reserved = 0;
  region->host_lines.store(0);
  region->host_changes.store(0);
  region->device_lines.store(0);
  region->device_ack.store(0);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  region->magic = kMagic;
  return std::unique_ptr<ModemSideband>(new ModemSideband(region, name, true));
}

std::unique_ptr<ModemSideband> ModemSideband::Attach(const std::string& device_path) {
  const std::string canonical = Canonical(device_path);
  const std::string name = RegionName(device_path);
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Region))) {
    ::close(fd);
    return nullptr;
  }
  void* p = ::mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  auto* region = static_cast<Region*>(p);
  std::unique_ptr<ModemSideband> sb(new ModemSideband(region, name, false));
  const bool same_device =
      ::strnlen(region->device_path, sizeof region->device_path) < sizeof region->device_path &&
      canonical == region->device_path;
  if (region->magic != kMagic || region->version != kVersion || !same_device || !sb->DeviceAlive()) {
    return nullptr;
  }
  return sb;
}

bool ModemSideband::DeviceAlive() const {
  const pid_t pid = region_->device_pid;
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

void ModemSideband::SetHostLines(uint32_t lines) {
  region_->host_lines.store(lines & 0x06u);
  region_->host_changes.fetch_add(1);
  FutexWakeAll(region_->host_changes);
}

uint32_t ModemSideband::HostLines() const {
  return region_->host_lines.load();
}

uint32_t ModemSideband::DeviceLines() const {
  return region_->device_lines.load();
}

bool ModemSideband::WaitDeviceCaughtUp(int timeout_ms) {
  const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0);
  for (;;) {
    const uint32_t want = region_->host_changes.load();
    const uint32_t ack = region_->device_ack.load();
    if (ack == want) return true;
    if (!DeviceAlive()) return false;
    const uint64_t now = MonotonicMs();
    if (now >= deadline) return false;
    // Short slices, so a device side that died while we wait is noticed.
    FutexWait(region_->device_ack, ack, static_cast<int>(deadline - now < 20 ? deadline - now : 20));
  }
}

void ModemSideband::SetDeviceLines(uint32_t lines) {
  region_->device_lines.store(lines & 0x1E0u);
}

uint32_t ModemSideband::HostChangeCount() const {
  return region_->host_changes.load();
}

uint32_t ModemSideband::WaitHostChange(uint32_t seen, int timeout_ms) {
  uint32_t now = region_->host_changes.load();
  if (now != seen || timeout_ms <= 0) return now;
  FutexWait(region_->host_changes, seen, timeout_ms);
  return region_->host_changes.load();
}

void ModemSideband::Acknowledge(uint32_t count) {
  region_->device_ack.store(count);
  FutexWakeAll(region_->device_ack);
}

}  // namespace platform
