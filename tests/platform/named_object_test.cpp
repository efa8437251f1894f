#include "platform/named_object.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/peer/churn.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

using platform::kInfinite;
using platform::NamedEvent;
using platform::NamedMapping;
using platform::NamedMutex;
using platform::WaitResult;
using testing_support::UniqueName;

// A second process running tests/platform/peer/named_peer.cpp, its standard output on a pipe;
// `program` is the peer, or a copy of it (see AgentNamedPeer).
class Peer {
 public:
  explicit Peer(const std::vector<std::string>& args, const std::string& program = NAMED_PEER_PATH) {
    int fds[2];
    if (program.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Peer() {
    Kill();
    if (out_ >= 0) ::close(out_);
  }

  // The next line the peer printed; "" when none came within 20 s.
  std::string ReadLine() {
    std::string line;
    char c;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return "";
      if (::read(out_, &c, 1) != 1) return "";
      if (c == '\n') return line;
      line += c;
    }
  }

  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid() const { return pid_; }

  int ExitCode() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// The peer as a program file named like an agent, which is what the agents' guard respects.
std::string AgentNamedPeer() {
  std::string error;
  const std::string program = testing_support::ProgramCopyNamed(NAMED_PEER_PATH, "VigilNT", &error);
  EXPECT_FALSE(program.empty()) << error;
  return program;
}

std::string ShmPath(const std::string& name) {
  return "/dev/shm" + platform::SharedObjectName(name);
}

bool ShmExists(const std::string& name) {
  struct stat st{};
  return ::stat(ShmPath(name).c_str(), &st) == 0;
}

// Sets or clears the name prefix for the duration of a test.
class ScopedPrefix {
 public:
  explicit ScopedPrefix(const char* value) {
    if (const char* old = std::getenv(platform::kNamePrefixVariable)) old_ = old;
    if (value) {
      ::setenv(platform::kNamePrefixVariable, value, 1);
    } else {
      ::unsetenv(platform::kNamePrefixVariable);
    }
  }
  ~ScopedPrefix() {
    if (old_.empty()) {
      ::unsetenv(platform::kNamePrefixVariable);
    } else {
      ::setenv(platform::kNamePrefixVariable, old_.c_str(), 1);
    }
  }

 private:
  std::string old_;
};

TEST(NamedObjectNames, KeepSpellingAndEscapeOnlyWhatShmCannotHold) {
  ScopedPrefix none(nullptr);
  EXPECT_EQ(platform::SharedObjectName("Mutex to lock SCP queue"), "/Mutex to lock SCP queue");
  EXPECT_EQ(platform::SharedObjectName("a/b%c"), "/a%2Fb%25c");
  EXPECT_EQ(platform::SharedObjectName(".."), "/%2E.");
  EXPECT_EQ(platform::SharedObjectName("tab\there"), "/tab%09here");
  EXPECT_EQ(platform::SharedObjectName(""), "");
  EXPECT_EQ(platform::SharedObjectName(std::string(300, 'x')), "");
  ScopedPrefix test("t1-");
  EXPECT_EQ(platform::SharedObjectName("KtDiag Object In Use"), "/t1-KtDiag Object In Use");
}

TEST(NamedObjectNames, PrefixKeepsObjectsApart) {
  const std::string name = UniqueName("prefixed");
  NamedMutex plain;
  ASSERT_TRUE(plain.Create(name));
  ScopedPrefix other(UniqueName("p").c_str());
  NamedMutex prefixed;
  ASSERT_TRUE(prefixed.Create(name));
  EXPECT_FALSE(prefixed.AlreadyExisted());
}

TEST(NamedMutexTest, CreateReportsExistingAndOpenNeedsOne) {
  const std::string name = UniqueName("mutex");
  NamedMutex missing;
  EXPECT_FALSE(missing.Open(name));
  EXPECT_EQ(missing.SysError(), ENOENT);
  EXPECT_FALSE(ShmExists(name));

  NamedMutex first;
  ASSERT_TRUE(first.Create(name));
  EXPECT_FALSE(first.AlreadyExisted());
  NamedMutex second;
  ASSERT_TRUE(second.Create(name));
  EXPECT_TRUE(second.AlreadyExisted());
  NamedMutex opened;
  EXPECT_TRUE(opened.Open(name));

  NamedEvent wrongKind;
  EXPECT_FALSE(wrongKind.Create(name, true, false));
  EXPECT_EQ(wrongKind.SysError(), EINVAL);
}

TEST(NamedMutexTest, RecursiveOwnershipAndTimeouts) {
  NamedMutex m;
  ASSERT_TRUE(m.Create(UniqueName("recursive")));
  EXPECT_FALSE(m.Release());  // not owned
  EXPECT_EQ(m.Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(m.Wait(kInfinite), WaitResult::kSignaled);

  std::thread other([&] {
    EXPECT_EQ(m.Wait(0), WaitResult::kTimedOut);
    EXPECT_EQ(m.Wait(30), WaitResult::kTimedOut);
    EXPECT_FALSE(m.Release());
  });
  other.join();

  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
  std::thread taker([&] {
    EXPECT_EQ(m.Wait(100), WaitResult::kSignaled);
    EXPECT_TRUE(m.Release());
  });
  taker.join();
}

// Takes and gives back, through each handle on a thread of its own, until the takes together
// reach a bound or a Release fails; the takes of each handle, and whether a Release failed.
struct HandOver {
  std::vector<int> takes;
  int timeouts = 0;
  bool releaseFailed = false;
  int total() const { return std::accumulate(takes.begin(), takes.end(), 0); }
};

HandOver TakeInTurn(std::vector<NamedMutex*> handles, int bound) {
  HandOver result;
  result.takes.assign(handles.size(), 0);
  std::atomic<int> total{0};
  std::atomic<int> timeouts{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < handles.size(); ++i) {
    threads.emplace_back([&, i] {
      while (total.load() < bound && !failed.load()) {
        const WaitResult r = handles[i]->Wait(200);
        if (r == WaitResult::kTimedOut) {
          ++timeouts;
          continue;
        }
        if (r != WaitResult::kSignaled || !handles[i]->Release()) {
          failed = true;
          break;
        }
        ++result.takes[i];
        ++total;
      }
    });
  }
  for (auto& t : threads) t.join();
  result.timeouts = timeouts.load();
  result.releaseFailed = failed.load();
  return result;
}

// Two threads, each with its own handle to one name, take and give the mutex back in turn: every
// Release after a successful Wait succeeds (the releaser never wipes the next owner's record),
// and both keep getting it; it is free at the end.
TEST(NamedMutexTest, TwoHandlesInOneProcessHandOverWithoutLosingTheOwner) {
  const std::string name = UniqueName("hand-over");
  NamedMutex a;
  NamedMutex b;
  ASSERT_TRUE(a.Create(name));
  ASSERT_TRUE(b.Open(name));
  const HandOver run = TakeInTurn({&a, &b}, 500000);
  EXPECT_FALSE(run.releaseFailed) << "a Release failed after " << run.total() << " takes";
  EXPECT_EQ(run.timeouts, 0);
  EXPECT_GE(run.total(), 500000);
  EXPECT_GT(run.takes[0], 0);
  EXPECT_GT(run.takes[1], 0);
  std::thread([&] {
    EXPECT_EQ(a.Wait(0), WaitResult::kSignaled);
    EXPECT_TRUE(a.Release());
  }).join();
}

// The same between two processes, each taking through two handles on two threads.
TEST(NamedMutexTest, TwoProcessesHandOverWithoutLosingTheOwner) {
  const std::string name = UniqueName("hand-over-processes");
  NamedMutex a;
  NamedMutex b;
  ASSERT_TRUE(a.Create(name));
  ASSERT_TRUE(b.Open(name));
  Peer peer({"take-in-turn", name, "200000"});
  ASSERT_EQ(peer.ReadLine(), "open");
  const HandOver run = TakeInTurn({&a, &b}, 200000);
  EXPECT_EQ(peer.ExitCode(), 0);  // 1: a Release failed there; 2: a thread never got it
  EXPECT_FALSE(run.releaseFailed) << "a Release failed after " << run.total() << " takes";
  EXPECT_GE(run.total(), 200000);
  EXPECT_GT(run.takes[0], 0);
  EXPECT_GT(run.takes[1], 0);
  EXPECT_EQ(a.Wait(0), WaitResult::kSignaled);  // free again, not abandoned
  EXPECT_TRUE(a.Release());
}

TEST(NamedMutexTest, InitiallyOwnedOnlyWhenCreated) {
  const std::string name = UniqueName("owned");
  NamedMutex creator;
  ASSERT_TRUE(creator.Create(name, true));
  std::thread other([&] {
    NamedMutex again;
    ASSERT_TRUE(again.Create(name, true));  // exists: not taken
    EXPECT_EQ(again.Wait(0), WaitResult::kTimedOut);
  });
  other.join();
  EXPECT_TRUE(creator.Release());
}

TEST(NamedMutexTest, ThreadThatEndsHoldingItLeavesItAbandoned) {
  NamedMutex m;
  ASSERT_TRUE(m.Create(UniqueName("thread-dies")));
  std::thread([&] { EXPECT_EQ(m.Wait(0), WaitResult::kSignaled); }).join();
  EXPECT_EQ(m.Wait(1000), WaitResult::kAbandoned);
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(m.Wait(0), WaitResult::kSignaled);
  EXPECT_TRUE(m.Release());
}

TEST(NamedMutexTest, ProcessKilledWhileHoldingLeavesNoLockTaken) {
  const std::string name = UniqueName("killed-holder");
  Peer peer({"hold-mutex", name});
  ASSERT_EQ(peer.ReadLine(), "held");
  NamedMutex m;
  ASSERT_TRUE(m.Open(name));
  EXPECT_EQ(m.Wait(20), WaitResult::kTimedOut);
  peer.Kill();
  EXPECT_EQ(m.Wait(5000), WaitResult::kAbandoned);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(m.Wait(0), WaitResult::kSignaled);
  EXPECT_TRUE(m.Release());
}

TEST(NamedObjectLifetime, LastCloseRemovesTheObject) {
  const std::string name = UniqueName("last-close");
  {
    NamedMapping a;
    ASSERT_TRUE(a.Create(name, 32));
    {
      NamedMapping b;
      ASSERT_TRUE(b.Open(name));
    }
    EXPECT_TRUE(ShmExists(name));
  }
  EXPECT_FALSE(ShmExists(name));
  NamedMapping again;
  EXPECT_FALSE(again.Open(name));
}

TEST(NamedObjectLifetime, ObjectGoesAwayWhenItsLastHolderIsKilled) {
  const std::string name = UniqueName("killed-last");
  Peer peer({"hold-mapping", name, "64"});
  ASSERT_EQ(peer.ReadLine(), "created");
  {
    NamedMapping view;
    ASSERT_TRUE(view.Open(name));
    EXPECT_EQ(view.Size(), 64u);
    EXPECT_EQ(view.Data()[63], 0xAB);
  }
  EXPECT_TRUE(ShmExists(name));  // the peer still holds it
  peer.Kill();
  NamedMapping gone;
  EXPECT_FALSE(gone.Open(name));
  EXPECT_EQ(gone.SysError(), ENOENT);
  EXPECT_FALSE(ShmExists(name));
}

TEST(NamedObjectLifetime, LeftoversOfDeadHoldersStartAfresh) {
  const std::string name = UniqueName("leftover");
  Peer peer({"hold-mapping", name, "64"});
  ASSERT_EQ(peer.ReadLine(), "created");
  peer.Kill();
  ASSERT_TRUE(ShmExists(name));  // the file outlives its killed holder...
  NamedMapping fresh;
  ASSERT_TRUE(fresh.Create(name, 16));  // ...but counts as absent
  EXPECT_FALSE(fresh.AlreadyExisted());
  EXPECT_EQ(fresh.Size(), 16u);
  for (size_t i = 0; i < fresh.Size(); ++i) EXPECT_EQ(fresh.Data()[i], 0);
}

TEST(NamedObjectLifetime, OpenToEveryUserWhateverTheUmask) {
  const mode_t old = ::umask(077);
  NamedMutex m;
  const bool created = m.Create(UniqueName("mode"));
  ::umask(old);
  ASSERT_TRUE(created);
  struct stat st{};
  ASSERT_EQ(::stat(ShmPath(m.Name()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(NamedObjectLifetime, CreationRaceGivesOneObject) {
  const std::string name = UniqueName("race");
  const std::string goName = UniqueName("race-go");
  NamedEvent go;
  ASSERT_TRUE(go.Create(goName, true, false));
  constexpr int kPeers = 8;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kPeers; ++i) peers.push_back(std::make_unique<Peer>(std::vector<std::string>{"race", name, goName}));
  ASSERT_TRUE(go.Set());
  int created = 0;
  int existed = 0;
  for (auto& p : peers) {
    const std::string line = p->ReadLine();
    created += line == "created";
    existed += line == "existed";
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(existed, kPeers - 1);
  NamedMapping map;
  ASSERT_TRUE(map.Open(name));
  EXPECT_EQ(__atomic_load_n(reinterpret_cast<uint32_t*>(map.Data()), __ATOMIC_SEQ_CST), uint32_t{kPeers});
  peers.clear();  // killed
  map.Close();    // the last holder
  EXPECT_FALSE(ShmExists(name));
}

TEST(NamedEventTest, AutoResetReleasesOneWaitManualStaysSet) {
  NamedEvent autoEv;
  ASSERT_TRUE(autoEv.Create(UniqueName("auto"), false, true));
  EXPECT_EQ(autoEv.Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(autoEv.Wait(0), WaitResult::kTimedOut);
  EXPECT_EQ(autoEv.Wait(20), WaitResult::kTimedOut);

  NamedEvent manual;
  ASSERT_TRUE(manual.Create(UniqueName("manual"), true, false));
  EXPECT_EQ(manual.Wait(0), WaitResult::kTimedOut);
  EXPECT_TRUE(manual.Set());
  EXPECT_EQ(manual.Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(manual.Wait(kInfinite), WaitResult::kSignaled);
  EXPECT_TRUE(manual.Reset());
  EXPECT_EQ(manual.Wait(0), WaitResult::kTimedOut);

  NamedEvent existing;
  ASSERT_TRUE(existing.Create(manual.Name(), false, true));  // kind and state stay
  EXPECT_TRUE(existing.AlreadyExisted());
  EXPECT_EQ(existing.Wait(0), WaitResult::kTimedOut);
}

TEST(NamedEventTest, AutoResetSetWakesOneWaiterAtATime) {
  NamedEvent ev;
  ASSERT_TRUE(ev.Create(UniqueName("one-at-a-time"), false, false));
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (ev.Wait(20000) == WaitResult::kSignaled) ++woken;
    });
  }
  ASSERT_TRUE(ev.Set());
  for (int i = 0; i < 2000 && woken.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(woken.load(), 1);
  EXPECT_EQ(ev.Wait(0), WaitResult::kTimedOut);  // the one Set was used up
  ASSERT_TRUE(ev.Set());
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(ev.Wait(0), WaitResult::kTimedOut);
}

TEST(NamedEventTest, SetReachesAnotherProcess) {
  const std::string name = UniqueName("cross");
  NamedEvent ev;
  ASSERT_TRUE(ev.Create(name, false, false));
  Peer timesOut({"wait-event", name, "20"});
  EXPECT_EQ(timesOut.ExitCode(), 1);
  Peer waiter({"wait-event", name, "20000"});
  ASSERT_TRUE(ev.Set());
  EXPECT_EQ(waiter.ExitCode(), 0);
  Peer none({"wait-event", UniqueName("no-such-event"), "0"});
  EXPECT_EQ(none.ExitCode(), 2);
}

TEST(NamedMappingTest, HandlesShareMemoryAndKeepTheFirstSize) {
  const std::string name = UniqueName("mapping");
  NamedMapping a;
  ASSERT_TRUE(a.Create(name, 5000));
  EXPECT_EQ(a.Size(), 5000u);
  a.Data()[4999] = 0x5A;
  NamedMapping b;
  ASSERT_TRUE(b.Create(name, 9000));
  EXPECT_TRUE(b.AlreadyExisted());
  EXPECT_EQ(b.Size(), 5000u);
  EXPECT_EQ(b.Data()[4999], 0x5A);
  NamedMapping zero;
  EXPECT_FALSE(zero.Create(UniqueName("empty"), 0));
}

// ---- faults: holders killed at any point, junk from other users, a lock held by anyone ----

// Far beyond any wait of these tests: a wait that runs this much past its time-out hangs.
constexpr int64_t kOverrunBoundMs = 1500;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Keeps using an event or a mutex in a loop on a thread of its own, and records the longest
// overrun of a wait past its time-out and every failed operation.
class Prober {
 public:
  Prober(const char* name, std::function<bool(int64_t& overrun)> step)
      : name_(name),
        thread_([this, step] {
          while (!stop_.load()) {
            int64_t overrun = 0;
            if (!step(overrun)) ++failures_;
            worst_ = std::max(worst_.load(), overrun);
            ++rounds_;
          }
          ended_ = true;
        }) {}
  ~Prober() { Stop(); }
  // Stops the loop; false when its last step did not end within the bound (it hangs).
  bool Stop() {
    stop_ = true;
    if (!thread_.joinable()) return true;
    const auto start = std::chrono::steady_clock::now();
    while (!ended_.load() && MsSince(start) < 10000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ended_.load()) return false;
    thread_.join();
    return true;
  }
  int64_t worst() const { return worst_.load(); }
  int failures() const { return failures_.load(); }
  int64_t rounds() const { return rounds_.load(); }
  const char* name() const { return name_; }

 private:
  const char* name_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> worst_{0};
  std::atomic<int> failures_{0};
  std::atomic<int64_t> rounds_{0};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// Ends the test program with a failure when the scope it guards has not ended within
// `boundMs`: a wait that never returns cannot be waited for.
class HangWatch {
 public:
  explicit HangWatch(int64_t boundMs)
      : thread_([this, boundMs] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!ended_.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return done_; })) {
            std::fprintf(stderr, "a wait never returned\n");
            std::_Exit(1);
          }
        }) {}
  ~HangWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;
};

// A timed wait: its result, and how long past its time-out it ran.
template <typename Object>
WaitResult TimedWait(Object& object, uint32_t ms, int64_t& overrun) {
  const auto start = std::chrono::steady_clock::now();
  const WaitResult r = object.Wait(ms);
  overrun = std::max<int64_t>(0, MsSince(start) - ms);
  return r;
}

// The three objects of the fault tests, and the checks that they work as before.
struct FaultObjects {
  std::string event = UniqueName("fault-event");
  std::string manual = UniqueName("fault-manual");
  std::string mutex = UniqueName("fault-mutex");
  NamedEvent ev;
  NamedEvent man;
  NamedMutex m;
  bool Create() { return ev.Create(event, false, false) && man.Create(manual, true, false) && m.Create(mutex); }

  // Every object in order: the auto-reset event releases exactly one wait per Set, here and in
  // another process, the manual one stays set, and the mutex is taken and handed over.
  void ExpectWorking() {
    SCOPED_TRACE("the objects right after");
    ASSERT_TRUE(ev.Reset());
    EXPECT_EQ(ev.Wait(0), WaitResult::kTimedOut);
    ASSERT_TRUE(ev.Set());
    EXPECT_EQ(ev.Wait(0), WaitResult::kSignaled);
    EXPECT_EQ(ev.Wait(0), WaitResult::kTimedOut);
    Peer waiter({"wait-event", event, "20000"});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(ev.Set());
    EXPECT_EQ(waiter.ExitCode(), 0);
    ASSERT_TRUE(man.Reset());
    EXPECT_EQ(man.Wait(10), WaitResult::kTimedOut);
    ASSERT_TRUE(man.Set());
    EXPECT_EQ(man.Wait(0), WaitResult::kSignaled);
    EXPECT_EQ(man.Wait(0), WaitResult::kSignaled);
    const WaitResult took = m.Wait(2000);
    EXPECT_TRUE(took == WaitResult::kSignaled || took == WaitResult::kAbandoned) << WaitResultText(took);
    EXPECT_TRUE(m.Release());
    Peer holder({"hold-mutex", mutex});
    EXPECT_EQ(holder.ReadLine(), "held");
    EXPECT_EQ(m.Wait(20), WaitResult::kTimedOut);
    holder.Kill();
    EXPECT_EQ(m.Wait(5000), WaitResult::kAbandoned);
    EXPECT_TRUE(m.Release());
  }
};

// Processes that use the objects are killed with SIGKILL at random points, hundreds of times,
// while threads here set, reset, wait and take: no wait runs past its time-out, nothing fails,
// and the objects work right after.
TEST(NamedObjectFaults, HoldersKilledAtRandomPointsLeaveNoWaitStuck) {
  FaultObjects o;
  ASSERT_TRUE(o.Create());
  Prober waiter("auto-reset waiter", [&](int64_t& overrun) {
    const WaitResult r = TimedWait(o.ev, 5, overrun);
    return r == WaitResult::kSignaled || r == WaitResult::kTimedOut;
  });
  Prober setter("manual-reset setter", [&](int64_t& overrun) {
    const bool ok = o.ev.Set() && (o.man.Wait(2) != WaitResult::kFailed);
    const WaitResult r = TimedWait(o.man, 3, overrun);
    return ok && r != WaitResult::kFailed && (r == WaitResult::kTimedOut ? o.man.Set() : o.man.Reset());
  });
  Prober taker("mutex taker", [&](int64_t& overrun) {
    const WaitResult r = TimedWait(o.m, 5, overrun);
    if (r == WaitResult::kTimedOut) return true;
    return r != WaitResult::kFailed && o.m.Release();
  });

  std::mt19937 random(static_cast<unsigned>(::getpid()));
  const auto start = std::chrono::steady_clock::now();
  int killed = 0;
  while (killed < 400 && MsSince(start) < 5000) {
    if (killed % 10 == 0) {
      // A process of its own that opens the objects first (and may die while it does).
      Peer churn({"churn", o.event, o.manual, o.mutex});
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
      churn.Kill();
    } else {
      // A copy of this process that uses the handles it inherits: many more deaths a second.
      const unsigned seed = static_cast<unsigned>(random());
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) ChurnNamedObjects(o.ev, o.man, o.m, seed);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ++killed;
  }
  EXPECT_GE(killed, 100);
  std::printf("killed %d users of the objects in %lld ms\n", killed, static_cast<long long>(MsSince(start)));
  for (Prober* p : {&waiter, &setter, &taker}) {
    if (!p->Stop()) {
      ADD_FAILURE() << "a wait of the " << p->name() << " never returned";
      std::_Exit(1);  // its thread cannot be joined
    }
    EXPECT_LT(p->worst(), kOverrunBoundMs);
    EXPECT_EQ(p->failures(), 0);
    EXPECT_GT(p->rounds(), 0);
  }
  o.ExpectWorking();
}

// Bytes another local user writes over the shared blocks (headers included, and the words a
// mutex keeps): every wait still ends within its time-out, nothing crashes, a new opening
// refuses a block whose header is junk, and the objects made afresh under those names work
// again.
TEST(NamedObjectFaults, JunkInTheSharedBlocksNeverStretchesAWait) {
  struct Junk {
    const char* name;
    std::function<uint8_t(size_t, uint8_t)> byte;  // of the offset and the byte there
    bool headerKept;
  };
  std::mt19937 random(7);
  const std::vector<Junk> kinds = {
      {"all ones", [](size_t, uint8_t) { return uint8_t{0xFF}; }, false},
      {"zeros", [](size_t, uint8_t) { return uint8_t{0}; }, false},
      {"random", [&](size_t, uint8_t) { return static_cast<uint8_t>(random()); }, false},
      {"ones after a whole header", [](size_t i, uint8_t old) { return i < 24 ? old : uint8_t{0x01}; }, true},
      {"all ones after a whole header", [](size_t i, uint8_t old) { return i < 24 ? old : uint8_t{0xFF}; }, true},
      // Where a pthread mutex kept its lock word, count, owner and kind (from offset 24): a
      // lock taken with a priority-protecting kind, and a priority-inheriting kind whose owner
      // does not exist, made glibc abort.
      {"a lock taken, a priority-protecting kind", [](size_t i, uint8_t old) {
         return i >= 24 && i < 28 ? uint8_t{0xFF} : i == 40 ? uint8_t{0xC1} : old;
       }, true},
      {"a count at its top, an owner that does not exist, a priority-inheriting kind", [](size_t i, uint8_t old) {
         return i >= 28 && i < 32 ? uint8_t{0xFF} : i >= 32 && i < 35 ? uint8_t{0xFE} : i == 40 ? uint8_t{0x30} : old;
       }, true},
      {"the kind of another object", [](size_t i, uint8_t old) { return i == 8 ? uint8_t(old % 3 + 1) : old; },
       false},
  };
  for (const Junk& junk : kinds) {
    SCOPED_TRACE(junk.name);
    HangWatch watch(20000);
    FaultObjects o;
    ASSERT_TRUE(o.Create());
    for (const std::string& name : {o.event, o.manual, o.mutex}) {
      const int fd = ::open(ShmPath(name).c_str(), O_RDWR);
      ASSERT_GE(fd, 0);
      struct stat st{};
      ASSERT_EQ(::fstat(fd, &st), 0);
      void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      ::close(fd);
      ASSERT_NE(p, MAP_FAILED);
      auto* bytes = static_cast<uint8_t*>(p);
      for (size_t i = 0; i < static_cast<size_t>(st.st_size); ++i) bytes[i] = junk.byte(i, bytes[i]);
      ::munmap(p, static_cast<size_t>(st.st_size));
    }
    int64_t overrun = 0;
    for (int round = 0; round < 3; ++round) {
      TimedWait(o.ev, 30, overrun);
      EXPECT_LT(overrun, kOverrunBoundMs);
      TimedWait(o.man, 30, overrun);
      EXPECT_LT(overrun, kOverrunBoundMs);
      const WaitResult r = TimedWait(o.m, 30, overrun);
      EXPECT_LT(overrun, kOverrunBoundMs);
      if (r == WaitResult::kSignaled || r == WaitResult::kAbandoned) o.m.Release();
      o.ev.Set();
      o.man.Reset();
    }
    Peer other({"wait-event", o.event, "30"});
    const int code = other.ExitCode();
    // A junk header is no event; a whole one with junk after it is opened and ends in time.
    if (junk.headerKept) {
      EXPECT_TRUE(code == 0 || code == 1) << code;
    } else {
      EXPECT_EQ(code, 2);
    }
  }
}

// A wait without a limit on a mutex that another process holds sleeps, however much another
// process writes into the mutex's block and wakes its waiters.
TEST(NamedObjectFaults, JunkNeverMakesAnEndlessWaitSpin) {
  const std::string name = UniqueName("spin");
  Peer holder({"hold-mutex", name});
  ASSERT_EQ(holder.ReadLine(), "held");
  NamedMutex m;
  ASSERT_TRUE(m.Open(name));
  std::thread waiter([&] { EXPECT_EQ(m.Wait(kInfinite), WaitResult::kAbandoned); });
  const int fd = ::open(ShmPath(name).c_str(), O_RDWR | O_CLOEXEC);
  void* p = ::mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(p, MAP_FAILED);
  auto* words = static_cast<uint32_t*>(p);
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t n = 0; MsSince(start) < 300; ++n) {
    for (int w = 6; w < 10; ++w) __atomic_store_n(&words[w], n * 2654435761u + w, __ATOMIC_RELAXED);
    ::syscall(SYS_futex, &words[7], FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  }
  clockid_t clock{};
  timespec used{};
  ASSERT_EQ(::pthread_getcpuclockid(waiter.native_handle(), &clock), 0);
  ASSERT_EQ(::clock_gettime(clock, &used), 0);
  EXPECT_LT(used.tv_sec * 1000 + used.tv_nsec / 1000000, 100) << "ms of processor time in 300 ms";
  holder.Kill();
  waiter.join();
  ::munmap(p, 64);
  ::close(fd);
}

// Another local user shrinks, grows or replaces the objects' files under their holders: no
// holder faults, every wait ends within its time-out, Intact() tells a damaged object, and the
// objects made afresh work.
TEST(NamedObjectFaults, FilesShrunkGrownOrReplacedKillNoHolder) {
  struct Damage {
    const char* name;
    int (*apply)(const char* path);
    bool intact;
    bool byOwner = false;  // another user cannot replace this process's files
  };
  const Damage damages[] = {
      {"emptied", [](const char* p) { return ::truncate(p, 0); }, false},
      {"cut short", [](const char* p) { return ::truncate(p, 30); }, false},
      {"grown", [](const char* p) { return ::truncate(p, 1 << 20); }, true},
      {"replaced", [](const char* p) { return ::unlink(p) != 0 ? -1 : ::close(::open(p, O_CREAT | O_RDWR, 0666)); }, false,
       true},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    HangWatch watch(20000);
    FaultObjects o;
    const std::string map = UniqueName("fault-map");
    NamedMapping m;
    ASSERT_TRUE(o.Create() && m.Create(map, 5000));
    for (const std::string& name : {o.event, o.manual, o.mutex, map}) {
      const std::string path = ShmPath(name);
      auto apply = [&] { return damage.apply(path.c_str()) == 0 ? 0 : 1; };
      ASSERT_EQ(damage.byOwner ? apply() : testing_support::RunAsOrdinaryUser(apply), 0) << name;
    }
    int64_t overrun = 0;
    for (int round = 0; round < 2; ++round) {
      std::memset(m.Data(), 0x5A, m.Size());
      EXPECT_EQ(m.Data()[m.Size() - 1], 0x5A);
      o.ev.Set();
      o.man.Reset();
      TimedWait(o.ev, 30, overrun);
      TimedWait(o.man, 30, overrun);
      EXPECT_LT(overrun, kOverrunBoundMs);
      if (WaitResult r = TimedWait(o.m, 30, overrun); r == WaitResult::kSignaled || r == WaitResult::kAbandoned) {
        EXPECT_TRUE(o.m.Release());
      }
      EXPECT_LT(overrun, kOverrunBoundMs);
    }
    for (platform::NamedObject* object : std::initializer_list<platform::NamedObject*>{&o.ev, &o.man, &o.m, &m}) {
      EXPECT_EQ(object->Intact(), damage.intact) << object->Name();
      object->Discard();
      EXPECT_FALSE(object->IsOpen());
    }
    ASSERT_TRUE(o.Create() && m.Create(map, 5000));
    EXPECT_FALSE(m.AlreadyExisted());
    o.ExpectWorking();
  }
}

// The lock of the named objects is the suite's own file beside them: a flock on /dev/shm that
// anyone holds delays nothing, and a holder of the suite's lock delays an opening only for the
// bound, with a message that names the file; later openings of the process wait briefly only.
TEST(NamedObjectLock, OnlyTheSuitesOwnLockDelaysAnOpeningAndOnlyForItsBound) {
  const std::string prefix = UniqueName("lock") + ".";
  ScopedPrefix scoped(prefix.c_str());
  const std::string lockPath = "/dev/shm/" + prefix + platform::kObjectLockName;

  const int shm = ::open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(shm, 0);
  ASSERT_EQ(::flock(shm, LOCK_EX), 0);
  {
    // Another process, as the agent or a console opens its objects.
    Peer other({"hold-mapping", "held-elsewhere", "64"});
    EXPECT_EQ(other.ReadLine(), "created");
  }
  ::close(shm);

  struct stat st{};
  ASSERT_EQ(::stat(lockPath.c_str(), &st), 0) << "the lock file is made beside the objects";
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  NamedMapping lockAsObject;
  EXPECT_FALSE(lockAsObject.Create(platform::kObjectLockName, 64));

  const int held = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  NamedMapping first;
  EXPECT_TRUE(first.Create("while-held-1", 64));
  const int64_t firstMs = MsSince(start);
  start = std::chrono::steady_clock::now();
  NamedMapping second;
  EXPECT_TRUE(second.Create("while-held-2", 64));
  const int64_t secondMs = MsSince(start);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_GE(firstMs, platform::kObjectLockWaitMs - 100);
  EXPECT_LT(firstMs, platform::kObjectLockWaitMs + kOverrunBoundMs);
  EXPECT_LT(secondMs, platform::kObjectLockRetryMs + kOverrunBoundMs);
  EXPECT_NE(said.find(lockPath), std::string::npos) << said;
  EXPECT_NE(said.find("going on without it"), std::string::npos) << said;
  EXPECT_EQ(said.find("going on without it"), said.rfind("going on without it")) << "said once: " << said;
  ::close(held);

  // Free again: taken at once, silently; the objects made meanwhile are whole.
  testing::internal::CaptureStderr();
  NamedMapping again;
  EXPECT_TRUE(again.Open("while-held-1"));
  EXPECT_EQ(again.Size(), 64u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// What stands at a name: a failed Create says what it is and which process holds it, and the
// agents' guard is taken only where no agent holds the name, whatever its layout. What no agent
// holds there (the ordinary user's FIFO, socket, symbolic link, empty directory or file, or a
// file that the user locks, a guard that a stopped agent had to leave among them) is removed
// where the guard's taker may, and only that name: never what a link points to, nor what a
// directory holds; what an agent holds keeps the guard from being taken, and what cannot be
// removed keeps it too, without a word of another agent. A taken guard's file is, to the
// previous release, its own mapping made and held by another (its agent then takes another for
// running); it goes with its last holder, and a Create made there once it has gone works.
TEST(NamedObjectFaults, WhatStandsAtANameIsSaidAndTheGuardIsTakenOnlyWhereNobodyHoldsIt) {
  using Result = platform::InstanceGuard::Result;
  using Lock = testing_support::HeldFileLock::Kind;
  enum class Junk { kNone, kFifo, kSocket, kLink, kEmptyDirectory, kFullDirectory, kFile, kRootsFifo,
                    kLeftGuard };
  struct Case {
    const char* name;
    std::vector<std::string> peer;  // an agent (a program named VigilNT) that holds the name first, or
    Junk junk;                      // what the ordinary user (or root: kRootsFifo, kLeftGuard) puts there,
    std::optional<Lock> junkLock;   // with a lock that a process of the user holds on it
    Result guard;                   // taken by this process, or with byUser by the user
    std::string said;  // by Removed() after kTaken; else by the guard and a failed Create alike
    std::string guardAlone = {};  // by the guard alone, last
    bool byUser = false;
    std::string guardSays = {};  // by the guard alone
  };
  const std::string user = ::getpwuid(testing_support::OrdinaryUserIds().uid)->pw_name;
  const std::string removedBy = " of user " + user + " that no process held";
  const std::string removedHeld = " of user " + user + " that no agent held (held by process ";
  const std::string notPermitted = "; it cannot be removed: Operation not permitted";
  const std::string taker = ::getpwuid(::geteuid())->pw_name;
  const Case cases[] = {
      {"nothing", {}, Junk::kNone, {}, Result::kTaken, ""},
      {"the user's FIFO", {}, Junk::kFifo, {}, Result::kTaken, "a FIFO" + removedBy},
      {"the user's socket", {}, Junk::kSocket, {}, Result::kTaken, "a socket" + removedBy},
      {"the user's symbolic link", {}, Junk::kLink, {}, Result::kTaken, "a symbolic link" + removedBy},
      {"the user's empty directory", {}, Junk::kEmptyDirectory, {}, Result::kTaken,
       "a directory" + removedBy},
      {"the user's file", {}, Junk::kFile, {}, Result::kTaken, "a file" + removedBy},
      {"a FIFO the user holds", {}, Junk::kFifo, Lock::kFlock, Result::kTaken, "a FIFO" + removedHeld},
      {"the user's file, held", {}, Junk::kFile, Lock::kSharedFlock, Result::kTaken, "a file" + removedHeld},
      {"the user's file, first byte locked", {}, Junk::kFile, Lock::kFirstByte, Result::kTaken,
       "a file" + removedHeld},
      {"a guard a stopped agent left, the user holding it", {}, Junk::kLeftGuard, Lock::kSharedFlock,
       Result::kTaken, "a file of user " + taker + " that no agent held (held by process "},
      {"a directory with a file in it", {}, Junk::kFullDirectory, {}, Result::kFailed,
       "is a directory, not an object of the suite", "; it cannot be removed: Directory not empty"},
      {"root's FIFO, for the user", {}, Junk::kRootsFifo, {}, Result::kFailed,
       "is a FIFO, not an object of the suite", notPermitted, true},
      {"root's left guard the user holds, for the user", {}, Junk::kLeftGuard, Lock::kSharedFlock,
       Result::kFailed, "held by process ", notPermitted, true,
       " is an agents' guard that no agent holds, held by process "},
      {"the previous release's mapping", {"hold-previous", "3", "32"}, Junk::kNone, {}, Result::kHeld,
       "is a mapping of layout 2, another release's (this release's layout is 3), held by process "},
      {"a guard of this release", {"guard", "32"}, Junk::kNone, {}, Result::kHeld, "held by process ", {},
       false, " is the guard of another agent of this release, held by process "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.byUser && !testing_support::OrdinaryUserIds().dropped) continue;  // needs root
    const std::string name = UniqueName("guard");
    const std::string path = ShmPath(name);
    // What must outlive the removal: a link's target, a directory's file.
    const std::string survivor = c.junk == Junk::kLink ? path + ".target" : path + "/inside";
    std::unique_ptr<Peer> holder;
    if (!c.peer.empty()) {
      std::vector<std::string> args = {c.peer[0], name};
      args.insert(args.end(), c.peer.begin() + 1, c.peer.end());
      holder = std::make_unique<Peer>(args, AgentNamedPeer());
      const std::string line = holder->ReadLine();
      ASSERT_TRUE(line == "taken" || line == "held") << line;
    }
    if (c.junk == Junk::kLink) {
      ASSERT_EQ(::close(::open(survivor.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600)), 0);
    }
    const auto put = [&] {
      switch (c.junk) {
        case Junk::kFifo: return ::mkfifo(path.c_str(), 0666);
        case Junk::kSocket: {
          sockaddr_un at{AF_UNIX, {}};
          std::snprintf(at.sun_path, sizeof at.sun_path, "%s", path.c_str());
          const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
          return ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) | ::close(fd);
        }
        case Junk::kLink: return ::symlink(survivor.c_str(), path.c_str());
        case Junk::kEmptyDirectory: return ::mkdir(path.c_str(), 0755);
        case Junk::kFullDirectory:
          return ::mkdir(path.c_str(), 0755) | ::close(::open(survivor.c_str(), O_CREAT | O_WRONLY, 0644));
        case Junk::kFile: return static_cast<int>(::write(::open(path.c_str(), O_CREAT | O_WRONLY, 0644), "junk", 4)) - 4;
        default: return 0;
      }
    };
    // A guard of this process's (an agent's, as root), which it lets go while the user holds it.
    platform::InstanceGuard left;
    if (c.junk == Junk::kRootsFifo) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    } else if (c.junk == Junk::kLeftGuard) {
      ASSERT_EQ(left.Take(name, 32), Result::kTaken) << left.Problem();
    } else {
      ASSERT_EQ(testing_support::RunAsOrdinaryUser(put), 0);
    }
    std::unique_ptr<testing_support::HeldFileLock> junkHolder;
    if (c.junkLock) {
      junkHolder = std::make_unique<testing_support::HeldFileLock>(path, *c.junkLock);
      ASSERT_TRUE(junkHolder->held());
    }
    left.Release();
    if (c.junk == Junk::kLeftGuard) {
      ASSERT_TRUE(ShmExists(name)) << "the user's lock keeps the guard's file";
    }
    platform::InstanceGuard guard;
    std::string problem;
    if (c.byUser) {
      int said[2];
      ASSERT_EQ(::pipe2(said, O_CLOEXEC), 0);
      EXPECT_EQ(testing_support::RunAsOrdinaryUser([&] {
                  const Result r = guard.Take(name, 32);
                  return static_cast<int>(r) + (::write(said[1], guard.Problem().data(), guard.Problem().size()) < 0);
                }),
                static_cast<int>(c.guard));
      ::close(said[1]);
      char text[4096] = {};
      EXPECT_GT(::read(said[0], text, sizeof text - 1), 0);
      ::close(said[0]);
      problem = text;
    } else {
      ASSERT_EQ(guard.Take(name, 32), c.guard) << guard.Problem();
      problem = guard.Problem();
    }
    if (c.junk == Junk::kLink || c.junk == Junk::kFullDirectory) {
      EXPECT_EQ(::access(survivor.c_str(), F_OK), 0) << "only the name itself is ever removed";
      ::unlink(survivor.c_str());
    }
    const std::string holderPid = holder       ? std::to_string(holder->pid())
                                  : junkHolder ? std::to_string(junkHolder->pid())
                                               : "";
    if (c.guard == Result::kTaken) {
      const std::string removed = c.said.empty() ? "" : "removed " + path + ", " + c.said + holderPid;
      EXPECT_EQ(guard.Removed().substr(0, removed.size()), removed);
      EXPECT_TRUE(junkHolder ? guard.Removed().ends_with("))") : guard.Removed() == removed)
          << guard.Removed();
      struct stat own{};
      EXPECT_EQ(::lstat(path.c_str(), &own), 0);
      EXPECT_TRUE(S_ISREG(own.st_mode) && own.st_uid == ::geteuid()) << "the guard's file is its taker's own";
      junkHolder.reset();
    } else {
      NamedMapping mapping;
      EXPECT_FALSE(mapping.Create(name, 32));
      EXPECT_EQ(guard.Removed(), "");
      const std::string who = holder ? holderPid + " (VigilNT)" : junkHolder ? holderPid : path;
      for (const std::string& text : {problem, mapping.Problem()}) {
        EXPECT_EQ(text.rfind(path, 0), 0u) << text;
        EXPECT_NE(text.find(c.said), std::string::npos) << text;
        EXPECT_NE(text.find(who), std::string::npos) << text;
      }
      EXPECT_TRUE(problem.ends_with(c.guardAlone)) << problem;
      EXPECT_NE(problem.find(c.guardSays), std::string::npos) << problem;
      // Only an agent is said to be one.
      EXPECT_TRUE(c.guard == Result::kHeld || problem.find("another") == std::string::npos) << problem;
      holder.reset();  // killed
      junkHolder.reset();
      if (::unlink(path.c_str()) != 0) ::rmdir(path.c_str());
      // Gone: taken now (what a killed holder left counts as nothing).
      ASSERT_EQ(guard.Take(name, 32), Result::kTaken) << guard.Problem();
    }
    // The previous release's single-instance test finds its mapping of 32 bytes, held.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    uint32_t head[6] = {};
    struct stat st{};
    EXPECT_EQ(::pread(fd, head, sizeof head, 0), static_cast<ssize_t>(sizeof head));
    EXPECT_EQ(::fstat(fd, &st), 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    EXPECT_EQ(std::vector<uint32_t>(head, head + 5), (std::vector<uint32_t>{0x4F4E4756, 2, 3, 0, 32}));
    EXPECT_GE(st.st_size, 64 + 32);
    // This test program is no agent: another taker makes the guard afresh beside it, and its
    // release leaves the other's file alone; the last holder's release removes the name.
    Peer second({"guard", name, "32"});
    EXPECT_EQ(second.ReadLine(), "taken");
    guard.Release();
    EXPECT_TRUE(ShmExists(name));
    second.Kill();
    ASSERT_EQ(guard.Take(name, 32), Result::kTaken) << guard.Problem();
    guard.Release();
    EXPECT_FALSE(ShmExists(name));
    NamedEvent event;
    EXPECT_TRUE(event.Create(name, true, true)) << event.Problem();
  }
  // A holder's program name is its own to choose (PR_SET_NAME): what is said of it holds no
  // control characters (a message of root's on a terminal).
  const std::string name = UniqueName("named");
  NamedMapping held;
  ASSERT_TRUE(held.Create(name, 32));
  char own[16] = {};
  ASSERT_EQ(::prctl(PR_GET_NAME, own), 0);
  ASSERT_EQ(::prctl(PR_SET_NAME, "\x1b]2;owned\x07"), 0);
  const platform::ObjectAtName at = platform::InspectObjectAt(name);
  ::prctl(PR_SET_NAME, own);
  ASSERT_EQ(at.holders.size(), 1u);
  EXPECT_EQ(at.holders[0].second, "?]2;owned?");
}

}  // namespace
