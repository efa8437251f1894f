#include "core/network/ipc.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include "core/base/ktdiag.h"

namespace {

void PutLe32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

int32_t GetLe32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// The waits are kernel waits on shared objects, so they are measured on the real clock.
class Deadline {
 public:
  explicit Deadline(uint32_t ms) : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
  uint32_t Remaining() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
  }

 private:
  std::chrono::steady_clock::time_point end_;
};

}  // namespace

KT_IPC::~KT_IPC() {
  CloseChannel();
}

int KT_IPC::Open(int role) {
  socket_ = role;
  mending_ = false;
  problem_.clear();
  next_check_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  const platform::NamedObject* failed = MakeObjects();
  if (failed == nullptr) {
    open_ = 1;
    return 1;
  }
  if (failed == &from_daemon_.block) {
    Diag() << "ERROR(KT_IPC::Open): Unable to create shared memory (send)\n";
  } else if (failed == &to_daemon_.block) {
    Diag() << "ERROR(KT_IPC::Open): Unable to create shared memory (recv)\n";
  } else if (failed == &from_daemon_.event || failed == &to_daemon_.event) {
    Diag() << "ERROR(KT_IPC::Open): Unable to create the events\n";
  } else {
    Diag() << "ERROR(KT_IPC::Open): Unable to create the block locks\n";
  }
  // Another program holds a name (an older release's console during an upgrade) or something
  // else stands there: the later calls try again, and the channel opens once they succeed.
  SayWhy(*failed);
  mending_ = true;
  return -1;
}

const platform::NamedObject* KT_IPC::MakeObjects() {
  for (Direction* d : {&from_daemon_, &to_daemon_}) {
    d->event.Close();
    d->block.Close();
    d->lock.Close();
  }
  // Free (signalled) unless another process already made them.
  if (!from_daemon_.event.Create(kIpcEventFromDaemon, true, true)) return &from_daemon_.event;
  if (!to_daemon_.event.Create(kIpcEventToDaemon, true, true)) return &to_daemon_.event;
  if (!from_daemon_.block.Create(kIpcMapFromDaemon, kIpcMappingSize)) return &from_daemon_.block;
  if (!to_daemon_.block.Create(kIpcMapToDaemon, kIpcMappingSize)) return &to_daemon_.block;
  if (!from_daemon_.lock.Create(kIpcMutexFromDaemon)) return &from_daemon_.lock;
  if (!to_daemon_.lock.Create(kIpcMutexToDaemon)) return &to_daemon_.lock;
  return nullptr;
}

void KT_IPC::SayWhy(const platform::NamedObject& failed) {
  const std::string why = failed.Name() + ": " + failed.Problem();
  if (why == problem_) return;  // said already
  problem_ = why;
  Diag() << "KT_IPC: the channel's shared objects cannot be made yet (" << why
         << "); they are tried again every second, and the channel opens as soon as they are made\n";
}

bool KT_IPC::Ready() {
  Mend();
  return open_ != 0;
}

void KT_IPC::Mend() {
  if (!open_ && !mending_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_check_) return;
  next_check_ = now + std::chrono::seconds(1);
  std::string damaged;
  for (Direction* d : {&from_daemon_, &to_daemon_}) {
    for (platform::NamedObject* o : {static_cast<platform::NamedObject*>(&d->event),
                                     static_cast<platform::NamedObject*>(&d->block),
                                     static_cast<platform::NamedObject*>(&d->lock)}) {
      if (!o->IsOpen() || o->Intact()) continue;
      damaged += (damaged.empty() ? "" : ", ") + o->Name();
      // Its name goes (when it still names the damaged file and this process may remove it),
      // so that the objects below are new.
      o->Discard();
    }
  }
  if (damaged.empty() && !mending_) return;
  if (!damaged.empty()) {
    Diag() << "KT_IPC: another process damaged the channel's shared objects (" << damaged
           << "); the channel is broken and made afresh\n";
  }
  open_ = 0;
  const platform::NamedObject* failed = MakeObjects();
  if (failed == nullptr) {
    Diag() << (problem_.empty() ? "KT_IPC: the channel's shared objects are made afresh\n"
                                : "KT_IPC: the channel's shared objects are made now; the channel is open\n");
    open_ = 1;
    problem_.clear();
  } else {
    SayWhy(*failed);
  }
  mending_ = failed != nullptr;
}

bool KT_IPC::Lock(Direction& d, uint32_t timeoutMs) {
  switch (d.lock.Wait(timeoutMs)) {
    case platform::WaitResult::kSignaled:
      return true;
    case platform::WaitResult::kAbandoned:
      // Its holder died between two whole states of the block: take over and carry on.
      Diag() << "KT_IPC: a process ended while holding a shared block; carrying on\n";
      return true;
    default:
      return false;
  }
}

