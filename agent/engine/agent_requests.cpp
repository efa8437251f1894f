// KT_Agent::SSQ: the agent-side worker of the SCP object. Once per monitor pass it drains
// system_queue: a SET applies the block's current contents (writes its record file, or acts on
// new serial or adapter settings), a read refreshes the block from its record file, and block
// 27 carries the commands to the agent. Every request is removed after it was handled, also
// after a failure; a failure raises its alarm (8 software error, 24 wrong master password).
#include <chrono>
#include <string>
#include <thread>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"
#include "platform/system_log.h"

namespace {

// Longest wait for the serial thread to end before detection runs again.
constexpr int kSerialStopWaitMs = 30000;

}  // namespace

void KT_Agent::HandleConfigRequest(int set, int branch) {
  if (set == 0) {
    Diag() << "KT_Agent::SSQ received SCP Config\n";
    const int r = services_.ReadConfigFile();
    auto lock = scp_.Lock();
    for (int b : {0, 1, 2, 4, 5, 6, 7, 8, 9, 10}) scp_.config.Branches().Touch(b);
    if (r < 0) scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
    return;
  }
  ApplyConfigSet(branch);
  // The console was answered "Set OK": the change goes to config.dat at once.
  SaveConfigFile();
}

int KT_Agent::SaveConfigFile() {
  const int r = services_.WriteConfigFile();
  if (r < 0) {
    Diag() << "KT_Agent could not write the configuration file\n";
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
  }
  return r;
}

int KT_Agent::KeepSet(int blockId, int /*branch*/) {
  AgentFile file;
  if (!KT_Daemon::FileOfBlock(blockId, file)) return 1;  // commands, UPS-side blocks: no file
  // A schedule that can never run is refused rather than kept: the console would be told
  // "Set OK" for a shutdown or a test that never comes.
  if ((blockId == BLOCK_SCHED_SHUTDOWN && !scp_.schedShutdown.CanRun()) ||
      (blockId == BLOCK_BATTERY_TEST && !scp_.batteryTest.CanRun())) {
    Diag() << "KT_Agent refused the SET of block " << blockId << ": its schedule can never run\n";
    return -1;
  }
  // Runs under the SCP object's lock (the writer takes it too), so no other change of the
  // block can come between the SET and what the file gets.
  if (services_.WriteAgentFile(file) < 0) {
    services_.ReportFileProblem("KT_Agent could not keep the SET of block " + std::to_string(blockId) +
                                " in " + services_.FileName(file) + ": " + services_.WriteFailure(file));
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
    return -1;
  }
  if (file == FILE_NOTIFY) {
    // The console's actions are on disk: the first identification must not put the default
    // actions over them.
    auto lock = scp_.Lock();
    scp_.notify.SetLoaded();
  }
  return 1;
}

bool KT_Agent::CheckSet(int blockId, const KT_ScpMessage& message) {
  if (blockId == BLOCK_COMMAND && message.KeyLength() >= 2 && message.KeyByte(kScpKeyBranch) == COMMAND_NETWORK_SHUTDOWN) {
    return TakeMasterCommand(message);
  }
  if (blockId != BLOCK_CONFIG) return true;
  ConfigBlock::LogNamesOfSet set;
  if (!ConfigBlock::ReadLogNamesOfSet(message, set)) {
    Diag() << "KT_Agent refused a SET of the log file names: its data cannot be decoded\n";
    return false;
  }
  if (!set.event && !set.battery) return true;
  // Runs under the SCP object's lock (ExecuteCommand holds it).
  const std::optional<std::string> event = scp_.config.GetEventLogFileName();
  const std::optional<std::string> battery = scp_.config.GetBatteryLogFileName();
  const std::optional<std::string> newEvent = set.event ? set.eventName : event;
  const std::optional<std::string> newBattery = set.battery ? set.batteryName : battery;
  const struct {
    AgentFile file;
    bool changed;
    const std::optional<std::string>& name;
    const std::optional<std::string>& other;
  } logs[] = {{FILE_EVENT_LOG, newEvent != event, newEvent, newBattery},
              {FILE_BATTERY_LOG, newBattery != battery, newBattery, newEvent}};
  for (const auto& log : logs) {
    if (!log.changed) continue;
    const std::string why = services_.LogNameRefusal(log.file, log.name, log.other);
    if (why.empty()) continue;
    Diag() << "KT_Agent refused the " << (log.file == FILE_EVENT_LOG ? "event" : "battery")
           << " log file name \"" << platform::PrintableText(log.name.value_or(""), false) << "\": it " << why
           << kendl;
    return false;
  }
  return true;
}

