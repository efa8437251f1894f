#include "platform/named_object.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

extern char** environ;

namespace {

using platform::kInfinite;
using platform::NamedEvent;
using platform::NamedMapping;
using platform::NamedMutex;
using platform::WaitResult;
using testing_support::UniqueName;

// A second process running tests/platform/peer/named_peer.cpp, its standard output on a pipe.
class Peer {
 public:
  explicit Peer(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{NAMED_PEER_PATH};
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

}  // namespace
