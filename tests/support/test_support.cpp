#include "tests/support/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <stdexcept>

#include "core/base/ktdiag.h"
#include "platform/named_object.h"

namespace testing_support {

TempDir::TempDir(bool enter) : entered_(enter) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vigil-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  if (entered_) {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (entered_) std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

TraceCapture::TraceCapture() : was_enabled_(KtDiag::IsOutputEnabled()) {
  KtDiag::SetSink([this](std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.emplace_back(text);
  });
  KtDiag::EnableOutput(true);
}

TraceCapture::~TraceCapture() {
  KtDiag::Flush();
  KtDiag::EnableOutput(was_enabled_);
  KtDiag::SetSink(nullptr);
}

std::string TraceCapture::Text() const {
  KtDiag::Flush();
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const auto& w : writes_) all += w;
  return all;
}

std::vector<std::string> TraceCapture::Writes() const {
  KtDiag::Flush();
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

void TraceCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.clear();
}

ScopedManualClock::ScopedManualClock(int64_t now) : clock_(now) {
  platform::SetClock(&clock_);
}

ScopedManualClock::~ScopedManualClock() {
  platform::SetClock(nullptr);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string UniqueName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

namespace {

// Runs `body` under the named objects' own protocol for the objects under `prefix`: their lock
// file beside them serialises creating, opening and closing, and every holder keeps a shared
// flock on its object's file. The lock file goes at the end when `body` answers that no object
// is left under the prefix (its next user makes it again; one that waited on the removed file
// sees that and locks the new one). False when it cannot be locked.
bool UnderSharedObjectLock(const std::string& prefix, const std::function<bool()>& body) {
  const std::string path = "/dev/shm/" + prefix + platform::kObjectLockName;
  for (;;) {
    // Without O_CREAT first: the file may be another user's (fs.protected_regular).
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    // What another user put there instead of a file (a FIFO, a directory) is no lock.
    if (struct stat st{}; fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX) != 0) {
      ::close(fd);
      return false;
    }
    struct stat held{};
    struct stat named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      if (body()) ::unlink(path.c_str());
      ::close(fd);
      return true;
    }
    ::close(fd);  // replaced while we waited: lock the file there now
  }
}

enum class ObjectFile { kAbsent, kHeld, kUnheld, kRemoved };

// Probes the object file at `path` (under the lock); removes it when `remove` and nobody holds it.
ObjectFile ProbeObjectFile(const std::string& path, bool remove) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return ObjectFile::kAbsent;
  ObjectFile state = ObjectFile::kHeld;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    state = remove && ::unlink(path.c_str()) == 0 ? ObjectFile::kRemoved : ObjectFile::kUnheld;
  }
  ::close(fd);  // drops the probe's own lock
  return state;
}

}  // namespace

int RemoveUnheldSharedObjects(const std::string& prefix) {
  if (prefix.empty()) return 0;
  int removed = 0;
  UnderSharedObjectLock(prefix, [&] {
    std::error_code ec;
    bool left = false;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0 || name == prefix + platform::kObjectLockName) continue;
      if (ProbeObjectFile(entry.path(), true) == ObjectFile::kRemoved) {
        ++removed;
      } else {
        left = true;
      }
    }
    return !left && !ec;
  });
  return removed;
}

ScopedNamePrefix::ScopedNamePrefix(const std::string& prefix) {
  if (const char* mine = std::getenv(platform::kNamePrefixVariable)) {
    had_ = true;
    saved_ = mine;
  }
  ::setenv(platform::kNamePrefixVariable, prefix.c_str(), 1);
}

ScopedNamePrefix::~ScopedNamePrefix() {
  if (had_) {
    ::setenv(platform::kNamePrefixVariable, saved_.c_str(), 1);
  } else {
    ::unsetenv(platform::kNamePrefixVariable);
  }
}

bool NamedMappingHeld(const std::string& prefix, const std::string& name) {
  // By the holders' flock, whatever the layout of its block (the agents' guard has the
  // previous release's).
  std::string path;
  {
    ScopedNamePrefix scoped(prefix);
    path = "/dev/shm" + platform::SharedObjectName(name);
  }
  bool held = false;
  UnderSharedObjectLock(prefix, [&] {
    held = ProbeObjectFile(path, true) == ObjectFile::kHeld;
    return false;
  });
  return held;
}

