// The e-mail recipients of the notification: two slots, each the account the mail sender
// logs on with and the recipient's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/error_status.h"

class KT_MailRecipients : public KT_ErrorStatus {
 public:
  static constexpr int kSlots = 2;

  // Error record functions and codes (class 32).
  enum : int32_t {
    FN_GET_ACCOUNT = 1,  // 1 index out of range, 2 no memory
    FN_ADD = 2,          // 1 both slots used, 2 a text missing or empty, 3 a text too long
  };

  struct Entry {
    std::optional<std::string> account;
    std::optional<std::string> name;
  };

  KT_MailRecipients() = default;

  // Appends a recipient; both texts present and not empty. 0, or -1 with an error record.
  int Add(const char* account, const char* name);
  void Clear();
  int Count() const { return count_; }
  // Index (from 0) of the entry with that recipient name, -1 when none.
  int IndexOf(const std::string& name) const;
  // The account of the entry with that recipient name. 1, or 0 when there is none.
  int GetAccountFor(const std::string& name, std::optional<std::string>& account) const;
  // Entry i counted from 1: a copy of its recipient name or account; none when i is out of
  // range (GetAccount records (32, 1, 1)).
  std::optional<std::string> GetRecipient(int i) const;
  std::optional<std::string> GetAccount(int i);
  // Entry i counted from 0. 1, or -1 when i is out of range.
  int GetAt(int i, std::optional<std::string>& account, std::optional<std::string>& name) const;
  void ResetCursor() { cursor_ = 0; }
  // The entry at the cursor, and the cursor moves on: 1; at the end the cursor goes back to
  // 0 and the result is -1.
  int GetNext(std::optional<std::string>& account, std::optional<std::string>& name);
  // Names of the entries whose bit (entry index) is set in the mask, joined by ", ".
  std::string GetNames(uint32_t mask) const;

  // Replaces the whole list (record decoding); count 0..2.
  void Replace(const Entry* entries, int count);

 private:
  Entry slots_[kSlots];
  uint8_t count_ = 0;
  int cursor_ = 0;
};
