#include <memory>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/engine/serial_device.h"
#include "agent/workers/ups_worker.h"
#include "agent/workers/worker_threads.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"

namespace {

// More failures than this without a success in between is a communication loss.
constexpr int kMaxFailures = 4;

class SerialWorker : public KT_UpsWorker {
 public:
  SerialWorker(KT_Agent& agent, SerialUpsProtocol& protocol)
      : KT_UpsWorker(agent, protocol, WORKER_SERIAL), protocol_(protocol) {}

  int RunCommand(int command) override {
    auto [nonCritical, scheduled, count] = ReadSegments();
    switch (command) {
      case COMMAND_RESTART:
        return protocol_.ShutdownAndRestart(kNoSegment);
      case kUpsOffCommand: {
        if (nonCritical == kNoSegment) {
          protocol_.SetSegmentRestartDelay(kNoSegment);
        } else {
          for (int s = 1; s < protocol_.SegmentCount(); ++s) {
            if (s != nonCritical) protocol_.SetSegmentRestartDelay(s);
          }
        }
        return protocol_.ShutdownAfterOs(kNoSegment);
      }
      case COMMAND_LOAD_OFF:
        protocol_.SetSegmentRestartDelay(nonCritical);
        return protocol_.ShutdownAfterOs(nonCritical);
      case COMMAND_SEGMENT_RESTART:
        return protocol_.ShutdownAndRestart(scheduled == count ? kNoSegment : scheduled);
      case kSegmentOnCommand:
        return protocol_.SegmentOnNow(nonCritical);
      default:
        return -1;
    }
  }

  // The serial-only requests: 8 alarm queue, 9 waveforms.
  UpsRequestOutcome ServeSerial(int type, int set, int branch) {
    KT_SCP& scp = agent_.Scp();
    if (type == BLOCK_ALARM_QUEUE && set == 0) {
      if (protocol_.UpdateAlarmQueue() <= 0) return Failed(type, branch);
      {
        auto lock = scp.Lock();
        scp.alarmQueue.Branches().Touch(0);
        scp.alarmQueue.Branches().Touch(1);
      }
      return Done(type, branch);
    }
    if (type == BLOCK_WAVEFORM) {
      bool available;
      {
        auto lock = scp.Lock();
        available = scp.waveforms.IsAvailable();
      }
      if (!available) {
        // Asked before the UPS was known to give no waves: nothing to fetch, nothing failed.
        scp.serial_queue.Remove(type, branch);
        return REQUEST_DONE;
      }
      UpsRequestOutcome outcome = REQUEST_DONE;
      if (branch >= 1 && branch <= 3 && protocol_.UpdateWaveform(branch, 1) <= 0) {
        Diag() << "Error updating Waveform\n";
        outcome = REQUEST_FAILED;
      }
      scp.serial_queue.Remove(type, branch);
      return outcome;
    }
    return Serve(type, set, branch);
  }

 private:
  SerialUpsProtocol& protocol_;
};

}  // namespace

int RunSerialProtocol(KT_Agent& agent, SerialUpsProtocol& protocol) {
  KT_SCP& scp = agent.Scp();
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_SERIAL);

  std::optional<std::string> port;
  int baud;
  {
    auto lock = scp.Lock();
    port = scp.config.GetSerialDeviceName();
    baud = scp.config.GetBaudRate();
  }
  Diag() << "SERIAL device name = " << (port ? *port : std::string()) << kendl;
  if (!port) return -1;
  Diag() << "Baudrate = " << baud << kendl;
  if (!IsAllowedSerialDevice(*port)) {
    Diag() << "Serial device name \"" << *port << "\" is not a serial device\n";
    return -1;
  }
  if (protocol.Configure(*port, baud) < 0) return -1;
  Diag() << "Inside SERIAL thread\n";

  SerialWorker worker(agent, protocol);
  int failures = 0;
  bool loss = false;
  int result = 0;
  while (state.load() == kThreadRunning) {
    Diag() << "SERIAL THREAD IS ALIVE, comm_loss_cpu = " << (loss ? 1 : 0) << kendl;
    if (protocol.IsCableConnected() == 0) {
      if (!loss) scp.ResetUpsData();
      {
        auto lock = scp.Lock();
        scp.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
      }
      ++failures;
      loss = true;
      services.Pause(1000);
    } else {
      {
        auto lock = scp.Lock();
        scp.upsStatus.ClearAlarm(ALARM_LOST_UPS_COMM);
      }
      loss = false;
      scp.serial_queue.ResetCursor();
      int set = 0;
      int branch = 0;
      while (int type = scp.serial_queue.GetNext(set, branch)) {
        const UpsRequestOutcome outcome = worker.ServeSerial(type, set, branch);
        if (outcome == REQUEST_DONE) failures = 0;
        if (outcome == REQUEST_FAILED) ++failures;
        if (state.load() != kThreadRunning) break;
      }
      scp.serial_queue.ResetCursor();
    }
    if (failures > kMaxFailures) {
      Diag() << "SERIAL THREAD Comm Loss Set\n";
      auto lock = scp.Lock();
      scp.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
      result = -1;
      break;
    }
    if (state.load() != kThreadRunning) break;
    services.Pause(1000);
  }
  Diag() << "SERIAL THREAD out of the loop\n";
  protocol.Close();
  if (state.load() == kThreadStopRequested) {
    state.store(kThreadEnded);
    return 0;
  }
  return result;
}

int SerialThread(KT_Agent& agent) {
  KT_SCP& scp = agent.Scp();
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_SERIAL);

  std::unique_ptr<SerialUpsLink> link = agent.CreateSerialLink();
  std::unique_ptr<SerialUpsProtocol> protocols[4];
  while (state.load() == kThreadRunning) {
    int kind;
    {
      auto lock = scp.Lock();
      kind = scp.upsInfo.GetProtocol();
    }
    SerialUpsProtocol* protocol = nullptr;
    if (link && kind >= 0 && kind < 4) {
      if (!protocols[kind]) protocols[kind] = link->CreateProtocol(kind);
      protocol = protocols[kind].get();
    }
    if (protocol) {
      {
        // Of the serial protocols only BCM carries waveforms.
        auto lock = scp.Lock();
        scp.waveforms.SetAvailable(kind == PROTOCOL_BCM);
      }
      // Only BCM reports and takes the UPS options; the others hold them unknown, also when
      // config.dat still has the values of an earlier UPS.
      if (scp.SetUpsOptionsCarried(kind == PROTOCOL_BCM)) agent.SaveConfigFile();
      if (RunSerialProtocol(agent, *protocol) >= 0) break;
      if (state.load() != kThreadRunning) break;
    }
    scp.ResetUpsData();
    const int found = link ? link->Connect() : -1;
    if (found < 0) {
      services.Pause(1000);
      Diag() << "SERIAL Cable is disconnected\n";
    } else if (found == 0) {
      // Nothing answered: try again after a pause rather than at once.
      services.Pause(1000);
    }
  }
  state.store(kThreadEnded);
  Diag() << "Exiting SERIAL thread\n";
  return 0;
}
