#include "core/scp/action_entry.h"

#include <cstring>

#include "core/scp/record_writer.h"

namespace {

int StoreText(std::optional<std::string>& slot, const char* text) {
  if (text == nullptr) {
    slot.reset();
    return 0;
  }
  if (std::strlen(text) > kRecordMaxText) return -1;
  slot = std::string(text);
  return 1;
}

bool Fits(const std::optional<std::string>& t) { return !t || t->size() <= kRecordMaxText; }

}  // namespace

int KT_ActionEntry::CopyFrom(const KT_ActionEntry& other) {
  event = other.event;
  action = other.action;
  delay = other.delay;
  interval = other.interval;
  message = other.message;
  retries = other.retries;
  alias = other.alias;
  option = other.option;
  remoteHost = other.remoteHost;
  return 1;
}

int KT_ActionEntry::SetMessage(const char* text) { return StoreText(message, text); }

int KT_ActionEntry::SetRemoteHost(const char* text) { return StoreText(remoteHost, text); }

bool KT_ActionEntry::TextsFit() const { return Fits(message) && Fits(remoteHost); }
