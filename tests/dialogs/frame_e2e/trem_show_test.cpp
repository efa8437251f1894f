// tools/trem_show against a real agent, through the console's communication worker: opens a
// dialog, presses, saves a picture, and reports boxes and the worker's notices; over UDP and
// over the shared-memory channel.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/network/ipc.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/named_object.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/previous_release.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/xvfb_server.h"

namespace {

using trem_harness::TremTest;

class TremShowTest : public TremTest {
 protected:
  // Runs trem_show with the arguments (after the `env` command's own, when given); its standard
  // output, and the exit status in `status`.
  std::string Run(const std::string& args, int& status, const std::string& env = "") {
    const std::string command =
        (env.empty() ? "" : "env " + env + " ") + std::string(TREM_SHOW_PROGRAM) + " " + args + " 2>&1";
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
    const int raw = ::pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
  }
};

TEST_F(TremShowTest, DrivesADialogAgainstARealAgent) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"NETWORK THREAD IS ALIVE"}, 30000));

  int status = -1;
  const std::string png = File("diag.png");
  const std::string out =
      Run("CManageDiagTest --host 127.0.0.1 --bind 127.0.0.1 --png " + png + " --press ctl1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Contains(out, "opened CManageDiagTest: \"Manage Diagnostic Test (127.0.0.1)\"")) << out;
  EXPECT_TRUE(Contains(out, "filled after ")) << out;
  EXPECT_TRUE(Contains(out, "reply 27,5: Set OK (host 1)")) << out;
  EXPECT_TRUE(Contains(out, "dialog closed")) << out;
  EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "battery test now"); }, 15000));

  // A control that does not exist, and a bad command line.
  Run("CTechSupportDlg --host 127.0.0.1 --press ctl4242", status);
  EXPECT_EQ(status, 1);
  Run("CTechSupportDlg --port 99999", status);
  EXPECT_EQ(status, 2);
  Run("CTechSupportDlg --local --port 7011", status);
  EXPECT_EQ(status, 2);
}

// Pixels of the mimic picture's title band: the picture is shown only for a UPS of a known type.
int MimicBandPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == qRgb(0x2f, 0x3e, 0x50) ? 1 : 0;
  return n;
}

// The mimic asks for nothing itself: the status the console asks for (registering) and the UPS
// information fill it without any step, over UDP and over the local channel alike; the worker
// registers with the agent and unregisters on its way out.
TEST_F(TremShowTest, TheMimicFillsOnItsOwnOverEitherTransport) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(
      vigil.Start({"-b", "-d", ups.device()}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
  ASSERT_TRUE(vigil.WaitForTrace({"NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"}, 30000))
      << vigil.TraceDump();
  int round = 0;
  for (const std::string transport : {"--host 127.0.0.1 --bind 127.0.0.1", "--local"}) {
    SCOPED_TRACE(transport);
    ++round;
    int status = -1;
    const std::string png = File("mimic" + std::to_string(round) + ".png");
    const std::string out = Run("CMimic " + transport + " --png " + png, status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Contains(out, "reply 1: Get OK (host 1)")) << out;
    EXPECT_TRUE(Contains(out, "reply 2: Get OK (host 1)")) << out;
    const size_t opened = out.find("opened CMimic: \"View UPS Mimic (");
    ASSERT_NE(opened, std::string::npos) << out;
    EXPECT_NE(out.find("filled after ", opened), std::string::npos) << out;
    EXPECT_FALSE(Contains(out, "not idle")) << out;
    EXPECT_FALSE(Contains(out, "box:")) << out;
    EXPECT_GT(MimicBandPixels(QImage(QString::fromStdString(png))), 1000) << out;
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "Console unregistered") >= static_cast<size_t>(round); }, 15000))
        << vigil.TraceDump();
  }
  EXPECT_GE(Count(vigil.Stderr(), "Console registered"), 2u);
}

// What another local user may put at the name of the named objects' lock file, and damage that
// user may do to the shared files (the objects are open to every local user). Both applied as
// the tests' ordinary user.
struct LockSquatter {
  const char* name;
  int (*make)(const char* path);
};
const LockSquatter kLockSquatters[] = {
    {"a FIFO", [](const char* p) { return ::mkfifo(p, 0666); }},
    {"a socket",
     [](const char* p) {
       sockaddr_un a{};
       a.sun_family = AF_UNIX;
       std::snprintf(a.sun_path, sizeof a.sun_path, "%s", p);
       return ::bind(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&a), sizeof a);
     }},
    {"a directory", [](const char* p) { return ::mkdir(p, 0777); }},
    {"a symbolic link", [](const char* p) { return ::symlink("/dev/null", p); }},
    {"a file held locked", [](const char* p) { return ::close(::open(p, O_CREAT | O_RDONLY, 0666)); }},
};

