// The VigilNT program itself: its modes, its refusals, a stop by signal, and a start after a
// kill. These runs have no UPS: the agent starts idle.
#include <fcntl.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/engine/daemon.h"
#include "platform/named_object.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"

namespace {

bool Exists(const std::string& path) {
  return platform::RecordFile::Exists(path);
}

TEST(AgentShell, OutsideTheServiceManagerWithoutForegroundOptionExitsWithReason) {
  AgentProcess agent;
  ASSERT_TRUE(agent.Start({}));
  EXPECT_EQ(agent.Wait(10000), 1);
  EXPECT_NE(agent.Stderr().find("not started by the service manager (error 1063"), std::string::npos);
  EXPECT_FALSE(Exists(agent.File(kConfigFileName)));
}

TEST(AgentShell, BadSettingsFileStopsTheStart) {
  AgentProcess agent({"data_directory = not/absolute"});
  ASSERT_TRUE(agent.Start({"-b"}));
  EXPECT_EQ(agent.Wait(10000), 1);
  EXPECT_NE(agent.Stderr().find("line 6: data_directory must be an absolute path"), std::string::npos);
}

// A data directory the agent cannot use stops the start, and the message says why.
TEST(AgentShell, UnusableDataDirectoryStopsTheStartWithTheReason) {
  enum class How { kAsItIs, kOrdinaryUser, kReadOnlyMount };
  struct Case {
    const char* name;
    std::string directory;  // below the agent's folder, or absolute
    How how;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"missing", "/nonexistent/vigil", How::kAsItIs, "it does not exist"},
      {"a file", "VigilNT.conf", How::kAsItIs, "it is not a directory"},
      {"below a file", "VigilNT.conf/data", How::kAsItIs, "a part of its path is not a directory"},
      {"no write permission", "locked", How::kOrdinaryUser, "no permission to write in it"},
      {"read-only file system", "mounted", How::kReadOnlyMount, "it is on a read-only file system"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AgentProcess agent;
    const std::string directory = c.directory.front() == '/' ? c.directory : agent.File(c.directory);
    std::vector<std::string> args = {"-b", "-x", "5"};
    if (c.how == How::kOrdinaryUser) {
      // The folder stays its owner's, and the mode lets nobody write in it.
      std::filesystem::create_directory(directory);
      ASSERT_EQ(::chmod(directory.c_str(), 0555), 0);
      agent.AsOrdinaryUser();
    } else if (c.how == How::kReadOnlyMount) {
      // The agent in a mount namespace of its own, its data directory a read-only tmpfs there.
      if (::geteuid() != 0 || std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
        std::fprintf(stderr, "no mount namespace of our own here: case left out\n");
        continue;
      }
      std::filesystem::create_directory(directory);
      agent.UseProgram("/usr/bin/unshare");
      args = {"-m", "--propagation", "private", "sh", "-c",
              "mount -t tmpfs -o ro tmpfs \"$0\" || exit 99; exec \"$1\" -b -x 5", directory, VIGILNT_PROGRAM};
    }
    ASSERT_TRUE(agent.Start(args, {"VIGIL_DATA_DIR=" + directory}));
    const int status = agent.Wait(20000);
    if (c.how == How::kReadOnlyMount && status == 99) {
      std::fprintf(stderr, "no read-only mount here (%s): case left out\n", agent.Stderr().c_str());
      continue;
    }
    EXPECT_EQ(status, 1) << agent.Stderr();
    EXPECT_TRUE(Contains(agent.Stderr(), "VigilNT: the data directory " + directory + " cannot be used: " + c.reason))
        << agent.Stderr();
    EXPECT_FALSE(Exists(directory + "/" + kConfigFileName));
  }
}

// A settings file that an editor began with a UTF-8 byte-order mark is read as without it.
TEST(AgentShell, SettingsFileWithAByteOrderMarkStarts) {
  AgentProcess agent;
  testing_support::WriteFileText(agent.File("VigilNT.conf"),
                                 "\xEF\xBB\xBF" + testing_support::ReadFileText(agent.File("VigilNT.conf")));
  ASSERT_TRUE(agent.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(agent.WaitForTrace({"Exiting agent initialization"}, 20000)) << agent.TraceDump();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  EXPECT_FALSE(Contains(agent.Stderr(), "settings:"));
}

// A bind_address that is none of this computer's leaves the agent without its UDP server; the
// trace names the address and the system's reason.
TEST(AgentShell, BindAddressOfAnotherComputerIsTracedWithTheReason) {
  AgentProcess agent({"bind_address = 192.0.2.10"});
  ASSERT_TRUE(agent.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(agent.WaitForTrace(
      {"NetworkThread: cannot open UDP port 7010 on 192.0.2.10: Cannot assign requested address",
       "Errno Number: " + std::to_string(EADDRNOTAVAIL)},
      20000))
      << agent.TraceDump();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
}

// The data directory is the settings file's data_directory; VIGIL_DATA_DIR (tests, the demo)
// names another over it. The service's unit sets no such variable, so that the settings file
// is the one place.
TEST(AgentShell, SettingsFileNamesTheDataDirectoryUnlessTheEnvironmentDoes) {
  struct Case {
    const char* name;
    bool environment;  // VIGIL_DATA_DIR names "from-environment"
  };
  for (const Case& c : {Case{"from the settings file", false}, Case{"from the environment", true}}) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir folders{false};
    const std::string fromFile = folders.File("from-file");
    const std::string fromEnvironment = folders.File("from-environment");
    std::filesystem::create_directories(fromFile);
    std::filesystem::create_directories(fromEnvironment);
    AgentProcess agent({"data_directory = " + fromFile});
    ASSERT_TRUE(agent.Start({"-b", "-x", "5"}, {c.environment ? "VIGIL_DATA_DIR=" + fromEnvironment
                                                              : std::string("VIGIL_DATA_DIR=")}));
    const std::string used = c.environment ? fromEnvironment : fromFile;
    const std::string unused = c.environment ? fromFile : fromEnvironment;
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Exists(used + "/" + kConfigFileName); }, 20000))
        << agent.TraceDump();
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(30000), 0);
    for (const char* name : {kConfigFileName, kEventLogFileName, kBatteryLogFileName}) {
      EXPECT_TRUE(Exists(used + "/" + name)) << name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(unused));
    EXPECT_FALSE(Exists(agent.File(kConfigFileName)));  // nor in the folder it was started in
  }
}

