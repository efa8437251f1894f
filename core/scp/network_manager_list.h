// The SNMP trap receivers of the notification: up to eight network managers, each with the
// community its traps carry. Every receiver holds one of eight slots (its number); new
// receivers go to the front of the list.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "core/base/error_status.h"

class NetworkManagerEntry : public KT_ErrorStatus {
 public:
  NetworkManagerEntry() = default;
  NetworkManagerEntry(int slot, std::string host, std::string community)
      : number(slot), hostName(std::move(host)), community(std::move(community)) {}

  // Equal when host name and community are equal.
  bool operator==(const NetworkManagerEntry& other) const {
    return hostName == other.hostName && community == other.community;
  }

  int number = 0;  // slot 0..7
  std::string hostName;
  std::string community;
};

class KT_NetworkManagerList : public KT_ErrorStatus {
 public:
  static constexpr int kSlots = 8;

  KT_NetworkManagerList() = default;

  // Takes the first free slot and puts the receiver at the front of the list: 0. -1 when no
  // slot is free, an equal receiver is listed or a text is over 254 characters.
  int Add(const std::string& host, const std::string& community);
  // Removes the equal receiver and frees its slot: 0, else -1.
  int Remove(const std::string& host, const std::string& community);
  // The receiver holding that slot: 1, or -1 when the slot is free or none holds it.
  int GetBySlot(int slot, NetworkManagerEntry& out) const;
  // Replaces the texts of the receiver holding that slot: 0, or -1 as above.
  int Update(int slot, const std::string& host, const std::string& community);
  void ResetCursor() { cursor_ = 0; }
  // The receiver at the cursor in list order, and the cursor moves on: 1; -1 at the end
  // (the cursor goes back to the start).
  int GetNext(NetworkManagerEntry& out);
  int Count() const { return static_cast<int>(entries_.size()); }
  // Deletes every receiver and frees every slot.
  void Clear();
  // For each set bit i (0..7) the host name of the receiver in slot i, followed by ", "
  // (free slots name nobody).
  std::string GetNames(uint32_t mask) const;
  bool IsSlotUsed(int slot) const { return slot >= 0 && slot < kSlots && used_[slot]; }

  const std::list<NetworkManagerEntry>& Entries() const { return entries_; }

 private:
  bool used_[kSlots] = {};
  std::list<NetworkManagerEntry> entries_;
  size_t cursor_ = 0;
};
