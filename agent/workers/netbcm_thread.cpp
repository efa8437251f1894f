#include <memory>
#include <optional>
#include <string>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/workers/ups_worker.h"
#include "agent/workers/worker_threads.h"
#include "core/adapters/netbcm.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

// Seconds between two meter reads.
constexpr int64_t kMeterSpacing = 6;
constexpr int kProbeTries = 3;

class NetBcmWorker : public KT_UpsWorker {
 public:
  NetBcmWorker(KT_Agent& agent, NetBcmAdapterClient& client)
      : KT_UpsWorker(agent, client, WORKER_NETBCM), client_(client) {}

  int RunCommand(int command) override {
    auto [nonCritical, scheduled, count] = ReadSegments();
    if (scheduled == count) scheduled = kNoSegment;
    switch (command) {
      case COMMAND_RESTART:
        return client_.StartSleepMode(scheduled);
      case COMMAND_SEGMENT_RESTART:
        Diag() << "Performing UPS Shutdown and restart\n";
        return client_.StartSleepMode(scheduled);
      case kUpsOffCommand: {
        int r = 1;
        auto offOn = [&](int segment) {
          client_.SegmentDelayedOn(segment);
          r = client_.SegmentDelayedOff(segment);
        };
        if (nonCritical == kNoSegment) {
          offOn(kNoSegment);
        } else {
          for (int s = 1; s < count; ++s) {
            if (s != nonCritical) offOn(s);
          }
        }
        return r;
      }
      case COMMAND_LOAD_OFF: {
        client_.SegmentDelayedOn(nonCritical);
        const int r = client_.SegmentDelayedOff(nonCritical);
        client_.UpdateSegmentState(nonCritical);
        return r;
      }
      case kSegmentOnCommand:
        return client_.SegmentSleep(nonCritical);
      default:
        return -1;
    }
  }

 private:
  NetBcmAdapterClient& client_;
};

constexpr const char* kThreadName = "NetBCMThread";

// The thread cannot run (see worker_threads.h).
AdapterLink GiveUp(KT_Agent& agent, const char* why) {
  return AdapterThreadGiveUp(agent, kThreadName, why);
}

// Sets the adapter, opens the channel and probes the adapter up to `tries` times. A missing
// name, a name that names no host or no TCP/IP turn the agent idle; an adapter that does not
// answer is asked again later.
AdapterLink Connect(KT_Agent& agent, NetBcmAdapterClient& client, int tries) {
  KT_SCP& scp = agent.Scp();
  KT_OSServices& services = agent.Services();
  std::optional<std::string> adapter;
  std::optional<std::string> password;
  {
    auto lock = scp.Lock();
    adapter = scp.config.GetAdapterName();
    password = scp.config.GetWriteCommunity();
  }
  if (!adapter || adapter->empty()) return GiveUp(agent, kAdapterNameMissingText);
  if (!scp.HasTcpIpSupport()) return GiveUp(agent, "Tremona: TCP/IP is not available. ");
  const AdapterLink host = CheckAdapterHostFor(agent, kThreadName, *adapter, kNetBcmAdapterIncorrectText);
  if (host != ADAPTER_LINK_UP) return host;
  // The write community is the adapter's access code; an adapter never given one has the
  // factory code.
  if (!password || password->empty()) {
    Diag() << "NetBCMThread: no write community, using the factory access code\n";
    password = kNetBcmDefaultAccessCode;
  }
  client.SetTarget(*adapter, *password);
  services.Pause(1000);
  const bool opened = client.Open() > 0;
  {
    auto lock = scp.Lock();
    scp.upsStatus.ClearAlarm(ALARM_IDLE);
  }
  bool reached = false;
  for (int i = 0; opened && i < tries && !reached; ++i) {
    if (i > 0) services.Pause(1000);
    reached = client.ProbeAdapter() > 0;
  }
  if (!reached) return AdapterSilent(agent, kThreadName, *adapter);
  AdapterAnswered(agent);
  scp.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
  return ADAPTER_LINK_UP;
}

}  // namespace

