// One client agent of a master agent: the computer the master tells to shut down when the
// power fails (configuration branch 9) or before a scheduled shutdown (branch 10). Each keeps
// its address, the client agent's password as the master knows it, its lead times, and when
// the master last sent it each kind of command.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "core/network/address.h"
#include "core/base/error_status.h"

// A delay byte that was not set.
inline constexpr uint8_t kDelayNotSet = 255;

class KT_NetClient : public KT_ErrorStatus {
 public:
  KT_NetClient() = default;
  // Copies every field. The address is copied as stored -- type, IP address, port, IPX node,
  // host name and communities -- without any name lookup.
  KT_NetClient(const KT_NetClient& other);
  KT_NetClient& operator=(const KT_NetClient& other);

  // Same client: same address type and IP address (for IPX the network number), and for IPX
  // also the same node.
  bool SameAddress(const KT_Address& other) const;
  static void CopyAddress(KT_Address& to, const KT_Address& from);

  KT_Address address;
  std::optional<std::string> password;  // the client agent's user password
  uint8_t warn_delay = kDelayNotSet;      // minutes on battery before the client warns its users
  uint8_t shut_delay = kDelayNotSet;      // minutes before the client's shutdown starts
  uint8_t time_shut_delay = kDelayNotSet; // lead of a scheduled-shutdown command
  // When the last utility-failure, low-battery and scheduled-shutdown commands went out
  // (0 = none outstanding). Not part of the record, nor is anything below.
  time_t lastUF = 0;
  time_t lastLB = 0;
  time_t lastSS = 0;
  // When the last utility-restored command went out while the master still repeats it (0 =
  // none), and whether the client may hold an outage the master knows nothing of (the master
  // started after it may have told it one): it is told that the utility is restored.
  time_t lastUR = 0;
  bool restoreOwed = false;
  // Low-battery commands sent to this client in this outage: the first few go out a short time
  // apart, so that one lost datagram does not leave the client unprotected; and the monotonic
  // millisecond tick of the last (platform/clock.h), which paces them.
  int lowBatterySends = 0;
  uint64_t lastLBTick = 0;
  // The command whose send to this client failed and was reported (-1 = none): a failure is
  // reported once, until a send succeeds or the command changes.
  int failedCommand = -1;
};
