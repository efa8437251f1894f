// KT_Hosts: the consoles' table of the agents they talk to (the library's one instance is
// gHosts, trem_globals.h). Each HostEntry pairs a host's address with the console's own SCP
// image of that host (status and UPS-information blocks), where the host's status pushes
// land; the console's requests and replies go through gScp and name a host by its index.
//
// Host indexes: the first host added to a new table gets 1; every added host gets the next
// number, which is never lowered or reused: RemoveHost, RemoveAllHosts and ClearHosts keep the
// numbering; only ResetHosts starts again at 1.
//
// Same host (HostEntry::SameHost): equal IP address (or IPX network number) and, when the
// address searched for is IPX (type 2), the entry is IPX too with all six node bytes equal.
// Port, names and communities play no part; the comparison is one-sided.
//
// The table takes no lock of its own: callers hold a KT_HostControl guard (host_control.h),
// a writer guard to change the set of hosts. The walk cursor is shared: one walk at a time.
#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "core/base/error_status.h"
#include "core/network/address.h"
#include "core/scp/scp_base.h"
#include "core/scp/scp_message.h"

class HostEntry : public KT_SCPBase {
 public:
  // An entry with an empty address.
  HostEntry();
  // Copies from the address: IP address (or network number), node, type, port, host name
  // (resolved when the address has none), read and write community.
  explicit HostEntry(KT_Address& address);

  void UpdateFromAddress(KT_Address& address);
  // See the head of this file; `searched` decides whether nodes are compared.
  bool SameHost(const KT_Address& searched) const;

  int GetHostIndex() const { return host_index_; }
  void SetHostIndex(int index) { host_index_ = index; }

  KT_Address& Address() { return address_; }
  const KT_Address& Address() const { return address_; }

 private:
  KT_Address address_;
  int host_index_ = 0;
};

// Error record of a packet whose sender cannot be entered.
inline constexpr int32_t kHostsProcessPacketFunction = 1;

class KT_Hosts : public KT_ErrorStatus {
 public:
  KT_Hosts();
  ~KT_Hosts();
  KT_Hosts(const KT_Hosts&) = delete;
  KT_Hosts& operator=(const KT_Hosts&) = delete;

  // 1 when a new entry was appended with the next index; 0 when the host is listed already.
  int AddHost(KT_Address& address);
  // Removes the first entry of the same host: 1, or 0 when none.
  int RemoveHost(const KT_Address& address);
  // Serves one message received from `from` in that host's image (entering the host first
  // when it is new) and stamps its contact time. The image's result, or -1 (error 36, 1, 1)
  // when the host cannot be entered. The message's buffers are emptied on success.
  int ProcessPacket(KT_Address& from, KT_ScpMessage& message);

  void ResetIterator() { cursor_ = 0; }
  // The entry at the cursor (null past the end); the cursor advances in either case.
  HostEntry* GetNextHost();
  HostEntry* GetFirstHost();
  int GetHostCount() const { return static_cast<int>(entries_.size()); }
  HostEntry* GetHostByIndex(int hostIndex);
  // Index of the first entry whose IP address (or network number, network order) equals it;
  // -1 when none.
  int FindHostByAddress(uint32_t ip);
  // Index of the first entry whose host name equals the text exactly; -1 when none. An entry
  // without a name is given one first (reverse lookup, else the dotted text).
  int FindHostByName(const char* name);

  // Removes every entry; cursor and next index stay.
  void RemoveAllHosts();
  // RemoveAllHosts, cursor 0: numbering continues.
  void ClearHosts();
  // RemoveAllHosts, cursor 0, next index 1.
  void ResetHosts();

  int GetNextIndex() const { return next_index_; }

 private:
  HostEntry* FindSameHost(const KT_Address& address);

  std::list<std::unique_ptr<HostEntry>> entries_;
  int32_t cursor_ = 0;
  int32_t next_index_ = 1;
};