TEST(AgentShell, ForegroundAgentStopsCleanlyOnSigtermAndSigint) {
  for (int sig : {SIGTERM, SIGINT}) {
    AgentProcess agent;
    ASSERT_TRUE(agent.Start({"/b"}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Exists(agent.File(kConfigFileName)); }, 20000));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return agent.Stderr().find("Exiting agent initialization") != std::string::npos; }, 20000));
    for (const char* name :
         {kSchedShutdownFileName, kLoadBankFileName, kBatteryTestFileName, kBatteryInfoFileName}) {
      EXPECT_TRUE(Exists(agent.File(name))) << name;
    }
    agent.Signal(sig);
    EXPECT_EQ(agent.Wait(30000), 0) << sig;
    const std::string trace = agent.Stderr();
    EXPECT_NE(trace.find("------------Terminate Daemon"), std::string::npos);
    EXPECT_NE(trace.find("Tremona daemon is exiting normally"), std::string::npos);
    EXPECT_NE(trace.find("main_thread:  The END"), std::string::npos);
    for (const char* name : {kConfigFileName, kEventLogFileName, kBatteryLogFileName}) {
      EXPECT_TRUE(Exists(agent.File(name))) << name;
    }
    // Idle: the configuration says so, and notify.dat is not written in that mode.
    const auto config = testing_support::ReadFileBytes(agent.File(kConfigFileName));
    ASSERT_GT(config.size(), 1u);
    EXPECT_EQ(config[0], kConfigFormatMarker);
    EXPECT_FALSE(Exists(agent.File(kNotifyFileName)));
  }
}

