// KT_IPC: the shared-memory channel between an agent and the consoles on the same computer.
//
// Two named blocks carry the messages, one per direction, each holding at most one message,
// and two named events tell whether a block is free (signalled) or full (not signalled):
//
//   "OstrelMemMapFromDaemon" / "OstrelEventFromDaemon"   agent -> consoles
//   "OstrelMemMapToDaemon"   / "OstrelEventToDaemon"     consoles -> agent
//
// Block layout (little-endian): offset 0, 4 bytes, signed payload length; offset 4, the
// payload (an SCP frame) of 1 to 4999 bytes.
//
// Role 7010 is the agent: it writes FromDaemon and reads ToDaemon; any other role (the
// consoles pass 0) writes ToDaemon and reads FromDaemon.
//
// A writer waits (at most 2000 ms) until its block is free, writes payload and length, and
// only then marks the block full, so a reader never sees a message half-written. Writers and
// readers of one direction take turns through a named mutex of their own
// ("OstrelMutexFromDaemon", "OstrelMutexToDaemon"), held only while a block is filled or
// emptied: two consoles never fill the one block at once, and two readers never take the
// same message. A process that dies holding that mutex leaves the block whole (free with
// stale bytes, or full with a complete message), and the next user carries on.
//
// A block whose stored length is out of range is emptied by the reader (failure -1), so a
// bad block never leaves its direction dead. Reads never go beyond the block.
//
// The objects live while any process holds them (see platform/named_object.h): the first
// Open on the machine creates them with both blocks free, later ones share them.
//
// The objects are open to every local user. Whatever another process writes into them changes
// at most what a call answers; a file shrunk under a block never faults. Once a second at most,
// at its next call, an open channel looks whether another process has shrunk, written over the
// header of, replaced or removed one of its objects; then it says so in the trace and makes all
// six afresh (a message in flight may be lost), again at each call a second apart until that
// succeeds.
//
// A channel whose objects cannot be made when it is opened (another program holds one of the
// names: a program of another release, whose objects have another layout, or another user's
// FIFO or other file) fails its Open, says in the trace what stands in the way and who holds
// it, and goes on trying the same way, once a second at its next calls: it opens as soon as
// the names are free, without a new Open. It says why again only when the reason changes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/network/comm_base.h"
#include "platform/named_object.h"

inline constexpr int kIpcAgentRole = 7010;
inline constexpr int kIpcConsoleRole = 0;
// Size the blocks are requested with, and the bound of a stored length.
inline constexpr size_t kIpcBlockSize = 5000;
// Bytes in front of the payload.
inline constexpr size_t kIpcHeaderSize = 4;
// Largest payload a writer accepts.
inline constexpr size_t kIpcMaxPayload = kIpcBlockSize - 1;
// What each block really holds: every length a reader accepts fits.
inline constexpr size_t kIpcMappingSize = kIpcHeaderSize + kIpcBlockSize;
inline constexpr uint32_t kIpcSendWaitMs = 2000;
inline constexpr uint32_t kIpcReadyWaitMs = 500;

inline constexpr const char* kIpcEventFromDaemon = "OstrelEventFromDaemon";
inline constexpr const char* kIpcEventToDaemon = "OstrelEventToDaemon";
inline constexpr const char* kIpcMapFromDaemon = "OstrelMemMapFromDaemon";
inline constexpr const char* kIpcMapToDaemon = "OstrelMemMapToDaemon";
inline constexpr const char* kIpcMutexFromDaemon = "OstrelMutexFromDaemon";
inline constexpr const char* kIpcMutexToDaemon = "OstrelMutexToDaemon";

class KT_IPC : public KT_CommBase {
 public:
  KT_IPC() = default;
  ~KT_IPC() override;

  // Nothing to start. 1.
  int Initialize() override { return 1; }
  // Creates or opens the six objects and keeps the role. 1, or -1 when one cannot be made
  // (the channel then keeps trying, see above).
  int Open(int role) override;
  // Nothing: the objects stay until the channel is destroyed (and are no longer made afresh).
  void Close() override { mending_ = false; }
  // The address is not used. 0 when the message was placed in the outgoing block, -1.
  int SendData(KT_Address* address, const uint8_t* data, size_t length) override;
  // The address is not used. 1 with a copy of the waiting message in `buffer`, -1 when none
  // is waiting or the block is bad.
  int ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) override;
  const char* GetHostName() override { return nullptr; }
  uint16_t GetPort() override { return 0; }

  // True when a message waits in the incoming block. Waits up to 500 ms on the block's
  // event: answers false at once when the block is free, true after the full wait when a
  // message is waiting.
  bool IsDataReady();
  // Without waiting: whether a message waits in the incoming block.
  bool MessageWaiting();
  // Waits at most timeoutMs until the outgoing block is free (the reader has taken the last
  // message); true when it is.
  bool OutgoingFree(uint32_t timeoutMs);

  int GetRole() const { return socket_; }
  // Whether the channel is open, after one more try (at most once a second) to make objects it
  // could not make or that were damaged.
  bool Ready();
  // What keeps the objects from being made (the object's name, what stands there, who holds
  // it); empty once they are made.
  const std::string& Problem() const { return problem_; }

 private:
  struct Direction {
    platform::NamedEvent event;
    platform::NamedMapping block;
    platform::NamedMutex lock;
  };
  bool IsAgent() const { return socket_ == kIpcAgentRole; }
  Direction& Outgoing() { return IsAgent() ? from_daemon_ : to_daemon_; }
  Direction& Incoming() { return IsAgent() ? to_daemon_ : from_daemon_; }
  // Takes the direction's mutex within `timeoutMs`; a lock left by a dead holder is taken
  // over. False on time-out or failure.
  static bool Lock(Direction& d, uint32_t timeoutMs);
  // Closes and creates (or opens) the six objects; the first that fails, or null.
  const platform::NamedObject* MakeObjects();
  // Traces why the object cannot be made, unless that was the last reason said.
  void SayWhy(const platform::NamedObject& failed);
  // Makes the objects afresh when another process has damaged one (see above), or when they
  // could not be made yet; at most once a second.
  void Mend();

  Direction from_daemon_;
  Direction to_daemon_;
  std::chrono::steady_clock::time_point next_check_{};
  bool mending_ = false;  // the objects could not be made (afresh) yet
  std::string problem_;   // the last reason said why
};
