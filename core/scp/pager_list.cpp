#include "core/scp/pager_list.h"

#include <algorithm>

int KT_PagerList::Add(const KT_PagerConfig& recipient) {
  if (entries_.size() >= static_cast<size_t>(kMaxRecipients)) return -1;
  if (std::find(entries_.begin(), entries_.end(), recipient) != entries_.end()) return -1;
  entries_.push_back(recipient);
  return 0;
}

int KT_PagerList::Remove(const KT_PagerConfig& recipient) {
  const auto it = std::find(entries_.begin(), entries_.end(), recipient);
  if (it == entries_.end()) return -1;
  entries_.erase(it);
  cursor_ = 0;
  return 0;
}

int KT_PagerList::GetAt(int i, KT_PagerConfig& out) const {
  if (i < 0 || static_cast<size_t>(i) >= entries_.size()) return -1;
  out = entries_[static_cast<size_t>(i)];
  return 1;
}

int KT_PagerList::GetNext(KT_PagerConfig& out) {
  if (cursor_ >= entries_.size()) {
    cursor_ = 0;
    return -1;
  }
  out = entries_[cursor_++];
  return 1;
}

void KT_PagerList::Clear() {
  entries_.clear();
  cursor_ = 0;
}

std::string KT_PagerList::GetNames(uint32_t mask) const {
  std::string out;
  for (size_t i = 0; i < entries_.size() && i < 32; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    if (!out.empty()) out += ", ";
    if (entries_[i].GetName()) out += *entries_[i].GetName();
  }
  return out;
}