// Nothing in the temporary folder outlives a run: not the SNMP library's start in an agent
// with a MIB file, nor the machine-wide lock the tests take on port 7010 (in /tmp whatever
// TMPDIR says, so that test runs with different temporary folders still exclude each other).
TEST(AgentShell, AgentAndTheTestsMachineLockLeaveNothingInTheTemporaryFolder) {
  testing_support::TempDir tmp{false};
  const std::string tmpdir = "TMPDIR=" + tmp.path().string();
  AgentProcess agent;
  testing_support::WriteFileText(agent.File("mib.txt"),
                                 "TEST-UPS-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises FROM RFC1155-SMI;\n"
                                 "testUps OBJECT IDENTIFIER ::= { enterprises 99999 }\nEND\n");
  ASSERT_TRUE(agent.Start({"-b"}, {tmpdir}));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find("Exiting agent initialization") != std::string::npos; }, 20000));
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);

  const std::string lockFile =
      std::string(testing_support::kMachineLockDirectory) + "/vigil-leftover_check.lock";
  {
    // Two holders in turn, the second waiting for the first.
    auto first = std::make_unique<testing_support::MachineResourceLock>("leftover_check");
    std::atomic<bool> second_held{false};
    std::thread second([&] {
      testing_support::MachineResourceLock lock("leftover_check");
      second_held = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second_held.load());
    EXPECT_TRUE(std::filesystem::exists(lockFile));
    first.reset();
    second.join();
    EXPECT_TRUE(second_held.load());
  }
  EXPECT_FALSE(std::filesystem::exists(lockFile));
  std::string left;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
    left += entry.path().string() + " ";
  EXPECT_EQ(left, "");
}

// The files in /dev/shm of named objects under a prefix.
size_t SharedFilesUnder(const std::string& prefix) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
  }
  return n;
}

TEST(AgentShell, KilledAgentLeavesNothingThatBlocksTheNextStart) {
  std::string prefix;
  {
    AgentProcess agent;
    prefix = agent.Prefix();
    auto startAndKill = [&] {
      ASSERT_TRUE(agent.Start({"-b"}));
      const size_t before = Count(agent.Stderr(), "Exiting agent initialization");
      ASSERT_TRUE(AgentProcess::WaitFor(
          [&] { return Count(agent.Stderr(), "Exiting agent initialization") > before; }, 20000));
      agent.Signal(SIGKILL);
      EXPECT_EQ(agent.Wait(10000), 128 + SIGKILL);
    };
    startAndKill();
    EXPECT_GT(SharedFilesUnder(prefix), 0u);  // left behind by the killed agent
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), "Exiting agent initialization") == 2; }, 20000));
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(30000), 0);
    EXPECT_EQ(agent.Stderr().find("Error reading the configuration file"), std::string::npos);
    startAndKill();
  }
  // The test's agent object sweeps up what its killed agent left.
  EXPECT_EQ(SharedFilesUnder(prefix), 0u);
}

