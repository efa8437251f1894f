#include "platform/named_object.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/file.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/system_log.h"

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

// The process id of this process, without a system call at each take of a mutex: kept up to
// date in a child made by fork.
pid_t ThisProcess() {
  static std::atomic<pid_t> pid = [] {
    ::pthread_atfork(nullptr, nullptr, [] { pid.store(::getpid()); });
    return ::getpid();
  }();
  return pid.load(std::memory_order_relaxed);
}

// A number of the calling thread that no other thread of the process ever has, not even one
// started after it ended (a thread id can come back): the record of which thread of the
// process holds a mutex names it by this number.
uint64_t ThreadToken() {
  static std::atomic<uint64_t> next{1};
  static thread_local const uint64_t token = next.fetch_add(1);
  return token;
}

// ---- blocks whose file another process shrinks ----
//
// The files are open to every local user, who may truncate one at any moment: an access to the
// part of a mapping beyond the file's new end raises SIGBUS, which would end the process. Every
// block is registered here while it is mapped. A SIGBUS raised by an access inside a registered
// block puts private zero-filled memory in the whole block's place (the file no longer backs it)
// and marks the block, and the access is carried out again there: it reads zeros, and what it
// writes reaches no other process. The object is then no longer Intact(), and its users make it
// afresh. A SIGBUS anywhere else goes to the handler that was there before, or ends the process
// as it would have.
constexpr size_t kGuardSlots = 1024;

struct GuardSlot {
  std::atomic<bool> used{false};
  std::atomic<uintptr_t> begin{0};  // 0: no block
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> faulted{false};
};

GuardSlot g_guards[kGuardSlots];
struct sigaction g_busBefore {};

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  // Only a fault the kernel raised (not a SIGBUS sent by someone) is an access.
  for (GuardSlot& slot : g_guards) {
    if (info->si_code <= 0) break;
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    const uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (begin == 0 || at < begin || at >= end) continue;
    if (::mmap(reinterpret_cast<void*>(begin), end - begin, PROT_READ | PROT_WRITE,
               MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) {
      break;
    }
    slot.faulted.store(true);
    return;
  }
  if ((g_busBefore.sa_flags & SA_SIGINFO) != 0 && g_busBefore.sa_sigaction != nullptr) {
    g_busBefore.sa_sigaction(sig, info, context);
  } else if (g_busBefore.sa_handler != SIG_DFL && g_busBefore.sa_handler != SIG_IGN &&
             g_busBefore.sa_handler != nullptr) {
    g_busBefore.sa_handler(sig);
  } else {
    // As without us: the access raises it again, a signal sent is raised again.
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    if (info->si_code <= 0) ::raise(sig);
  }
}

