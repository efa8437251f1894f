#include "core/scp/scp_base.h"

#include <atomic>
#include <new>
#include <utility>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "platform/clock.h"

namespace {

// Function codes of the object's error records (class 15).
constexpr int32_t FN_QUEUE_GET = 2;
constexpr int32_t FN_QUEUE_SET = 3;
// QueueRequest: the image cannot supply the addressed part.
constexpr int32_t QUEUE_NOT_IN_IMAGE = 2;

// Communication modes in which the UPS is reached through a network adapter, so that the
// serial settings (block 4 branch 1) are not the UPS side's business.
constexpr int kCommModeSnmpAdapter = 8;
constexpr int kCommModeNetBcmAdapter = 9;

const char* const kReplyTexts[] = {
    "Set OK", "Get Resend", "Set Failed", "Get Failed", "Get OK", "Invalid packet", "Not Available",
};

bool MakeKey(int blockId, int branch, int field, std::vector<uint8_t>& key) {
  try {
    key.assign(1, static_cast<uint8_t>(blockId));
    if (field != 0) {
      key.push_back(static_cast<uint8_t>(branch));
      key.push_back(static_cast<uint8_t>(field));
    } else if (branch != 0) {
      key.push_back(static_cast<uint8_t>(branch));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// A SET that only the message's validator could refuse; every message passes.
bool ValidateSet(const KT_ScpMessage&) { return true; }

}  // namespace

std::string ScpReplyCodeText(int code) {
  if (code >= 0 && code <= SCP_NOT_AVAILABLE) return kReplyTexts[code];
  return "Bad SCP Status = " + std::to_string(code);
}

KT_SCPBase::KT_SCPBase() : comm_time_(platform::Now()), start_time_(platform::Now()) {
  RegisterBlock(BLOCK_UPS_INFO, &upsInfo);
  RegisterBlock(BLOCK_STATUS, &upsStatus);
}

void KT_SCPBase::RegisterBlockWith(int blockId, KT_Block* block, BlockSnapshotter snapshot) {
  if (blockId <= 0 || blockId >= static_cast<int>(blocks_.size())) return;
  blocks_[blockId] = block;
  snapshotters_[blockId] = std::move(snapshot);
}

KT_SCPBase::BlockRestore KT_SCPBase::SnapshotBlock(int blockId) const {
  if (blockId <= 0 || blockId >= static_cast<int>(blocks_.size()) || !snapshotters_[blockId]) return {};
  return snapshotters_[blockId]();
}

void KT_SCPBase::SetSetKeeper(SetKeeper keeper) {
  auto lock = Lock();
  set_keeper_ = std::move(keeper);
}

void KT_SCPBase::SetSetCheck(SetCheck check) {
  auto lock = Lock();
  set_check_ = std::move(check);
}

KT_Block* KT_SCPBase::GetBlock(int blockId) const {
  if (blockId <= 0 || blockId >= static_cast<int>(blocks_.size())) return nullptr;
  return blocks_[blockId];
}

int64_t KT_SCPBase::TouchCommTime() {
  const int64_t now = platform::Now();
  comm_time_.store(now);
  return now;
}

namespace {
std::atomic<int> g_comm_timeout{KT_SCPBase::kDefaultCommTimeout};
}  // namespace

int KT_SCPBase::CommTimeout() { return g_comm_timeout.load(); }

void KT_SCPBase::SetCommTimeout(int seconds) {
  if (seconds > 0) g_comm_timeout.store(seconds);
}

bool KT_SCPBase::IsCommTimedOut() const { return comm_time_.load() + g_comm_timeout.load() < platform::Now(); }

int64_t KT_SCPBase::SecondsSinceStart() const { return platform::Now() - start_time_; }

int KT_SCPBase::BuildStatusReply(const KT_ScpMessage& message, std::vector<uint8_t>& reply, int code) {
  return BuildStatusReplyFrame(message, reply, static_cast<uint8_t>(code), this);
}

int KT_SCPBase::Reply(const KT_ScpMessage& message, std::vector<uint8_t>& reply, int code) {
  return BuildStatusReply(message, reply, code) < 0 ? -1 : 1;
}

int KT_SCPBase::ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply) {
  return ExecuteCommand(GetBlock(message.KeyByte(kScpKeyBlock)), message, reply);
}

bool KT_SCPBase::PostSet(int blockId, int branch, int route, PostedSet& posted) {
  posted = PostedSet{};
  if (route == ROUTE_UPS || route == ROUTE_BOTH) {
    const int result = serial_queue.Post(blockId, 0, 1, 0);
    if (result < 0) {
      Diag() << "1 KT_SCPBase::ExecuteCommand: serial_queue is full, SCP_SET block " << blockId << ", branch "
             << branch << " refused" << kendl;
      return false;
    }
    posted.serial = result == 1;
    Diag() << "1 KT_SCPBase::ExecuteCommand: Adding SCP_SET block " << blockId << ", branch " << branch
           << " to serial_queue" << kendl;
  }
  if (route == ROUTE_AGENT || route == ROUTE_BOTH) {
    const int result = system_queue.Post(blockId, 0, 1, branch);
    if (result < 0) {
      Diag() << "2 KT_SCPBase::ExecuteCommand: system_queue is full, SCP_SET block " << blockId << ", branch "
             << branch << " refused" << kendl;
      WithdrawSet(blockId, branch, posted);
      return false;
    }
    posted.system = result == 1;
    Diag() << "2 KT_SCPBase::ExecuteCommand: Adding SCP_SET block " << blockId << ", branch " << branch
           << " to system_queue" << kendl;
  }
  return true;
}

void KT_SCPBase::WithdrawSet(int blockId, int branch, const PostedSet& posted) {
  if (posted.serial) serial_queue.Withdraw(blockId, 0);
  if (posted.system) system_queue.Withdraw(blockId, branch);
}

int KT_SCPBase::ExecuteCommand(KT_Block* block, const KT_ScpMessage& message, std::vector<uint8_t>& reply) {
  auto lock = Lock();
  reply.clear();
  if (block == nullptr) return Reply(message, reply, SCP_NOT_AVAILABLE);
  const int blockId = message.KeyByte(kScpKeyBlock);
  const int branch = message.KeyByte(kScpKeyBranch);
  if (!block->Branches().IsAddressValid(message.key.data(), message.KeyLength())) {
    return Reply(message, reply, SCP_NOT_AVAILABLE);
  }

  switch (message.type) {
    case SCP_GET: {
      if (block->IsFresh(branch)) {
        // A reply that cannot be built (too large for a frame, no memory) is a failed GET.
        if (block->ConvertMessage(reply, message) < 0) return Reply(message, reply, SCP_GET_FAILED);
        return 1;
      }
      const int route = block->GetRoute(branch);
      if (route < 0) return Reply(message, reply, SCP_NOT_AVAILABLE);
      if (route == ROUTE_UPS || route == ROUTE_BOTH) serial_queue.Post(blockId, 0, 0, branch);
      if (route == ROUTE_AGENT || route == ROUTE_BOTH) system_queue.Post(blockId, 0, 0, branch);
      return Reply(message, reply, SCP_GET_RESEND);
    }
    case SCP_SET: {
      if (!ValidateSet(message)) return Reply(message, reply, SCP_SET_REFUSED);
      if (set_check_ && !set_check_(blockId, message)) return Reply(message, reply, SCP_SET_FAILED);
      // Taken whole or not at all: a SET that fails half-way through its data, or whose change
      // cannot be kept, leaves the block as it was.
      const BlockRestore restore = GetBlock(blockId) == block ? SnapshotBlock(blockId) : BlockRestore();
      auto fail = [&](int code) {
        if (restore) restore();
        return Reply(message, reply, code);
      };
      std::vector<uint8_t> none;
      if (block->ConvertMessage(none, message) < 0) return fail(SCP_SET_FAILED);
      const int route = block->GetRoute(branch);
      if (route < 0) return fail(SCP_NOT_AVAILABLE);
      // With the UPS behind a network adapter the serial settings are the agent's only.
      bool adapterSerialSettings = false;
      if (blockId == BLOCK_CONFIG && branch == 1) {
        const int mode = GetProcessCommMode();
        adapterSerialSettings = mode == kCommModeSnmpAdapter || mode == kCommModeNetBcmAdapter;
      }
      // The work is queued first: a SET that finds no room in its queue is refused before its
      // record file changes. The worker reaches the change only once the lock is released, and
      // by then the change is kept (before it is acknowledged): one that could not be kept
      // takes its work back and is not in force either.
      PostedSet posted;
      if (!adapterSerialSettings && !PostSet(blockId, branch, route, posted)) return fail(SCP_SET_FAILED);
      if (set_keeper_ && set_keeper_(blockId, branch) < 0) {
        WithdrawSet(blockId, branch, posted);
        return fail(SCP_SET_FAILED);
      }
      return Reply(message, reply, SCP_SET_OK);
    }
    case SCP_DATA: {
      // Received whole or not at all: data that does not decode (a reply in another layout,
      // cut short) leaves the block's readings as they were, never half-written.
      const BlockRestore restore = GetBlock(blockId) == block ? SnapshotBlock(blockId) : BlockRestore();
      std::vector<uint8_t> none;
      const int result = block->ConvertMessage(none, message);
      if (result < 0 && restore) restore();
      block->SetStatus(result >= 0 ? SCP_GET_OK : 8);
      return result;
    }
    case SCP_STATUS:
      block->StoreReceived(branch, message.data);
      block->SetStatus(message.data.empty() ? 8 : message.data[0]);
      return 1;
    default:
      return Reply(message, reply, SCP_NOT_AVAILABLE);
  }
}

int KT_SCPBase::QueueRequest(int blockId, int branch, int field, int host) {
  KT_ScpMessage get;
  get.type = SCP_GET;
  if (!MakeKey(blockId, branch, field, get.key)) {
    LogError(ERR_SCP_OBJECT, FN_QUEUE_SET, 1, GetSocketError());
    return -1;
  }
  auto lock = Lock();
  // Only a part that the image holds fresh can be sent: anything else would make ExecuteCommand
  // answer with a status frame (and queue a read), which must never travel as a SET.
  KT_Block* block = GetBlock(blockId);
  if (block == nullptr || !block->Branches().IsAddressValid(get.key.data(), get.KeyLength()) ||
      !block->IsFresh(get.KeyByte(kScpKeyBranch))) {
    LogError(ERR_SCP_OBJECT, FN_QUEUE_SET, QUEUE_NOT_IN_IMAGE, blockId);
    return -1;
  }
  std::vector<uint8_t> frame;
  const int result = ExecuteCommand(get, frame);
  if (result < 0) return result;
  if (frame.size() < 4 || frame[3] != SCP_DATA) {
    LogError(ERR_SCP_OBJECT, FN_QUEUE_SET, QUEUE_NOT_IN_IMAGE, blockId);
    return -1;
  }
  frame[3] = SCP_SET;
  if (requestTable.Add(frame, 0, get.key, host) < 0) return -1;
  return 1;
}

int KT_SCPBase::QueueGetKey(const std::vector<uint8_t>& key, int extraCode, int host) {
  if (key.empty() || key.size() > 3) return -1;
  KT_ScpMessage get;
  get.type = SCP_GET;
  get.extraCode = static_cast<uint8_t>(extraCode);
  get.key = key;
  std::vector<uint8_t> frame;
  if (BuildScpFrame(get, frame, this) < 0) return -1;
  if (requestTable.Add(frame, 0, get.key, host) < 0) return -1;
  return 1;
}

int KT_SCPBase::QueueGetRequest(int blockId, int branch, int field, int extraCode, int host) {
  KT_ScpMessage get;
  get.type = SCP_GET;
  get.extraCode = static_cast<uint8_t>(extraCode);
  if (!MakeKey(blockId, branch, field, get.key)) {
    LogError(ERR_SCP_OBJECT, FN_QUEUE_GET, 1, GetSocketError());
    return -1;
  }
  std::vector<uint8_t> frame;
  if (BuildScpFrame(get, frame, this) < 0) return -1;
  if (requestTable.Add(frame, 0, get.key, host) < 0) return -1;
  return 1;
}
