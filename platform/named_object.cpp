#include "platform/named_object.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

namespace platform {

const char* WaitResultText(WaitResult r) {
  switch (r) {
    case WaitResult::kSignaled: return "signalled";
    case WaitResult::kTimedOut: return "timed out";
    case WaitResult::kFailed: return "failed";
    case WaitResult::kAbandoned: return "abandoned";
  }
  return "unknown";
}

namespace {

// The directory in which glibc's shm_open keeps its objects.
constexpr const char* kShmDirectory = "/dev/shm";

std::string MapName(std::string_view raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size() + 8);
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c == '/' || c == '%' || c < 0x20 || c == 0x7F || (i == 0 && c == '.')) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A number of the calling thread that no other thread of the process ever has, not even one
// started after it ended (a thread id can come back): the owner record of a mutex names its
// owner by it, so a record left by a thread that died never matches a later thread.
uint64_t ThreadToken() {
  static std::atomic<uint64_t> next{1};
  static thread_local const uint64_t token = next.fetch_add(1);
  return token;
}

timespec MonotonicDeadline(uint32_t ms) {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += static_cast<time_t>(ms / 1000u);
  ts.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

#if defined(__SANITIZE_THREAD__)
#define VIGIL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VIGIL_THREAD_SANITIZER 1
#endif
#endif

// Takes the mutex within ms milliseconds of the monotonic clock. ThreadSanitizer follows
// neither pthread_mutex_clocklock (it would see the unlock of a mutex it never saw taken, and
// miss the order the mutex gives) nor an abandonment reported by pthread_mutex_timedlock; it
// follows pthread_mutex_trylock in full, so its build tries again every half millisecond.
int TimedLock(pthread_mutex_t* m, uint32_t ms) {
#ifdef VIGIL_THREAD_SANITIZER
  const timespec deadline = MonotonicDeadline(ms);
  for (;;) {
    const int rc = ::pthread_mutex_trylock(m);
    if (rc != EBUSY) return rc;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
      return ETIMEDOUT;
    }
    ::usleep(500);
  }
#else
  const timespec deadline = MonotonicDeadline(ms);
  return ::pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
#endif
}

int FlockRetry(int fd, int op) {
  for (;;) {
    if (::flock(fd, op) == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

std::string ObjectLockName() {
  return SharedObjectName(kObjectLockName);
}

// Exclusive flock on the suite's own lock file beside the objects ("/dev/shm/" + prefix +
// "vigil.lock"): serialises creation, opening and closing of named objects among the
// processes that use one prefix. Held only for those short steps.
//
// The file is open to every local user like the objects, so anyone may hold it. The wait for
// it is therefore bounded (kObjectLockWaitMs); past the bound, or when the file cannot be
// opened at all, the step goes on without it and says so once on standard error. That is safe:
// without the lock two processes racing on one name may fail to open it or, at worst, end up
// with separate objects until they open it again; none of them waits, crashes or reads beyond
// its mapping. After such a time-out the process waits only briefly (kObjectLockRetryMs) until
// it gets the lock again, so a lock held for good costs each later step little.
class MachineLock {
 public:
  MachineLock() {
    const std::string name = ObjectLockName();
    const bool withheld = lockWithheld_.load();
    const auto bound = std::chrono::milliseconds(withheld ? kObjectLockRetryMs : kObjectLockWaitMs);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    if (name.empty()) {
      GoOnWithout("(none: the name prefix is too long)", "the lock file cannot be named", withheld);
      return;
    }
    const std::string path = std::string(kShmDirectory) + name;
    for (;;) {
      std::string why;
      fd_ = OpenLockFile(name, path, why);
      if (fd_ < 0) {
        GoOnWithout(path, why, withheld);
        return;
      }
      auto pause = std::chrono::microseconds(100);
      for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
          const int e = errno;
          Drop();
          GoOnWithout(path, std::string("it cannot be locked: ") + std::strerror(e), withheld);
          return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
          Drop();
          GoOnWithout(path,
                      "another process has held it for " + std::to_string(bound.count()) + " ms",
                      withheld);
          return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
      }
      // The file we locked must still be the one under the name (it may have been removed
      // and made again while we waited); else lock the new one.
      struct stat held{};
      struct stat named{};
      if (::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        lockWithheld_ = false;
        return;
      }
      Drop();
      if (std::chrono::steady_clock::now() >= deadline) {
        GoOnWithout(path, "it keeps being replaced", withheld);
        return;
      }
    }
  }
  ~MachineLock() { Drop(); }
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;
  bool locked() const { return fd_ >= 0; }

 private:
  void Drop() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
    fd_ = -1;
  }
  // Goes on without the lock; the first time in a row says why.
  static void GoOnWithout(const std::string& path, const std::string& why, bool withheld) {
    lockWithheld_ = true;
    if (withheld) return;
    std::fprintf(stderr, "vigil: the lock of the named objects %s is not available (%s); going on without it\n",
                 path.c_str(), why.c_str());
  }
  // Opens the lock file, making it when it is not there. Read access is all a flock needs.
  // An existing file is opened without O_CREAT: in a sticky folder such as /dev/shm that would
  // be refused for a file of another user (fs.protected_regular). Whatever else another user
  // may have put at the name is refused at once, never waited on: the open does not block (a
  // FIFO), shm_open adds O_NOFOLLOW (a symbolic link), and only a regular file is taken (a
  // directory opens too). -1 with the reason in `why`.
  static int OpenLockFile(const std::string& name, const std::string& path, std::string& why) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      int fd = ::shm_open(name.c_str(), O_RDONLY | O_NONBLOCK, 0);
      if (fd < 0 && errno == ENOENT) {
        fd = ::shm_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
          ::fchmod(fd, 0666);  // whatever the umask: open to every local user
          return fd;
        }
        if (errno == EEXIST) continue;
      }
      struct stat st{};
      if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
      const int e = errno;
      if (fd >= 0) ::close(fd);
      const char* kind = KindAt(path);
      why = kind != nullptr ? std::string("it is ") + kind + ", not a regular file"
                            : std::string("it cannot be opened: ") + std::strerror(e);
      return -1;
    }
    why = "it keeps being replaced";
    return -1;
  }
  // What is at the path when it is no regular file: "a FIFO", ...; null otherwise.
  static const char* KindAt(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return nullptr;
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISLNK(st.st_mode)) return "a symbolic link";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return nullptr;
  }

  int fd_ = -1;
  static inline std::atomic<bool> lockWithheld_{false};
};

