#include "core/scp/branch_table.h"

#include <new>

#include "platform/clock.h"

namespace {

// Function numbers of the table's error records (class 17).
enum : int32_t { FN_ADD = 1, FN_STATES = 2, FN_BRANCH_NUMBERS = 5 };

// Largest field number a key byte can name.
constexpr int kMaxFields = 255;

// Branch and field addressed by a key; false for a key length other than 1..3.
bool SplitKey(const uint8_t* key, int keyLength, int& branch, int& field) {
  if (key == nullptr || keyLength < 1 || keyLength > 3) return false;
  branch = keyLength >= 2 ? key[1] : 0;
  field = keyLength == 3 ? key[2] : 0;
  return true;
}

}  // namespace

KT_BranchTable::Entry* KT_BranchTable::FindEntry(int branch) {
  for (auto& e : entries_) {
    if (e.branch == branch) return &e;
  }
  return nullptr;
}

const KT_BranchTable::Entry* KT_BranchTable::FindEntry(int branch) const {
  for (const auto& e : entries_) {
    if (e.branch == branch) return &e;
  }
  return nullptr;
}

int KT_BranchTable::AddBranch(int branch, int fieldCount) {
  if (fieldCount < 0 || fieldCount > kMaxFields) {
    LogError(ERR_BRANCH_TABLE, FN_ADD, 5, fieldCount);
    return -1;
  }
  if (FindEntry(branch) != nullptr) return 0;
  try {
    Entry e;
    e.branch = branch;
    e.states.assign(static_cast<size_t>(fieldCount) + 1, FIELD_UNCHANGED);
    e.states[0] = FIELD_INITIAL;
    entries_.push_back(std::move(e));
  } catch (const std::bad_alloc&) {
    LogError(ERR_BRANCH_TABLE, FN_ADD, 1, GetSocketError());
    return -1;
  }
  return 1;
}

bool KT_BranchTable::IsAddressValid(const uint8_t* key, int keyLength) const {
  int branch = 0;
  int field = 0;
  if (!SplitKey(key, keyLength, branch, field)) return false;
  const Entry* e = FindEntry(branch);
  if (e == nullptr || static_cast<size_t>(field) >= e->states.size()) return false;
  return e->states[field] != FIELD_NOT_AVAILABLE;
}

int KT_BranchTable::IsChanged(const uint8_t* key, int keyLength) const {
  int branch = 0;
  int field = 0;
  if (!SplitKey(key, keyLength, branch, field)) return 0;
  const Entry* e = FindEntry(branch);
  if (e == nullptr || static_cast<size_t>(field) >= e->states.size()) return 0;
  if (field != 0) return e->states[field] == FIELD_CHANGED ? 1 : 0;
  for (uint8_t s : e->states) {
    if (s != FIELD_CHANGED) return 0;
  }
  return 1;
}

int64_t KT_BranchTable::GetTime(int branch) const {
  const Entry* e = FindEntry(branch);
  return e != nullptr ? e->lastUpdate : 0;
}

void KT_BranchTable::Touch(int branch) {
  if (Entry* e = FindEntry(branch)) e->lastUpdate = platform::Now();
}

void KT_BranchTable::ClearTime(int branch) {
  if (Entry* e = FindEntry(branch)) e->lastUpdate = 0;
}

int KT_BranchTable::SetFieldState(int branch, int field, uint8_t state) {
  Entry* e = FindEntry(branch);
  if (e == nullptr || field < 0 || static_cast<size_t>(field) >= e->states.size()) return 0;
  if (field == 0) {
    for (auto& s : e->states) s = state;
  } else {
    e->states[field] = state;
  }
  return 1;
}

int KT_BranchTable::GetFieldState(int branch, int field) const {
  const Entry* e = FindEntry(branch);
  if (e == nullptr || field < 0 || static_cast<size_t>(field) >= e->states.size()) return -1;
  return e->states[field];
}

int KT_BranchTable::GetFieldCount(int branch) const {
  const Entry* e = FindEntry(branch);
  return e != nullptr ? static_cast<int>(e->states.size()) : -1;
}

void KT_BranchTable::SetReceived(int branch, int value) {
  if (Entry* e = FindEntry(branch)) {
    e->received = value;
    e->receivedTime = platform::Now();
  }
}

int64_t KT_BranchTable::GetReceived(int branch, int& value) const {
  const Entry* e = FindEntry(branch);
  if (e == nullptr) return 0;
  value = e->received;
  return e->receivedTime;
}

int KT_BranchTable::GetBranchNumbers(std::vector<uint8_t>& out) {
  try {
    out.clear();
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(static_cast<uint8_t>(e.branch));
  } catch (const std::bad_alloc&) {
    LogError(ERR_BRANCH_TABLE, FN_BRANCH_NUMBERS, 1, GetSocketError());
    return -1;
  }
  return 1;
}

int KT_BranchTable::GetStates(int branch, std::vector<uint8_t>& out) {
  const Entry* e = FindEntry(branch);
  if (e == nullptr) {
    LogError(ERR_BRANCH_TABLE, FN_STATES, 1, 0);
    return -1;
  }
  try {
    out = e->states;
  } catch (const std::bad_alloc&) {
    LogError(ERR_BRANCH_TABLE, FN_STATES, 3, GetSocketError());
    return -1;
  }
  return 1;
}
