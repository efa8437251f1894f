// The SCP object's base: the image of one UPS and of the agent that serves it, reduced to the
// status (block 1) and UPS-information (block 2) blocks, with the two request queues of the
// agent's workers and the table of SCP frames in flight. A console keeps one per host;
// KT_SCP (core/scp/scp.h) adds the other blocks.
//
// ExecuteCommand is the server logic for one decoded SCP message:
//   GET     fresh branch: the addressed part as an SCP_DATA reply; stale: a read is queued by
//           the branch's route and the answer is "Get Resend"
//   SET     taken whole or not at all: offered to the set check (when one is installed),
//           which may refuse it; decoded into the block, queued for the worker of the branch's
//           route, made lasting by the set keeper (when one is installed), "Set OK". Data the
//           block cannot decode (too short, a bad value), a queue with no room for the work
//           (all ten slots taken by other work; a SET whose work is queued already finds it
//           there) or a keeper that fails answers "Set Failed" and puts the block back whole
//           as it was before the SET (values, branch times and states; SnapshotBlock); nothing
//           is queued and no record file is written for it
//   DATA    decoded into the block (the block's status byte becomes 4); data that does not
//           decode puts the block back whole as it was (status byte 8)
//   STATUS  the first data byte becomes the branch's received value and the block's status
//           byte (8 when there is no data byte)
// An address the block does not know, a refused route or an unknown type is answered
// "Not Available"; data the block cannot decode "Set Failed"; a data reply that cannot be
// built "Get Failed".
//
// Locking: one recursive mutex guards the object (its blocks and everything ExecuteCommand
// touches). ExecuteCommand, QueueRequest and QueueGetRequest take it themselves; any other
// code that reads or changes blocks holds it for the whole step:
//
//   { auto lock = scp.Lock(); scp.upsStatus.SetAlarm(ALARM_ON_BATTERY); ... }
//
// The request queues, the request table, the flag word and the contact time are safe to use
// without it. Lock order across objects: an object's lock may be held while the process-wide
// object's lock is taken (see core/scp/scp.h), never the other way round.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/scp/block.h"
#include "core/base/error_status.h"
#include "core/scp/request_queue.h"
#include "core/scp/scp_message.h"
#include "core/scp/scp_queue.h"
#include "core/scp/status_block.h"
#include "core/scp/ups_info_block.h"

// Block ids: the first key byte of an SCP message, also the request types of the queues.
enum ScpBlockId : int {
  BLOCK_STATUS = 1,
  BLOCK_UPS_INFO = 2,
  BLOCK_METERS = 3,
  BLOCK_CONFIG = 4,
  BLOCK_NOTIFY = 5,
  BLOCK_EVENT_LOG = 6,
  BLOCK_BATTERY_LOG = 7,
  BLOCK_ALARM_QUEUE = 8,
  BLOCK_WAVEFORM = 9,
  BLOCK_SCHED_SHUTDOWN = 24,
  BLOCK_BATTERY_TEST = 25,
  BLOCK_BATTERY_INFO = 26,
  BLOCK_COMMAND = 27,
  BLOCK_RECEPTACLES = 28,
};

// Bits of the flag word.
enum ScpFlag : uint32_t {
  SCP_FLAG_UPS_INFO_RECEIVED = 0x01,  // a console's view received the UPS information
  SCP_FLAG_UDP_OPEN = 0x02,           // a console's UDP transport is open
  SCP_FLAG_IPX_OPEN = 0x04,           // a console's IPX transport is open
  SCP_FLAG_SNMP = 0x08,               // SNMP usable (the MIB file was found)
  SCP_FLAG_SNMP_SERVICE = 0x10,       // the system SNMP service's trap hand-off is usable
  SCP_FLAG_TCPIP = 0x20,              // TCP/IP usable
};

// The text consoles show for a reply code: "Set OK" .. "Not Available" for 0..6,
// "Bad SCP Status = <code>" for any other code.
std::string ScpReplyCodeText(int code);

class KT_SCPBase : public KT_ErrorStatus {
 public:
  // Seconds without contact after which a peer counts as lost: one value for the process (the
  // consoles' networking properties change it). A value of 0 or below leaves it unchanged.
  static constexpr int kDefaultCommTimeout = 90;
  static int CommTimeout();
  static void SetCommTimeout(int seconds);

  KT_SCPBase();
  virtual ~KT_SCPBase() = default;
  KT_SCPBase(const KT_SCPBase&) = delete;
  KT_SCPBase& operator=(const KT_SCPBase&) = delete;