constexpr uint32_t kMagic = 0x4F4E4756;  // "VGNO"
// 2: events on a futex word (1 had a condition variable); a block of another layout is refused.
constexpr uint32_t kLayout = 2;

struct Header {
  uint32_t magic;
  uint32_t layout;
  uint32_t kind;
  uint32_t reserved;
  uint64_t dataSize;
};

struct MutexBlock {
  Header header;
  pthread_mutex_t mutex;
};

// An event is one futex word: 0 not signalled, anything else signalled. Set, Reset and the
// taking of an auto-reset event are single atomic operations on it, so there is no lock that a
// process killed at any point could leave taken, and bytes another user writes there can make
// the event look signalled or not, but never make a wait outlast its time-out.
struct EventBlock {
  Header header;
  uint32_t manualReset;  // read once, when the event is opened
  uint32_t state;
};
static_assert(offsetof(EventBlock, state) % 4 == 0);

constexpr size_t kMappingDataOffset = 64;
static_assert(sizeof(Header) <= kMappingDataOffset);
// Upper bound for a mapping, well beyond any use in the system.
constexpr size_t kMaxMappingSize = size_t{1} << 30;

}  // namespace

std::string SharedObjectName(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  const char* prefix = std::getenv(kNamePrefixVariable);
  std::string full = prefix ? prefix : "";
  full.append(name);
  std::string mapped = MapName(full);
  if (mapped.size() > NAME_MAX) return {};
  return "/" + mapped;
}

