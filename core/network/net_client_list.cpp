#include "core/network/net_client_list.h"

#include <cstring>

bool KT_NetClientList::Add(const KT_Address& address, const char* password, uint8_t warnDelay, uint8_t shutDelay,
                           uint8_t timeShutDelay) {
  if (FindByAddress(address) != nullptr || Count() >= kMaxClients) return false;
  KT_NetClient& c = clients_.emplace_back();
  KT_NetClient::CopyAddress(c.address, address);
  if (password != nullptr) c.password = std::string(password);
  c.warn_delay = warnDelay;
  c.shut_delay = shutDelay;
  c.time_shut_delay = timeShutDelay;
  return true;
}

bool KT_NetClientList::Add(const KT_NetClient& client) {
  if (FindByAddress(client.address) != nullptr || Count() >= kMaxClients) return false;
  clients_.push_back(client);
  return true;
}

int KT_NetClientList::Remove(const KT_Address& address) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->SameAddress(address)) {
      clients_.erase(it);
      Reset();
      return 1;
    }
  }
  return 0;
}

KT_NetClient* KT_NetClientList::FindByName(const std::string& name) {
  for (KT_NetClient& c : clients_) {
    const char* host = c.address.GetHostName();
    if (host != nullptr && name == host) return &c;
  }
  return nullptr;
}

KT_NetClient* KT_NetClientList::FindByAddress(const KT_Address& address) {
  for (KT_NetClient& c : clients_) {
    if (c.SameAddress(address)) return &c;
  }
  return nullptr;
}

KT_NetClient* KT_NetClientList::GetNext() {
  if (cursor_ == clients_.end()) return nullptr;
  KT_NetClient* c = &*cursor_;
  ++cursor_;
  return c;
}

void KT_NetClientList::Clear() {
  clients_.clear();
  Reset();
}

void KT_NetClientList::Swap(KT_NetClientList& other) {
  clients_.swap(other.clients_);
  Reset();
  other.Reset();
}