// An exclusive flock on a file (or folder) for as long as it lives.
class HeldFlock {
 public:
  explicit HeldFlock(const std::string& path, int flags = O_RDONLY) {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~HeldFlock() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldFlock(const HeldFlock&) = delete;
  HeldFlock& operator=(const HeldFlock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Anyone may hold a flock on /dev/shm: the agent's start does not wait for it. The lock of the
// named objects is the suite's own file beside them; what another user puts at its name (a file
// held locked, a FIFO) delays the start by its bound at most, the agent says once which file it
// went on without, and a SIGTERM stops it at once.
TEST(AgentShell, ALockOnTheShmFolderHoldsNoStartAndTheSuitesLockOnlyItsBound) {
  // A network of the test's own spares the wait for the machine's port 7010.
  std::string error;
  testing_support::EnterPrivateNetwork(error);
  AgentProcess agent;
  const std::string lockFile = "/dev/shm/" + agent.Prefix() + platform::kObjectLockName;
  auto startAndStop = [&] {
    const size_t before = Count(agent.Stderr(), "LOCAL THREAD IS ALIVE");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), "LOCAL THREAD IS ALIVE") > before; }, 20000))
        << agent.TraceDump();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(10000), 0);
  };
  {
    HeldFlock folder("/dev/shm", O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(folder.held());
    startAndStop();
    EXPECT_FALSE(Contains(agent.Stderr(), "going on without it")) << agent.TraceDump();
  }
  struct Kind {
    const char* name;
    int (*make)(const char* path);
  };
  const Kind kinds[] = {
      {"a file held locked", [](const char* p) { return ::close(::open(p, O_CREAT | O_RDONLY, 0666)); }},
      {"a FIFO", [](const char* p) { return ::mkfifo(p, 0666); }},
  };
  size_t said = Count(agent.Stderr(), "going on without it");
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    ASSERT_EQ(testing_support::RunAsOrdinaryUser([&] { return kind.make(lockFile.c_str()) == 0 ? 0 : 1; }), 0);
    {
      HeldFlock own(lockFile, O_RDONLY | O_NONBLOCK);
      startAndStop();
    }
    EXPECT_EQ(Count(agent.Stderr(), "going on without it"), ++said) << agent.TraceDump();
    EXPECT_TRUE(Contains(agent.Stderr(), lockFile)) << agent.TraceDump();
    ::unlink(lockFile.c_str());
  }
}

// A stand-in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  }
  ~NotifySocket() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  // Everything received so far, appended to what came before.
  std::string Received() {
    char buf[1024];
    ssize_t n;
    while ((n = ::recv(fd_, buf, sizeof(buf), MSG_DONTWAIT)) > 0) text_ += std::string(buf, n) + "\n";
    return text_;
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::string text_;
};

TEST(AgentShell, ServiceReportsReadyAndStoppingToTheServiceManager) {
  AgentProcess agent;
  NotifySocket notify(agent.File("notify.sock"));
  const std::string socketEnv = "NOTIFY_SOCKET=" + agent.File("notify.sock");
  ASSERT_TRUE(agent.Start({}, {"INVOCATION_ID=0123456789abcdef", socketEnv}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return notify.Received().find("READY=1") != std::string::npos; }, 20000));
  EXPECT_TRUE(agent.Stderr().empty());  // a service traces nowhere unless told to
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  const std::string states = notify.Received();
  EXPECT_NE(states.find("STOPPING=1"), std::string::npos);
  EXPECT_LT(states.find("READY=1"), states.find("STOPPING=1"));
  EXPECT_TRUE(Exists(agent.File(kConfigFileName)));
}

