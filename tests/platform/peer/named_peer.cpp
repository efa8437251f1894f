// A second process for the named-object tests. It takes one command, reports on standard
// output with one line, and then either exits or stays (holding what it opened) until killed.
//
//   named_peer hold-mutex NAME           take the mutex, print "held", stay
//   named_peer hold-mapping NAME SIZE    create the mapping, fill it with 0xAB, print
//                                        "created" or "existed", stay
//   named_peer race NAME GO_EVENT        wait for the manual-reset event GO_EVENT, create the
//                                        mapping NAME (8 bytes), add 1 to its first 32-bit word,
//                                        print "created" or "existed", stay
//   named_peer wait-event NAME MS        open the event and wait up to MS; exit 0 signalled,
//                                        1 timed out, 2 no such event, 3 other
//   named_peer take-in-turn NAME TAKES   open the mutex through two handles, print "open", and
//                                        take and give it back (Wait 200 ms, Release) on two
//                                        threads until they have TAKES takes together; exit 0
//                                        when every Release succeeded and both threads took it,
//                                        1 when a Release failed, 2 when a thread never got it
//   named_peer churn EVENT MANUAL MUTEX  open the auto-reset event EVENT, the manual-reset event
//                                        MANUAL and the mutex MUTEX, print "open", and use them
//                                        without end (waits of 0 to 20 ms, sets, resets, takes
//                                        and gives back), until killed
//   named_peer hold-previous NAME KIND SIZE  make NAME an object of the previous release (KIND
//                                        1 mutex, 2 event, 3 mapping of SIZE bytes) and hold it
//                                        as that release does; print "held", stay
//   named_peer guard NAME SIZE           take the instance guard NAME; print "taken", "held"
//                                        or "failed", stay
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/named_object.h"
#include "churn.h"
#include "tests/support/previous_release.h"

namespace {

[[noreturn]] void Stay() {
  std::fflush(stdout);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  const std::string cmd = argv[1];
  const std::string name = argv[2];
  if (cmd == "hold-mutex") {
    platform::NamedMutex m;
    if (!m.Create(name) || m.Wait(platform::kInfinite) == platform::WaitResult::kFailed) return 3;
    std::printf("held\n");
    Stay();
  }
  if (cmd == "hold-mapping" && argc >= 4) {
    platform::NamedMapping map;
    if (!map.Create(name, std::strtoul(argv[3], nullptr, 10))) return 3;
    std::memset(map.Data(), 0xAB, map.Size());
    std::printf("%s\n", map.AlreadyExisted() ? "existed" : "created");
    Stay();
  }
  if (cmd == "race" && argc >= 4) {
    platform::NamedEvent go;
    if (!go.Create(argv[3], true, false)) return 3;
    if (go.Wait(30000) != platform::WaitResult::kSignaled) return 4;
    platform::NamedMapping map;
    if (!map.Create(name, 8)) return 5;
    __atomic_fetch_add(reinterpret_cast<uint32_t*>(map.Data()), 1u, __ATOMIC_SEQ_CST);
    std::printf("%s\n", map.AlreadyExisted() ? "existed" : "created");
    Stay();
  }
  if (cmd == "wait-event" && argc >= 4) {
    platform::NamedEvent ev;
    if (!ev.Open(name)) return 2;
    switch (ev.Wait(static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)))) {
      case platform::WaitResult::kSignaled: return 0;
      case platform::WaitResult::kTimedOut: return 1;
      default: return 3;
    }
  }
  if (cmd == "take-in-turn" && argc >= 4) {
    platform::NamedMutex handles[2];
    if (!handles[0].Open(name) || !handles[1].Open(name)) return 3;
    std::printf("open\n");
    std::fflush(stdout);
    const int bound = std::atoi(argv[3]);
    std::atomic<int> total{0};
    std::atomic<bool> failed{false};
    int takes[2] = {0, 0};
    auto loop = [&](int i) {
      while (total.load() < bound && !failed.load()) {
        const platform::WaitResult r = handles[i].Wait(200);
        if (r == platform::WaitResult::kTimedOut) continue;
        if (r != platform::WaitResult::kSignaled || !handles[i].Release()) {
          failed = true;
          return;
        }
        ++takes[i];
        ++total;
      }
    };
    std::thread a(loop, 0);
    std::thread b(loop, 1);
    a.join();
    b.join();
    if (failed) return 1;
    return takes[0] > 0 && takes[1] > 0 ? 0 : 2;
  }
  if (cmd == "hold-previous" && argc >= 5) {
    const std::string path = "/dev/shm" + platform::SharedObjectName(name);
    const auto kind = static_cast<testing_support::PreviousReleaseKind>(std::strtoul(argv[3], nullptr, 10));
    if (testing_support::HoldPreviousReleaseObject(path, kind, std::strtoull(argv[4], nullptr, 10)) < 0) return 3;
    std::printf("held\n");
    Stay();
  }
  if (cmd == "guard" && argc >= 4) {
    platform::InstanceGuard guard;
    switch (guard.Take(name, std::strtoul(argv[3], nullptr, 10))) {
      case platform::InstanceGuard::Result::kTaken: std::printf("taken\n"); break;
      case platform::InstanceGuard::Result::kHeld: std::printf("held\n"); break;
      case platform::InstanceGuard::Result::kFailed: std::printf("failed\n"); break;
    }
    Stay();
  }
  if (cmd == "churn" && argc >= 5) {
    platform::NamedEvent ev;
    platform::NamedEvent manual;
    platform::NamedMutex m;
    if (!ev.Open(name) || !manual.Open(argv[3]) || !m.Open(argv[4])) return 3;
    std::printf("open\n");
    std::fflush(stdout);
    ChurnNamedObjects(ev, manual, m, static_cast<unsigned>(::getpid()));
  }
  return 64;
}