namespace {

// The process id in a test or demo prefix at the start of `name`, and that prefix; 0 when the
// name has none.
pid_t PrefixProcess(const std::string& name, std::string& prefix) {
  static const std::regex test("^[A-Za-z0-9_]+-([0-9]{1,9})-[0-9]+");
  static const std::regex demo("^demo([0-9]{1,9})\\.");
  std::smatch m;
  if (std::regex_search(name, m, test) || std::regex_search(name, m, demo)) {
    prefix = m[0];
    return static_cast<pid_t>(std::stol(m[1]));
  }
  return 0;
}

bool ProcessAlive(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Removes the files of the objects under the prefixes this program made (UniqueName) that
// nothing holds any more, their lock files with them.
void RemoveOwnTestObjects() {
  std::set<std::string> own;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    std::string prefix;
    if (PrefixProcess(entry.path().filename().string(), prefix) == ::getpid()) own.insert(prefix);
  }
  for (const std::string& prefix : own) RemoveUnheldSharedObjects(prefix);
}

// The named-object prefix of the whole program.
std::string& ProgramNamePrefix() {
  static std::string prefix;
  return prefix;
}

// The folder of the runtime folders this program made for Qt (empty: none): its own ("self",
// mode 0700) and the ordinary user's ("ordinary", that user's), in a folder others may pass
// through (0711). Only the process that made it removes it at exit (a forked child that exits
// leaves it to its parent).
std::string& OwnRuntimeRoot() {
  static std::string folder;
  return folder;
}
pid_t gRuntimeRootOwner = 0;

void RemoveOwnRuntimeRoot() {
  std::error_code ec;
  if (!OwnRuntimeRoot().empty() && ::getpid() == gRuntimeRootOwner) std::filesystem::remove_all(OwnRuntimeRoot(), ec);
}

// Before main (the test mains make their QApplication before the tests begin): a program run
// without a name prefix gets one of its own, so that what its tests make (and the lock file
// beside it) is never shared with an agent of this computer and goes at its end (the sweep
// below); a test that wants another sets it and puts this one back (RestoreProgramNamePrefix).
// Likewise a program run without XDG_RUNTIME_DIR gets a runtime folder of its own for Qt (mode
// 0700), which Qt would otherwise make as /tmp/runtime-USER and leave there. Programs the tests
// start inherit both.
[[maybe_unused]] const bool kOwnRunEnvironment = [] {
  if (std::getenv(platform::kNamePrefixVariable) == nullptr) {
    ::setenv(platform::kNamePrefixVariable, UniqueName("tests").c_str(), 1);
  }
  ProgramNamePrefix() = std::getenv(platform::kNamePrefixVariable);
  if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
    std::error_code ec;
    std::string root = (std::filesystem::temp_directory_path(ec) / "vigil-runtime-XXXXXX").string();
    if (::mkdtemp(root.data()) != nullptr) {
      OwnRuntimeRoot() = root;
      gRuntimeRootOwner = ::getpid();
      std::atexit(RemoveOwnRuntimeRoot);
      const std::string self = root + "/self";
      if (::chmod(root.c_str(), 0711) == 0 && ::mkdir(self.c_str(), 0700) == 0) {
        ::setenv("XDG_RUNTIME_DIR", self.c_str(), 1);
      }
    }
  }
  return true;
}();

// Sweeps once before the tests of every program that links the test support, and once at its
// end: a program removes what it made under its prefixes, and what killed ones left. The end's
// sweep runs at exit, after the objects that the tests made for the whole process (the trace's
// mapping) have closed: those made after this registration are destroyed before it runs.
class StaleObjectSweep : public ::testing::Environment {
 public:
  void SetUp() override {
    RemoveStaleTestObjects();
    std::atexit(RemoveOwnTestObjects);
  }
};
[[maybe_unused]] ::testing::Environment* const kStaleObjectSweep =
    ::testing::AddGlobalTestEnvironment(new StaleObjectSweep);

}  // namespace

void RestoreProgramNamePrefix() {
  if (ProgramNamePrefix().empty()) ProgramNamePrefix() = UniqueName("tests");
  ::setenv(platform::kNamePrefixVariable, ProgramNamePrefix().c_str(), 1);
}