// A service's trace goes to the settings' trace_file. One that cannot be opened is said once,
// on standard error and in the system log, with the file and the reason; the trace then goes
// to standard error.
TEST(AgentShell, ServiceSaysOnceWhyItsTraceFileCannotBeOpened) {
  struct Case {
    const char* name;
    std::string traceFile;  // below the agent's folder
    const char* reason;     // nullptr: the file opens
  };
  const std::vector<Case> cases = {
      {"a folder that does not exist", "/logs/VigilNT.trace", "No such file or directory"},
      {"a folder in place of the file", "/trace-folder", "Is a directory"},
      {"a file that opens", "/VigilNT.trace", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AgentProcess agent;
    const std::string path = agent.Dir() + c.traceFile;
    std::filesystem::create_directories(agent.File("trace-folder"));
    testing_support::WriteFileText(agent.File("VigilNT.conf"),
                                   testing_support::ReadFileText(agent.File("VigilNT.conf")) + "trace_file = " + path + "\n");
    NotifySocket notify(agent.File("notify.sock"));
    const std::string systemLog = agent.File("syslog.txt");
    ASSERT_TRUE(agent.Start({}, {"INVOCATION_ID=0123456789abcdef", "NOTIFY_SOCKET=" + agent.File("notify.sock"),
                                 std::string("LD_PRELOAD=") + SYSLOG_CAPTURE_LIBRARY,
                                 "VIGIL_SYSLOG_CAPTURE=" + systemLog}));
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return notify.Received().find("READY=1") != std::string::npos; }, 20000));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] {
          return Contains(c.reason ? agent.Stderr() : testing_support::ReadFileText(path),
                          "Exiting agent initialization");
        },
        20000))
        << agent.Stderr();
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(30000), 0);
    const std::string said =
        c.reason ? "VigilNT: cannot open the trace file " + path + ": " + c.reason + "; the trace goes to standard error"
                 : std::string("cannot open the trace file");
    const std::string stderrText = agent.Stderr();
    const std::string logText = testing_support::ReadFileText(systemLog);
    if (c.reason) {
      EXPECT_EQ(Count(stderrText, said), 1u) << stderrText.substr(0, 2000);
      EXPECT_EQ(Count(logText, "VigilNT|4|" + said + "\n"), 1u) << logText;  // LOG_WARNING
      EXPECT_TRUE(Contains(stderrText, "main_thread:  The END"));
    } else {
      EXPECT_EQ(stderrText, "");
      EXPECT_FALSE(Contains(logText, said)) << logText;
      EXPECT_TRUE(Contains(testing_support::ReadFileText(path), "main_thread:  The END"));
    }
  }
}