int KT_IPC::SendData(KT_Address* /*address*/, const uint8_t* data, size_t length) {
  Mend();
  if (!open_) {
    Diag() << "ERROR(KT_IPC::SendData): IPC not initialized\n";
    return -1;
  }
  if (!CheckData(data, length) || length >= kIpcBlockSize) {
    Diag() << "ERROR(KT_IPC::SendData): invalid data packet\n";
    return -1;
  }
  const bool agent = IsAgent();
  Direction& out = Outgoing();
  auto failure = [agent](const char* how) {
    Diag().Printf("ERROR(KT_IPC::SendData): Wait for %s event %s\n", agent ? "FromDaemon" : "ToDaemon", how);
    return -1;
  };

  const Deadline deadline(kIpcSendWaitMs);
  for (;;) {
    if (!Lock(out, deadline.Remaining())) return failure("timed-out");
    const platform::WaitResult state = out.event.Wait(0);
    if (state == platform::WaitResult::kSignaled) {
      uint8_t* view = out.block.Data();
      if (view == nullptr) {
        out.lock.Release();
        Diag() << (agent ? "ERROR(KT_IPC::SendData): Memory block pointer is NULL (server)\n"
                         : "ERROR(KT_IPC::SendData): Memory block pointer is NULL (client)\n");
        return -1;
      }
      if (out.block.Size() < kIpcHeaderSize + length) {
        out.lock.Release();
        Diag() << "ERROR(KT_IPC::SendData): invalid data packet\n";
        return -1;
      }
      // Payload and length first, then the block is marked full: a reader only ever takes a
      // block whose writer has finished.
      std::memcpy(view + kIpcHeaderSize, data, length);
      PutLe32(view, static_cast<int32_t>(length));
      out.event.Reset();
      out.lock.Release();
      return 0;
    }
    out.lock.Release();
    if (state != platform::WaitResult::kTimedOut) return failure("failed");
    // Full: wait until the reader frees it, then try to take it again.
    switch (out.event.Wait(deadline.Remaining())) {
      case platform::WaitResult::kSignaled:
        continue;
      case platform::WaitResult::kTimedOut:
        return failure("timed-out");
      case platform::WaitResult::kAbandoned:
        return failure("abandoned");
      case platform::WaitResult::kFailed:
        return failure("failed");
    }
    Diag() << "ERROR(KT_IPC::SendData): Unknown case encountered after wait\n";
    return -1;
  }
}

int KT_IPC::ReceiveData(KT_Address* /*address*/, std::vector<uint8_t>& buffer) {
  Mend();
  buffer.clear();
  Direction& in = Incoming();
  auto noMessage = [] {
    Diag() << "ERROR(KT_IPC::ReceiveData): Memory block pointer is NULL\n";
    return -1;
  };
  if (!in.block.IsOpen() || !in.event.IsOpen() || !in.lock.IsOpen()) return noMessage();
  if (!Lock(in, kIpcSendWaitMs)) {
    Diag() << "ERROR(KT_IPC::ReceiveData): shared block is busy\n";
    return -1;
  }
  // Not signalled: a message is waiting.
  const uint8_t* view = in.block.Data();
  if (in.event.Wait(0) != platform::WaitResult::kTimedOut || view == nullptr) {
    in.lock.Release();
    return noMessage();
  }
  const int32_t length = GetLe32(view);
  if (length < 0 || static_cast<size_t>(length) > kIpcBlockSize ||
      static_cast<size_t>(length) > in.block.Size() - kIpcHeaderSize) {
    Diag() << "ERROR(KT_IPC::ReceiveData): Invalid packet size encountered\n";
    // The block cannot be read: free it so that the direction keeps working.
    in.event.Set();
    in.lock.Release();
    return -1;
  }
  try {
    buffer.assign(view + kIpcHeaderSize, view + kIpcHeaderSize + length);
  } catch (const std::bad_alloc&) {
    in.lock.Release();
    errorClass = ERR_COMM_BASE;
    code = 2;
    systemError = 0;
    return -1;
  }
  in.event.Set();
  in.lock.Release();
  return 1;
}

bool KT_IPC::IsDataReady() {
  Mend();
  Direction& in = Incoming();
  if (!in.event.IsOpen()) return false;
  return in.event.Wait(kIpcReadyWaitMs) == platform::WaitResult::kTimedOut && in.block.Data() != nullptr;
}

bool KT_IPC::MessageWaiting() {
  Mend();
  Direction& in = Incoming();
  return in.event.IsOpen() && in.event.Wait(0) == platform::WaitResult::kTimedOut &&
         in.block.Data() != nullptr;
}

bool KT_IPC::OutgoingFree(uint32_t timeoutMs) {
  Mend();
  Direction& out = Outgoing();
  return out.event.IsOpen() && out.event.Wait(timeoutMs) == platform::WaitResult::kSignaled;
}