bool KT_Agent::TakeMasterCommand(const KT_ScpMessage& message) {
  // Runs under the SCP object's lock (ExecuteCommand holds it).
  const int field = message.KeyByte(kScpKeyField);
  if (field != 0) {
    // A field alone would take the password, or the command, that an earlier frame left.
    Diag() << "KT_Agent refused a SET of field " << field
           << " of the master's command alone: a master's command is taken whole, with its password\n";
    return false;
  }
  CommandBlock frame;
  std::vector<uint8_t> none;
  if (frame.ConvertMessage(none, message) < 0) return false;
  master_command = MasterCommand{frame.GetCommand(), frame.GetShutDelay(), frame.GetWarnDelay(),
                                 frame.GetTimeShutDelay(), frame.GetPassword()};
  return true;
}

void KT_Agent::ApplyConfigSet(int branch) {
  if (branch == 1) {
    bool restart;
    {
      auto lock = scp_.Lock();
      restart = scp_.config.GetSerialDeviceName().has_value() && scp_.config.SerialSettingsChanged();
    }
    if (!restart) return;
    scp_.ResetUpsData();
    ResetUpsView();
    {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_DETERMINING_UPS_TYPE);
    }
    if (services_.GetState(THREAD_SERIAL) != kThreadEnded) {
      services_.RequestStopSerial();
      // Waits for the thread in 1 s steps, with a bound: a thread that never ends must not
      // hold the agent here (a second serial thread is refused while it runs).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSerialStopWaitMs);
      while (services_.GetState(THREAD_SERIAL) != kThreadEnded && std::chrono::steady_clock::now() < deadline) {
        services_.Pause(1000);
      }
    }
    if (services_.GetState(THREAD_NETBCM) == kThreadRunning) {
      services_.RequestStopNetBCM();
    } else if (services_.GetState(THREAD_SNMP) == kThreadRunning) {
      Diag() << "KT_Agent::Stopping SNMP THREAD\n";
      services_.RequestStopSNMP();
    }
    mode = COMM_SERIAL_NORMAL;
    {
      auto lock = scp_.Lock();
      scp_.config.SetCommMode(COMM_SERIAL_NORMAL);
    }
    Establish();
    auto lock = scp_.Lock();
    scp_.config.ClearSerialSettingsChanged();
    return;
  }

  if (branch == 7) {
    int configured;
    bool haveAdapter;
    {
      auto lock = scp_.Lock();
      configured = scp_.config.GetCommMode();
      haveAdapter = scp_.config.GetAdapterName().has_value();
    }
    mode = static_cast<uint8_t>(configured == COMM_SNMP_ADAPTER || configured == COMM_NETBCM_ADAPTER ? configured
                                                                                                     : COMM_SNMP_ADAPTER);
    const bool netbcm = mode == COMM_NETBCM_ADAPTER;
    if (netbcm && !scp_.HasTcpIpSupport()) {
      services_.PopupMessage("TCP/IP support not enabled - unable to connect with Network Adapter.",
                             kAgentMessageCaption, kMessageBoxAgentStyle);
      return;
    }
    if (!netbcm && !scp_.HasSnmpSupport()) {
      services_.PopupMessage("Unable to locate mib.txt.\nSNMP functionality disabled.", kAgentMessageCaption,
                             kMessageBoxAgentStyle);
      return;
    }
    if (!haveAdapter) return;
    scp_.ResetUpsData();
    ResetUpsView();
    SetAlarmQueueRead(true);
    {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_DETERMINING_UPS_TYPE);
      scp_.config.SetCommMode(mode);
    }
    if (services_.GetState(THREAD_SERIAL) == kThreadRunning) {
      Diag() << "KT_Agent::Stopping SERIAL THREAD\n";
      services_.RequestStopSerial();
    }
    const AgentThreadId other = netbcm ? THREAD_SNMP : THREAD_NETBCM;
    const AgentThreadId wanted = netbcm ? THREAD_NETBCM : THREAD_SNMP;
    if (services_.GetState(other) == kThreadRunning) services_.RequestStop(other);
    if (services_.GetState(wanted) == kThreadEnded) {
      PostAdapterRequests();
      services_.StartAgentThread(wanted);
    } else {
      (netbcm ? netBcmReconnect : snmpReconnect).store(true);
    }
  }
}