namespace detail {

struct SharedEntry {
  std::string shmName;
  uint32_t kind = 0;
  int fd = -1;
  uint8_t* base = nullptr;
  size_t mapSize = 0;
  size_t dataSize = 0;
  pid_t pid = 0;
  // Ownership of a mutex by a thread of this process (its ThreadToken and its number of
  // takes), shared by all handles of the process. Only the thread that holds the mutex changes
  // the record, and only while it holds it: after it takes it, and before it gives it back. A
  // thread that finds its own token in the record therefore holds the mutex. The record lets
  // Release refuse a thread that does not own the mutex, and keeps the last close from
  // unmapping a mutex that a thread still holds.
  std::atomic<uint64_t> owner{0};
  std::atomic<int> ownCount{0};
  // Of an event: its kind, as it was when this process opened it.
  bool manualReset = false;

  ~SharedEntry();
};

SharedEntry::~SharedEntry() {
  bool unmap = base != nullptr;
  // An entry inherited across fork records the parent's threads: the child owns nothing.
  if (unmap && kind == 1 && pid == ::getpid() && ownCount.load() > 0) {
    auto* block = reinterpret_cast<MutexBlock*>(base);
    if (owner.load() == ThreadToken()) {
      // The last handle closed by the owner: every take is given back.
      owner = 0;
      for (int n = ownCount.exchange(0); n > 0; --n) ::pthread_mutex_unlock(&block->mutex);
    } else {
      // A mutex still held by another thread stays mapped: it sits on that thread's robust
      // list, which must stay readable until the thread releases it or ends.
      unmap = false;
    }
  }
  if (unmap) ::munmap(base, mapSize);
  if (fd < 0) return;
  if (pid != ::getpid()) {
    // Inherited across fork: the lock belongs to the parent's open file; just drop the fd.
    ::close(fd);
    return;
  }
  MachineLock lock;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // No other holder: the object ends with us.
    ::shm_unlink(shmName.c_str());
  }
  ::close(fd);
}

}  // namespace detail

namespace {

using detail::SharedEntry;

std::mutex& RegistryMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// Process-wide table of open objects by shared-memory name (entries live while a handle does).
std::map<std::string, std::weak_ptr<SharedEntry>>& Registry() {
  static auto* r = new std::map<std::string, std::weak_ptr<SharedEntry>>;
  return *r;
}

size_t BlockSize(uint32_t kind, size_t dataSize) {
  switch (kind) {
    case 1: return sizeof(MutexBlock);
    case 2: return sizeof(EventBlock);
    default: return kMappingDataOffset + dataSize;
  }
}

bool InitMutex(pthread_mutex_t* m, int type) {
  pthread_mutexattr_t attr;
  if (::pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            ::pthread_mutexattr_settype(&attr, type) == 0 && ::pthread_mutex_init(m, &attr) == 0;
  ::pthread_mutexattr_destroy(&attr);
  return ok;
}

}  // namespace

namespace {

// What one try of OpenShared came to: done (entry or error), or a race with another process
// that the next try settles (only without the lock, see MachineLock).
enum class Try { kDone, kAgain };

Try TryOpenShared(const std::string& shm, uint32_t kind, bool create, size_t dataSize, bool manualReset,
                  bool initialState, bool& existed, int& err, std::shared_ptr<SharedEntry>& out) {
  bool fresh = false;
  bool newFile = false;
  // Without blocking, and only a regular file: whatever else another user put at the name (a
  // FIFO, a directory, a socket, a symbolic link) is refused at once.
  int fd = ::shm_open(shm.c_str(), O_RDWR | O_NONBLOCK, 0);
  if (struct stat st{}; fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    err = EINVAL;
    return Try::kDone;
  }
  if (fd < 0) {
    if (errno != ENOENT) {
      err = errno;
      return Try::kDone;
    }
    if (!create) {
      err = ENOENT;
      return Try::kDone;
    }
    fd = ::shm_open(shm.c_str(), O_RDWR | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      err = errno;
      return errno == EEXIST ? Try::kAgain : Try::kDone;
    }
    ::fchmod(fd, 0666);  // whatever the umask: open to every local user
    fresh = newFile = true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // Someone opened the new file before we locked it and takes it as a leftover.
      ::close(fd);
      err = EWOULDBLOCK;
      return Try::kAgain;
    }
  } else if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: what is left of an object whose holders are all gone.
    if (!create) {
      ::shm_unlink(shm.c_str());
      ::close(fd);
      err = ENOENT;
      return Try::kDone;
    }
    fresh = true;
  } else if (errno != EWOULDBLOCK) {
    err = errno;
    ::close(fd);
    return Try::kDone;
  }