int RemoveStaleTestObjects() {
  std::set<std::string> stale;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    std::string prefix;
    const pid_t pid = PrefixProcess(entry.path().filename().string(), prefix);
    if (pid > 0 && !ProcessAlive(pid)) stale.insert(prefix);
  }
  int removed = 0;
  for (const std::string& prefix : stale) removed += RemoveUnheldSharedObjects(prefix);
  return removed;
}

OrdinaryUser OrdinaryUserIds() {
  if (::geteuid() != 0) return OrdinaryUser{::geteuid(), ::getegid(), false};
  if (const passwd* pw = ::getpwnam("nobody")) return OrdinaryUser{pw->pw_uid, pw->pw_gid, true};
  return OrdinaryUser{65534, 65534, true};
}

bool BecomeOrdinaryUser(const OrdinaryUser& user) {
  if (!user.dropped) return true;
  return ::setgroups(0, nullptr) == 0 && ::setresgid(user.gid, user.gid, user.gid) == 0 &&
         ::setresuid(user.uid, user.uid, user.uid) == 0;
}

std::vector<std::string> OrdinaryUserLauncher() {
  const OrdinaryUser user = OrdinaryUserIds();
  if (!user.dropped) return {};
  return {"setpriv", "--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
          "--clear-groups", "--"};
}

std::string OrdinaryUserRuntimeFolder() {
  const OrdinaryUser user = OrdinaryUserIds();
  if (!user.dropped || OwnRuntimeRoot().empty()) return {};
  const std::string folder = OwnRuntimeRoot() + "/ordinary";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  if (::chown(folder.c_str(), user.uid, user.gid) != 0) return {};
  return folder;
}

int RunAsOrdinaryUser(const std::function<int()>& body) {
  const OrdinaryUser user = OrdinaryUserIds();
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) ::_exit(BecomeOrdinaryUser(user) ? body() : 125);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HeldFileLock::HeldFileLock(const std::string& path, Kind kind, int holdMs, int gapMs) {
  const OrdinaryUser user = OrdinaryUserIds();
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {  // only system calls from here on
    const bool whole = kind != Kind::kFirstByte;
    const int mode = (whole ? O_RDONLY : O_RDWR) | O_NONBLOCK;
    const int fd = BecomeOrdinaryUser(user) ? ::open(path.c_str(), mode) : -1;
    // After the change of user, which clears both (a program the user starts has them again).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_DUMPABLE, 1);
    struct flock byte{};
    byte.l_len = 1;
    const int flockType = kind == Kind::kSharedFlock ? LOCK_SH : LOCK_EX;
    auto lock = [&](short type) {
      byte.l_type = type;
      return whole ? ::flock(fd, type == F_UNLCK ? LOCK_UN : flockType) : ::fcntl(fd, F_SETLKW, &byte);
    };
    const char ok = fd >= 0 && lock(F_WRLCK) == 0 ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1 || ok != 'y') ::_exit(1);
    for (;;) {
      ::usleep(static_cast<useconds_t>(gapMs > 0 ? holdMs : 1000) * 1000);
      if (gapMs <= 0) continue;
      lock(F_UNLCK);
      ::usleep(static_cast<useconds_t>(gapMs) * 1000);
      lock(F_WRLCK);
    }
  }
  ::close(ready[1]);
  char ok = 'n';
  pollfd p{ready[0], POLLIN, 0};
  if (pid_ < 0 || ::poll(&p, 1, 10000) != 1 || ::read(ready[0], &ok, 1) != 1 || ok != 'y') Release();
  ::close(ready[0]);
}

void HeldFileLock::Release() {
  if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void GiveToOrdinaryUser(const std::filesystem::path& path) {
  const OrdinaryUser user = OrdinaryUserIds();
  if (!user.dropped) return;
  std::error_code ec;
  // A file that cannot be handed over shows in the test that needs it.
  int rc = ::lchown(path.c_str(), user.uid, user.gid);
  if (!std::filesystem::is_directory(path, ec)) return;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
    rc = ::lchown(entry.path().c_str(), user.uid, user.gid);
  }
  (void)rc;
}

