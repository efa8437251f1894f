#include "core/scp/network_manager_list.h"

#include <iterator>

#include "core/scp/record_writer.h"

namespace {

// Texts the record can count; a longer one would make the notification block unwritable.
bool Fits(const std::string& host, const std::string& community) {
  return host.size() <= kRecordMaxText && community.size() <= kRecordMaxText;
}

}  // namespace

int KT_NetworkManagerList::Add(const std::string& host, const std::string& community) {
  int slot = -1;
  for (int i = 0; i < kSlots; ++i) {
    if (!used_[i]) {
      slot = i;
      break;
    }
  }
  if (slot < 0 || !Fits(host, community)) return -1;
  const NetworkManagerEntry entry(slot, host, community);
  for (const auto& e : entries_) {
    if (e == entry) return -1;
  }
  entries_.push_front(entry);
  used_[slot] = true;
  return 0;
}

int KT_NetworkManagerList::Remove(const std::string& host, const std::string& community) {
  const NetworkManagerEntry probe(0, host, community);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (*it == probe) {
      if (it->number >= 0 && it->number < kSlots) used_[it->number] = false;
      entries_.erase(it);
      cursor_ = 0;
      return 0;
    }
  }
  return -1;
}

int KT_NetworkManagerList::GetBySlot(int slot, NetworkManagerEntry& out) const {
  if (!IsSlotUsed(slot)) return -1;
  for (const auto& e : entries_) {
    if (e.number == slot) {
      out = e;
      return 1;
    }
  }
  return -1;
}

int KT_NetworkManagerList::Update(int slot, const std::string& host, const std::string& community) {
  if (!IsSlotUsed(slot) || !Fits(host, community)) return -1;
  for (auto& e : entries_) {
    if (e.number == slot) {
      e.hostName = host;
      e.community = community;
      return 0;
    }
  }
  return -1;
}

int KT_NetworkManagerList::GetNext(NetworkManagerEntry& out) {
  if (cursor_ >= entries_.size()) {
    cursor_ = 0;
    return -1;
  }
  out = *std::next(entries_.begin(), static_cast<std::ptrdiff_t>(cursor_));
  ++cursor_;
  return 1;
}

void KT_NetworkManagerList::Clear() {
  entries_.clear();
  for (bool& u : used_) u = false;
  cursor_ = 0;
}

std::string KT_NetworkManagerList::GetNames(uint32_t mask) const {
  // Bit i is the receiver in slot i, the one the agent traps for that bit; the list order
  // (newest first) says nothing about slots.
  std::string out;
  for (int slot = 0; slot < kSlots; ++slot) {
    if ((mask & (1u << slot)) == 0) continue;
    NetworkManagerEntry entry;
    if (GetBySlot(slot, entry) < 0) continue;
    out += entry.hostName;
    out += ", ";
  }
  return out;
}
