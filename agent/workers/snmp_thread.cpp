#include <memory>
#include <optional>
#include <string>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/workers/ups_worker.h"
#include "agent/workers/worker_threads.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

// DelayedOff's flag: off after the operating-system shutdown time.
constexpr int kAfterOsShutdown = 0xFF;

class SnmpWorker : public KT_UpsWorker {
 public:
  SnmpWorker(KT_Agent& agent, SnmpAdapterClient& client) : KT_UpsWorker(agent, client, WORKER_SNMP), client_(client) {}

  int RunCommand(int command) override {
    Diag() << "SNMP THREAD Received Shutdown Command\n";
    switch (command) {
      case COMMAND_RESTART:
        Diag() << "SNMP THREAD Performing UPS Shutdown and restart\n";
        return client_.StartSleepMode();
      case kUpsOffCommand:
        Diag() << "SNMP THREAD Performing UPS Shutdown\n";
        return client_.DelayedOff(kAfterOsShutdown);
      case COMMAND_LOAD_OFF:
        Diag() << "SNMP SS Case 8\n";
        return client_.DelayedOff(0);
      case COMMAND_SEGMENT_RESTART:
        Diag() << "SNMP SS Case 10\n";
        return client_.StartSleepMode();
      default:
        return -1;
    }
  }

 private:
  SnmpAdapterClient& client_;
};

bool Given(const std::optional<std::string>& setting) {
  return setting && !setting->empty();
}

constexpr const char* kThreadName = "SNMP THREAD";

// The thread cannot run (see worker_threads.h).
AdapterLink GiveUp(KT_Agent& agent, const char* why) {
  return AdapterThreadGiveUp(agent, kThreadName, why);
}

// Opens the session and probes the adapter. Settings that are missing, or a name that names no
// host, turn the agent idle; an adapter that does not answer is asked again later.
AdapterLink Connect(KT_Agent& agent, SnmpAdapterClient& client) {
  KT_SCP& scp = agent.Scp();
  std::optional<std::string> adapter;
  std::optional<std::string> readCommunity;
  std::optional<std::string> writeCommunity;
  {
    auto lock = scp.Lock();
    adapter = scp.config.GetAdapterName();
    readCommunity = scp.config.GetReadCommunity();
    writeCommunity = scp.config.GetWriteCommunity();
  }
  if (!Given(adapter)) return GiveUp(agent, kAdapterNameMissingText);
  if (!Given(readCommunity)) return GiveUp(agent, kReadCommunityMissingText);
  if (!Given(writeCommunity)) return GiveUp(agent, kWriteCommunityMissingText);
  const AdapterLink host = CheckAdapterHostFor(agent, kThreadName, *adapter, kSnmpAdapterIncorrectText);
  if (host != ADAPTER_LINK_UP) return host;
  const bool opened = client.Open(*adapter, *readCommunity, *writeCommunity) > 0;
  {
    auto lock = scp.Lock();
    scp.upsStatus.ClearAlarm(ALARM_IDLE);
  }
  if (opened && client.ProbeAdapter() > 0) {
    AdapterAnswered(agent);
    scp.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
    return ADAPTER_LINK_UP;
  }
  return AdapterSilent(agent, kThreadName, *adapter);
}

}  // namespace

int SNMPThread(KT_Agent& agent) {
  KT_SCP& scp = agent.Scp();
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_SNMP);

  std::unique_ptr<SnmpAdapterClient> client = agent.CreateSnmpClient();
  Diag() << "Starting SNMPThread\n";
  {
    // A UPS network adapter gives no waveforms.
    auto lock = scp.Lock();
    scp.waveforms.SetAvailable(false);
  }
  // Nor does the UPS MIB have the UPS options: they stay unknown.
  if (scp.SetUpsOptionsCarried(false)) agent.SaveConfigFile();
  AdapterAnswered(agent);
  if (client) client->SetStopCheck([&state] { return state.load() != kThreadRunning; });
  AdapterLink link = client ? Connect(agent, *client) : GiveUp(agent, "SNMP Unavailable");
  if (link != ADAPTER_LINK_ENDED) {
    SnmpWorker worker(agent, *client);
    int64_t lastTry = platform::Now();
    while (state.load() == kThreadRunning) {
      Diag() << "SNMP THREAD IS ALIVE\n";
      // New settings, or a silent adapter's next try.
      if (agent.snmpReconnect.exchange(false) || (link == ADAPTER_LINK_SILENT && AdapterRetryDue(agent, lastTry))) {
        link = Connect(agent, *client);
        lastTry = platform::Now();
        if (link == ADAPTER_LINK_ENDED) {
          int32_t running = kThreadRunning;
          state.compare_exchange_strong(running, kThreadStopRequested);
          break;
        }
      }
      scp.serial_queue.ResetCursor();
      int set = 0;
      int branch = 0;
      // Nothing is asked of an adapter that has not answered yet.
      while (int type = link == ADAPTER_LINK_UP ? scp.serial_queue.GetNext(set, branch) : 0) {
        if (state.load() != kThreadRunning) break;
        const char* doing = nullptr;
        const char* error = nullptr;
        switch (type) {
          case BLOCK_STATUS: {
            bool lost;
            int64_t last;
            uint32_t interval;
            {
              auto lock = scp.Lock();
              lost = scp.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) == 1;
              last = scp.upsStatus.Branches().GetTime(1);
              interval = scp.config.GetPollingInterval();
            }
            // While communication is lost the status is asked on every pass (see NetBCMThread).
            if (!lost && last + static_cast<int64_t>(interval) >= platform::Now()) continue;
            doing = "SNMP THREAD updating status\n";
            error = "Error updating Status\n";
            break;
          }
          case BLOCK_UPS_INFO:
            doing = "SNMP THREAD updating info\n";
            error = "Error updating info\n";
            break;
          case BLOCK_METERS:
            doing = "SNMP THREAD updating meter\n";
            error = "Error updating Meter\n";
            break;
          case BLOCK_CONFIG:
            doing = "SNMP THREAD updating config\n";
            break;
          case BLOCK_BATTERY_LOG:
            doing = "SNMP THREAD updating Battery Test Result\n";
            error = "Error updating Battery Test Result\n";
            break;
          case BLOCK_BATTERY_TEST:
            doing = "SNMP THREAD Initiating a 10 sec. battery test\n";
            error = "Error initiating battery test\n";
            break;
          default:
            break;
        }
        if (doing) Diag() << doing;
        const UpsRequestOutcome outcome = worker.Serve(type, set, branch);
        AdapterServed(agent, type, outcome);
        if (outcome == REQUEST_FAILED && error) Diag() << error;
      }
      scp.serial_queue.ResetCursor();
      for (int i = 0; i < 5 && state.load() == kThreadRunning; ++i) services.Pause(1000);
    }
  }
  agent.adapterHeard.store(0);
  Diag() << "+++++++++++++Exiting SNMP Thread\n";
  state.store(kThreadEnded);
  return 0;
}