// One agent a machine, whatever stands at its guard's name, "Tremona Agent Is Running": the
// previous release's agent (its mapping, of layout 2, held by a program named VigilNT), an agent
// of this release under the same prefix. The agent does not start, and standard error says why
// and who holds the name. What no agent holds is no agent: another user's FIFO or file, held by
// nobody or by the user, and the guard a stopped agent had to leave as the user held it. The
// agent (root) removes it, says so once, and starts; the agent of an ordinary user, who may not
// remove root's file, does not start and does not claim that an agent runs.
TEST(AgentShell, RefusesToStartBesideAnotherAgentOfEitherReleaseOrWithoutItsGuard) {
  std::string error;
  testing_support::EnterPrivateNetwork(error);  // the first agent's UDP port
  using Lock = testing_support::HeldFileLock::Kind;
  const std::string running = "VigilNT: The Agent is already running.\n";
  const std::string user = ::getpwuid(testing_support::OrdinaryUserIds().uid)->pw_name;
  enum class Put { kNothing, kPreviousRelease, kAgent, kFifo, kFile, kLeftGuard };
  struct Case {
    const char* name;
    Put put;
    std::optional<Lock> lock;       // that the ordinary user holds on what was put
    std::vector<std::string> said;  // refused with; or when started, what it removed:
    std::string removed = {};
    bool byUser = false;  // the second agent runs as the ordinary user
  };
  const std::vector<Case> cases = {
      {"previous release", Put::kPreviousRelease, {},
       {running, " is a mapping of layout 2, another release's"}},
      {"agent", Put::kAgent, {},
       {running, " is the guard of another agent of this release, held by process "}},
      {"FIFO", Put::kFifo, {}, {}, "a FIFO of user " + user + " that no process held"},
      {"held FIFO", Put::kFifo, Lock::kFlock, {},
       "a FIFO of user " + user + " that no agent held (held by process "},
      {"the user's held file", Put::kFile, Lock::kSharedFlock, {},
       "a file of user " + user + " that no agent held (held by process "},
      {"a guard left held", Put::kLeftGuard, Lock::kSharedFlock, {},
       "a file of user root that no agent held (held by process "},
      {"a guard left held, for the user's agent", Put::kLeftGuard, Lock::kSharedFlock,
       {"VigilNT: The Agent does not start: it cannot make sure that no other agent runs",
        " is an agents' guard that no agent holds, held by process ",
        "; it cannot be removed: Operation not permitted\n"},
       "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Root's guard for the ordinary user to hold, and that user: the tests run as root.
    if ((c.byUser || c.put == Put::kLeftGuard) && !testing_support::OrdinaryUserIds().dropped) continue;
    AgentProcess first;
    AgentProcess agent;
    agent.SharePrefixWith(first);
    const std::string path = "/dev/shm/" + agent.Prefix() + "Tremona Agent Is Running";
    std::unique_ptr<testing_support::PreviousReleaseAgent> previous;
    std::unique_ptr<testing_support::HeldFileLock> held;
    std::string holder;
    if (c.put == Put::kAgent || c.put == Put::kLeftGuard) {
      ASSERT_TRUE(first.Start({"-b", "-x", "5"}));
      ASSERT_TRUE(first.WaitForTrace({"Exiting agent initialization"}, 20000)) << first.TraceDump();
      holder = std::to_string(first.Pid()) + " (VigilNT)";
    } else if (c.put == Put::kPreviousRelease) {
      previous = std::make_unique<testing_support::PreviousReleaseAgent>(NAMED_PEER_PATH, agent.Prefix(),
                                                                         "Tremona Agent Is Running", 32);
      ASSERT_TRUE(previous->ok());
      holder = std::to_string(previous->pid()) + " (VigilNT)";
    } else if (c.put != Put::kNothing) {
      ASSERT_EQ(testing_support::RunAsOrdinaryUser([&] {
                  return (c.put == Put::kFifo ? ::mkfifo(path.c_str(), 0666)
                                              : ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644))) == 0
                             ? 0
                             : 1;
                }),
                0);
    }
    if (c.lock) {
      held = std::make_unique<testing_support::HeldFileLock>(path, *c.lock);
      ASSERT_TRUE(held->held());
      holder = std::to_string(held->pid());
    }
    if (c.put == Put::kLeftGuard) {
      first.Signal(SIGTERM);
      EXPECT_EQ(first.Wait(30000), 0);
      ASSERT_TRUE(Exists(path)) << "the stopped agent had to leave its guard to the user's lock";
    }
    if (c.byUser) agent.AsOrdinaryUser();
    ASSERT_TRUE(agent.Start({"-b", "-x", "5"}));
    if (c.said.empty()) {
      ASSERT_TRUE(agent.WaitForTrace({"Exiting agent initialization"}, 20000)) << agent.Stderr();
      const std::string removed = "VigilNT: removed " + path + ", " + c.removed + holder;
      EXPECT_EQ(Count(agent.Stderr(), removed), 1u) << agent.Stderr();
      EXPECT_TRUE(Contains(agent.Stderr(), ", to take the agents' guard\n")) << agent.Stderr();
      struct stat st{};
      EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0)
          << "the guard, the agent's own, stands there now";
      agent.Signal(SIGTERM);
      EXPECT_EQ(agent.Wait(30000), 0);
      EXPECT_FALSE(Exists(path)) << "the agent's guard goes with it, whoever holds the file it replaced";
      continue;
    }
    EXPECT_EQ(agent.Wait(20000), 1);
    for (const std::string& words : c.said) EXPECT_TRUE(Contains(agent.Stderr(), words)) << agent.Stderr();
    EXPECT_TRUE(Contains(agent.Stderr(), "VigilNT: " + path)) << agent.Stderr();
    EXPECT_TRUE(Contains(agent.Stderr(), "held by process " + holder)) << agent.Stderr();
    EXPECT_FALSE(Contains(agent.Stderr(), "VigilNT: removed")) << agent.Stderr();
    if (c.byUser) {
      EXPECT_FALSE(Contains(agent.Stderr(), "already running")) << agent.Stderr();
      EXPECT_FALSE(Contains(agent.Stderr(), "another")) << agent.Stderr();
    }
    EXPECT_FALSE(Exists(agent.File(kConfigFileName)));
    if (first.Running()) {
      first.Signal(SIGTERM);
      EXPECT_EQ(first.Wait(30000), 0);
    }
    previous.reset();
    held.reset();
    ::unlink(path.c_str());
  }
}

}  // namespace
