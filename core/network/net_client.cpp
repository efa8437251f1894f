#include "core/network/net_client.h"

#include <cstring>

KT_NetClient::KT_NetClient(const KT_NetClient& other) : KT_ErrorStatus() { *this = other; }

KT_NetClient& KT_NetClient::operator=(const KT_NetClient& other) {
  if (this == &other) return *this;
  CopyAddress(address, other.address);
  password = other.password;
  warn_delay = other.warn_delay;
  shut_delay = other.shut_delay;
  time_shut_delay = other.time_shut_delay;
  lastUF = other.lastUF;
  lastLB = other.lastLB;
  lastSS = other.lastSS;
  lastUR = other.lastUR;
  restoreOwed = other.restoreOwed;
  lowBatterySends = other.lowBatterySends;
  lastLBTick = other.lastLBTick;
  failedCommand = other.failedCommand;
  return *this;
}

void KT_NetClient::CopyAddress(KT_Address& to, const KT_Address& from) {
  to.Clear();
  to.SetType(from.GetType());
  to.SetIpAddress(from.GetIpAddress());
  to.SetPort(from.GetPort());
  to.SetNode(from.Node());
  to.SetHostName(from.StoredHostName());
  to.SetAddressString(from.StoredAddressString());
  to.SetReadCommunity(from.GetReadCommunity());
  to.SetWriteCommunity(from.GetWriteCommunity());
}

bool KT_NetClient::SameAddress(const KT_Address& other) const {
  if (address.GetType() != other.GetType() || address.GetIpAddress() != other.GetIpAddress()) return false;
  if (address.GetType() == ADDRESS_IPX) return std::memcmp(address.Node(), other.Node(), kIpxNodeLength) == 0;
  return true;
}