namespace {

// Every user may enter and read, only the owner (root) may change.
constexpr std::filesystem::perms kOpenToEveryone =
    std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
    std::filesystem::perms::others_exec;

// The ordinary user's copies of the build's programs, kept until the test program ends.
struct OrdinaryUserCopies {
  std::mutex mutex;
  std::unique_ptr<TempDir> dir;
  std::map<std::string, std::string> programs;  // the build's program -> its copy
};

OrdinaryUserCopies& Copies() {
  static OrdinaryUserCopies copies;
  return copies;
}

// The top of the build tree that holds `program`: the nearest folder above it with the
// suite's library folder; empty when there is none.
std::filesystem::path BuildTopOf(const std::filesystem::path& program) {
  std::error_code ec;
  for (auto dir = program.parent_path(); !dir.empty(); dir = dir.parent_path()) {
    if (std::filesystem::is_directory(dir / VIGIL_LIBDIR, ec)) return dir;
    if (dir == dir.root_path()) break;
  }
  return {};
}

// Makes `dir` and every folder between `root` and it, open to everyone (whatever the umask).
bool MakeOpenFolders(const std::filesystem::path& root, const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::path at = root;
  for (const auto& part : dir.lexically_relative(root)) {
    if (part == ".") continue;
    at /= part;
    std::filesystem::create_directory(at, ec);
    std::filesystem::permissions(at, kOpenToEveryone, ec);
    if (ec) return false;
  }
  return true;
}

bool CopyOpenToEveryone(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (!ec) std::filesystem::permissions(to, kOpenToEveryone, ec);
  return !ec;
}

}  // namespace

namespace {

// A copy of the build's `program` as `fileName` among the ordinary user's copies (see
// ProgramForOrdinaryUser), made once.
std::string CopyOfProgram(const std::string& program, const std::string& fileName, std::string* error) {
  OrdinaryUserCopies& copies = Copies();
  std::lock_guard<std::mutex> lock(copies.mutex);
  const std::string key = program + '\n' + fileName;
  if (auto it = copies.programs.find(key); it != copies.programs.end()) return it->second;
  auto fail = [&](const std::string& why) {
    if (error) *error = "no copy of " + program + " as " + fileName + ": " + why;
    return std::string();
  };
  std::error_code ec;
  if (!copies.dir) {
    copies.dir = std::make_unique<TempDir>(false);
    std::filesystem::permissions(copies.dir->path(), kOpenToEveryone, ec);
  }
  const std::filesystem::path root = copies.dir->path();
  const std::filesystem::path source = std::filesystem::weakly_canonical(program, ec);
  if (ec || !std::filesystem::is_regular_file(source, ec)) return fail("no such program");
  const std::filesystem::path top = BuildTopOf(source);
  std::filesystem::path target = root / fileName;
  if (!top.empty()) {
    target = root / source.lexically_relative(top).parent_path() / fileName;
    const std::filesystem::path libraries = root / VIGIL_LIBDIR;
    if (!std::filesystem::exists(libraries, ec)) {
      if (!MakeOpenFolders(root, libraries)) return fail("cannot make " + libraries.string());
      for (const auto& entry : std::filesystem::directory_iterator(top / VIGIL_LIBDIR, ec)) {
        if (entry.is_regular_file(ec) &&
            !CopyOpenToEveryone(entry.path(), libraries / entry.path().filename())) {
          return fail("cannot copy " + entry.path().string());
        }
      }
    }
  }
  if (!MakeOpenFolders(root, target.parent_path()) || !CopyOpenToEveryone(source, target)) {
    return fail("cannot copy it to " + target.string());
  }
  const std::string copy = target.string();
  if (OrdinaryUserIds().dropped &&
      RunAsOrdinaryUser([&] { return ::access(copy.c_str(), X_OK) == 0 ? 0 : 1; }) != 0) {
    return fail("the user cannot start " + copy + " (can every user enter " + root.string() + "?)");
  }
  copies.programs[key] = copy;
  return copy;
}

}  // namespace

std::string ProgramForOrdinaryUser(const std::string& program, std::string* error) {
  if (!OrdinaryUserIds().dropped) return program;
  return CopyOfProgram(program, std::filesystem::path(program).filename().string(), error);
}

std::string ProgramCopyNamed(const std::string& program, const std::string& fileName, std::string* error) {
  return CopyOfProgram(program, fileName, error);
}

