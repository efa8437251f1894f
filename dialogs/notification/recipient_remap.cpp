#include "dialogs/notification/recipient_remap.h"

#include <cstdint>

bool MoveRecipientBits(NotifyBlock& block, int action, const std::vector<int>& newSlot) {
  bool changed = false;
  std::vector<KT_ActionEntry> records;
  for (const KT_ActionEntry& a : block.Actions()) {
    if (a.action == action) records.push_back(a);
  }
  for (const KT_ActionEntry& a : records) {
    uint8_t moved = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if ((a.alias & (1u << bit)) == 0) continue;
      const int to = bit < static_cast<int>(newSlot.size()) ? newSlot[bit] : -1;
      if (to >= 0 && to < 8) moved |= static_cast<uint8_t>(1u << to);
    }
    if (moved != a.alias) {
      block.SetActionAlias(a.event, a.action, moved);
      changed = true;
    }
  }
  return changed;
}

std::vector<int> TrapSlotMap(const KT_NetworkManagerList& before, const KT_NetworkManagerList& after) {
  // A slot no receiver held keeps its bit: it named nobody and still does.
  std::vector<int> map(KT_NetworkManagerList::kSlots, -1);
  for (int slot = 0; slot < KT_NetworkManagerList::kSlots; ++slot) {
    if (!before.IsSlotUsed(slot)) map[slot] = slot;
  }
  for (const NetworkManagerEntry& old : before.Entries()) {
    if (old.number < 0 || old.number >= KT_NetworkManagerList::kSlots) continue;
    for (const NetworkManagerEntry& now : after.Entries()) {
      if (now == old) map[old.number] = now.number;
    }
  }
  return map;
}