  // Serves a message for the block of its first key byte: blocks 1 and 2 here, every block in
  // KT_SCP. The answer frame (if any) is left in `reply`; an unknown block is answered "Not
  // Available". Result: 1, or the block operation's result; -1 when a reply could not be built.
  virtual int ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply);
  // The same for a given block (null: "Not Available").
  int ExecuteCommand(KT_Block* block, const KT_ScpMessage& message, std::vector<uint8_t>& reply);

  // The status reply to `message` with `code`: 1, or -1 with error (15, 1, 1) without a key.
  int BuildStatusReply(const KT_ScpMessage& message, std::vector<uint8_t>& reply, int code);

  // Sends a change: the addressed part of this object's own image, as a SET frame, into the
  // request table for the host. The key is [id], [id, branch] or [id, branch, field] (3 bytes
  // when field is not 0, else 2 when branch is not 0, else 1). 1; -1 when the image cannot
  // supply the part (unknown block or address, or the branch not filled recently enough:
  // error 15, 3, 2) or the table refuses the frame.
  int QueueRequest(int blockId, int branch, int field, int host);
  // Asks for data: a GET frame (same key rule, with the extra code) into the request table
  // for the host. 1, or -1.
  int QueueGetRequest(int blockId, int branch, int field, int extraCode, int host);
  // The same GET with the key as given (1 to 3 bytes), so that an answer's own key is asked
  // again as it was, trailing 0 included. 1, or -1 (also for a key of another length).
  int QueueGetKey(const std::vector<uint8_t>& key, int extraCode, int host);

  // The block of an id, or null when this object has none.
  KT_Block* GetBlock(int blockId) const;

  // What puts a block back as it is now: a copy of its whole state (values, branch times and
  // field states, status byte), restored when called; the block's error record of what went
  // wrong since is kept. Empty for an id without a block. Taken and called under the
  // object's lock.
  using BlockRestore = std::function<void()>;
  BlockRestore SnapshotBlock(int blockId) const;

  // What makes an applied SET last before it is acknowledged: the agent writes the block's
  // record file there, so that "Set OK" never leaves for a change a crash could take back.
  // Called under the object's lock with the SET's block id and branch, after the block took
  // the data; 1 kept (or nothing to keep), below 0 the change could not be kept (the block is
  // then put back as it was, and the answer is "Set Failed"). An empty
  // keeper (the default) keeps nothing. Installed before the command servers start.
  using SetKeeper = std::function<int(int blockId, int branch)>;
  void SetSetKeeper(SetKeeper keeper);

  // What may refuse a SET before the block takes it: the agent judges there what only it can
  // (a log file name against its data directory). Called under the object's lock with the
  // SET's block id and message; false answers "Set Failed", and the block, the queues and the
  // record files stay as they were. An empty check (the default) refuses nothing. Installed
  // before the command servers start.
  using SetCheck = std::function<bool(int blockId, const KT_ScpMessage& message)>;
  void SetSetCheck(SetCheck check);

  // Contact time: stamp and return now; timed out when the stamp plus CommTimeout() lies before
  // now.
  int64_t TouchCommTime();
  int64_t GetCommTime() const { return comm_time_.load(); }
  bool IsCommTimedOut() const;

  // Flag word (ScpFlag bits).
  void SetFlag(uint32_t bit) { flags_.fetch_or(bit); }
  void ClearFlag(uint32_t bit) { flags_.fetch_and(~bit); }
  bool TestFlag(uint32_t bit) const { return (flags_.load() & bit) != 0; }
  uint32_t GetFlags() const { return flags_.load(); }
  bool HasSnmpSupport() const { return TestFlag(SCP_FLAG_SNMP); }
  bool HasSnmpServiceSupport() const { return TestFlag(SCP_FLAG_SNMP_SERVICE); }
  bool HasTcpIpSupport() const { return TestFlag(SCP_FLAG_TCPIP); }

  // Seconds since the object was built (the time stamp of SNMP traps).
  int64_t SecondsSinceStart() const;

  // The object's lock (see the head of this file).
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock<std::recursive_mutex>(mutex_); }

  // Members in construction order.
  UpsInfoBlock upsInfo;      // block 2
  StatusBlock upsStatus;     // block 1
  KT_RequestQueue serial_queue;  // work for the UPS side
  KT_RequestQueue system_queue;  // work for the agent side
  KT_ScpQueue requestTable;  // frames this side has to send or awaits answers for

 protected:
  // Makes a block reachable by its id (ExecuteCommand, QueueRequest, GetBlock), with the
  // copy of its concrete type that SnapshotBlock takes.
  template <class Block>
  void RegisterBlock(int blockId, Block* block) {
    RegisterBlockWith(blockId, block, [block]() -> BlockRestore {
      return [block, saved = *block]() {
        const KT_ErrorStatus error = *block;
        *block = saved;
        static_cast<KT_ErrorStatus&>(*block) = error;
      };
    });
  }

 private:
  using BlockSnapshotter = std::function<BlockRestore()>;
  void RegisterBlockWith(int blockId, KT_Block* block, BlockSnapshotter snapshot);

  // Which queues a SET's work was newly added to.
  struct PostedSet {
    bool serial = false;
    bool system = false;
  };
  int Reply(const KT_ScpMessage& message, std::vector<uint8_t>& reply, int code);
  // Queues a SET's work by its route; false when a queue is full (what the other took is
  // withdrawn then).
  bool PostSet(int blockId, int branch, int route, PostedSet& posted);
  // Takes back what PostSet added, for a SET that is not to be in force after all.
  void WithdrawSet(int blockId, int branch, const PostedSet& posted);

  mutable std::recursive_mutex mutex_;
  std::array<KT_Block*, 256> blocks_{};
  std::array<BlockSnapshotter, 256> snapshotters_{};
  SetKeeper set_keeper_;
  SetCheck set_check_;
  std::atomic<int64_t> comm_time_;
  std::atomic<uint32_t> flags_{0};
  int64_t start_time_;
};