void KT_Agent::HandleCommand(int command) {
  Diag() << "KT_Agent::SSQ Received SCP Command " << command << kendl;
  switch (command) {
    case COMMAND_TERMINATE:
      Diag() << "------------Terminate Daemon\n";
      services_.StopAgent(1);
      Diag() << "daemon exiting as requested\n";
      break;
    case COMMAND_RESTART: {
      {
        auto lock = scp_.Lock();
        const int os = scp_.config.GetOsShutdownTime();
        scp_.commandBlock.SetRestartDelay(os + 60);
        scp_.commandBlock.SetShutdownDelay(os);
      }
      RunShutdownSequence(3);
      Diag() << "Rebooting system\n";
      break;
    }
    case COMMAND_RESET_BATTERY_INFO:
      Diag() << "Resetting Battery Info\n";
      break;
    case COMMAND_NETWORK_SHUTDOWN: {
      Diag() << "Shutdown command received from the master\n";
      bool match;
      std::optional<MasterCommand> taken;
      {
        auto lock = scp_.Lock();
        taken = std::move(master_command);
        master_command.reset();
        if (!taken) {
          Diag() << "No command of a master to act on\n";
          break;
        }
        const std::optional<std::string> own = scp_.config.Password().Get();
        // Exact, case-sensitive; no password on either side never matches a set one.
        match = taken->password.has_value() == own.has_value() && (!taken->password || *taken->password == *own);
        if (match) {
          // What is acted on is what that frame carried, whatever came into the block since.
          scp_.commandBlock.SetCommand(taken->command);
          scp_.commandBlock.SetShutDelay(taken->shutDelay);
          scp_.commandBlock.SetWarnDelay(taken->warnDelay);
          scp_.commandBlock.SetTimeShutDelay(taken->timeShutDelay);
        }
      }
      if (match) {
        refused_master_command = -1;
        ActivateNetworkShutdown();
      } else {
        // The record goes to the event log file as it is added, as every other event does; the
        // lock is held until it is there, so no console sees a record that a crash could lose.
        auto lock = scp_.Lock();
        // A master repeats its command while its condition lasts: a repeat is refused without
        // another record.
        const int command = taken->command;
        if (command == refused_master_command) {
          Diag() << "The master's command " << command << " refused again (wrong password)\n";
          break;
        }
        refused_master_command = command;
        const uint8_t event = EVENT_REMOTE_SHUTDOWN_FAILED;
        if (scp_.eventLog.AddRecord(static_cast<uint32_t>(platform::Now()), 1, &event))
          services_.WriteEventLogFile();
        scp_.upsStatus.SetAlarm(ALARM_NET_CLIENT_PASSWORD);
      }
      break;
    }
    case COMMAND_BATTERY_TEST: {
      Diag() << "battery test now\n";
      scp_.serial_queue.Post(BLOCK_BATTERY_TEST, 0, 0, 0);
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
      break;
    }
    case COMMAND_UNREGISTER:
      Diag() << "____________Client Logout\n";
      break;
    case COMMAND_PAGER_TEST: {
      KT_ActionEntry entry;
      bool found;
      {
        auto lock = scp_.Lock();
        const int event = scp_.commandBlock.GetValue(COMMAND_PAGER_TEST);
        found = scp_.notify.FindAction(event, ACTION_PAGE, entry);
        scp_.commandBlock.SetValue(COMMAND_PAGER_TEST, found ? kPagerTestInProgress : kPagerTestNoPageAction);
      }
      if (found) services_.SendPage(entry);
      break;
    }
    case COMMAND_MESSAGE: {
      Diag() << "+_+_+_+_+_+_+_Displaying message\n";
      std::optional<std::string> text;
      {
        auto lock = scp_.Lock();
        text = scp_.commandBlock.GetMessage();
      }
      if (text) {
        services_.PopupMessage(text->c_str(), kAgentMessageCaption, kMessageBoxAgentStyle);
      } else {
        auto lock = scp_.Lock();
        scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
      }
      break;
    }
    default:
      break;
  }
}

