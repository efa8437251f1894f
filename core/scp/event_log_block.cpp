#include "core/scp/event_log_block.h"

#include <cstring>
#include <ctime>

namespace {

const char* const kEventNames[kLastEventId + 1] = {
    " ",
    "Bad Battery Detected",
    "Bad Battery Alarm Cleared",
    "UPS On Battery",
    "Utility Power Restored",
    "Low Battery",
    "Low Battery Alarm Cleared",
    "UPS Component Failed",
    "UPS Component Failure Alarm Cleared",
    "Input Out Of Tolerance",
    "Input Parameters Returned To Normal",
    "Overload",
    "Overload Alarm Cleared",
    "Bypass",
    "UPS Returned From Bypass",
    "Communications With UPS Lost",
    "UPS Re-established Communication",
    "Software Error",
    "Software Error Cleared",
    "Program Started",
    "Program Terminated",
    "Remote Configuration Change",
    "Scheduled Shutdown",
    "Shutdown Due To Power Failure",
    "Shutdown Due To Low Battery",
    "Remote Shutdown",
    "Communications With Agent Lost",
    "Agent Re-established Communication",
    "Diagnostic Test In Progress",
    "Diagnostic Test Completed",
    "Utility Over Voltage - Buck",
    "Clear Utility Over Voltage - Buck",
    "Utility Under Voltage - Boost",
    "Clear Utility Under Voltage - Boost",
    "No UPS Configured",
    "UPS discovered",
    "Remote Shutdown Failed",
};

constexpr const char* kUnknownEvent = "Unknown Event";

}  // namespace

const char* GetEventName(int event) {
  if (event < 0 || event > kLastEventId) return kUnknownEvent;
  return kEventNames[event];
}

void EventLogBlock::FormatEvent(const LogRecord& record, std::string& timeText, std::string& nameText) {
  const time_t t = static_cast<time_t>(record.time);
  char buf[64] = {};
  // "Www Mmm dd hh:mm:ss yyyy\n": the first 24 characters, without the line end.
  if (ctime_r(&t, buf) != nullptr) {
    timeText.assign(buf, strnlen(buf, 24));
  } else {
    timeText.clear();
  }
  nameText = record.data.empty() ? kUnknownEvent : GetEventName(record.data[0]);
}

bool EventLogBlock::GetNextEventText(std::string& timeText, std::string& nameText) {
  uint32_t time = 0;
  return GetNextEventTextAndTime(timeText, nameText, time);
}

bool EventLogBlock::GetNextEventTextAndTime(std::string& timeText, std::string& nameText, uint32_t& time) {
  LogRecord record;
  if (!GetNextRecord(record)) return false;
  FormatEvent(record, timeText, nameText);
  time = record.time;
  return true;
}