  auto fail = [&](int e) {
    err = e;
    if (newFile) ::shm_unlink(shm.c_str());
    ::close(fd);
    return Try::kDone;
  };

  size_t mapSize = 0;
  uint8_t* base = nullptr;
  bool eventManual = manualReset;
  if (fresh) {
    mapSize = BlockSize(kind, dataSize);
    // A leftover file is grown when too small, never shrunk (a process that still maps it
    // must not fault), and the block is zero-filled below.
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (st.st_size < static_cast<off_t>(mapSize) && ::ftruncate(fd, static_cast<off_t>(mapSize)) != 0)
      return fail(errno);
    void* p = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return fail(errno);
    base = static_cast<uint8_t*>(p);
    std::memset(base, 0, mapSize);
    auto* header = reinterpret_cast<Header*>(base);
    header->layout = kLayout;
    header->kind = kind;
    header->dataSize = dataSize;
    bool ok = true;
    if (kind == 1) {
      auto* block = reinterpret_cast<MutexBlock*>(base);
      ok = InitMutex(&block->mutex, PTHREAD_MUTEX_RECURSIVE);
    } else if (kind == 2) {
      auto* block = reinterpret_cast<EventBlock*>(base);
      block->manualReset = manualReset ? 1 : 0;
      std::atomic_ref<uint32_t>(block->state).store(initialState ? 1 : 0);
    }
    if (!ok) {
      ::munmap(base, mapSize);
      return fail(EINVAL);
    }
    std::atomic_ref<uint32_t>(header->magic).store(kMagic);
    // From exclusive to shared: every other opener that keeps to the lock waits for it.
    if (FlockRetry(fd, LOCK_SH) != 0) {
      ::munmap(base, mapSize);
      return fail(errno);
    }
  } else {
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
      // Its maker holds it exclusively while it sets it up (only seen without the lock).
      const int e = errno;
      ::close(fd);
      err = e;
      return e == EWOULDBLOCK ? Try::kAgain : Try::kDone;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (st.st_size < static_cast<off_t>(sizeof(Header))) return fail(EINVAL);
    mapSize = static_cast<size_t>(st.st_size);
    void* p = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return fail(errno);
    base = static_cast<uint8_t*>(p);
    const auto* header = reinterpret_cast<const Header*>(base);
    const uint64_t size = header->dataSize;
    const bool valid = header->magic == kMagic && header->layout == kLayout && header->kind == kind &&
                       size <= kMaxMappingSize && BlockSize(kind, static_cast<size_t>(size)) <= mapSize;
    if (!valid) {
      ::munmap(base, mapSize);
      return fail(EINVAL);
    }
    dataSize = static_cast<size_t>(size);
    if (kind == 2) eventManual = reinterpret_cast<const EventBlock*>(base)->manualReset != 0;
  }

  auto entry = std::make_shared<SharedEntry>();
  entry->shmName = shm;
  entry->kind = kind;
  entry->fd = fd;
  entry->base = base;
  entry->mapSize = mapSize;
  entry->dataSize = dataSize;
  entry->pid = ::getpid();
  entry->manualReset = eventManual;
  if (fresh && kind == 1 && initialState) {
    auto* block = reinterpret_cast<MutexBlock*>(base);
    if (::pthread_mutex_lock(&block->mutex) == 0) {
      entry->owner = ThreadToken();
      entry->ownCount = 1;
    }
  }
  existed = !fresh;
  out = std::move(entry);
  return Try::kDone;
}

}  // namespace

// Opens or creates the object under the lock of the named objects. On success the entry holds
// a shared flock on the object's file and a mapping of it.
static std::shared_ptr<SharedEntry> OpenShared(const std::string& shm, uint32_t kind, bool create, size_t dataSize,
                                               bool manualReset, bool initialState, bool& existed, int& err) {
  MachineLock lock;
  std::shared_ptr<SharedEntry> entry;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (TryOpenShared(shm, kind, create, dataSize, manualReset, initialState, existed, err, entry) == Try::kDone)
      return entry;
  }
  return nullptr;
}

