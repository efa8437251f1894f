// The agent's user password: one text of 1 to 8 characters, held by the configuration block
// and sent by a master agent with its network-shutdown commands. A new record holds the
// built-in default.
#pragma once

#include <optional>
#include <string>

#include "core/base/error_status.h"

class KT_Password : public KT_ErrorStatus {
 public:
  static constexpr const char* kDefaultPassword = "4Tulip";
  static constexpr size_t kMaxLength = 8;

  KT_Password();

  // 1..8 characters: stores a copy, 1. Else -1 with error (19, 2, 1 null / 2 empty / 3 too
  // long) and the stored password kept.
  int Set(const char* text);
  // When both are given and `oldText` equals the stored password exactly (case counts), stores
  // `newText` as Set does. Else -1 with error (19, 1, 1 missing argument / 2 no match).
  int Change(const char* newText, const char* oldText);
  // 1 when `text` equals the stored password exactly, else 0.
  int Check(const char* text) const;
  // A copy of the password; nothing when none is stored.
  std::optional<std::string> Get() const { return password_; }

 private:
  std::optional<std::string> password_;
};
