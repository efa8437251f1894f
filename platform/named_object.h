// Named mutexes, events and shared-memory mappings shared by the processes of one machine,
// with the lifetime and results the system's code expects of them.
//
// Names. Every object is a POSIX shared-memory object (shm_open, so a file in /dev/shm) named
// "/" + prefix + name, where prefix is the value of the environment variable VIGIL_NAME_PREFIX
// (empty when unset) read when an object is created or opened. The prefix lets tests, and two
// agents on one machine, keep their objects apart. Names keep their spelling, blanks included
// ("/Mutex to lock SCP queue"); only the bytes a shared-memory name cannot hold are written as
// %XX: '/', '%', control characters, and a '.' in first place. Mutexes, events and mappings
// share one name space: opening a name as another kind fails.
//
// Lifetime. Every process that holds an object keeps a shared flock on its file. The object
// lives while any process holds it: the last holder to close it removes the file, and a holder
// that dies simply drops its lock, so an object whose holders are all gone counts as absent
// even while its file is still there (the next creator starts it afresh, an open-only call
// fails and removes the file). Creation, opening and closing are serialised by a flock on the
// suite's own lock file beside the objects, "/dev/shm/" + prefix + "vigil.lock" (made on first
// use, open to every local user, left in place), which makes two processes creating one name
// at once safe: one creates, the other opens what the first created and learns that it already
// existed. As any local user may hold that lock, or put something else at its name, a step
// waits for it at most kObjectLockWaitMs and then goes on without it, saying so once on
// standard error (see named_object.cpp); what is no regular file there (a FIFO, a socket, a
// directory, a symbolic link) is refused at once, never waited on. The same holds at the name
// of an object: only a regular file is opened.
//
// Access. Objects are open to every local user (mode 0666 whatever the umask), so whatever
// they hold is untrusted: bytes another process writes there change at most what an operation
// answers, never whether the program survives or how long a wait with a time-out takes. A
// file that another process shrinks under its holders never faults them: an access beyond its
// new end finds private zero-filled memory in the block's place, and the object is no longer
// Intact(); its users Discard it and make it afresh. The layout of the blocks carries a
// version: a block of another layout (an older release's) is refused, never misread.
//
// What cannot be made. A Create or Open that fails says why in Problem(): what stands at the
// name (a FIFO or other file that is no object, an object of another kind or of another
// release's layout, a file cut short) and which processes hold it, as the kernel's list of
// locks names them (InspectObjectAt below looks the same way, for a program's own message).
// Nothing here waits for the name to come free, and no object removes what another user put
// there: the object's users try again later (a channel at its next calls, see
// core/network/ipc.h), and the object is made as soon as its name is free. Only the agents'
// guard (InstanceGuard) removes what no agent holds at its own name, as it cannot wait.
//
// Within one process all handles of one name share a single mapping, as Win32 handles share
// one kernel object.
//
// Mutexes. Among processes a mutex is held through a lock the kernel keeps on its file (an
// open file description lock on its first byte), not through anything in the shared block:
// the kernel drops it when its holder's process ends at whatever point, whatever that
// process's id was, and no byte of the block changes who holds it. Among the threads of one
// process a record of the process's own decides. A mutex is recursive; a wait without a limit
// (kInfinite) may last as long as another holds the mutex, as designed, but sleeps meanwhile.
//
// Results of a wait: kSignaled (the mutex is now owned / the event was signalled), kTimedOut,
// kFailed, kAbandoned. kAbandoned comes only from a mutex: its previous owner (a thread or a
// whole process) ended while holding it; the caller now owns it, and the data it guards may
// be half-changed. An event never answers kAbandoned: it is a single futex word changed by
// atomic operations, so a holder that dies inside an event operation leaves the event's state
// whole, and the next user carries on. Whatever another process writes into an object, no wait
// with a time-out runs past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr const char* kNamePrefixVariable = "VIGIL_NAME_PREFIX";
// The lock file of the named objects (under the prefix, like an object name; no object may
// have this name), and how long a step waits for it: at first, and after it once timed out in
// this process (until the lock is got again).
inline constexpr const char* kObjectLockName = "vigil.lock";
inline constexpr uint32_t kObjectLockWaitMs = 2000;
inline constexpr uint32_t kObjectLockRetryMs = 20;

