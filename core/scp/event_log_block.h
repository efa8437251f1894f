// SCP block 6: the agent's log of events, a list of time-stamped records (see LogBlock) kept
// in the record file of the configuration's event-log name. Each record's first data byte is
// an event number (EventId); this block formats records for the consoles' event-log view.
#pragma once

#include <cstdint>
#include <string>

#include "core/scp/log_block.h"

// Event numbers. 1..18 come in set/cleared pairs for the UPS alarms 0..8.
enum EventId : int {
  EVENT_BAD_BATTERY = 1,
  EVENT_BAD_BATTERY_CLEARED = 2,
  EVENT_ON_BATTERY = 3,
  EVENT_POWER_RESTORED = 4,
  EVENT_LOW_BATTERY = 5,
  EVENT_LOW_BATTERY_CLEARED = 6,
  EVENT_COMPONENT_FAILED = 7,
  EVENT_COMPONENT_FAILURE_CLEARED = 8,
  EVENT_INPUT_OUT_OF_TOLERANCE = 9,
  EVENT_INPUT_NORMAL = 10,
  EVENT_OVERLOAD = 11,
  EVENT_OVERLOAD_CLEARED = 12,
  EVENT_BYPASS = 13,
  EVENT_BYPASS_CLEARED = 14,
  EVENT_UPS_COMM_LOST = 15,
  EVENT_UPS_COMM_RESTORED = 16,
  EVENT_SOFTWARE_ERROR = 17,
  EVENT_SOFTWARE_ERROR_CLEARED = 18,
  EVENT_PROGRAM_STARTED = 19,
  EVENT_PROGRAM_TERMINATED = 20,
  EVENT_REMOTE_CONFIG_CHANGE = 21,
  EVENT_SCHEDULED_SHUTDOWN = 22,
  EVENT_SHUTDOWN_POWER_FAILURE = 23,
  EVENT_SHUTDOWN_LOW_BATTERY = 24,
  EVENT_REMOTE_SHUTDOWN = 25,
  EVENT_AGENT_COMM_LOST = 26,
  EVENT_AGENT_COMM_RESTORED = 27,
  EVENT_DIAGNOSTIC_TEST = 28,
  EVENT_DIAGNOSTIC_TEST_COMPLETED = 29,
  EVENT_BUCK = 30,
  EVENT_BUCK_CLEARED = 31,
  EVENT_BOOST = 32,
  EVENT_BOOST_CLEARED = 33,
  EVENT_NO_UPS_CONFIGURED = 34,
  EVENT_UPS_DISCOVERED = 35,
  EVENT_REMOTE_SHUTDOWN_FAILED = 36,
};

inline constexpr int kLastEventId = 36;

// The name of an event: " " for 0, the names of 1..36, "Unknown Event" for any other value.
const char* GetEventName(int event);

class EventLogBlock : public LogBlock {
 public:
  EventLogBlock() = default;

  // Time text: the local calendar text of the record's time (ctime form, 24 characters, no
  // line end). Name text: the name of the first data byte; "Unknown Event" for a record
  // without data.
  static void FormatEvent(const LogRecord& record, std::string& timeText, std::string& nameText);
  // Formats the record at the read cursor and moves on; false at the end.
  bool GetNextEventText(std::string& timeText, std::string& nameText);
  bool GetNextEventTextAndTime(std::string& timeText, std::string& nameText, uint32_t& time);
};
