#include "core/scp/request_queue.h"

int KT_RequestQueue::FindLocked(int type, int branch) const {
  if (type == 0) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (slots_[i].type == type && slots_[i].branch == branch) return i;
  }
  return -1;
}

int KT_RequestQueue::Post(int type, int hold, int set, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (type == 0) return 0;  // 0 marks a free slot; there is no block 0 to work on
  const int existing = FindLocked(type, branch);
  if (existing >= 0) {
    if (set == 1) {
      slots_[existing].set = 1;
      if (slots_[existing].taken == 1) slots_[existing].again = 1;
    }
    return 0;
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots_[i].type == 0) {
      slots_[i] = SystemRequest{type, 0, hold, set, branch};
      ++count_;
      return 1;
    }
  }
  LogError(ERR_REQUEST_QUEUE, 1, 1, 0);
  return -1;
}

int KT_RequestQueue::Find(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindLocked(type, branch);
}

int KT_RequestQueue::Remove(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(type, branch);
  if (i < 0 || slots_[i].hold == 1) return 0;
  if (slots_[i].again == 1) {
    slots_[i].again = 0;
    slots_[i].taken = 0;
    slots_[i].attempts = 0;
    return 0;
  }
  slots_[i] = SystemRequest{};
  --count_;
  return 1;
}

int KT_RequestQueue::Delete(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(type, branch);
  if (i < 0) return 0;
  slots_[i] = SystemRequest{};
  --count_;
  return 1;
}

int KT_RequestQueue::Withdraw(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(type, branch);
  if (i < 0 || slots_[i].taken == 1) return 0;
  slots_[i] = SystemRequest{};
  --count_;
  return 1;
}

void KT_RequestQueue::ResetCursor() {
  std::lock_guard<std::mutex> lock(mutex_);
  cursor_ = 0;
  for (auto& s : slots_) s.taken = 0;
}

int KT_RequestQueue::GetNext(int& set, int& branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The worker is done with the entry it got before.
  for (auto& s : slots_) s.taken = 0;
  for (int i = cursor_; i < kSlots; ++i) {
    if (slots_[i].type != 0) {
      set = slots_[i].set;
      branch = slots_[i].branch;
      cursor_ = i + 1;
      slots_[i].taken = 1;
      return slots_[i].type;
    }
  }
  cursor_ = 0;
  return 0;
}

int KT_RequestQueue::CountPass(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(type, branch);
  if (i < 0) return 0;
  ++slots_[i].attempts;
  return 1;
}

int KT_RequestQueue::GetAttempts(int type, int branch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(type, branch);
  return i < 0 ? 0 : slots_[i].attempts;
}

int KT_RequestQueue::GetCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void KT_RequestQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& s : slots_) s = SystemRequest{};
  count_ = 0;
  cursor_ = 0;
}

std::vector<SystemRequest> KT_RequestQueue::Entries() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<SystemRequest> out;
  for (const auto& s : slots_) {
    if (s.type != 0) out.push_back(s);
  }
  return out;
}