void KT_Agent::SSQ() {
  KT_RequestQueue& queue = scp_.system_queue;
  queue.ResetCursor();
  int set = 0;
  int branch = 0;
  while (int type = queue.GetNext(set, branch)) {
    Diag() << "KT_Agent::SSQ received system request type " << type << ", Set flag = " << set << kendl;
    int failed = 0;  // the alarm a failure raises
    switch (type) {
      case BLOCK_CONFIG:
        HandleConfigRequest(set, branch);
        break;
      case BLOCK_NOTIFY: {
        if (set == 0) {
          Diag() << "KT_Agent::SSQ Received SCP Notification\n";
          if (services_.ReadNotifyFile() != 1) {
            Diag() << "Failed to open notification file, resetting to default\n";
            services_.WriteNotifyFile();
          }
        } else {
          if (services_.WriteNotifyFile() > 0) {
            auto lock = scp_.Lock();
            scp_.notify.SetLoaded();
          }
        }
        auto lock = scp_.Lock();
        for (int b = 0; b <= 5; ++b) scp_.notify.Branches().Touch(b);
        break;
      }
      case BLOCK_EVENT_LOG:
      case BLOCK_BATTERY_LOG:
        if (set == 0) {
          auto lock = scp_.Lock();
          scp_.GetBlock(type)->Branches().Touch(0);
        }
        break;
      case BLOCK_SCHED_SHUTDOWN:
      case BLOCK_BATTERY_TEST:
      case BLOCK_BATTERY_INFO: {
        const AgentFile file = type == BLOCK_SCHED_SHUTDOWN ? FILE_SCHED_SHUTDOWN
                               : type == BLOCK_BATTERY_TEST ? FILE_BATTERY_TEST
                                                            : FILE_BATTERY_INFO;
        Diag() << (type == BLOCK_SCHED_SHUTDOWN ? "KT_Agent::SSQ Received SCP Scheduled Shutdown\n"
                   : type == BLOCK_BATTERY_TEST ? "KT_Agent::SSQ Received SCP Battery Test\n"
                                                : "KT_Agent::SSQ Received SCP Battery Info\n");
        if (set == 0) {
          if (services_.ReadAgentFile(file) < 0) failed = ALARM_SOFTWARE_ERROR;
          auto lock = scp_.Lock();
          KT_Block* block = scp_.GetBlock(type);
          block->Branches().Touch(0);
          block->Branches().Touch(1);
        } else if (services_.WriteAgentFile(file) < 0) {
          failed = ALARM_SOFTWARE_ERROR;
        }
        break;
      }
      case BLOCK_COMMAND:
        HandleCommand(branch);
        break;
      default:
        break;
    }
    if (failed != 0) {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(failed);
    }
    queue.Remove(type, branch);
  }
}
