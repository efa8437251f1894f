#include "core/network/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netipx/ipx.h>

#include <cstring>
#include <new>

#include "core/base/ktdiag.h"
#include "platform/name_resolver.h"

namespace {

// Fills the record without appending it to error.dat (the resolver and conversion failures).
void Note(KT_ErrorStatus& status, int32_t function, int32_t code, int32_t sysError = 0) {
  status.errorClass = ERR_ADDRESS;
  status.function = function;
  status.code = code;
  status.systemError = sysError;
}

std::string Dotted(uint32_t ip) {
  in_addr a{};
  a.s_addr = ip;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &a, text, sizeof text) == nullptr) return {};
  return text;
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

KT_Address::KT_Address(const KT_Address& other) : KT_ErrorStatus() {
  CopyFrom(other);
}

KT_Address& KT_Address::operator=(const KT_Address& other) {
  if (this != &other) {
    Clear();
    CopyFrom(other);
  }
  return *this;
}

void KT_Address::CopyFrom(const KT_Address& other) {
  type_ = other.type_;
  port_ = other.port_;
  ip_ = other.ip_;
  host_name_ = other.DescribeHostName();
  read_community_ = other.read_community_;
  write_community_ = other.write_community_;
}

std::optional<std::string> KT_Address::DescribeHostName() const {
  if (host_name_) return host_name_;
  // An address of 0 names no host: there is nothing to look up.
  if (ip_ == 0) return std::nullopt;
  std::string name;
  if (platform::GetNameResolver().NameOf(ip_, name)) return name;
  std::string dotted = Dotted(ip_);
  if (dotted.empty()) return std::nullopt;
  return dotted;
}

int KT_Address::Clear() {
  host_name_.reset();
  address_string_.reset();
  read_community_.reset();
  write_community_.reset();
  type_ = 0;
  ip_ = 0;
  port_ = 0;
  std::memset(node_, 0, sizeof node_);
  return 0;
}

void KT_Address::GetNode(uint8_t node[kIpxNodeLength]) const {
  if (node != nullptr) std::memcpy(node, node_, sizeof node_);
}

void KT_Address::SetNode(const uint8_t node[kIpxNodeLength]) {
  if (node != nullptr) std::memcpy(node_, node, sizeof node_);
}

void KT_Address::SetReadCommunity(const char* text) {
  if (text == nullptr) {
    read_community_.reset();
  } else {
    read_community_ = std::string(text);
  }
}

void KT_Address::SetWriteCommunity(const char* text) {
  if (text == nullptr) {
    write_community_.reset();
  } else {
    write_community_ = std::string(text);
  }
}

int KT_Address::SetHostName(const char* text) {
  if (text == nullptr) return 0;
  try {
    host_name_ = std::string(text);
  } catch (const std::bad_alloc&) {
    LogError(ERR_ADDRESS, ADDRESS_FN_TEXT, 1, 0);
    return -1;
  }
  return 1;
}

int KT_Address::SetAddressString(const char* text) {
  if (text == nullptr) return 0;
  try {
    address_string_ = std::string(text);
  } catch (const std::bad_alloc&) {
    LogError(ERR_ADDRESS, ADDRESS_FN_TEXT, 1, 0);
    return -1;
  }
  return 1;
}

const char* KT_Address::GetHostName() {
  if (!host_name_) LookupHostName();
  return Text(host_name_);
}

const char* KT_Address::GetAddressString() {
  if (!address_string_) MakeAddressString();
  return Text(address_string_);
}

int KT_Address::Resolve(const char* text) {
  if (text == nullptr) {
    Note(*this, ADDRESS_FN_TEXT, 1);
    return -1;
  }
  // inet_aton takes every form the socket layer's address parser does ("10.1", "0x7f.1", ...)
  // and, unlike it, also "255.255.255.255", which is the broadcast address.
  in_addr a{};
  if (::inet_aton(text, &a) != 0) {
    ip_ = a.s_addr;
    return 1;
  }
  uint32_t found = 0;
  if (!platform::GetNameResolver().AddressOf(text, found)) {
    Note(*this, ADDRESS_FN_TEXT, 1);
    return -1;
  }
  ip_ = found;
  return 1;
}

int KT_Address::MakeAddressString() {
  address_string_.reset();
  std::string dotted = Dotted(ip_);
  if (dotted.empty()) {
    LogError(ERR_ADDRESS, ADDRESS_FN_MAKE_STRING, 2, 0);
    return -1;
  }
  try {
    address_string_ = std::move(dotted);
  } catch (const std::bad_alloc&) {
    LogError(ERR_ADDRESS, ADDRESS_FN_MAKE_STRING, 1, 0);
    return -1;
  }
  return 1;
}

int KT_Address::LookupHostName() {
  host_name_.reset();
  std::string name;
  if (platform::GetNameResolver().NameOf(ip_, name)) {
    try {
      host_name_ = std::move(name);
    } catch (const std::bad_alloc&) {
      LogError(ERR_ADDRESS, ADDRESS_FN_LOOKUP, 3, 0);
      return -1;
    }
    return 1;
  }
  if (MakeAddressString() < 0 || !address_string_) {
    LogError(ERR_ADDRESS, ADDRESS_FN_LOOKUP, 1, 0);
    return -1;
  }
  try {
    host_name_ = *address_string_;
  } catch (const std::bad_alloc&) {
    LogError(ERR_ADDRESS, ADDRESS_FN_LOOKUP, 2, 0);
    return -1;
  }
  return 1;
}

int KT_Address::ToSockAddr(sockaddr_storage& out, socklen_t& length) {
  std::memset(&out, 0, sizeof out);
  length = 0;
  switch (GetType()) {
    case ADDRESS_IP: {
      if (ip_ == 0 && host_name_) Resolve(host_name_->c_str());
      if (ip_ == 0 && address_string_) Resolve(address_string_->c_str());
      if (ip_ == 0) {
        Note(*this, ADDRESS_FN_SOCKADDR, 1);
        return -1;
      }
      sockaddr_in sin{};
      sin.sin_family = AF_INET;
      sin.sin_port = port_;
      sin.sin_addr.s_addr = ip_;
      std::memcpy(&out, &sin, sizeof sin);
      length = sizeof sin;
      return 0;
    }
    case ADDRESS_IPX: {
      // Network 0 is the local network, so an IPX address is complete once it names a node.
      // IPX names are SAP server names: there is nothing to look them up in.
      if (ip_ == 0 && AllZero(node_, sizeof node_)) {
        Note(*this, ADDRESS_FN_SOCKADDR, 1);
        return -1;
      }
      sockaddr_ipx sipx{};
      sipx.sipx_family = AF_IPX;
      sipx.sipx_network = ip_;
      std::memcpy(sipx.sipx_node, node_, sizeof node_);
      sipx.sipx_port = port_;
      std::memcpy(&out, &sipx, sizeof sipx);
      length = sizeof sipx;
      return 0;
    }
    default:
      Note(*this, ADDRESS_FN_SOCKADDR, 1);
      return -1;
  }
}

void KT_Address::SetSender(int type, uint32_t ip, uint16_t port, const uint8_t* node) {
  host_name_.reset();
  address_string_.reset();
  type_ = type;
  ip_ = ip;
  port_ = port;
  if (node != nullptr) {
    std::memcpy(node_, node, sizeof node_);
  } else {
    std::memset(node_, 0, sizeof node_);
  }
}

KT_IP_Address::KT_IP_Address() : KT_Address(ADDRESS_IP) {
  Diag() << "KT_IP_Address::KT_IP_Address()\n";
}
