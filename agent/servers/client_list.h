// The consoles registered with one of the agent's command servers for status pushes.
//
// A console registers with a GET of the status block carrying a non-zero extra code and
// unregisters with a SET of command 6 (block 27 branch 6); there is no time-out. Whenever the
// alarm set changes, every registered console is sent the whole status block once
// (PushUpdates).
//
// What each console was last sent is kept as a snapshot of the alarm table (active flag and
// time of change of every alarm), not only as the time of the push, so that an alarm that
// changes within the same second as the previous push is still pushed.
//
// The list is bounded (kMaxClients): when it is full, a new console takes the place of the one
// that was heard from least recently, so that senders with ever new addresses cannot make the
// agent's memory and its pushes grow without end.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <vector>

#include "core/network/address.h"
#include "core/base/error_status.h"
#include "core/scp/status_block.h"

class KT_CommBase;
class KT_SCPBase;

// The state of the alarm table that a push carries.
struct AlarmSnapshot {
  std::array<uint8_t, kAlarmCount> active{};
  std::array<int64_t, kAlarmCount> time{};

  bool operator==(const AlarmSnapshot& other) const = default;
  // True when some alarm has ever changed (a time that is not 0).
  bool AnyChange() const;
  // The status block's alarm table; the caller holds the SCP object's lock.
  static AlarmSnapshot Of(StatusBlock& status);
};

class KT_Client : public KT_ErrorStatus {
 public:
  KT_Client() = default;
  explicit KT_Client(const KT_Address& source);
  KT_Client(const KT_Client&) = delete;
  KT_Client& operator=(const KT_Client&) = delete;

  // Takes type, IP address, port and node of the source (no name lookup).
  void TakeAddress(const KT_Address& source);

  // Same console: same IP address and port.
  bool SameAddress(const KT_Address& other) const;

  KT_Address address;
  int64_t lastPush = 0;   // seconds, 0 = never
  int64_t lastHeard = 0;  // when the console last registered
  AlarmSnapshot pushed;   // what the last push carried (all 0: nothing yet)
};

class KT_ClientList : public KT_ErrorStatus {
 public:
  static constexpr int kMaxClients = 32;

  // Appends a console for the source address unless an equal one is listed; true when added.
  // A listed console is only marked as heard from now.
  bool Add(const KT_Address& source);
  // Removes the equal console; true when one was listed.
  bool Remove(const KT_Address& source);
  void Clear() { clients_.clear(); }
  int Count() const { return static_cast<int>(clients_.size()); }
  const std::list<KT_Client>& Clients() const { return clients_; }

  // Sends the status push frame to every console whose last push carried another state of
  // the alarm table than the current one (nothing while no alarm has ever changed). A push
  // that cannot be sent is tried again at the next call. Returns the number of consoles
  // pushed to.
  int PushUpdates(KT_SCPBase& scp, KT_CommBase& channel);

 private:
  std::list<KT_Client> clients_;
};

// The SCP_DATA frame of the whole status block (a GET of key [1] with extra code 0 run through
// the block's conversion). 1, or -1 with the frame empty. The caller holds the SCP object's
// lock.
int BuildStatusPushFrame(StatusBlock& block, std::vector<uint8_t>& frame);
