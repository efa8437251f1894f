// Helpers shared by the tests: a fresh working directory, trace capture, file access.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace testing_support {

// Creates a fresh directory under the system's temporary folder and makes it the working
// directory; restores the previous working directory and removes the folder when destroyed.
class TempDir {
 public:
  explicit TempDir(bool enter = true);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  bool entered_;
};

// Makes `dir` the working directory while it lives, then returns to the previous one: the
// agent's record-file code reads and writes in the working directory.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(previous_); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// Turns trace output on and collects every write; restores the previous state when destroyed.
// Reading the writes first writes out the calling thread's unfinished trace line.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  std::string Text() const;
  std::vector<std::string> Writes() const;
  bool Contains(const std::string& needle) const { return Text().find(needle) != std::string::npos; }
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> writes_;
  bool was_enabled_;
};

// Installs a manual clock for the lifetime of the object.
class ScopedManualClock {
 public:
  explicit ScopedManualClock(int64_t now = 1000000000);
  ~ScopedManualClock();
  platform::ManualClock& operator*() { return clock_; }
  platform::ManualClock* operator->() { return &clock_; }

 private:
  platform::ManualClock clock_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

// Unique name prefix for named objects, so tests can run side by side.
std::string UniqueName(const std::string& stem);

// Puts back the named-object prefix the test program runs under (VIGIL_NAME_PREFIX as it was
// when the tests began: the environment's, or the one the test support gave the program),
// after a test used one of its own. Never none: what a program makes without a prefix would
// share /dev/shm with an agent of this computer and stay there.
void RestoreProgramNamePrefix();
// Sets the named-object prefix for its lifetime and puts the one before it back.
class ScopedNamePrefix {
 public:
  explicit ScopedNamePrefix(const std::string& prefix);
  ~ScopedNamePrefix();
  ScopedNamePrefix(const ScopedNamePrefix&) = delete;
  ScopedNamePrefix& operator=(const ScopedNamePrefix&) = delete;

 private:
  bool had_ = false;
  std::string saved_;
};

// Removes the files in /dev/shm of named objects under `prefix` that no process holds any
// more (a killed agent leaves its objects' files behind; they count as absent, but pile up).
// Objects still held are left alone. Returns how many files were removed.
int RemoveUnheldSharedObjects(const std::string& prefix);
// True while some process holds the named mapping `name` under the named-object prefix
// `prefix`, of whatever layout. A mapping nobody holds any more is removed on the way, as
// opening it would.
bool NamedMappingHeld(const std::string& prefix, const std::string& name);
// Removes the files in /dev/shm of named objects under the prefixes tests and the demo make
// ("<stem>-<pid>-<n>" as UniqueName makes them, and the demo's "demo<pid>.") whose process has
// ended and that no process holds. Every test program that links this library runs it once
// before its tests (a global test environment), so files left by killed test programs do not
// pile up, and after them removes the files under its own prefixes that nothing holds any more.
// Returns how many files were removed.
int RemoveStaleTestObjects();

// The ordinary user the tests act as where root would hide a fault (root passes permission
// checks and exclusive-use refusals that stop everyone else): "nobody" when the tests run as
// root, else the user running them.
struct OrdinaryUser {
  uid_t uid;
  gid_t gid;
  bool dropped;  // the tests run as root, so a child must change to this user
};
OrdinaryUser OrdinaryUserIds();
// In a forked child: takes on the user's identity (no supplementary groups); nothing but
// system calls, so it is safe between fork and exec. True when done.
bool BecomeOrdinaryUser(const OrdinaryUser& user);
// The arguments that run a program as the ordinary user ("setpriv ... --" as root, else none),
// for programs started with posix_spawnp.
std::vector<std::string> OrdinaryUserLauncher();
// A runtime folder (XDG_RUNTIME_DIR) of the ordinary user's own for Qt programs the tests run
// as that user, which refuse the test program's own; made on first use beside the test
// program's (see test_support.cpp) and removed with it. Empty when it cannot be made, or when
// the tests run as that user already (they keep the program's own).
std::string OrdinaryUserRuntimeFolder();
// Runs `body` in a forked child as the ordinary user; its return value is the child's exit
// status, which this returns (-1 when the child could not run or was killed). The body must
// not use GoogleTest assertions (they would stay in the child).
int RunAsOrdinaryUser(const std::function<int()>& body);
// A lock that the ordinary user holds on an existing file while this object lives, in a forked
// child: an exclusive or shared flock (kFlock, kSharedFlock; a read-only open is all it needs)
// or a POSIX write lock on the first byte (kFirstByte). With gapMs the child lets it go for
// gapMs after every holdMs. Like a program the user started, the child may be looked at by the
// user's other processes (/proc/PID/exe).
class HeldFileLock {
 public:
  enum class Kind { kFlock, kSharedFlock, kFirstByte };
  HeldFileLock(const std::string& path, Kind kind, int holdMs = 0, int gapMs = 0);
  ~HeldFileLock() { Release(); }
  bool held() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }  // of the child that holds it
  void Release();  // the child is killed, which drops the lock

