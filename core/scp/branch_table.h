// The registered branches of one SCP block: for each branch its last-update time (freshness),
// one state byte per field, and the value and time of the last status answer received for it.
//
// State bytes: byte 0 for the branch as a whole, byte i for field i.
#pragma once

#include <cstdint>
#include <vector>

#include "core/base/error_status.h"

enum FieldState : uint8_t {
  FIELD_UNCHANGED = 0,
  FIELD_NOT_AVAILABLE = 1,  // an address that names it is refused
  FIELD_INITIAL = 2,        // byte 0 right after AddBranch
  FIELD_CHANGED = 3,        // set by every setter; the status push sends what is changed
};

class KT_BranchTable : public KT_ErrorStatus {
 public:
  struct Entry {
    int64_t lastUpdate = 0;       // seconds since 1970; 0 = never filled
    std::vector<uint8_t> states;  // n + 1 bytes
    int branch = 0;
    int received = 0;             // first data byte of the last status message
    int64_t receivedTime = 0;
  };

  // Appends a branch with n fields (n + 1 state bytes, byte 0 = 2, the others 0). 1 when
  // added, 0 when the branch exists, -1 on failure (error record, function 1).
  int AddBranch(int branch, int fieldCount);

  // Key length 1: branch 0 field 0; 2: branch key[1] field 0; 3: branch key[1] field key[2].
  // True when the branch exists, the field is one of its fields, and its state is not 1.
  bool IsAddressValid(const uint8_t* key, int keyLength) const;
  // A field: its state is 3; field 0: every state byte of the branch is 3. 0 when unknown.
  int IsChanged(const uint8_t* key, int keyLength) const;

  int64_t GetTime(int branch) const;  // 0 when unknown or never filled
  void Touch(int branch);             // last-update time = now
  void ClearTime(int branch);
  // Field 0 sets every state byte of the branch. 1 when done, 0 when branch or field unknown.
  int SetFieldState(int branch, int field, uint8_t state);
  int GetFieldState(int branch, int field) const;  // -1 when unknown
  int GetFieldCount(int branch) const;             // n + 1, or -1 when unknown
  int GetCount() const { return static_cast<int>(entries_.size()); }
  void SetReceived(int branch, int value);         // value and time = now
  int64_t GetReceived(int branch, int& value) const;  // the received time, 0 when unknown
  // One byte per entry, in registration order. 1, or -1 on failure (function 5).
  int GetBranchNumbers(std::vector<uint8_t>& out);
  // A copy of the branch's n + 1 state bytes. 1, or -1 (function 2: 1 unknown, 3 no memory).
  int GetStates(int branch, std::vector<uint8_t>& out);

  // Entries in registration order.
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  Entry* FindEntry(int branch);
  const Entry* FindEntry(int branch) const;

  std::vector<Entry> entries_;
};
