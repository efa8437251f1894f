#include "dialogs/frame/hosts.h"

#include <cstring>
#include <new>

HostEntry::HostEntry() = default;

HostEntry::HostEntry(KT_Address& address) {
  UpdateFromAddress(address);
}

void HostEntry::UpdateFromAddress(KT_Address& address) {
  address_.SetIpAddress(address.GetIpAddress());
  address_.SetNode(address.Node());
  address_.SetType(address.GetType());
  address_.SetPort(address.GetPort());
  address_.SetHostName(address.GetHostName());
  address_.SetReadCommunity(address.GetReadCommunity());
  address_.SetWriteCommunity(address.GetWriteCommunity());
}

bool HostEntry::SameHost(const KT_Address& searched) const {
  if (address_.GetIpAddress() != searched.GetIpAddress()) return false;
  if (searched.GetType() != ADDRESS_IPX) return true;
  return address_.GetType() == ADDRESS_IPX &&
         std::memcmp(address_.Node(), searched.Node(), kIpxNodeLength) == 0;
}

KT_Hosts::KT_Hosts() = default;

KT_Hosts::~KT_Hosts() {
  RemoveAllHosts();
}

HostEntry* KT_Hosts::FindSameHost(const KT_Address& address) {
  for (auto& e : entries_) {
    if (e->SameHost(address)) return e.get();
  }
  return nullptr;
}

int KT_Hosts::AddHost(KT_Address& address) {
  if (FindSameHost(address) != nullptr) return 0;
  std::unique_ptr<HostEntry> entry(new (std::nothrow) HostEntry(address));
  if (!entry) return 0;  // nothing changes, the next index stays
  entry->SetHostIndex(next_index_);
  entries_.push_back(std::move(entry));
  ++next_index_;
  return 1;
}

int KT_Hosts::RemoveHost(const KT_Address& address) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if ((*it)->SameHost(address)) {
      entries_.erase(it);
      return 1;
    }
  }
  return 0;
}

int KT_Hosts::ProcessPacket(KT_Address& from, KT_ScpMessage& message) {
  HostEntry* entry = FindSameHost(from);
  if (entry == nullptr && AddHost(from) == 1) entry = entries_.back().get();
  if (entry == nullptr) {
    LogError(ERR_HOST_NOT_FOUND, kHostsProcessPacketFunction, 1, 0);
    return -1;
  }
  entry->TouchCommTime();
  std::vector<uint8_t> reply;  // a console never answers an agent
  const int result = entry->ExecuteCommand(message, reply);
  message.key.clear();
  message.data.clear();
  return result;
}

HostEntry* KT_Hosts::GetNextHost() {
  HostEntry* found = nullptr;
  if (cursor_ >= 0 && cursor_ < static_cast<int32_t>(entries_.size())) {
    auto it = entries_.begin();
    std::advance(it, cursor_);
    found = it->get();
  }
  // The cursor stops one past the end so that a finished walk keeps answering null.
  if (cursor_ <= static_cast<int32_t>(entries_.size())) ++cursor_;
  return found;
}

HostEntry* KT_Hosts::GetFirstHost() {
  return entries_.empty() ? nullptr : entries_.front().get();
}

HostEntry* KT_Hosts::GetHostByIndex(int hostIndex) {
  for (auto& e : entries_) {
    if (e->GetHostIndex() == hostIndex) return e.get();
  }
  return nullptr;
}

int KT_Hosts::FindHostByAddress(uint32_t ip) {
  for (auto& e : entries_) {
    if (e->Address().GetIpAddress() == ip) return e->GetHostIndex();
  }
  return -1;
}

int KT_Hosts::FindHostByName(const char* name) {
  if (name == nullptr) return -1;
  for (auto& e : entries_) {
    const char* own = e->Address().GetHostName();
    if (own != nullptr && std::strcmp(own, name) == 0) return e->GetHostIndex();
  }
  return -1;
}

void KT_Hosts::RemoveAllHosts() {
  entries_.clear();
}

void KT_Hosts::ClearHosts() {
  RemoveAllHosts();
  cursor_ = 0;
}

void KT_Hosts::ResetHosts() {
  RemoveAllHosts();
  cursor_ = 0;
  next_index_ = 1;
}
