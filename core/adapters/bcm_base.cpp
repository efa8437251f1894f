#include "core/adapters/bcm_base.h"

#include <algorithm>
#include <climits>

#include "core/scp/scp.h"
#include "core/base/ups_identification.h"

namespace {

// A receptacle-block segment as a load of the switching operations: 255 (and anything
// negative) is the whole UPS.
int ToLoad(int segment) { return (segment < 0 || segment == kNoSegment) ? KT_BCMBase::kWholeUps : segment; }

}  // namespace

int KT_BCMBase::RoundToMinutes(int seconds) {
  if (seconds <= 0) return 0;
  return seconds / 60 + (seconds % 60 >= 30 ? 1 : 0);
}

int KT_BCMBase::BCMControl(int kind, int load, int seconds) {
  switch (kind) {
    case CONTROL_SLEEP_OFF: return BCMSleepMode(TIMED_OFF, load, seconds);
    case CONTROL_SLEEP_ON:
    case CONTROL_SLEEP_ON_AGAIN: return BCMSleepMode(TIMED_ON, load, seconds);
    case CONTROL_DELAYED_OFF: return BCMDelayedOff(load, seconds);
    case CONTROL_DELAYED_ON: return BCMDelayedOn(load, seconds);
    default: return -1;
  }
}

int KT_BCMBase::SegmentDelayedOff(int segment) {
  const int load = ToLoad(segment);
  int seconds;
  {
    KT_SCP& scp = CommandScp();
    auto lock = scp.Lock();
    const int nonCritical = scp.receptacles.GetNonCriticalSegment();
    if (load != kWholeUps && nonCritical != kNoSegment && load == nonCritical) {
      seconds = 1;
    } else {
      seconds = scp.config.GetOsShutdownTime();
      if (seconds == 0) seconds = 1;
    }
  }
  return BCMDelayedOff(load, seconds);
}

int KT_BCMBase::SegmentDelayedOn(int segment) {
  const int load = ToLoad(segment);
  int seconds = 0;
  if (load != kWholeUps) {
    KT_SCP& scp = CommandScp();
    auto lock = scp.Lock();
    const int nonCritical = scp.receptacles.GetNonCriticalSegment();
    if (nonCritical != kNoSegment && load == nonCritical) {
      const uint16_t up = scp.receptacles.GetUpDelay(load);
      seconds = up == 0xFFFF ? 0 : up;
    }
  }
  return BCMDelayedOn(load == kWholeUps ? kEverySegment : load, seconds);
}

int KT_BCMBase::SegmentSleep(int segment) {
  const int load = ToLoad(segment);
  if (load == kWholeUps) return 0;
  return BCMSleepMode(TIMED_ON, load, 0);
}

int KT_BCMBase::StartSleepMode(int segment) {
  const int load = ToLoad(segment);
  int restart;
  int shutdown;
  {
    KT_SCP& scp = CommandScp();
    auto lock = scp.Lock();
    restart = std::max(1, scp.commandBlock.GetRestartDelay());
    if (scp.schedShutdown.GetLoadSegmentFlag() != 0) {
      shutdown = 0;
    } else {
      shutdown = std::max(1, scp.commandBlock.GetShutdownDelay());
    }
    // The maker's own UPSes need the output off for a while before it may come back.
    if (scp.upsInfo.GetManufacturer() == kManufacturerOwn) {
      restart = std::max(restart, shutdown > INT_MAX - 60 ? INT_MAX : shutdown + 60);
    }
  }
  BCMDelayedOn(load == kWholeUps ? kEverySegment : load, 0);
  PauseSeconds(1);
  BCMSleepMode(TIMED_OFF, load, shutdown);
  PauseSeconds(1);
  return BCMSleepMode(TIMED_ON, load, restart);
}
