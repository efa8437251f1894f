#include "core/scp/scp_queue.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// The type byte of a frame: marker, two length bytes, then the type.
constexpr size_t kFrameTypeOffset = 3;

int TypeOf(const std::vector<uint8_t>& frame) {
  return frame.size() > kFrameTypeOffset ? frame[kFrameTypeOffset] : 0;
}

// Function numbers of the table's error records (class 26).
enum : int32_t { FN_ADD = 1, FN_REMOVE = 2, FN_REMOVE_HOST = 3 };
// Failure codes of Add.
enum : int32_t { ADD_NO_SLOT = 1, ADD_NO_ENTRY_MEMORY = 2, ADD_NO_FRAME_MEMORY = 3, ADD_NO_KEY_MEMORY = 4, ADD_BAD_ARGS = 5 };

}  // namespace

KT_ScpQueue::KT_ScpQueue(int capacity) { slots_.resize(static_cast<size_t>(std::max(capacity, 0))); }

void KT_ScpQueue::Resize(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_.resize(static_cast<size_t>(std::max(n, 0)));
  used_ = 0;
  for (const auto& s : slots_) {
    if (s) ++used_;
  }
  const int last = static_cast<int>(slots_.size()) - 1;
  if (cursor_ > last) cursor_ = std::max(last, 0);
}

int KT_ScpQueue::FindLocked(const uint8_t* key, int keyLength, int host) const {
  if (keyLength < 0 || (keyLength > 0 && key == nullptr)) return -1;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot* s = slots_[i].get();
    if (s == nullptr || s->entry.host != host || s->entry.KeyLength() != keyLength) continue;
    if (keyLength == 0 || std::memcmp(s->entry.key.data(), key, static_cast<size_t>(keyLength)) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void KT_ScpQueue::Promote(Slot& slot) {
  if (!slot.hasPending) return;
  slot.entry.frame = std::move(slot.pending);
  slot.pending = {};
  slot.hasPending = false;
  slot.entry.sent = 0;
}

int KT_ScpQueue::Add(const uint8_t* frame, int frameLength, int reserved, int keyLength, const uint8_t* key,
                     int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frameLength < 0 || keyLength < 0 || (frameLength > 0 && frame == nullptr) || (keyLength > 0 && key == nullptr)) {
    LogError(ERR_SCP_QUEUE, FN_ADD, ADD_BAD_ARGS, 0);
    return -1;
  }
  const int existing = FindLocked(key, keyLength, host);
  if (existing >= 0) {
    // The entry already holds a frame for this key and host: the newer one must not be lost.
    Slot& s = *slots_[existing];
    const bool same = s.entry.FrameLength() == frameLength &&
                      (frameLength == 0 || std::memcmp(s.entry.frame.data(), frame, frameLength) == 0);
    try {
      if (s.entry.sent == 0) {
        if (!same) s.entry.frame.assign(frame, frame + frameLength);
      } else if (same && !s.hasPending) {
        s.entry.sent = 0;  // ask again with the same bytes
      } else {
        s.pending.assign(frame, frame + frameLength);
        s.hasPending = true;
      }
    } catch (const std::bad_alloc&) {
      LogError(ERR_SCP_QUEUE, FN_ADD, ADD_NO_FRAME_MEMORY, GetSocketError());
      return -1;
    }
    s.entry.reserved = reserved;
    return 0;
  }
  if (used_ >= static_cast<int>(slots_.size())) {
    used_ = static_cast<int>(slots_.size());
    return -1;
  }
  auto free_slot = std::find_if(slots_.begin(), slots_.end(), [](const auto& s) { return s == nullptr; });
  if (free_slot == slots_.end()) {
    LogError(ERR_SCP_QUEUE, FN_ADD, ADD_NO_SLOT, 0);
    return -1;
  }
  std::unique_ptr<Slot> slot;
  try {
    slot = std::make_unique<Slot>();
  } catch (const std::bad_alloc&) {
    LogError(ERR_SCP_QUEUE, FN_ADD, ADD_NO_ENTRY_MEMORY, GetSocketError());
    return -1;
  }
  try {
    slot->entry.frame.assign(frame, frame + frameLength);
  } catch (const std::bad_alloc&) {
    LogError(ERR_SCP_QUEUE, FN_ADD, ADD_NO_FRAME_MEMORY, GetSocketError());
    return -1;
  }
  try {
    slot->entry.key.assign(key, key + keyLength);
  } catch (const std::bad_alloc&) {
    LogError(ERR_SCP_QUEUE, FN_ADD, ADD_NO_KEY_MEMORY, GetSocketError());
    return -1;
  }
  slot->entry.reserved = reserved;
  slot->entry.host = host;
  slot->entry.sent = 0;
  *free_slot = std::move(slot);
  ++used_;
  return 0;
}

int KT_ScpQueue::Remove(const uint8_t* key, int keyLength, int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ <= 0) {
    used_ = 0;
    LogError(ERR_SCP_QUEUE, FN_REMOVE, 1, 0);
    return -1;
  }
  const int i = FindLocked(key, keyLength, host);
  if (i < 0) return 0;
  if (slots_[i]->hasPending) {
    Promote(*slots_[i]);  // the answered frame goes; the newer one is sent next
    return 1;
  }
  slots_[i].reset();
  --used_;
  return 1;
}

