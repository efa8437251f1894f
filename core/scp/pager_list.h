// The pager recipients of the notification: at most eight, in the order they were added.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/error_status.h"
#include "core/scp/pager_config.h"

class KT_PagerList : public KT_ErrorStatus {
 public:
  static constexpr int kMaxRecipients = 8;

  KT_PagerList() = default;

  // Appends a copy: 0; -1 when eight are held or an equal recipient is listed.
  int Add(const KT_PagerConfig& recipient);
  // Removes the first equal recipient: 0, else -1.
  int Remove(const KT_PagerConfig& recipient);
  // A copy of recipient i (from 0): 1, or -1 when i is out of range.
  int GetAt(int i, KT_PagerConfig& out) const;
  void ResetCursor() { cursor_ = 0; }
  // A copy of the recipient at the cursor, and the cursor moves on: 1; -1 at the end (the
  // cursor goes back to the start).
  int GetNext(KT_PagerConfig& out);
  int Count() const { return static_cast<int>(entries_.size()); }
  void Clear();
  // Names of the recipients whose bit (list position) is set, joined by ", ".
  std::string GetNames(uint32_t mask) const;

  const std::vector<KT_PagerConfig>& Entries() const { return entries_; }

 private:
  std::vector<KT_PagerConfig> entries_;
  size_t cursor_ = 0;
};