 private:
  pid_t pid_ = -1;
};
// Hands a file or a whole directory tree to the ordinary user (when the tests run as root).
void GiveToOrdinaryUser(const std::filesystem::path& path);
// The path at which the ordinary user starts `program`, a program of the build. When the tests
// change user, the build tree may lie where that user cannot enter (under /root, or in a folder
// made by mktemp -d), so the user always runs a copy: in a temporary folder that every user may
// enter and only root may change, made once per test program, with the suite's libraries at
// their place relative to the program, where its $ORIGIN-relative run path looks. Without a
// change of user, `program` itself. An empty path, with the reason in `error`, when the copy
// cannot be made or the user cannot start it.
std::string ProgramForOrdinaryUser(const std::string& program, std::string* error);
// A copy of `program`, a program of the build, under another file name, among the copies above
// (whoever runs the tests): the agents' guard tells an agent by its program file's name.
std::string ProgramCopyNamed(const std::string& program, const std::string& fileName, std::string* error);

// The previous release's agent, as the agents' guard meets it: a process of a program file
// named "VigilNT" (a copy of `peer`, the named-object tests' peer) that makes `name` under the
// named-object prefix `prefix` a mapping of `size` bytes of the previous release's layout and
// holds it as that release does, while this lives.
class PreviousReleaseAgent {
 public:
  PreviousReleaseAgent(const std::string& peer, const std::string& prefix, const std::string& name,
                       size_t size);
  ~PreviousReleaseAgent();
  PreviousReleaseAgent(const PreviousReleaseAgent&) = delete;
  PreviousReleaseAgent& operator=(const PreviousReleaseAgent&) = delete;
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A named object under `prefix` as a program of the ordinary user's holds it while this lives
// (a child process: a shared flock on the file, as every holder has, and with `locked` a
// mutex's lock, a write lock of its open file on the first byte), written as the suite writes
// its blocks: magic "VGNO", `layout` (2: the previous release's), `kind` (1 mutex, 3 mapping),
// a mapping's data size (`size` - 64), zeros to `size` bytes. The file goes with it.
class ForeignObjectHolder {
 public:
  ForeignObjectHolder(const std::string& prefix, const std::string& name, uint32_t layout, uint32_t kind,
                      size_t size, bool locked = false);
  ~ForeignObjectHolder();
  ForeignObjectHolder(const ForeignObjectHolder&) = delete;
  ForeignObjectHolder& operator=(const ForeignObjectHolder&) = delete;
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  std::string path_;
  pid_t pid_ = -1;
  int fd_ = -1;  // closing it ends the holder
};

// Holds an exclusive lock on a machine-wide resource (for instance "udp_port_7010") while it
// lives, waiting for it first: serialises tests of different test runs on one machine, which a
// CTest RESOURCE_LOCK cannot. The lock file lives in the machine's temporary folder (/tmp,
// whatever TMPDIR a test run has) while the lock is held, and is removed when it is let go.
inline constexpr const char* kMachineLockDirectory = "/tmp";
class MachineResourceLock {
 public:
  explicit MachineResourceLock(const std::string& resource);
  ~MachineResourceLock();
  MachineResourceLock(const MachineResourceLock&) = delete;
  MachineResourceLock& operator=(const MachineResourceLock&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
};

// Waits up to graceMs for a child to end (after the caller asked it to: a signal, a quit command),
// then kills it; the child is reaped either way.
void ReapChild(pid_t pid, int graceMs);

}  // namespace testing_support