// Registers a mapped block; its slot, or -1 when every slot is taken.
int GuardBlock(void* base, size_t length) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction sa{};
    sa.sa_sigaction = OnBusError;
    sa.sa_flags = SA_SIGINFO;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &g_busBefore);
  });
  for (size_t i = 0; i < kGuardSlots; ++i) {
    bool expected = false;
    if (!g_guards[i].used.compare_exchange_strong(expected, true)) continue;
    g_guards[i].faulted.store(false);
    g_guards[i].end.store(reinterpret_cast<uintptr_t>(base) + length, std::memory_order_release);
    g_guards[i].begin.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

bool GuardFaulted(int slot) {
  return slot >= 0 && g_guards[slot].faulted.load();
}

// Unregisters the block of the slot and unmaps it.
void UnmapGuarded(void* base, size_t length, int slot) {
  if (slot >= 0) {
    g_guards[slot].begin.store(0, std::memory_order_release);
    g_guards[slot].end.store(0, std::memory_order_release);
    g_guards[slot].used.store(false);
  }
  ::munmap(base, length);
}

// Maps an object's file and registers the block; null (errno set) on failure.
uint8_t* MapGuarded(int fd, size_t length, int& slot) {
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return nullptr;
  slot = GuardBlock(p, length);
  if (slot < 0) {
    ::munmap(p, length);
    errno = EMFILE;
    return nullptr;
  }
  return static_cast<uint8_t*>(p);
}

// What a file of this mode is when it is no regular file: "a FIFO", ...; null otherwise.
const char* KindOfMode(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return nullptr;
}

// What is at the path when it is no regular file: "a FIFO", ...; null otherwise.
const char* KindAt(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return nullptr;
  return KindOfMode(st.st_mode);
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
    // Of threads that go on without it at once, one says so.
    if (lockWithheld_.exchange(true) || withheld) return;
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
  int fd_ = -1;
  static inline std::atomic<bool> lockWithheld_{false};
};

constexpr uint32_t kMagic = 0x4F4E4756;  // "VGNO"
// 3: mutexes on a lock kept by the kernel (2 had a pthread mutex in the block; 1 events on a
// condition variable). A block of another layout is refused.
constexpr uint32_t kLayout = kNamedObjectLayout;

struct Header {
  uint32_t magic;
  uint32_t layout;
  uint32_t kind;
  uint32_t reserved;
  uint64_t dataSize;
};

// A mutex is held, among processes, through a lock that the kernel keeps on the first byte of
// its file (an open file description lock): the kernel alone says who holds it, it drops the
// lock when the holder's process ends at whatever point, whatever its process id is or was in
// whatever pid namespace, and no byte of the shared block can change that. The block only
// helps: `owner` holds the process id of the holder while it holds it, so that a taker that
// finds it set knows that the last holder ended without giving it back (abandoned); `turn` is a
// futex word that a release moves on, waking the waiters, and `waiters` counts them, so that a
// release nobody waits for makes no wake-up call. Junk there changes at most whether a take
// answers abandoned and how soon a waiter looks again (at the latest after kMutexSliceMs, as a
// process that dies holding the mutex wakes nobody).
struct MutexBlock {
  Header header;
  uint32_t owner;
  uint32_t turn;
  uint32_t waiters;
  uint32_t reserved;
};
static_assert(offsetof(MutexBlock, owner) % 4 == 0);
constexpr uint32_t kMutexSliceMs = 20;

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
  // Of a mutex: which thread of this process holds it (its ThreadToken; 0 when none), and its
  // number of takes (0 while that thread is still getting the kernel's lock). The threads of a
  // process share one open file and so one kernel lock: among them the record decides, under
  // `local`.
  std::mutex local;
  std::condition_variable localFree;
  uint64_t owner = 0;
  int ownCount = 0;
  // Of an event: its kind, as it was when this process opened it.
  bool manualReset = false;
  int guard = -1;  // of the mapped block, see GuardBlock
  // Discarded by a handle of this process: no handle opens it again.
  std::atomic<bool> discarded{false};

  // Whether the object's name still names this object's file.
  bool Named() const;
  bool Intact() const;
  ~SharedEntry();
};

// Gives a mutex that the calling thread holds back to the kernel and wakes its waiters; with
// `orderly` false (its thread ended holding it) the owner word stays set: abandoned. Called
// under `local`.
void GiveBackMutex(SharedEntry& e, bool orderly);

SharedEntry::~SharedEntry() {
  // An entry inherited across fork records the parent's threads: the child owns nothing. A
  // mutex still held by another thread is left as abandoned: closing the file drops the
  // kernel's lock, and its owner word stays set for the next taker.
  if (base != nullptr && kind == 1 && pid == ThisProcess()) {
    std::lock_guard<std::mutex> lock(local);
    // The last handle closed by the owner: every take is given back.
    if (ownCount > 0 && owner == ThreadToken()) GiveBackMutex(*this, true);
  }
  if (base != nullptr) UnmapGuarded(base, mapSize, guard);
  if (fd < 0) return;
  if (pid != ThisProcess()) {
    // Inherited across fork: the lock belongs to the parent's open file; just drop the fd.
    ::close(fd);
    return;
  }
  MachineLock lock;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && Named()) {
    // No other holder: the object ends with us (unless its name went to another file).
    ::shm_unlink(shmName.c_str());
  }
  ::close(fd);
}

bool SharedEntry::Named() const {
  struct stat held{};
  struct stat named{};
  const std::string path = std::string(kShmDirectory) + shmName;
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
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

const char* KindName(uint32_t kind) {
  switch (kind) {
    case 1: return "a mutex";
    case 2: return "an event";
    case 3: return "a mapping";
    default: return "an object of an unknown kind";
  }
}

// The name of the program of a process, as the kernel keeps it; empty when it cannot be read.
// Any process sets its own (PR_SET_NAME), so it is made printable before it goes into a message.
std::string ProgramName(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return PrintableText(name, false);
}

// Adds to `at` the processes that hold a lock of any kind on the file of the device and inode
// given, as the kernel lists them in /proc/locks ("1: FLOCK  ADVISORY  READ  1234 00:1a:5678 0
// EOF"; a waiter's line has "->" after the number; an open file description lock, or a taker in
// another process name space, has no process id there). A holder is only who took the lock: it
// may have handed its file on to a child.
void ReadHolders(ObjectAtName& at, dev_t dev, ino_t ino) {
  std::ifstream locks("/proc/locks");
  if (!locks) {
    at.holdersUnknown = true;
    return;
  }
  char key[64];
  std::snprintf(key, sizeof key, "%02x:%02x:%lu", ::major(dev), ::minor(dev), static_cast<unsigned long>(ino));
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, pid, where;
    fields >> number >> type;
    if (type == "->") continue;
    fields >> mode >> access >> pid >> where;
    if (where != key) continue;
    const long p = std::strtol(pid.c_str(), nullptr, 10);
    if (p <= 0) {
      at.unnamedHolder = true;
    } else if (std::none_of(at.holders.begin(), at.holders.end(), [&](const auto& h) { return h.first == p; })) {
      at.holders.emplace_back(static_cast<int>(p), ProgramName(p));
    }
  }
}