NamedObject::~NamedObject() {
  ReleaseEntry();
}

void NamedObject::ReleaseEntry() {
  entry_.reset();
  existed_ = false;
}

bool NamedObject::Acquire(std::string_view name, const Request& rq) {
  ReleaseEntry();
  error_ = 0;
  name_.assign(name);
  const std::string shm = SharedObjectName(name);
  if (shm.empty()) {
    error_ = name.empty() ? EINVAL : ENAMETOOLONG;
    return false;
  }
  if (shm == ObjectLockName()) {  // the lock file is no object
    error_ = EINVAL;
    return false;
  }
  if (rq.kind == Kind::kMapping && (rq.dataSize == 0 || rq.dataSize > kMaxMappingSize)) {
    error_ = EINVAL;
    return false;
  }
  const auto kind = static_cast<uint32_t>(rq.kind);
  std::lock_guard<std::mutex> guard(RegistryMutex());
  auto& registry = Registry();
  for (auto it = registry.begin(); it != registry.end();) {
    it = it->second.expired() ? registry.erase(it) : std::next(it);
  }
  if (auto it = registry.find(shm); it != registry.end()) {
    auto shared = it->second.lock();
    if (shared && shared->pid == ::getpid()) {
      if (shared->kind != kind) {
        error_ = EINVAL;
        return false;
      }
      entry_ = std::move(shared);
      existed_ = true;
      return true;
    }
  }
  bool existed = false;
  int err = 0;
  auto entry = OpenShared(shm, kind, rq.create, rq.dataSize, rq.manualReset, rq.initialState, existed, err);
  if (!entry) {
    error_ = err;
    return false;
  }
  registry[shm] = entry;
  entry_ = std::move(entry);
  existed_ = existed;
  return true;
}

// ---- NamedMutex ----

NamedMutex::~NamedMutex() = default;

bool NamedMutex::Create(std::string_view name, bool initiallyOwned) {
  return Acquire(name, Request{Kind::kMutex, true, 0, false, initiallyOwned});
}

bool NamedMutex::Open(std::string_view name) {
  return Acquire(name, Request{Kind::kMutex, false, 0, false, false});
}

void NamedMutex::Close() {
  ReleaseEntry();
}

