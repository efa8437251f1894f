#include "agent/workers/ups_worker.h"

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/engine/trace_dumps.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

// Result code of a battery test that could not be started.
constexpr uint8_t kBatteryTestNotStarted = 3;

}  // namespace

KT_UpsWorker::KT_UpsWorker(KT_Agent& agent, UpsWorkerDriver& driver, UpsWorkerKind kind)
    : agent_(agent), driver_(driver), kind_(kind) {}

UpsRequestOutcome KT_UpsWorker::Done(int type, int branch) {
  agent_.Scp().serial_queue.Remove(type, branch);
  return REQUEST_DONE;
}

UpsRequestOutcome KT_UpsWorker::Failed(int type, int branch) {
  agent_.Scp().serial_queue.CountPass(type, branch);
  return REQUEST_FAILED;
}

void KT_UpsWorker::RaiseSoftwareError() {
  KT_SCP& scp = agent_.Scp();
  auto lock = scp.Lock();
  scp.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
}

UpsRequestOutcome KT_UpsWorker::Serve(int type, int set, int branch) {
  KT_SCP& scp = agent_.Scp();
  KT_OSServices& services = agent_.Services();

  if (set == 1 && (type == BLOCK_STATUS || type == BLOCK_METERS || type == BLOCK_BATTERY_LOG)) return REQUEST_KEPT;

  switch (type) {
    case BLOCK_STATUS: {
      if (driver_.UpdateStatus() <= 0) return Failed(type, branch);
      auto lock = scp.Lock();
      scp.upsStatus.Branches().Touch(1);
      scp.upsStatus.Branches().Touch(0);
      if (kind_ == WORKER_SNMP) scp.upsStatus.ClearAlarm(ALARM_IDLE);
      return Done(type, branch);
    }
    case BLOCK_UPS_INFO: {
      if (set != 0) break;
      {
        auto lock = scp.Lock();
        scp.upsInfo.SetSoftwareVersion();
      }
      services.SetOsInfo();
      const bool ok = driver_.UpdateInfo() > 0;
      bool writeDefaults = false;
      if (ok) {
        // The default actions bring the default support maps with them, so they come before
        // the UPS's own capabilities: after them they would take away what this UPS offers
        // beyond the defaults (the remote notice, its own events) until the next start, and
        // notify.dat would keep the defaults alone. In this order the maps are those of every
        // later start: notify.dat's, then the identification.
        {
          auto lock = scp.Lock();
          if (!scp.notify.IsLoaded()) {
            scp.notify.SetDefaultActions();
            writeDefaults = true;
          }
        }
        driver_.UpdateCapabilities();
      }
      // Once written, notify.dat is what the block holds: the defaults are set only once, so
      // that a later identification never overwrites actions a console has configured since.
      if (writeDefaults && services.WriteNotifyFile() > 0) {
        auto lock = scp.Lock();
        scp.notify.SetLoaded();
      }
      {
        auto lock = scp.Lock();
        if (ok) {
          PrintUpsInfo(scp.upsInfo);
          scp.upsInfo.Branches().Touch(5);
          scp.upsInfo.Branches().Touch(2);
          scp.config.Branches().Touch(3);
          scp.upsStatus.ClearAlarm(ALARM_DETERMINING_UPS_TYPE);
        }
        for (int b : {0, 1, 3, 4}) scp.upsInfo.Branches().Touch(b);
      }
      return ok ? Done(type, branch) : Failed(type, branch);
    }
    case BLOCK_METERS: {
      if (driver_.UpdateMeter() <= 0) return Failed(type, branch);
      auto lock = scp.Lock();
      PrintMeters(scp.meters);
      for (int b = 0; b <= 4; ++b) scp.meters.Branches().Touch(b);
      return Done(type, branch);
    }
    case BLOCK_CONFIG: {
      if (set == 1) {
        if (driver_.SetConfig() <= 0) {
          auto lock = scp.Lock();
          scp.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
          scp.upsStatus.SetSoftwareErrorDetail(0, nullptr, 3);
        }
        // The block holds the console's new UPS settings whatever the UPS made of them; like
        // every applied SET of the configuration they go to config.dat at once.
        agent_.SaveConfigFile();
        return Done(type, branch);
      }
      if (driver_.UpdateConfig() <= 0) return Failed(type, branch);
      auto lock = scp.Lock();
      scp.config.Branches().Touch(3);
      return Done(type, branch);
    }
    case BLOCK_BATTERY_LOG: {
      const int r = driver_.UpdateBatteryTest();
      if (r < 0) return Failed(type, branch);
      if (kind_ == WORKER_SERIAL) {
        // The protocol removes its held request and writes the files when the test is over.
        return r > 0 ? Done(type, branch) : REQUEST_KEPT;
      }
      if (r > 0) return REQUEST_KEPT;  // still running: asked again on the next round
      // Finished: the held poll request goes for good (Remove would keep it).
      scp.serial_queue.Delete(type, branch);
      services.WriteBatteryLogFile();
      services.WriteBatteryTestFile();
      return REQUEST_DONE;
    }
    case BLOCK_BATTERY_TEST: {
      UpsRequestOutcome outcome = REQUEST_DONE;
      if (driver_.InitiateBatteryTest() > 0) {
        scp.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);
      } else {
        {
          auto lock = scp.Lock();
          const uint8_t code = kBatteryTestNotStarted;
          scp.batteryLog.AddRecord(static_cast<uint32_t>(platform::Now()), 1, &code);
        }
        services.WriteBatteryLogFile();
        services.WriteBatteryTestFile();
        scp.serial_queue.CountPass(type, branch);
        outcome = REQUEST_FAILED;
      }
      scp.serial_queue.Remove(type, branch);
      return outcome;
    }
    case BLOCK_COMMAND: {
      if (set != 1) break;
      if (RunCommand(branch) > 0) return Done(type, branch);
      scp.serial_queue.CountPass(type, branch);
      Diag() << (kind_ == WORKER_NETBCM ? "NetBCM: Error turning off UPS\n" : "Error turning off UPS\n");
      scp.serial_queue.Remove(type, branch);
      return REQUEST_FAILED;
    }
    default:
      break;
  }
  RaiseSoftwareError();
  return REQUEST_KEPT;
}

KT_UpsWorker::Segments KT_UpsWorker::ReadSegments() {
  KT_SCP& scp = agent_.Scp();
  auto lock = scp.Lock();
  return {scp.receptacles.GetNonCriticalSegment(), scp.receptacles.GetScheduledSegment(),
          scp.receptacles.GetCount()};
}