// What stands at the file of the shared-memory name: only looked at (its header read, never
// mapped, so that a file another user shrinks cannot fault the read), nothing taken or changed.
ObjectAtName LookAt(const std::string& shm) {
  ObjectAtName at;
  if (shm.empty()) return at;
  at.path = std::string(kShmDirectory) + shm;
  struct stat st{};
  if (::lstat(at.path.c_str(), &st) != 0) return at;
  at.absent = false;
  at.device = st.st_dev;
  at.inode = st.st_ino;
  at.owner = st.st_uid;
  at.otherKind = KindOfMode(st.st_mode);
  if (at.otherKind == nullptr) {
    const int fd = ::open(at.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat opened{};
    Header header{};
    if (fd < 0) {
      at.openError = errno;
    } else if (::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino &&
               ::pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
               header.magic == kMagic) {
      at.layout = header.layout;
      at.kind = header.kind;
      at.dataSize = header.dataSize;
      at.fileSize = static_cast<uint64_t>(opened.st_size);
    }
    if (fd >= 0) ::close(fd);
  }
  ReadHolders(at, st.st_dev, st.st_ino);
  return at;
}

// The other processes that hold the file, in words: "held by process 1234 (Tavona)", "held by
// processes ..."; empty when none does.
std::string HoldersText(const ObjectAtName& at) {
  if (at.holdersUnknown) return "whoever holds it cannot be told (/proc/locks cannot be read)";
  std::string text;
  size_t count = 0;
  for (const auto& [pid, program] : at.holders) {
    if (pid == ThisProcess()) continue;
    text += (count++ == 0 ? "" : ", ") + std::to_string(pid) + (program.empty() ? "" : " (" + program + ")");
  }
  if (count == 0) return at.unnamedHolder ? "held by a process that cannot be told" : "";
  return (count == 1 ? "held by process " : "held by processes ") + text;
}

// What the regular file at the name holds, in words ("/dev/shm/x is an event of layout 2,
// another release's ..."), for an object of the kind; empty when it is a whole object of that
// kind and of this release's layout.
std::string ContentText(const ObjectAtName& at, uint32_t kind) {
  if (at.openError != 0) return at.path + " cannot be opened: " + std::strerror(at.openError);
  if (at.layout == 0) return at.path + " holds no object of the suite";
  if (at.layout != kLayout) {
    return at.path + " is " + KindName(at.kind) + " of layout " + std::to_string(at.layout) +
           ", another release's (this release's layout is " + std::to_string(kLayout) + ")";
  }
  if (at.kind != kind) return at.path + " is " + KindName(at.kind) + ", not " + KindName(kind);
  if (at.dataSize > kMaxMappingSize || at.fileSize < BlockSize(kind, static_cast<size_t>(at.dataSize))) {
    return at.path + " is " + KindName(kind) + " whose file is cut short";
  }
  return "";
}

// `what`, and who holds the file when anyone else does.
std::string WithHolders(const std::string& what, const ObjectAtName& at) {
  const std::string holders = HoldersText(at);
  return holders.empty() ? what : what + ", " + holders;
}

// Words for what stands at an object's name when it could not be made or opened there (err:
// the attempt's error), for the messages of the programs that try again: what kind of file it
// is, or what object of which layout, and who holds it.
std::string DescribeFailure(const std::string& shm, uint32_t kind, bool create, int err) {
  const ObjectAtName at = LookAt(shm);
  const std::string path = std::string(kShmDirectory) + shm;
  if (at.absent) {
    if (!create) return "there is no " + path;
    return path + " cannot be made: " + std::strerror(err != 0 ? err : ENOENT);
  }
  if (at.otherKind != nullptr) return WithHolders(path + " is " + at.otherKind + ", not an object of the suite", at);
  std::string what = ContentText(at, kind);
  if (what.empty()) what = path + " cannot be used: " + std::strerror(err);
  return WithHolders(what, at);
}

}  // namespace

