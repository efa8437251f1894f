// Fuzzes the console worker's handling of received datagrams, on its real receive path: the
// input is a run of datagrams (a 16-bit length, a sender byte, the bytes) sent over loopback UDP
// to the worker's channel from three senders (the console's hosts 1 and 2, and one it does not
// list), then one worker step takes them in (decode, adapter answers, apply to gScp or to a
// host's image, the answered request removed) and the reply handler acts on each notice as the
// console's view has it. The first byte picks the mode: 0 (UDP) or 4 (every transport, hosts'
// own images, where an agent's status enters it as a host). A reply is only ever credited to a
// listed host. Each input starts from the same two hosts and an empty request table.
#include <arpa/inet.h>
#include <poll.h>

#include <QApplication>
#include <QEvent>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/comm/comm_notice.h"
#include "console/comm/communication.h"
#include "console/comm/scp_handler.h"
#include "core/network/udp.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "fuzz/console_files.h"
#include "platform/name_resolver.h"
#include "platform/named_object.h"
#include "tests/support/own_name_prefix.h"

using fuzz_console::Check;

namespace {

constexpr int kSenders = 3;  // 127.0.0.1 (host 1), 127.0.0.2 (host 2), 127.0.0.3 (not listed)

// Names from a table of one, so that no lookup (a sender's name, say) leaves the machine.
class LoopbackNames : public platform::NameResolver {
 public:
  bool AddressOf(const std::string& name, uint32_t& address) override {
    if (name != "localhost") return false;
    address = htonl(INADDR_LOOPBACK);
    return true;
  }
  bool NameOf(uint32_t, std::string&) override { return false; }
  bool LocalHostName(std::string& name) override {
    name = "fuzzhost";
    return true;
  }
};

// The console's view in small: hands every applied reply to the reply handler.
class HandlerTarget : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != kCommNoticeEventType) return QObject::event(e);
    const CommNotice& n = static_cast<CommNoticeEvent*>(e)->notice();
    // Never a reply from a sender the console does not list.
    Check(n.message == kNoticeReplyApplied ? n.hostIndex >= 1 : n.hostIndex >= 0);
    if (n.message == kNoticeReplyApplied) handler.ProcessNotice(n);
    return true;
  }
  CScpHandler handler;
};

struct Console {
  LoopbackNames names;
  std::unique_ptr<QApplication> app;
  ScpQueueMutex mutex;
  ScriptedMessageBoxes boxes;
  HandlerTarget target;
  std::unique_ptr<CommNoticeRelay> relay;
  std::unique_ptr<CCommunication> workers[2];  // mode 0, mode 4
  KT_UDP senders[kSenders];
  KT_Address worker;
};

void Drain(KT_UDP& udp) {
  pollfd p{udp.GetSocket(), POLLIN, 0};
  while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
    KT_Address from;
    std::vector<uint8_t> bytes;
    if (udp.Receive(&from, bytes) < 0) break;
  }
}

// gHosts: hosts 1 and 2, the first two senders.
void ListHosts(Console& c) {
  KT_HostControl writer;
  gHosts.ResetHosts();
  for (int i = 0; i < 2; ++i) {
    KT_Address a(ADDRESS_IP);
    a.SetIpAddress(c.senders[i].LocalAddress().GetIpAddress());
    a.SetPort(c.senders[i].LocalAddress().GetPort());
    gHosts.AddHost(a);
  }
}

Console& TheConsole() {
  static Console* console = [] {
    auto* c = new Console;
    platform::SetNameResolver(&c->names);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The run's named objects under a prefix of their own, their files removed at the run's
    // end (libFuzzer leaves by exit; the console, made once for the whole run, is never taken
    // down).
    testing_support::UseOwnNamePrefix("fuzz");
    // Qt's runtime folder: one of the run's own, removed at its end, not /tmp/runtime-USER.
    static char runtime[] = "/tmp/fuzz_console_runtime.XXXXXX";
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && ::mkdtemp(runtime) != nullptr) {
      ::setenv("XDG_RUNTIME_DIR", runtime, 1);
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(runtime, ignored);
      });
    }
    static int argc = 1;
    static char name[] = "fuzz_console_datagram";
    static char* argv[] = {name, nullptr};
    c->app = std::make_unique<QApplication>(argc, argv);
    _InitTremDLL();
    Check(c->mutex.Create(kScpQueueMutexName));
    c->boxes.SetDefaultAnswer(IDOK);
    SetMessageBoxLayer(&c->boxes);
    Check(KT_UDP::SetDefaultBindAddress("127.0.0.1") == 1);
    for (int i = 0; i < kSenders; ++i) {
      c->senders[i].Initialize();
      const std::string ip = "127.0.0." + std::to_string(i + 1);
      Check(c->senders[i].SetBindAddress(ip.c_str()) == 1 && c->senders[i].OpenChannel(0) == 0);
    }
    ListHosts(*c);
    c->relay = std::make_unique<CommNoticeRelay>();
    c->relay->SetTarget(&c->target);
    const int modes[2] = {0, 4};
    for (int i = 0; i < 2; ++i) {
      gnCommMode = modes[i];
      c->workers[i] = std::make_unique<CCommunication>(c->relay.get());
      c->workers[i]->SetReceiveWaits(1, 1);
      Check(c->workers[i]->InitCommunication() == 1);
    }
    Check(gDiscover.IsOpen());
    c->worker = KT_Address(ADDRESS_IP);
    c->worker.SetIpAddress(htonl(INADDR_LOOPBACK));
    c->worker.SetPort(gDiscover.LocalAddress().GetPort());
    return c;
  }();
  return *console;
}

// One input, in the scratch directory (the error log the channels write goes there).
int Exchange(const uint8_t* data, size_t size) {
  Console& c = TheConsole();
  if (size == 0) return 0;
  CCommunication& worker = *c.workers[data[0] & 1];
  size_t at = 1;
  while (at + 3 <= size) {
    const size_t length = static_cast<size_t>(data[at] << 8 | data[at + 1]);
    KT_UDP& sender = c.senders[data[at + 2] % kSenders];
    at += 3;
    const size_t n = length < size - at ? length : size - at;
    std::vector<uint8_t> datagram(data + at, data + at + n);
    at += n;
    if (!datagram.empty()) Check(sender.Send(&c.worker, datagram) == 1);
  }
  worker.Step();
  QCoreApplication::sendPostedEvents();
  // What the step and the handler sent (requests asked again, heartbeats) goes nowhere.
  for (KT_UDP& s : c.senders) Drain(s);
  {
    ScpQueueLock lock;
    Check(lock.locked());
    gScp.requestTable.Clear();
  }
  ListHosts(c);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_console::InScratch([&] { return Exchange(data, size); });
}