enum class WaitResult { kSignaled, kTimedOut, kFailed, kAbandoned };

const char* WaitResultText(WaitResult r);

// The shared-memory name ("/...") that an object of this name gets under the current prefix;
// empty when the name cannot be used (empty, or too long).
std::string SharedObjectName(std::string_view name);

// The layout of the blocks this build makes; another number in a block is another release's.
inline constexpr uint32_t kNamedObjectLayout = 3;

// What stands at the name of an object, looked at without opening it as an object, taking or
// changing anything: what a failed Create or Open, or a guard that cannot be taken, says in
// Problem(), and what a program's own message about it may name.
struct ObjectAtName {
  // The file at the name ("/dev/shm/" + prefix + name); empty when the name cannot be used.
  std::string path;
  // Nothing is there.
  bool absent = true;
  // What it is when no regular file: "a FIFO", "a socket", "a directory", "a symbolic link",
  // "a device"; null for a regular file.
  const char* otherKind = nullptr;
  // Of a regular file that holds an object of the suite, what its header says: the layout of
  // its blocks (kNamedObjectLayout, or another release's), its kind (1 mutex, 2 event, 3
  // mapping) and a mapping's data size; with the file's size. layout is 0 when the file holds
  // no object; openError the errno of a file that cannot be opened to be read.
  uint32_t layout = 0;
  uint32_t kind = 0;
  uint64_t dataSize = 0;
  uint64_t fileSize = 0;
  int openError = 0;
  // The file's identity and owner.
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t owner = 0;
  // The processes that hold a lock of any kind on the file, as the kernel's list of locks
  // (/proc/locks) names them: (process id, program name). unnamedHolder: a lock whose taker the
  // list does not name; holdersUnknown: the list cannot be read.
  std::vector<std::pair<int, std::string>> holders;
  bool unnamedHolder = false;
  bool holdersUnknown = false;

  // Whether a process may hold the file: so far as can be told, nobody does when false.
  bool MayBeHeld() const { return !holders.empty() || unnamedHolder || holdersUnknown; }
  bool OfAnotherRelease() const { return layout != 0 && layout != kNamedObjectLayout; }
};
ObjectAtName InspectObjectAt(std::string_view name);

namespace detail {
struct SharedEntry;
}

// Common part of the three handle classes. A handle is closed by Close() or its destructor.
class NamedObject {
 public:
  NamedObject(const NamedObject&) = delete;
  NamedObject& operator=(const NamedObject&) = delete;

  bool IsOpen() const { return entry_ != nullptr; }
  // True when the last Create found the object already there (ERROR_ALREADY_EXISTS).
  bool AlreadyExisted() const { return existed_; }
  // errno of the last failed Create or Open (ENOENT: open-only found nothing; EINVAL: the
  // name is held by an object of another kind or layout, or by no object, or cannot be used).
  int SysError() const { return error_; }
  // After a failed Create or Open: what stands at the name and who holds it, in words for a
  // message ("/dev/shm/OstrelEventToDaemon is a FIFO, not an object of the suite"); empty
  // after a success.
  const std::string& Problem() const { return problem_; }
  const std::string& Name() const { return name_; }
  // False when the object is no longer as this handle opened it: another process shrank its
  // file (an access beyond the new end was caught), wrote over its header, or put another file
  // under its name or removed it. Until its users make it afresh, every operation goes on with
  // what is left (junk at worst), and none of them faults.
  bool Intact() const;
  // Closes the handle and, when the object's name still names this object, removes the name,
  // so that the next Create makes the object afresh (holders of the old one find it no longer
  // Intact). Removing another user's file takes the right to (root may).
  void Discard();

 protected:
  NamedObject() = default;
  ~NamedObject();
  enum class Kind : uint32_t { kMutex = 1, kEvent = 2, kMapping = 3 };
  struct Request {
    Kind kind;
    bool create;
    size_t dataSize;      // mapping size
    bool manualReset;     // event
    bool initialState;    // event signalled / mutex owned by the creator
  };
  bool Acquire(std::string_view name, const Request& request);
  void ReleaseEntry();

  std::shared_ptr<detail::SharedEntry> entry_;
  bool existed_ = false;
  int error_ = 0;
  std::string name_;
  std::string problem_;
};