// One of those in place of the file at a path, made by the ordinary user, with an exclusive
// flock of the test's on it where it opens; removed when it goes, however the test ends (the clean-up of the agents and
// consoles opens that name).
class LockSquat {
 public:
  LockSquat(const std::string& path, const LockSquatter& squatter) : path_(path) {
    ::unlink(path.c_str());  // the suite's own lock file
    made_ = testing_support::RunAsOrdinaryUser([&] { return squatter.make(path.c_str()) == 0 ? 0 : 1; }) == 0;
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) made_ = false;
  }
  ~LockSquat() {
    if (fd_ >= 0) ::close(fd_);
    if (::unlink(path_.c_str()) != 0) ::rmdir(path_.c_str());
  }
  LockSquat(const LockSquat&) = delete;
  LockSquat& operator=(const LockSquat&) = delete;
  bool made() const { return made_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool made_ = false;
};

struct SharedFileDamage {
  const char* name;
  int (*apply)(int fd, uint32_t seed);  // 0 when done
};
const SharedFileDamage kSharedFileDamages[] = {
    {"random bytes over every byte",
     [](int fd, uint32_t seed) {
       struct stat st{};
       ::fstat(fd, &st);
       std::vector<uint8_t> junk(static_cast<size_t>(st.st_size));
       std::mt19937 random(seed);
       for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
       return ::pwrite(fd, junk.data(), junk.size(), 0) == st.st_size ? 0 : 1;
     }},
    // The words a pthread mutex kept from offset 24 (lock, count, owner, kind; ours there:
    // owner, turn, waiters), the object kind in the header, a block's stored length.
    {"the lock, count, owner and kind words",
     [](int fd, uint32_t) {
       const uint32_t words[5] = {0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFF0, 0xFFFFFFFF, 0xC1};
       const uint32_t kind = 2;
       const uint32_t length = 0x7FFFFFFF;
       return ::pwrite(fd, words, sizeof words, 24) > 0 && ::pwrite(fd, &kind, 4, 8) > 0 &&
                      ::pwrite(fd, &length, 4, 64) > 0
                  ? 0
                  : 1;
     }},
    {"emptied", [](int fd, uint32_t) { return ::ftruncate(fd, 0); }},
};