int NetBCMThread(KT_Agent& agent) {
  KT_SCP& scp = agent.Scp();
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_NETBCM);
  const std::string ruler(29, '=');

  std::unique_ptr<NetBcmAdapterClient> client = agent.CreateNetBcmClient();
  Diag() << "BEGINNING of NetBCMThread\n";
  {
    // A UPS network adapter gives no waveforms; the BCM protocol carries the UPS options.
    auto lock = scp.Lock();
    scp.waveforms.SetAvailable(false);
  }
  scp.SetUpsOptionsCarried(true);
  AdapterAnswered(agent);
  if (client) client->SetStopCheck([&state] { return state.load() != kThreadRunning; });
  AdapterLink link = client ? Connect(agent, *client, kProbeTries) : GiveUp(agent, "NetBCM Unavailable");
  if (link != ADAPTER_LINK_ENDED) {
    NetBcmWorker worker(agent, *client);
    int64_t lastPoll = 0;
    int64_t lastMeter = 0;
    int64_t lastTry = platform::Now();
    while (state.load() == kThreadRunning) {
      Diag() << ruler << kendl << "NetBCMThread IS ALIVE\n" << ruler << kendl;
      // New settings, or a silent adapter's next try (one probe).
      const bool reconnect = agent.netBcmReconnect.exchange(false);
      if (reconnect || (link == ADAPTER_LINK_SILENT && AdapterRetryDue(agent, lastTry))) {
        link = Connect(agent, *client, reconnect ? kProbeTries : 1);
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
        const int64_t now = platform::Now();
        bool testing;
        bool lost;
        int64_t last;
        uint32_t interval;
        {
          auto lock = scp.Lock();
          testing = scp.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST) == 1;
          lost = scp.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) == 1;
          last = scp.upsStatus.Branches().GetTime(1);
          interval = scp.config.GetPollingInterval();
        }
        const char* error = nullptr;
        if (type == BLOCK_STATUS && set == 0) {
          // While communication is lost the status is asked on every pass: the monitor loop
          // renews the status stamps then, and only a good read ends the loss.
          const bool due = lost || last + static_cast<int64_t>(interval) < now || now < lastPoll;
          if (testing || !due) continue;
          Diag() << ruler << kendl << "NetBCMThread updating status\n" << ruler << kendl;
          lastPoll = now;
          error = "NetBCMThread Error updating Status\n";
        } else if (type == BLOCK_METERS && set == 0) {
          if (testing || now - lastMeter < kMeterSpacing) continue;
          Diag() << "NetBCM updating meter\n";
          lastMeter = now;
        } else if (type == BLOCK_UPS_INFO) {
          Diag() << "NetBCMThread updating info\n";
          error = "NetBCM Error updating info\n";
        } else if (type == BLOCK_CONFIG) {
          Diag() << "NetBCM updating config\n";
          error = "NetBCM Error updating Configuration\n";
        } else if (type == BLOCK_BATTERY_LOG) {
          Diag() << "NetBCM_THD updating Battery Test Result\n";
          error = "NetBCM_THD Error updating Battery Test Result\n";
        } else if (type == BLOCK_BATTERY_TEST) {
          Diag() << "Initiating a 10 sec. battery test\n";
          error = "Error initiating battery test\n";
        } else if (type == BLOCK_COMMAND) {
          Diag() << "NetBCM: Received Shutdown Command for branch " << branch << " (set = " << set << " ) \n";
        }
        const UpsRequestOutcome outcome = worker.Serve(type, set, branch);
        AdapterServed(agent, type, outcome);
        if (outcome == REQUEST_FAILED) {
          if (type == BLOCK_METERS) {
            Diag() << "ERROR in NetBCMThread Updating Meter. ret = " << 0 << kendl;
          } else if (error) {
            Diag() << error;
          }
        }
      }
      Diag() << "inside the NetBCM loop\n";
      for (int i = 0; i < 5 && state.load() != kThreadStopRequested; ++i) services.Pause(1000);
      scp.serial_queue.ResetCursor();
    }
  }
  agent.adapterHeard.store(0);
  state.store(kThreadEnded);
  Diag() << "+++++++++++++Exiting NetBCM Thread\n";
  return 0;
}