PreviousReleaseAgent::PreviousReleaseAgent(const std::string& peer, const std::string& prefix,
                                           const std::string& name, size_t size) {
  std::string error;
  const std::string program = ProgramCopyNamed(peer, "VigilNT", &error);
  int out[2];
  if (program.empty() || ::pipe2(out, O_CLOEXEC) != 0) return;
  const std::string variable = std::string(platform::kNamePrefixVariable) + "=" + prefix;
  const std::string sizeText = std::to_string(size);
  std::vector<const char*> env{variable.c_str()};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, variable.c_str(), variable.find('=') + 1) != 0) env.push_back(*e);
  }
  env.push_back(nullptr);
  const char* argv[] = {program.c_str(), "hold-previous", name.c_str(), "3", sizeText.c_str(), nullptr};
  const pid_t pid = ::fork();
  if (pid == 0) {  // system calls only: the test program has threads
    ::dup2(out[1], 1);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(env.data()));
    ::_exit(127);
  }
  ::close(out[1]);
  char said[6] = {};
  pollfd ready{out[0], POLLIN, 0};
  if (pid > 0 && ::poll(&ready, 1, 20000) == 1 && ::read(out[0], said, 5) == 5 &&
      std::string(said) == "held\n") {
    pid_ = pid;
  } else if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  ::close(out[0]);
}

PreviousReleaseAgent::~PreviousReleaseAgent() {
  if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
}

ForeignObjectHolder::ForeignObjectHolder(const std::string& prefix, const std::string& name, uint32_t layout,
                                         uint32_t kind, size_t size, bool locked) {
  {
    ScopedNamePrefix scoped(prefix);
    path_ = "/dev/shm" + platform::SharedObjectName(name);
  }
  std::vector<uint8_t> block(std::max(size, size_t{64}), 0);
  const uint32_t header[4] = {0x4F4E4756, layout, kind, 0};
  const uint64_t dataSize = kind == 3 ? block.size() - 64 : 0;
  std::memcpy(block.data(), header, sizeof header);
  std::memcpy(block.data() + sizeof header, &dataSize, sizeof dataSize);
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  const OrdinaryUser user = OrdinaryUserIds();
  const pid_t pid = ::fork();
  if (pid == 0) {  // system calls only: the test program has threads
    struct flock first {};
    first.l_type = F_WRLCK;
    first.l_len = 1;
    const int fd =
        BecomeOrdinaryUser(user) ? ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666) : -1;
    char byte = 1;
    if (fd < 0 || ::fchmod(fd, 0666) != 0 ||
        ::write(fd, block.data(), block.size()) != ssize_t(block.size()) || ::flock(fd, LOCK_SH) != 0 ||
        (locked && ::fcntl(fd, F_OFD_SETLK, &first) != 0) || ::write(ends[1], &byte, 1) != 1)
      ::_exit(1);
    while (::read(ends[1], &byte, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  ::close(ends[1]);
  fd_ = ends[0];
  pollfd ready{fd_, POLLIN, 0};
  char byte = 0;
  if (pid > 0 && ::poll(&ready, 1, 10000) == 1 && ::read(fd_, &byte, 1) == 1) pid_ = pid;
  if (pid > 0 && pid_ < 0) ReapChild(pid, 0);
}

ForeignObjectHolder::~ForeignObjectHolder() {
  if (fd_ >= 0) ::close(fd_);
  if (pid_ > 0) ReapChild(pid_, 5000);
  if (pid_ > 0) ::unlink(path_.c_str());
}

MachineResourceLock::MachineResourceLock(const std::string& resource)
    : path_(std::string(kMachineLockDirectory) + "/vigil-" + resource + ".lock") {
  // The holder removes the file when it lets go, so that nothing stays behind; a waiter that
  // then gets the lock of the removed file starts again on the file now at the path.
  // Opened for reading only, so that another user's test run can wait on the same file.
  for (;;) {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT)
      fd_ = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0 && (errno == ENOENT || errno == EEXIST)) continue;  // made or removed meanwhile
    if (fd_ < 0) throw std::runtime_error("cannot open " + path_);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) throw std::runtime_error("cannot lock " + path_);
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return;
    }
    ::close(fd_);
  }
}

MachineResourceLock::~MachineResourceLock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
}

void ReapChild(pid_t pid, int graceMs) {
  if (pid <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    ::poll(nullptr, 0, 5);
  }
}

}  // namespace testing_support