WaitResult NamedMutex::Wait(uint32_t timeoutMs) {
  if (!entry_) return WaitResult::kFailed;
  auto* m = &reinterpret_cast<MutexBlock*>(entry_->base)->mutex;
  int rc;
  if (timeoutMs == kInfinite) {
    rc = ::pthread_mutex_lock(m);
  } else if (timeoutMs == 0) {
    rc = ::pthread_mutex_trylock(m);
  } else {
    rc = TimedLock(m, timeoutMs);
  }
  WaitResult result;
  switch (rc) {
    case 0:
      result = WaitResult::kSignaled;
      break;
    case EOWNERDEAD:
      // The owner ended while holding it: we own it now, and make it usable again.
      ::pthread_mutex_consistent(m);
      result = WaitResult::kAbandoned;
      break;
    case ETIMEDOUT:
    case EBUSY:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
  // We hold the mutex: the record is ours to change. After an abandonment the record left by
  // a thread of ours that died is void (the mutex starts again at one take); otherwise a take
  // by the owner adds to its count, and a first take finds the record empty.
  SharedEntry& e = *entry_;
  if (result == WaitResult::kAbandoned || e.owner.load() != ThreadToken()) {
    e.ownCount = 1;
    e.owner = ThreadToken();
  } else {
    ++e.ownCount;
  }
  return result;
}

bool NamedMutex::Release() {
  if (!entry_) return false;
  auto* m = &reinterpret_cast<MutexBlock*>(entry_->base)->mutex;
  SharedEntry& e = *entry_;
  // Our token in the record means we hold the mutex (no one else writes it while we do).
  if (e.owner.load() != ThreadToken() || e.ownCount.load() <= 0) return false;
  // The record is brought up to date while we still hold the mutex; once it is unlocked the
  // next owner may write it at any moment.
  const int left = e.ownCount.load() - 1;
  e.ownCount = left;
  if (left == 0) e.owner = 0;
  if (::pthread_mutex_unlock(m) == 0) return true;
  // Not given back after all (cannot happen to the owner of a consistent mutex): the record
  // stays as it was, still ours.
  e.owner = ThreadToken();
  e.ownCount = left + 1;
  return false;
}

// ---- NamedEvent ----

namespace {

std::atomic_ref<uint32_t> EventWord(const std::shared_ptr<SharedEntry>& e) {
  return std::atomic_ref<uint32_t>(reinterpret_cast<EventBlock*>(e->base)->state);
}

// The futex calls are the shared (not process-private) kind: the word lives in memory that
// other processes map. The time-out of FUTEX_WAIT is relative, on the monotonic clock.
long FutexWait(uint32_t* word, uint32_t expected, const timespec* relative) {
  return ::syscall(SYS_futex, word, FUTEX_WAIT, expected, relative, nullptr, 0);
}

void FutexWakeAll(uint32_t* word) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// Longest single kernel wait; a wait without a time limit is made of such slices.
constexpr uint32_t kEventSliceMs = 1000;

}  // namespace

NamedEvent::~NamedEvent() = default;

bool NamedEvent::Create(std::string_view name, bool manualReset, bool initialState) {
  return Acquire(name, Request{Kind::kEvent, true, 0, manualReset, initialState});
}

bool NamedEvent::Open(std::string_view name) {
  return Acquire(name, Request{Kind::kEvent, false, 0, false, false});
}

void NamedEvent::Close() {
  ReleaseEntry();
}

bool NamedEvent::Set() {
  if (!entry_) return false;
  std::atomic_ref<uint32_t> word = EventWord(entry_);
  word.store(1, std::memory_order_release);
  // Every waiter is woken and checks the word itself: an auto-reset event still releases one
  // waiter only, and a waiter killed after its wake-up cannot keep the others asleep.
  FutexWakeAll(&reinterpret_cast<EventBlock*>(entry_->base)->state);
  return true;
}

bool NamedEvent::Reset() {
  if (!entry_) return false;
  EventWord(entry_).store(0, std::memory_order_release);
  return true;
}

WaitResult NamedEvent::Wait(uint32_t timeoutMs) {
  if (!entry_) return WaitResult::kFailed;
  uint32_t* raw = &reinterpret_cast<EventBlock*>(entry_->base)->state;
  std::atomic_ref<uint32_t> word(*raw);
  const bool manual = entry_->manualReset;
  const bool forever = timeoutMs == kInfinite;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    uint32_t seen = word.load(std::memory_order_acquire);
    if (seen != 0) {
      if (manual) return WaitResult::kSignaled;
      // Taking an auto-reset event resets it; of several waiters one wins, the others go on
      // waiting.
      if (word.compare_exchange_strong(seen, 0, std::memory_order_acq_rel)) return WaitResult::kSignaled;
    }
    uint32_t sliceMs = kEventSliceMs;
    if (!forever) {
      const auto left =
          std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return WaitResult::kTimedOut;
      sliceMs = static_cast<uint32_t>(std::min<long long>((left + 999) / 1000, kEventSliceMs));
    }
    if (seen != 0) continue;  // lost the race for an auto-reset event that was set: look again
    const timespec relative{static_cast<time_t>(sliceMs / 1000u), static_cast<long>(sliceMs % 1000u) * 1000000L};
    if (FutexWait(raw, 0, &relative) != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT)
      return WaitResult::kFailed;
  }
}

// ---- NamedMapping ----

NamedMapping::~NamedMapping() = default;

bool NamedMapping::Create(std::string_view name, size_t size) {
  return Acquire(name, Request{Kind::kMapping, true, size, false, false});
}

bool NamedMapping::Open(std::string_view name) {
  // Any size passes the request check; the existing object's own size is used.
  return Acquire(name, Request{Kind::kMapping, false, 1, false, false});
}

void NamedMapping::Close() {
  ReleaseEntry();
}

uint8_t* NamedMapping::Data() const {
  return entry_ ? entry_->base + kMappingDataOffset : nullptr;
}

size_t NamedMapping::Size() const {
  return entry_ ? entry_->dataSize : 0;
}

}  // namespace platform
