// One configured action of the event notification: what to do (ActionId) when an event
// (EventId) occurs, after which delay, how often, with which text and for which recipients.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/error_status.h"

// Actions the agent can take on an event.
enum ActionId : uint8_t {
  ACTION_SNMP_TRAP = 1,
  ACTION_USER_WARNING = 2,
  ACTION_CONSOLE_WARNING = 3,
  ACTION_AUDIO = 4,
  ACTION_PAGE = 5,
  ACTION_MAIL = 6,
  ACTION_COMMAND = 7,
  ACTION_EVENT_LOG = 8,
  ACTION_NETFINITY_ALERT = 9,
  ACTION_INSIGHT_TRAP = 10,
  ACTION_APPLICATION_LOG = 11,
  ACTION_REMOTE_HOST = 12,
};

// Highest event number an action may name.
inline constexpr int kMaxActionEvent = 37;

class KT_ActionEntry : public KT_ErrorStatus {
 public:
  KT_ActionEntry() = default;
  KT_ActionEntry(uint8_t eventNumber, uint8_t actionNumber) : event(eventNumber), action(actionNumber) {}

  // Two entries are the same configured action when event and action numbers are equal.
  bool SameAction(const KT_ActionEntry& other) const { return event == other.event && action == other.action; }
  bool operator==(const KT_ActionEntry& other) const { return SameAction(other); }

  // Copies every field and both texts (the error record stays). 1.
  int CopyFrom(const KT_ActionEntry& other);
  // Store a copy of the text: 1; null clears: 0; a text the record cannot count (over 254
  // characters): -1, the old text kept.
  int SetMessage(const char* text);
  int SetRemoteHost(const char* text);
  // Copies of the texts, or none.
  std::optional<std::string> GetMessage() const { return message; }
  std::optional<std::string> GetRemoteHost() const { return remoteHost; }
  // True when both texts fit the record (a longer text would make the block unwritable).
  bool TextsFit() const;

  uint8_t event = 0;       // EventId, 1..37
  uint8_t action = 0;      // ActionId
  uint16_t delay = 0;      // seconds before the action runs
  uint16_t interval = 0;   // seconds between repetitions, 0 = once
  std::optional<std::string> message;  // warning text, audio file or command line
  uint8_t retries = 0;
  uint8_t alias = 255;     // recipient mask: bit i selects recipient i of the action's list
  uint8_t option = 0;      // page action: seconds between tries
  std::optional<std::string> remoteHost;  // action 12
};
