// KT_Discover: finds the agents (and the maker's network adapters) that answer on the local
// networks. A search is two calls: SendDiscoveryRequest broadcasts, CollectReplies gathers
// the answers for as long as they keep coming (2 s after the last one).
//
// Requests:
//   UDP discovery request, to port 7010 of every subnet: the GET frame of key {2, 1, 0},
//     C0 00 09 01 00 03 02 01 00. An agent answers it as any GET.
//   Network adapter query, to the same addresses when asked for: AB 01 36 1E (the last byte
//     makes the sum of the four 0 modulo 256).
//   IPX service queries (SAP), to network 0, node FF FF FF FF FF FF, socket 0x0452, sent
//     "do not route": query type 0x0003 (nearest) then 0x0001 (general), each followed by
//     the server type 0x085E, big-endian.
//
// IPX service response (big-endian): response type (2 bytes: 0x0002 general, 0x0004
// nearest), then entries of 64 bytes: server type (2), server name (48, zero-padded),
// network (4), node (6), socket (2), hop count (2). The entry count is the datagram length
// divided by 64; a name is taken up to its first zero byte and never beyond its 48 bytes.
//
// The host list and the subnet list keep texts, newest first, without duplicates (exact,
// case-sensitive comparison); GetNextHost and GetNextSubnet walk them from the head.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "core/network/address.h"
#include "core/network/ipx.h"
#include "core/network/net_client_list.h"
#include "core/scp/scp_message.h"
#include "core/network/udp.h"

inline constexpr const char* kBroadcastSubnet = "255.255.255.255";
inline constexpr uint8_t kAdapterQueryMarker = 0xAB;
inline constexpr uint16_t kSapServerType = 0x085E;
inline constexpr uint16_t kSapSocket = 0x0452;
inline constexpr uint16_t kSapGeneralQuery = 0x0001;
inline constexpr uint16_t kSapGeneralResponse = 0x0002;
inline constexpr uint16_t kSapNearestQuery = 0x0003;
inline constexpr uint16_t kSapNearestResponse = 0x0004;
inline constexpr size_t kSapEntryLength = 64;
inline constexpr size_t kSapNameLength = 48;
// Seconds CollectReplies waits for a further answer.
inline constexpr int kDiscoveryWaitSeconds = 2;

// Function codes of the adapter query's error records (class 41).
enum KT_AdapterQueryError : int32_t {
  ADAPTER_QUERY_FN_SEND = 1,
  ADAPTER_QUERY_NO_MEMORY = 1,
  ADAPTER_QUERY_SEND_FAILED = 2,
};

// One entry of an IPX service response. Network and socket are in network byte order, as an
// IPX address keeps them.
struct KT_SapEntry {
  uint16_t serverType = 0;
  std::string name;
  uint32_t network = 0;
  uint8_t node[kIpxNodeLength] = {};
  uint16_t socket = 0;
  uint16_t hops = 0;
};

// Reads an IPX service response. The response type (2 or 4) with the entries filled, or 0
// (entries empty) when the datagram is no service response. Never reads beyond `length`.
int ParseSapResponse(const uint8_t* data, size_t length, std::vector<KT_SapEntry>& entries);

// Makes `address` the IPX address of a service entry: its name, network, node and socket
// (whatever the address held before is cleared).
void SapEntryAddress(const KT_SapEntry& entry, KT_Address& address);

// Turns a network adapter's answer into the SCP message of an agent's answer to the
// discovery request: DATA, key {2, 1, 0}, data 05 04 00 50 10 24. 1 when the buffer begins
// with 0xAB; 0 (message untouched) for a null or empty buffer or any other first byte.
int TranslateAdapterReply(const uint8_t* buffer, size_t length, KT_ScpMessage& message);

class KT_Discover : public KT_UDP {
 public:
  KT_Discover();
  // Adopts an already open UDP socket and enables broadcast on it.
  explicit KT_Discover(int openSocket);
  ~KT_Discover() override;

  // Sets the broadcast option (a failure is ignored) and resets both cursors. 0.
  int EnableBroadcast();

  // Broadcasts the requests: with `udp` the discovery request (and with `adapterQuery` the
  // adapter query) to port 7010 of every subnet (an empty list is searched, and from then on
  // kept, as "255.255.255.255"); with `ipx` the IPX service queries. A subnet that cannot be
  // sent to is skipped and kept in FailedSubnets. 1 when a request went out; -1 when the frame
  // cannot be built or nothing could be sent. The subnet list is locked meanwhile.
  int SendDiscoveryRequest(int adapterQuery, int udp, int ipx);
  // The subnets the last SendDiscoveryRequest could not send to, in list order.
  std::vector<std::string> FailedSubnets() const;
  // Gathers answers: every UDP datagram adds its sender's host name (reverse lookup, else
  // the dotted address); every IPX service response adds the names of its entries of server
  // type 0x085E. Each found host is also handed to `found` (UDP: type 1 with address and
  // port; IPX: type 2 with name, network, node and socket). Returns 1.
  int CollectReplies(const std::function<void(KT_Address&)>& found, int udp, int ipx);
  // The same, adding every found host to `list` (no password, the three delays 0) unless a
  // client of that address is listed.
  int CollectReplies(KT_NetClientList* list, int udp, int ipx);
  // Without a list only the host list is filled.
  int CollectReplies(std::nullptr_t, int udp, int ipx) { return CollectReplies(std::function<void(KT_Address&)>(), udp, ipx); }

  // Opens the IPX channel (socket chosen by the system), allows broadcasts and sends the two
  // service queries. 1 when sent, 0 when the channel cannot be opened (nothing sent), -1 when
  // a send failed.
  int SendIpxServiceQueries();
  // Sends the network adapter query to the address; failures are error records of class 41.
  void SendAdapterQuery(KT_Address* address);

  // Put a copy at the head of the list unless an equal text is there. A null text is ignored.
  void AddHost(const char* text);
  void AddSubnet(const char* text);
  // Removes the first equal subnet: 1, or 0 when there was none.
  int RemoveSubnet(const char* text);
  void ClearSubnets();
  int GetSubnetCount() const;
  int GetHostCount() const { return static_cast<int>(hosts_.size()); }

  void ResetHostCursor() { host_cursor_ = 0; }
  void ResetSubnetCursor();
  // The entry at the cursor, the cursor advanced; false past the end.
  bool GetNextHost(std::string& text);
  bool GetNextSubnet(std::string& text);
  // Another name for GetNextSubnet, as the dialogs call it.
  bool NextSubnet(std::string& text) { return GetNextSubnet(text); }

  void PrintHost();
  void PrintSubnets();

  // The IPX channel that IPX searches use.
  KT_IPX& IpxChannel() { return ipx_; }

 private:
  static void AddUnique(std::list<std::string>& list, const char* text);
  static bool Next(const std::list<std::string>& list, size_t& cursor, std::string& text);

  KT_IPX ipx_;
  std::list<std::string> hosts_;
  std::list<std::string> subnets_;
  std::vector<std::string> failed_subnets_;
  // Guards the subnet list, its cursor and the send loop: the consoles' gDiscover is edited
  // on the user-interface thread while the communication worker searches with it.
  mutable std::recursive_mutex subnet_mutex_;
  size_t subnet_cursor_ = 0;
  size_t host_cursor_ = 0;
};
