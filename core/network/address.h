// KT_Address: one network peer of the system, an IP host (type 1), an IPX node (type 2) or a
// UPS network adapter reached by SNMP (type 3).
//
// Numbers are kept as they travel: the IP address (for IPX the network number) and the port
// (for IPX the socket number) in network byte order. Texts are private copies; a text that
// was never set is absent (the getters answer nullptr) rather than empty.
//
// Error records (class 6): function 1 the text setters and Resolve, 2 MakeAddressString,
// 3 LookupHostName, 4 ToSockAddr. Resolve and ToSockAddr only fill the fields; the others also
// append the record to error.dat.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/error_status.h"

enum KT_AddressType : int {
  ADDRESS_NONE = 0,
  ADDRESS_IP = 1,
  ADDRESS_IPX = 2,
  ADDRESS_SNMP = 3,
};

inline constexpr int kIpxNodeLength = 6;

class KT_Address : public KT_ErrorStatus {
 public:
  KT_Address() = default;
  explicit KT_Address(int type) : type_(type) {}
  // Copies type, port, IP address, the communities and the host name as the source's
  // GetHostName would give it (a stored name, else the reverse lookup of a non-zero IP
  // address, else its dotted text), without changing the source. The dotted text and the
  // node are not copied.
  KT_Address(const KT_Address& other);
  KT_Address& operator=(const KT_Address& other);
  ~KT_Address() = default;

  // Drops the four texts and zeroes type, IP address, port and node. Returns 0.
  int Clear();

  // The getter answers the low byte of the stored type.
  int GetType() const { return type_ & 0xFF; }
  void SetType(int type) { type_ = type; }
  // Network byte order.
  uint16_t GetPort() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  // Network byte order; for IPX the network number.
  uint32_t GetIpAddress() const { return ip_; }
  void SetIpAddress(uint32_t ip) { ip_ = ip; }
  void GetNode(uint8_t node[kIpxNodeLength]) const;
  // A null pointer leaves the node as it is.
  void SetNode(const uint8_t node[kIpxNodeLength]);
  const uint8_t* Node() const { return node_; }

  // Communities (for the network BCM adapter the read community holds the adapter password).
  // A null text clears.
  const char* GetReadCommunity() const { return Text(read_community_); }
  void SetReadCommunity(const char* text);
  const char* GetWriteCommunity() const { return Text(write_community_); }
  void SetWriteCommunity(const char* text);

  // Store a copy of the text. A null text changes nothing and answers 0; else 1.
  int SetHostName(const char* text);
  int SetAddressString(const char* text);

  // The stored host name; when none is stored, LookupHostName runs first. nullptr when no
  // name could be had. The pointer stays valid until the name changes.
  const char* GetHostName();
  // The stored dotted text; when none is stored, MakeAddressString runs first.
  const char* GetAddressString();
  // Stored texts only, without any lookup.
  const char* StoredHostName() const { return Text(host_name_); }
  const char* StoredAddressString() const { return Text(address_string_); }

  // Sets the IP address from a text: a dotted address, "255.255.255.255", or a host name
  // (its first IPv4 address). 1 on success; -1 (code 1) for an unknown name or a null text,
  // with the IP address unchanged.
  int Resolve(const char* text);
  // Replaces the dotted text by the dotted form of the IP address. 1, or -1.
  int MakeAddressString();
  // Replaces the host name by the reverse lookup of the IP address, or by its dotted text
  // when the lookup finds none. 1, or -1.
  int LookupHostName();

  // Fills a socket address by type: 1 IPv4 (resolving a stored host name, then a stored
  // dotted text, when the IP address is 0), 2 IPX. 0 on success, -1 (code 1) when there is
  // no destination or the type has no socket address.
  int ToSockAddr(sockaddr_storage& out, socklen_t& length);

  // Takes the identity of a datagram's sender: type, address, port (and node), forgetting
  // the host name and dotted text of whoever was stored before.
  void SetSender(int type, uint32_t ip, uint16_t port, const uint8_t* node = nullptr);

 private:
  static const char* Text(const std::optional<std::string>& t) { return t ? t->c_str() : nullptr; }
  // The name GetHostName would give, without storing anything.
  std::optional<std::string> DescribeHostName() const;
  void CopyFrom(const KT_Address& other);

  int32_t type_ = 0;
  std::optional<std::string> host_name_;
  std::optional<std::string> address_string_;
  uint32_t ip_ = 0;
  uint16_t port_ = 0;
  uint8_t node_[kIpxNodeLength] = {};
  std::optional<std::string> read_community_;
  std::optional<std::string> write_community_;
};

// The local address of a UDP channel.
class KT_IP_Address : public KT_Address {
 public:
  KT_IP_Address();
};

// The local address of an IPX channel.
class KT_IPX_Address : public KT_Address {
 public:
  KT_IPX_Address() : KT_Address(ADDRESS_IPX) {}
};

// Function codes of the address's error records.
enum KT_AddressFunction : int32_t {
  ADDRESS_FN_TEXT = 1,
  ADDRESS_FN_MAKE_STRING = 2,
  ADDRESS_FN_LOOKUP = 3,
  ADDRESS_FN_SOCKADDR = 4,
};