int KT_ScpQueue::RemoveHost(int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ <= 0) {
    used_ = 0;
    LogError(ERR_SCP_QUEUE, FN_REMOVE_HOST, 1, 0);
    return -1;
  }
  for (auto& s : slots_) {
    if (s && s->entry.host == host) {
      s.reset();
      --used_;
    }
  }
  return 1;
}

int KT_ScpQueue::Find(const uint8_t* key, int keyLength, int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindLocked(key, keyLength, host);
}

int KT_ScpQueue::FrameType(const uint8_t* key, int keyLength, int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = FindLocked(key, keyLength, host);
  return i < 0 ? 0 : TypeOf(slots_[i]->entry.frame);
}

std::vector<std::vector<uint8_t>> KT_ScpQueue::KeysOfType(int type) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::vector<uint8_t>> keys;
  for (const auto& s : slots_) {
    if (s && (TypeOf(s->entry.frame) == type || (s->hasPending && TypeOf(s->pending) == type))) {
      keys.push_back(s->entry.key);
    }
  }
  return keys;
}

int KT_ScpQueue::Next(ScpQueueEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int capacity = static_cast<int>(slots_.size());
  const int start = cursor_;
  for (int i = start; i < capacity; ++i) {
    const Slot* s = slots_[i].get();
    if (s == nullptr || s->entry.sent != 0) continue;
    try {
      entry = s->entry;
    } catch (const std::bad_alloc&) {
      return -1;
    }
    cursor_ = start + 1 >= capacity ? 0 : start + 1;
    return i;
  }
  cursor_ = 0;
  return -1;
}

int KT_ScpQueue::MarkSent(int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= slots_.size() || !slots_[index]) return 0;
  slots_[index]->entry.sent = 1;
  return 1;
}

void KT_ScpQueue::ResetHost(int host) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& s : slots_) {
    if (!s || s->entry.host != host) continue;
    if (s->hasPending) {
      Promote(*s);  // the unanswered frame is superseded by the newer one
    } else {
      s->entry.sent = 0;
    }
  }
}

void KT_ScpQueue::ResetCursor() {
  std::lock_guard<std::mutex> lock(mutex_);
  cursor_ = 0;
}

void KT_ScpQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& s : slots_) s.reset();
  used_ = 0;
  cursor_ = 0;  // an emptied table sends from its first slot, as a new one
}

void KT_ScpQueue::Print(std::string& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  buffer = "  #=" + std::to_string(used_) + "\n";
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot* s = slots_[i].get();
    if (s == nullptr) continue;
    buffer += "  I=" + std::to_string(i) + " H=" + std::to_string(s->entry.host) + " P=" + std::to_string(cursor_) +
              " A=";
    for (uint8_t b : s->entry.key) buffer += std::to_string(b) + " ";
    buffer += "\n";
  }
  buffer += "\n";
}

int KT_ScpQueue::GetCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

int KT_ScpQueue::GetCapacity() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(slots_.size());
}