// A local console with the meters open while the agent is killed with SIGKILL at random moments
// and started again on the same data directory and name prefix, five times, each time with
// something else of another user's at the lock file's name: the console is answered by the
// last agent (at the latest its registration, renewed every 30 s), and a console started
// afterwards has its meters answered. Then another user damages every shared file of the
// prefix, in one way after another: no program dies, and both consoles are answered again once
// the channel is made afresh. Every program ends on SIGTERM in its usual time. (The agent runs
// without a UPS, so that it starts at once; the meters are answered "Get Resend".)
TEST_F(TremShowTest, LocalConsolesCarryOnWhenTheAgentIsKilledAndStartedAgain) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  vigil.SetPrefix(prefix_);
  auto startAgent = [&] {
    const size_t before = Count(vigil.Stderr(), "LOCAL THREAD IS ALIVE");
    return vigil.Start({"-b", "-x", "5"}) &&
           AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "LOCAL THREAD IS ALIVE") > before; }, 30000);
  };
  ASSERT_TRUE(startAgent()) << vigil.TraceDump();

  // trem_show in the place of the program: a console of its own, output in its own folder.
  AgentProcess consoles[2];
  auto startConsole = [&](AgentProcess& console) {
    console.UseProgram(TREM_SHOW_PROGRAM);
    console.SetPrefix(prefix_);
    return console.Start({"CMeters", "--local", "--wait", "600"});
  };
  auto meterReplies = [](const AgentProcess& console) { return Count(console.Stdout(), "reply 3: "); };
  ASSERT_TRUE(startConsole(consoles[0]));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return meterReplies(consoles[0]) >= 2; }, 30000)) << consoles[0].Stdout();

  const std::string lockFile = "/dev/shm/" + prefix_ + platform::kObjectLockName;
  std::unique_ptr<LockSquat> squat;
  std::mt19937 random(static_cast<unsigned>(::getpid()));
  for (const LockSquatter& squatter : kLockSquatters) {
    SCOPED_TRACE(std::string("restart with ") + squatter.name + " at the lock file's name");
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 1500));
    vigil.Signal(SIGKILL);
    ASSERT_EQ(vigil.Wait(10000), 128 + SIGKILL);
    squat.reset();
    squat = std::make_unique<LockSquat>(lockFile, squatter);
    ASSERT_TRUE(squat->made());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(startAgent()) << vigil.TraceDump();
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(platform::kObjectLockWaitMs + 8000));
  }
  // The last (a file held locked) stays while the second console starts.
  size_t before = Count(consoles[0].Stdout(), "reply ");
  ASSERT_TRUE(startConsole(consoles[1]));
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return meterReplies(consoles[1]) >= 3; }, 60000)) << consoles[1].Stdout();
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Count(consoles[0].Stdout(), "reply ") > before; }, 60000))
      << consoles[0].Stdout() << vigil.TraceDump();
  squat.reset();

  for (const SharedFileDamage& damage : kSharedFileDamages) {
    SCOPED_TRACE(damage.name);
    const uint32_t seed = static_cast<uint32_t>(random());
    const int damaged = testing_support::RunAsOrdinaryUser([&] {
      int n = 0;
      for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix_, 0) != 0 || name == prefix_ + platform::kObjectLockName) continue;
        const int fd = ::open(entry.path().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && damage.apply(fd, seed) == 0) ++n;
        if (fd >= 0) ::close(fd);
      }
      return n;
    });
    EXPECT_GE(damaged, 8);  // the channel's six, the trace mutex, the agent's own mapping
    // A reply read from now on came through the channel as the damage left it, or made afresh.
    size_t replies[2];
    for (int i = 0; i < 2; ++i) replies[i] = meterReplies(consoles[i]);
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(AgentProcess::WaitFor([&] { return meterReplies(consoles[i]) > replies[i]; }, 30000))
          << "console " << i << ": " << consoles[i].Stdout() << vigil.TraceDump();
    }
    ASSERT_TRUE(vigil.Running()) << vigil.TraceDump();
    ASSERT_TRUE(consoles[0].Running() && consoles[1].Running());
  }
  EXPECT_TRUE(Contains(vigil.Stderr(), "the channel is broken and made afresh")) << vigil.TraceDump();

  for (AgentProcess& console : consoles) {
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(15000), 1) << console.Stdout() << console.Stderr();
    EXPECT_TRUE(Contains(console.Stdout(), "stopped by signal 15")) << console.Stdout();
  }
  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(30000), 0);
  EXPECT_FALSE(Contains(vigil.Stderr(), "did not stop in time")) << vigil.TraceDump();
}

// What another user holds at the name "Mutex to lock SCP queue" (a mutex's lock), or a console
// of the previous release left there, holds up no console: trem_show on the local channel fills
// its dialog and ends at SIGTERM, and one never filled ends at its --timeout.
TEST_F(TremShowTest, WhatAnotherProcessHoldsAtTheQueuesNameHoldsUpNoConsole) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  vigil.SetPrefix(prefix_);
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE", "NETWORK THREAD IS ALIVE"}, 30000))
      << vigil.TraceDump();
  for (const uint32_t layout : {platform::kNamedObjectLayout, 2u}) {
    SCOPED_TRACE(layout);
    const bool locked = layout == platform::kNamedObjectLayout;
    testing_support::ForeignObjectHolder held(prefix_, kScpQueueMutexName, layout, 1, locked ? 40 : 64,
                                              locked);
    ASSERT_TRUE(held.ok());
    std::vector<std::vector<std::string>> runs = {{"CUpsInfoDlg", "--local", "--wait", "600"}};
    // Over UDP to a port where nothing answers.
    if (locked) {
      runs.push_back(
          {"CUpsInfoDlg", "--host", "127.0.0.1", "--bind", "127.0.0.1", "--port", "7999", "--timeout", "2"});
    }
    for (const auto& args : runs) {
      AgentProcess show;
      show.UseProgram(TREM_SHOW_PROGRAM);
      show.SetPrefix(prefix_);
      ASSERT_TRUE(show.Start(args));
      const bool waits = args.back() == "600";
      if (waits) {
        EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(show.Stdout(), "filled after"); }, 30000));
        show.Signal(SIGTERM);
      }
      EXPECT_EQ(show.Wait(waits ? 15000 : 30000), 1) << show.Stdout() << show.Stderr();
      EXPECT_TRUE(Contains(show.Stdout(), waits ? "stopped by signal 15" : "not idle after 2 s"))
          << show.Stdout();
    }
  }
  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(30000), 0);
}

// Pixels of text and lines in a picture (near black).
int DarkPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) < 80 ? 1 : 0;
  return n;
}