class NamedMutex : public NamedObject {
 public:
  NamedMutex() = default;
  ~NamedMutex();
  // Creates the mutex or opens the existing one. With initiallyOwned the calling thread owns
  // a newly created mutex (an existing one is not taken). False on failure.
  bool Create(std::string_view name, bool initiallyOwned = false);
  // Opens an existing mutex; false (SysError ENOENT) when there is none.
  bool Open(std::string_view name);
  void Close();

  // Takes the mutex, waiting up to timeoutMs (kInfinite: no limit; 0: just try). The owner
  // may take it again; each take needs its own Release.
  WaitResult Wait(uint32_t timeoutMs);
  // Gives one take back; false when the calling thread does not own the mutex.
  bool Release();

 private:
  // In a process made by fork, gives the inherited handle an open file of the process's own.
  bool Rebind();
};

class NamedEvent : public NamedObject {
 public:
  NamedEvent() = default;
  ~NamedEvent();
  // Creates the event or opens the existing one (whose kind and state then stay as they are).
  bool Create(std::string_view name, bool manualReset, bool initialState);
  bool Open(std::string_view name);
  void Close();

  bool Set();
  bool Reset();
  // Waits until the event is signalled, up to timeoutMs (kInfinite: no limit; 0: just test).
  // A signalled auto-reset event is reset by the one wait it releases.
  WaitResult Wait(uint32_t timeoutMs);
};

// The guard of a program that runs once per machine (the agents): held for the guard's life,
// by one holder at a time, through locks the kernel keeps on the file at the name (under the
// prefix, like an object's) and drops when the holder ends at whatever point. Whether it can
// be taken depends on no block's layout: every release's holder of an object keeps a shared
// flock on its file, so a holder of any release is seen, and so is anything else at the name
// that a process holds. A guard that cannot be taken is not taken. The file is the block of a
// mapping of dataSize bytes (the name's designed kind), in the layout that the previous release
// reads, so that its programs find their mapping there, made and held, and take another
// program for running.
//
// Only an agent keeps the guard from being taken: a holder that the kernel's list of locks
// names and whose program file (/proc/PID/exe, which no process can change) is named VigilNT
// or Vigil95, of either release, or whose program file cannot be read. The file is open to
// every user (the previous release's programs open it read-write), so any user may lock it; a
// lock whose taker the list does not name counts for nothing by itself, as an agent always
// also keeps a named flock there. What stands at the name and no agent holds (what no process
// holds, or only other programs do) is no holder: something that is no file a guard can be (a
// FIFO, a socket, a symbolic link, an empty directory), a file of another user, or a file that
// other programs hold, is removed where this process may (root in the sticky /dev/shm; another
// user only its own files), and the guard is made afresh; Removed() says what went and who
// held it. Only that one name goes, never what a symbolic link points to. What an agent holds
// keeps the guard from being taken (kHeld); what cannot be removed keeps it too (kFailed).
class InstanceGuard {
 public:
  enum class Result {
    kTaken,   // held now, until Release or the guard's end
    kHeld,    // another agent holds the name, or may (Problem says who)
    kFailed,  // the guard cannot be taken: something else is at the name that cannot be removed,
              // or no file can be made
  };
  InstanceGuard() = default;
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  Result Take(std::string_view name, size_t dataSize);
  bool Held() const { return fd_ >= 0; }
  // After kHeld or kFailed: what stands at the name and who holds it, in words.
  const std::string& Problem() const { return problem_; }
  // After the last Take: what it removed from the name, in words for the user ("removed
  // /dev/shm/..., a FIFO of user nobody that no process held", "..., a file of user nobody that
  // no agent held (held by process 1234 (flock))"); empty when it removed nothing.
  const std::string& Removed() const { return removed_; }
  // Lets the guard go; the last holder removes the file.
  void Release();

 private:
  int fd_ = -1;
  std::string shm_;
  std::string problem_;
  std::string removed_;
};

class NamedMapping : public NamedObject {
 public:
  NamedMapping() = default;
  ~NamedMapping();
  // Creates a zero-filled shared block of size bytes or opens the existing one (which keeps
  // its own size; see Size()).
  bool Create(std::string_view name, size_t size);
  bool Open(std::string_view name);
  void Close();

  uint8_t* Data() const;
  size_t Size() const;
};

}  // namespace platform