namespace detail {

bool SharedEntry::Intact() const {
  if (discarded.load() || base == nullptr || GuardFaulted(guard) || !Named()) return false;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(BlockSize(kind, dataSize))) return false;
  // The header as it was made: read with care, as another process may be writing it.
  auto* header = reinterpret_cast<Header*>(base);
  bool whole = std::atomic_ref<uint32_t>(header->magic).load() == kMagic &&
               std::atomic_ref<uint32_t>(header->layout).load() == kLayout &&
               std::atomic_ref<uint32_t>(header->kind).load() == kind &&
               std::atomic_ref<uint64_t>(header->dataSize).load() == dataSize;
  if (kind == 2) {
    auto* event = reinterpret_cast<EventBlock*>(base);
    whole = whole && (std::atomic_ref<uint32_t>(event->manualReset).load() != 0) == manualReset;
  }
  // Reading it may itself have met a shrunk file.
  return whole && !GuardFaulted(guard);
}

}  // namespace detail

namespace {

// A lock request of the given type for the first byte of a mutex's file.
struct flock FirstByte(short type) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  return fl;
}

// The kernel's lock of a mutex: a write lock on the first byte of its file, owned by the open
// file (F_OFD_SETLK), never waited for in the kernel. 1 taken, 0 held by another, -1 failed.
int TryFileLock(int fd) {
  struct flock fl = FirstByte(F_WRLCK);
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 1;
    if (errno != EINTR) return errno == EAGAIN || errno == EACCES ? 0 : -1;
  }
}

void DropFileLock(int fd) {
  struct flock fl = FirstByte(F_UNLCK);
  ::fcntl(fd, F_OFD_SETLK, &fl);
}

MutexBlock* MutexOf(const SharedEntry& e) {
  return reinterpret_cast<MutexBlock*>(e.base);
}

// The mutexes that the calling thread holds: when it ends holding one, the mutex is given back
// as abandoned, for the other threads of the process and for other processes alike. The list
// is a thread-specific value, whose destructor runs after those of the thread's thread_local
// objects: a take in one of those (a last trace line) is still seen. It exists only while the
// thread holds a mutex.
using HeldMutexes = std::vector<std::weak_ptr<SharedEntry>>;

void AbandonHeld(void* list) {
  auto* held = static_cast<HeldMutexes*>(list);
  for (const auto& w : *held) {
    const std::shared_ptr<SharedEntry> e = w.lock();
    if (!e) continue;
    std::unique_lock<std::mutex> lock(e->local);
    if (e->owner != ThreadToken() || e->ownCount <= 0) continue;
    detail::GiveBackMutex(*e, false);
    lock.unlock();
    e->localFree.notify_all();
  }
  delete held;
}

pthread_key_t HeldKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k{};
    ::pthread_key_create(&k, AbandonHeld);
    return k;
  }();
  return key;
}

void NoteHeld(const std::shared_ptr<SharedEntry>& e) {
  auto* held = static_cast<HeldMutexes*>(::pthread_getspecific(HeldKey()));
  if (held == nullptr) {
    held = new HeldMutexes;
    ::pthread_setspecific(HeldKey(), held);
  }
  held->push_back(e);
}