// The meters dialog asks for the readings again with each answer, so one of its requests always
// waits: it is filled once its first requests are answered, and its steps and exit status are
// those of any dialog. Against the agent on either simulated UPS, over UDP on one and the local
// channel on the other; the picture shows the readings (many more rows of text than the list
// holds without an agent).
TEST_F(TremShowTest, TheMetersFillAndShowTheReadingsOnEitherSimulator) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  int status = -1;
  const std::string emptyPng = File("meters_no_agent.png");
  const std::string empty = Run("CMeters --host 127.0.0.1 --bind 127.0.0.1 --timeout 2 --png " + emptyPng, status);
  EXPECT_EQ(status, 1) << empty;  // nothing answers: never filled
  EXPECT_TRUE(Contains(empty, "not idle after 2 s")) << empty;
  const int nothing = DarkPixels(QImage(QString::fromStdString(emptyPng)));
  const struct {
    std::string mode, transport;
  } kRuns[] = {{"bcm", "--host 127.0.0.1 --bind 127.0.0.1"}, {"apc", "--local"}};
  for (const auto& [mode, transport] : kRuns) {
    SCOPED_TRACE(mode + " " + transport);
    testing_support::SimulatedUps ups(mode);
    ASSERT_TRUE(ups.ok()) << ups.error();
    AgentProcess vigil;
    ASSERT_TRUE(
        vigil.Start({"-b", "-d", ups.device()}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
    ASSERT_TRUE(vigil.WaitForTrace({"Inside SERIAL thread", "NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"},
                                   120000))
        << vigil.TraceDump();
    const std::string png = File("meters_" + mode + ".png");
    const std::string out = Run("CMeters " + transport + " --png " + png + " --wait 3 --press ctl1", status);
    EXPECT_EQ(status, 0) << out;
    const size_t opened = out.find("opened CMeters: \"View Meters (");
    ASSERT_NE(opened, std::string::npos) << out;
    EXPECT_NE(out.find("filled after ", opened), std::string::npos) << out;
    EXPECT_FALSE(Contains(out, "not idle")) << out;
    EXPECT_TRUE(Contains(out, "reply 3: Get OK (host 1) -> 1 dialog(s)")) << out;
    EXPECT_TRUE(Contains(out, "dialog closed")) << out;  // OK, pressed after the wait
    EXPECT_GT(DarkPixels(QImage(QString::fromStdString(png))), nothing + 500) << out;
  }
}

// A plain dialog (no agent requests) is idle at once; its controls are set and pressed alike.
TEST_F(TremShowTest, DrivesAPlainDialog) {
  int status = -1;
  const std::string png = File("discoverc.png");
  const std::string out = Run(
      "CDiscoverc --host 127.0.0.1 --bind 127.0.0.1 --set ctl1050=10.1.255.255 --press ctl1717 --png " + png,
      status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Contains(out, "opened CDiscoverc: \"Discover\"")) << out;
  EXPECT_TRUE(Contains(out, "dialog open: \"Discover\"")) << out;
  EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
  // No platform named: without a display, or with one that cannot be reached (ssh without X
  // forwarding), it runs headless; on a display it shows there (Qt's plugin log says which).
  testing_support::XvfbServer x;
  const struct {
    std::string env;
    const char* platform;
  } displays[] = {{"-u DISPLAY -u WAYLAND_DISPLAY", "offscreen"},
                  {"-u WAYLAND_DISPLAY DISPLAY=:9917", "offscreen"},
                  {"WAYLAND_DISPLAY=vigil-no-such-display DISPLAY=:9917", "offscreen"},
                  {"-u WAYLAND_DISPLAY DISPLAY=" + x.display(), "xcb"}};
  for (const auto& d : displays) {
    SCOPED_TRACE(d.env);
    if (&d == &displays[3] && !x.running()) {
      std::printf("no virtual X server (%s): trem_show on a display not tried\n", x.error().c_str());
      continue;
    }
    const std::string list =
        Run("--list", status, "-u QT_QPA_PLATFORM " + d.env + " QT_LOGGING_RULES=qt.qpa.plugin=true");
    EXPECT_EQ(status, 0) << list;
    EXPECT_TRUE(Contains(list, "Successfully loaded Qt platform plugin \"" + std::string(d.platform) + "\""))
        << list;
    for (const char* name : {"CHostSelection", "CDiscoverc", "CDiscoveryWaitDlg"})
      EXPECT_TRUE(Contains(list, name));
  }
  // A wait that is no number is a bad command line: nothing is opened.
  const std::string bad = Run("CDiscoverc --host 127.0.0.1 --wait soon", status);
  EXPECT_EQ(status, 2) << bad;
  EXPECT_FALSE(Contains(bad, "opened")) << bad;
}

// Another user's FIFOs at names of the local channel, or the six objects of a console of the
// previous release (of layout 2, here held by the test: a package upgrade with a console open),
// when today's agent starts and today's console beside it. Neither is served meanwhile; the
// agent says once for each name, in the order it makes the objects, what is in the way and who
// holds it; once all have gone, the console is answered within seconds and
// neither program was restarted (a worker that gives the channel up at its first failure, or a
// local thread that ends there, is never answered).
TEST_F(TremShowTest, LocalConsolesAreServedOnceWhatHeldTheChannelsNamesHasGone) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  using Kind = testing_support::PreviousReleaseKind;
  struct Obstacle {
    const char* name;
    Kind kind = Kind::kMapping;  // of an object of the old console
  };
  const Obstacle fifos[] = {{kIpcEventFromDaemon}, {kIpcEventToDaemon}, {kIpcMapToDaemon}, {kIpcMutexToDaemon}};
  const Obstacle oldConsole[] = {{kIpcEventFromDaemon, Kind::kEvent}, {kIpcEventToDaemon, Kind::kEvent},
                                 {kIpcMapFromDaemon, Kind::kMapping}, {kIpcMapToDaemon, Kind::kMapping},
                                 {kIpcMutexFromDaemon, Kind::kMutex}, {kIpcMutexToDaemon, Kind::kMutex}};
  const std::string oldSaid = " is an event of layout 2, another release's (this release's layout is 3), held by "
                              "process " + std::to_string(::getpid());
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFOs" : "the previous release's console");
    const std::string prefix = testing_support::UniqueName("upgrade");
    const auto path = [&](const char* name) { return "/dev/shm/" + prefix + name; };
    std::vector<std::pair<Obstacle, int>> held;  // with the descriptor that holds an object
    for (const Obstacle& o : fifo ? std::vector<Obstacle>(std::begin(fifos), std::end(fifos))
                                  : std::vector<Obstacle>(std::begin(oldConsole), std::end(oldConsole))) {
      const int fd = fifo ? testing_support::RunAsOrdinaryUser([&] { return ::mkfifo(path(o.name).c_str(), 0666); })
                          : testing_support::HoldPreviousReleaseObject(
                                path(o.name), o.kind, o.kind == Kind::kMapping ? kIpcMappingSize : 0);
      ASSERT_TRUE(fifo ? fd == 0 : fd >= 0) << o.name;
      held.emplace_back(o, fifo ? -1 : fd);
    }
    AgentProcess vigil;
    vigil.SetPrefix(prefix);
    ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
    AgentProcess console;
    console.UseProgram(TREM_SHOW_PROGRAM);
    console.SetPrefix(prefix);
    ASSERT_TRUE(console.Start({"CMeters", "--local", "--wait", "600"}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(console.Stdout(), "worker running"); }, 30000))
        << console.Stdout() << console.Stderr();
    // The FIFOs go one by one; the old console's objects at once, as it ends (their last holder):
    // all six under the lock of the named objects, which the agent's every making of an object
    // takes, so that no retry of the agent's finds some of them gone and others not.
    const size_t reasons = fifo ? held.size() : 1;
    for (size_t i = 0; i < held.size(); ++i) {
      const Obstacle& o = held[i].first;
      const std::string said = "cannot be made yet (" + std::string(o.name) + ": " + path(o.name) +
                               (fifo ? " is a FIFO, not an object of the suite" : oldSaid);
      if (i < reasons) {
        EXPECT_TRUE(vigil.WaitForTrace({said, "LOCAL THREAD IS ALIVE"}, 20000)) << vigil.TraceDump();
      }
      EXPECT_FALSE(Contains(console.Stdout(), "reply ")) << console.Stdout();
      if (!fifo) break;
      ::unlink(path(o.name).c_str());
    }
    if (!fifo) {
      const int lock = ::open(path(platform::kObjectLockName).c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(lock, 0);
      ASSERT_EQ(::flock(lock, LOCK_EX), 0);
      for (const auto& [o, fd] : held) {
        ::unlink(path(o.name).c_str());
        ::close(fd);
      }
      ::close(lock);
    }
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(console.Stdout(), "reply 1: Get OK"); }, 15000))
        << console.Stdout() << vigil.TraceDump();
    EXPECT_EQ(Count(vigil.Stderr(), "cannot be made yet"), reasons) << vigil.TraceDump();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(15000), 1) << console.Stdout() << console.Stderr();
    vigil.Signal(SIGTERM);
    EXPECT_EQ(vigil.Wait(30000), 0);
  }
}

}  // namespace
