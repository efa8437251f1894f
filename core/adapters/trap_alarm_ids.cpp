#include "core/adapters/trap_alarm_ids.h"

#include <cstdint>
#include <mutex>

namespace {

constexpr int kCodes = 25;

struct AlarmIdTable {
  std::mutex mutex;
  int32_t added[kCodes];
  int32_t removed[kCodes];  // the id last reported as removed, until the next addition
  int32_t counter = 1;

  AlarmIdTable() {
    for (int i = 0; i < kCodes; ++i) {
      added[i] = -1;
      removed[i] = -1;
    }
  }
};

AlarmIdTable& Table() {
  static AlarmIdTable table;
  return table;
}

bool InRange(int code) { return code >= 0 && code < kCodes; }

}  // namespace

int WellKnownAlarmForScpAlarm(int scpAlarm) {
  switch (scpAlarm) {
    case 0: return 1;    // bad battery: upsAlarmBatteryBad
    case 1: return 2;    // on battery: upsAlarmOnBattery
    case 2: return 3;    // low battery: upsAlarmLowBattery
    case 3: return 18;   // UPS malfunction: upsAlarmGeneralFault
    case 4:              // input out of range, bucking, boosting: upsAlarmInputBad
    case 18:
    case 19: return 6;
    case 5: return 8;    // overload: upsAlarmOutputOverload
    case 6: return 9;    // on bypass: upsAlarmOnBypass
    case 7: return 20;   // lost communication with the UPS: upsAlarmCommunicationsLost
    case 17: return 24;  // battery test in progress: upsAlarmTestInProgress
    default: return -1;
  }
}

int TakeAddedAlarmId(int scpAlarm) {
  if (!InRange(scpAlarm)) return -1;
  AlarmIdTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.added[scpAlarm] == -1) {
    t.added[scpAlarm] = t.counter;
    // The counter would need two billion alarms to wrap; start again at 1 rather than at a
    // negative id.
    t.counter = t.counter == INT32_MAX ? 1 : t.counter + 1;
  }
  t.removed[scpAlarm] = -1;
  return t.added[scpAlarm];
}

int TakeRemovedAlarmId(int scpAlarm) {
  if (!InRange(scpAlarm)) return -1;
  AlarmIdTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.added[scpAlarm] != -1) {
    t.removed[scpAlarm] = t.added[scpAlarm];
    t.added[scpAlarm] = -1;
  }
  return t.removed[scpAlarm];
}

int PeekAlarmId(int scpAlarm) {
  if (!InRange(scpAlarm)) return -1;
  AlarmIdTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.added[scpAlarm];
}