void NoteGivenBack(const SharedEntry& e) {
  auto* held = static_cast<HeldMutexes*>(::pthread_getspecific(HeldKey()));
  if (held == nullptr) return;
  std::erase_if(*held, [&](const std::weak_ptr<SharedEntry>& w) {
    const auto locked = w.lock();
    return !locked || locked.get() == &e;
  });
  if (!held->empty()) return;
  ::pthread_setspecific(HeldKey(), nullptr);
  delete held;
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
  int guard = -1;
  bool eventManual = manualReset;
  bool ownedAtCreation = false;
  if (fresh) {
    mapSize = BlockSize(kind, dataSize);
    // A leftover file is grown when too small, never shrunk (a process that still maps it
    // must not fault), and the block is zero-filled below.
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (st.st_size < static_cast<off_t>(mapSize) && ::ftruncate(fd, static_cast<off_t>(mapSize)) != 0)
      return fail(errno);
    base = MapGuarded(fd, mapSize, guard);
    if (base == nullptr) return fail(errno);
    std::memset(base, 0, mapSize);
    auto* header = reinterpret_cast<Header*>(base);
    header->layout = kLayout;
    header->kind = kind;
    header->dataSize = dataSize;
    if (kind == 1 && initialState && TryFileLock(fd) == 1) {
      reinterpret_cast<MutexBlock*>(base)->owner = static_cast<uint32_t>(ThisProcess());
      ownedAtCreation = true;
    } else if (kind == 2) {
      auto* block = reinterpret_cast<EventBlock*>(base);
      block->manualReset = manualReset ? 1 : 0;
      std::atomic_ref<uint32_t>(block->state).store(initialState ? 1 : 0);
    }
    std::atomic_ref<uint32_t>(header->magic).store(kMagic);
    // From exclusive to shared: every other opener that keeps to the lock waits for it.
    if (FlockRetry(fd, LOCK_SH) != 0) {
      const int e = errno;
      UnmapGuarded(base, mapSize, guard);
      return fail(e);
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
    base = MapGuarded(fd, mapSize, guard);
    if (base == nullptr) return fail(errno);
    const auto* header = reinterpret_cast<const Header*>(base);
    const uint64_t size = header->dataSize;
    const bool valid = header->magic == kMagic && header->layout == kLayout && header->kind == kind &&
                       size <= kMaxMappingSize && BlockSize(kind, static_cast<size_t>(size)) <= mapSize;
    if (!valid || GuardFaulted(guard)) {
      UnmapGuarded(base, mapSize, guard);
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
  entry->pid = ThisProcess();
  entry->manualReset = eventManual;
  entry->guard = guard;
  if (ownedAtCreation) {
    entry->owner = ThreadToken();
    entry->ownCount = 1;
    NoteHeld(entry);
  }
  existed = !fresh;
  out = std::move(entry);
  return Try::kDone;
}

}  // namespace

// Opens or creates the object under the lock of the named objects. On success the entry holds
// a shared flock on the object's file and a mapping of it; on failure `problem` says what stood
// at the name, looked at under the same lock (so what is said is what the attempt met, not what
// another process changed there since).
static std::shared_ptr<SharedEntry> OpenShared(const std::string& shm, uint32_t kind, bool create,
                                               size_t dataSize, bool manualReset, bool initialState,
                                               bool& existed, int& err, std::string& problem) {
  MachineLock lock;
  std::shared_ptr<SharedEntry> entry;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (TryOpenShared(shm, kind, create, dataSize, manualReset, initialState, existed, err, entry) == Try::kDone)
      break;
  }
  if (!entry) problem = DescribeFailure(shm, kind, create, err);
  return entry;
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
  problem_.clear();
  name_.assign(name);
  const std::string shm = SharedObjectName(name);
  if (shm.empty()) {
    error_ = name.empty() ? EINVAL : ENAMETOOLONG;
    problem_ = "the name \"" + name_ + "\" cannot be used under this prefix";
    return false;
  }
  if (shm == ObjectLockName()) {  // the lock file is no object
    error_ = EINVAL;
    problem_ = std::string(kShmDirectory) + shm + " is the lock file of the named objects";
    return false;
  }
  if (rq.kind == Kind::kMapping && (rq.dataSize == 0 || rq.dataSize > kMaxMappingSize)) {
    error_ = EINVAL;
    problem_ = "a mapping of " + std::to_string(rq.dataSize) + " bytes cannot be made";
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
    if (shared && shared->pid == ThisProcess() && !shared->discarded.load()) {
      if (shared->kind != kind) {
        error_ = EINVAL;
        problem_ = std::string(kShmDirectory) + shm + " is " + KindName(shared->kind) + " of this process, not " +
                   KindName(kind);
        return false;
      }
      entry_ = std::move(shared);
      existed_ = true;
      return true;
    }
  }
  bool existed = false;
  int err = 0;
  auto entry =
      OpenShared(shm, kind, rq.create, rq.dataSize, rq.manualReset, rq.initialState, existed, err, problem_);
  if (!entry) {
    error_ = err;
    return false;
  }
  registry[shm] = entry;
  entry_ = std::move(entry);
  existed_ = existed;
  return true;
}

bool NamedObject::Intact() const {
  return entry_ != nullptr && entry_->Intact();
}

void NamedObject::Discard() {
  if (!entry_) return;
  entry_->discarded = true;
  {
    MachineLock lock;
    if (entry_->Named()) ::shm_unlink(entry_->shmName.c_str());
  }
  ReleaseEntry();
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

namespace {

// The futex calls are the shared (not process-private) kind: the word lives in memory that
// other processes map. The time-out of FUTEX_WAIT is relative, on the monotonic clock.
long FutexWait(uint32_t* word, uint32_t expected, const timespec* relative) {
  return ::syscall(SYS_futex, word, FUTEX_WAIT, expected, relative, nullptr, 0);
}

void FutexWakeAll(uint32_t* word) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

timespec RelativeMs(uint32_t ms) {
  return timespec{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
}

// How long a wait may still take: sliceMs capped by the deadline; false when it has passed.
bool SliceLeft(bool forever, std::chrono::steady_clock::time_point deadline, uint32_t& sliceMs) {
  if (forever) return true;
  const auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return false;
  sliceMs = static_cast<uint32_t>(std::min<long long>((left + 999) / 1000, sliceMs));
  return true;
}

// Gets the kernel's lock of the mutex for this process by the deadline. A waiter sleeps on the
// turn word, which each release moves on, for a slice at most: a holder that died released the
// lock without moving it. Wake-ups that bring nothing (another waiter was first, or another
// process keeps writing the word) are paced, so that no wait, however long, spins.
WaitResult TakeFileLock(SharedEntry& e, bool forever, std::chrono::steady_clock::time_point deadline) {
  MutexBlock* block = MutexOf(e);
  std::atomic_ref<uint32_t> turn(block->turn);
  std::atomic_ref<uint32_t> waiters(block->waiters);
  int fruitless = 0;
  for (;;) {
    // The turn is read before the try: a release after the try moves it, and the sleep below
    // then ends at once.
    const uint32_t seen = turn.load();
    const int got = TryFileLock(e.fd);
    if (got != 0) return got > 0 ? WaitResult::kSignaled : WaitResult::kFailed;
    uint32_t sliceMs = kMutexSliceMs;
    if (!SliceLeft(forever, deadline, sliceMs)) return WaitResult::kTimedOut;
    const timespec relative = RelativeMs(sliceMs);
    waiters.fetch_add(1);
    const bool slept = FutexWait(&block->turn, seen, &relative) != 0 && errno == ETIMEDOUT;
    waiters.fetch_sub(1);
    // Any other end of the sleep (woken, the word changed, a signal, a fault) is looked at
    // again at once, a few times in a row, then after a pause.
    fruitless = slept ? 0 : fruitless + 1;
    if (fruitless > 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

namespace detail {

void GiveBackMutex(SharedEntry& e, bool orderly) {
  MutexBlock* block = MutexOf(e);
  if (orderly) std::atomic_ref<uint32_t>(block->owner).store(0);
  DropFileLock(e.fd);
  std::atomic_ref<uint32_t>(block->turn).fetch_add(1);
  if (std::atomic_ref<uint32_t>(block->waiters).load() != 0) FutexWakeAll(&block->turn);
  e.owner = 0;
  e.ownCount = 0;
}

}  // namespace detail

bool NamedMutex::Rebind() {
  if (entry_->pid == ThisProcess()) return true;
  // Inherited across fork: the kernel's lock belongs to the parent's open file, which this
  // process shares. It takes the mutex through an open file of its own, on the same object.
  const SharedEntry& old = *entry_;
  const std::string path = "/proc/self/fd/" + std::to_string(old.fd);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  int guard = -1;
  uint8_t* p = MapGuarded(fd, old.mapSize, guard);
  if (p == nullptr || FlockRetry(fd, LOCK_SH) != 0) {
    if (p != nullptr) UnmapGuarded(p, old.mapSize, guard);
    ::close(fd);
    return false;
  }
  auto own = std::make_shared<SharedEntry>();
  own->shmName = old.shmName;
  own->kind = old.kind;
  own->fd = fd;
  own->base = p;
  own->guard = guard;
  own->mapSize = old.mapSize;
  own->dataSize = old.dataSize;
  own->pid = ThisProcess();
  entry_ = std::move(own);
  return true;
}

WaitResult NamedMutex::Wait(uint32_t timeoutMs) {
  if (!entry_ || !Rebind()) return WaitResult::kFailed;
  SharedEntry& e = *entry_;
  const uint64_t me = ThreadToken();
  const bool forever = timeoutMs == kInfinite;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  std::unique_lock<std::mutex> lock(e.local);
  if (e.owner == me) {
    ++e.ownCount;
    return WaitResult::kSignaled;
  }
  // First among the threads of this process, then from the kernel among the processes.
  const auto free = [&] { return e.owner == 0; };
  if (forever) {
    e.localFree.wait(lock, free);
  } else if (!e.localFree.wait_until(lock, deadline, free)) {
    return WaitResult::kTimedOut;
  }
  e.owner = me;
  lock.unlock();
  const WaitResult got = TakeFileLock(e, forever, deadline);
  lock.lock();
  if (got != WaitResult::kSignaled) {
    e.owner = 0;
    lock.unlock();
    e.localFree.notify_all();
    return got;
  }
  std::atomic_ref<uint32_t> word(MutexOf(e)->owner);
  const bool abandoned = word.load() != 0;
  word.store(static_cast<uint32_t>(ThisProcess()));
  e.ownCount = 1;
  lock.unlock();
  NoteHeld(entry_);
  return abandoned ? WaitResult::kAbandoned : WaitResult::kSignaled;
}

bool NamedMutex::Release() {
  if (!entry_ || !Rebind()) return false;
  SharedEntry& e = *entry_;
  std::unique_lock<std::mutex> lock(e.local);
  if (e.owner != ThreadToken() || e.ownCount <= 0) return false;
  if (--e.ownCount > 0) return true;
  detail::GiveBackMutex(e, true);
  lock.unlock();
  e.localFree.notify_all();
  NoteGivenBack(e);
  return true;
}

// ---- NamedEvent ----

namespace {

std::atomic_ref<uint32_t> EventWord(const std::shared_ptr<SharedEntry>& e) {
  return std::atomic_ref<uint32_t>(reinterpret_cast<EventBlock*>(e->base)->state);
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
    // EFAULT: the file was shrunk under the word just now; the next look at it goes through
    // the guard (GuardBlock), and the wait goes on in private memory.
    if (FutexWait(raw, 0, &relative) != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT &&
        errno != EFAULT)
      return WaitResult::kFailed;
  }
}

// ---- InstanceGuard ----

namespace {

// The layout the guard's file says it has: a mapping's block has been the same since layout 2,
// and a program of that release, which looks for its mapping at the guard's name, finds it
// there, already made and held, as it would find one of its own release.
constexpr uint32_t kGuardLayout = 2;

std::string UserName(uid_t uid) {
  struct passwd entry{};
  struct passwd* found = nullptr;
  char text[1024];
  if (::getpwuid_r(uid, &entry, text, sizeof text, &found) == 0 && found != nullptr) return found->pw_name;
  return "with uid " + std::to_string(uid);
}

// Whether the process is an agent, of either release: told by the file its program runs from
// (/proc/PID/exe, which the process cannot change, unlike the name the kernel keeps for it),
// named "VigilNT" or "Vigil95" (" (deleted)" once a package upgrade has replaced it). A process
// whose program cannot be read (another user's, seen by one that is not root) may be an agent,
// and so may this very process (it may hold the name through another guard).
bool MayBeAnAgent(long pid) {
  if (pid == ThisProcess()) return true;
  char target[PATH_MAX + 1];
  const ssize_t length = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, PATH_MAX);
  if (length <= 0) return true;
  std::string_view program(target, static_cast<size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (program.ends_with(kDeleted)) program.remove_suffix(kDeleted.size());
  if (const size_t slash = program.rfind('/'); slash != std::string_view::npos)
    program.remove_prefix(slash + 1);
  return program == "VigilNT" || program == "Vigil95";
}

// Whether an agent may hold what stands at the name: a holder that the kernel's list of locks
// names is one, or the list cannot be read. A lock whose taker the list does not name (an open
// file description lock, or one whose taker has ended) is none by itself: an agent of either
// release always also keeps a shared flock on the guard's file, which the list names.
bool HeldByAnAgent(const ObjectAtName& at) {
  return at.holdersUnknown || std::any_of(at.holders.begin(), at.holders.end(),
                                          [](const auto& h) { return MayBeAnAgent(h.first); });
}

// Removes what stands at the shared-memory name when no agent holds it (HeldByAnAgent): that
// one name and nothing else, never what a symbolic link points to, a directory only when it is
// empty, and only where this process may (in the sticky /dev/shm root may remove any file,
// another user only its own). What other processes hold there goes too: their locks stay on
// the file they hold, and the name is free. True when the name is free now, with what was
// removed in `removed`; false when an agent may hold it or it stays, with why it stays in `why`
// ("; it cannot be removed: ...").
bool RemoveUnheld(const std::string& shm, std::string& removed, std::string& why) {
  const ObjectAtName at = LookAt(shm);
  if (at.absent) return true;
  if (HeldByAnAgent(at)) return false;
  const int dir = ::open(kShmDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const char* base = shm.c_str() + 1;
  struct stat st{};
  int result = -1;
  bool replaced = false;
  if (dir >= 0 && ::fstatat(dir, base, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    // Only the file that was looked at, not one put at the name since.
    replaced = st.st_dev != at.device || st.st_ino != at.inode;
    if (!replaced) result = ::unlinkat(dir, base, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
  }
  const int e = errno;
  if (dir >= 0) ::close(dir);
  if (result != 0 && !replaced && e == ENOENT) return true;
  if (result != 0) {
    why = replaced ? std::string("; it was replaced while it was looked at")
                   : std::string("; it cannot be removed: ") + std::strerror(e);
    return false;
  }
  removed = "removed " + at.path + ", " + (at.otherKind != nullptr ? at.otherKind : "a file") + " of user " +
            UserName(at.owner) +
            (at.MayBeHeld() ? " that no agent held (" + HoldersText(at) + ")" : " that no process held");
  return true;
}

}  // namespace

InstanceGuard::~InstanceGuard() {
  Release();
}

InstanceGuard::Result InstanceGuard::Take(std::string_view name, size_t dataSize) {
  Release();
  problem_.clear();
  removed_.clear();
  shm_ = SharedObjectName(name);
  if (shm_.empty() || shm_ == ObjectLockName() || dataSize == 0 || dataSize > kMaxMappingSize) {
    problem_ = "the name \"" + std::string(name) + "\" cannot be used under this prefix";
    return Result::kFailed;
  }
  const std::string path = std::string(kShmDirectory) + shm_;
  MachineLock lock;
  // What nobody holds at the name is removed once at most, and the guard taken afresh.
  bool removalTried = false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    // As for an object: without blocking, no symbolic link, and only a regular file.
    int fd = ::shm_open(shm_.c_str(), O_RDWR | O_NONBLOCK, 0);
    const bool made = fd < 0 && errno == ENOENT;
    if (made) {
      fd = ::shm_open(shm_.c_str(), O_RDWR | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd >= 0) ::fchmod(fd, 0666);  // as every named object: the other release's opens it read-write
    }
    struct stat st{};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
      errno = EINVAL;
    }
    if (fd < 0) {
      // No file a guard can be: a FIFO, a socket, a symbolic link, a directory, or a file this
      // process may not open. Held by nobody, it is no agent, and goes where this process may.
      const int e = errno;
      std::string why;
      if (!removalTried) {
        removalTried = true;
        if (RemoveUnheld(shm_, removed_, why)) continue;
      }
      problem_ = DescribeFailure(shm_, 3, true, e) + why;
      return Result::kFailed;
    }
    // Two locks the kernel keeps on the file. The shared flock is what a holder of any release
    // keeps on the file of an object it holds: no exclusive one can be had while another holds
    // it. The lock on its first byte (open file description locks, as the mutexes') is this
    // release's guard: one holder, and it never changes hands while it is held. The flock is
    // taken first, so that a holder of this release is always named in the kernel's list.
    const bool alone = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool firstByte = TryFileLock(fd) == 1;
    if (!alone || !firstByte) {
      ::close(fd);  // looked at without this process's locks
      ObjectAtName at = LookAt(shm_);
      // What only other programs hold (another user's lock on the file) is no agent: it goes
      // where this process may, as what nobody holds, and the guard is made afresh.
      std::string why;
      if (!HeldByAnAgent(at) && !removalTried) {
        removalTried = true;
        if (RemoveUnheld(shm_, removed_, why)) continue;
        at = LookAt(shm_);
      }
      const bool agent = HeldByAnAgent(at);
      std::string what = ContentText(at, 3);
      if (agent && !firstByte) {
        what = path + " is the guard of another agent of this release";
      } else if (!agent && at.layout == kGuardLayout && at.kind == 3) {
        what = path + " is an agents' guard that no agent holds";  // the header is the guard's own
      } else if (what.empty()) {
        what = path + " is a mapping of this release";
      }
      problem_ = WithHolders(what, at) + why;
      return agent ? Result::kHeld : Result::kFailed;
    }
    // Nobody else holds the file. One of another user's (what a holder that ended left, or
    // what the user put there) is made afresh where this process may remove it, so that the
    // guard's file is the process's own: the other user could remove it while it is held, and
    // the next agent would then find the name free. Where it may not, it is taken as it is.
    if (!made && !removalTried && st.st_uid != ::geteuid()) {
      ::close(fd);
      removalTried = true;
      std::string why;
      RemoveUnheld(shm_, removed_, why);
      continue;
    }
    // It becomes the block of a mapping of dataSize zero bytes. Grown, never shrunk.
    std::vector<uint8_t> block(kMappingDataOffset + dataSize, 0);
    Header header{kMagic, kGuardLayout, 3, 0, dataSize};
    std::memcpy(block.data(), &header, sizeof header);
    if (::pwrite(fd, block.data(), block.size(), 0) != static_cast<ssize_t>(block.size()) ||
        FlockRetry(fd, LOCK_SH) != 0) {
      const int e = errno;
      if (made) ::shm_unlink(shm_.c_str());
      ::close(fd);
      problem_ = path + " cannot be written: " + std::strerror(e);
      return Result::kFailed;
    }
    fd_ = fd;
    return Result::kTaken;
  }
  problem_ = path + " keeps being replaced";
  return Result::kFailed;
}

void InstanceGuard::Release() {
  if (fd_ < 0) return;
  {
    MachineLock lock;
    struct stat held{};
    struct stat named{};
    const std::string path = std::string(kShmDirectory) + shm_;
    // The last holder removes the file, as for an object (unless its name went to another file).
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      ::shm_unlink(shm_.c_str());
    }
    ::close(fd_);
  }
  fd_ = -1;
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

// ---- what stands at a name ----

ObjectAtName InspectObjectAt(std::string_view name) {
  return LookAt(SharedObjectName(name));
}

}  // namespace platform
