#include "agent/trace_dumps.h"

#include <ctime>
#include <string>

#include "core/ktdiag.h"
#include "core/status_block.h"

void PrintStatus(StatusBlock& status) {
  if (status.GetAlarmCount() == 0) {
    Diag() << kSystemNormalText << "\n";
    return;
  }
  status.ResetAlarmCursor();
  AlarmEntry entry;
  while (status.GetNextAlarm(entry) == 1) {
    time_t t = static_cast<time_t>(entry.time);
    char buf[32] = "";
    if (ctime_r(&t, buf) == nullptr) buf[0] = '\0';
    Diag().Printf("%s set at %s", GetAlarmText(entry.code), buf);
  }
  status.ResetAlarmCursor();
}
