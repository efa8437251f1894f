#include "agent/engine/agent.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "core/adapters/mib_file.h"
#include "agent/engine/os_services.h"
#include "agent/engine/serial_device.h"
#include "agent/engine/trace_dumps.h"
#include "core/base/ktdiag.h"
#include "core/scp/local_calendar.h"
#include "core/scp/scp.h"
#include "core/base/service_start.h"
#include "platform/clock.h"

namespace {

// The "Scheduled shutdown" alarm is on while the next one is at most this far ahead.
constexpr int64_t kScheduledAlarmSeconds = 15300;

// The ctime text of a time, without its line end.
std::string CTimeText(int64_t t) {
  time_t tt = static_cast<time_t>(t);
  char buf[32];
  if (ctime_r(&tt, buf) == nullptr) return std::to_string(t);
  std::string s(buf);
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

}  // namespace

KT_Agent::KT_Agent(KT_SCP& scp, KT_OSServices& services) : scp_(scp), services_(services) {
  Diag() << "KT_Agent::KT_Agent()\n";
  scp_.SetSetKeeper([this](int blockId, int branch) { return KeepSet(blockId, branch); });
  scp_.SetSetCheck([this](int blockId, const KT_ScpMessage& message) { return CheckSet(blockId, message); });
}

KT_Agent::~KT_Agent() {
  scp_.SetSetCheck(nullptr);
  scp_.SetSetKeeper(nullptr);
}

void KT_Agent::ParseOptions(int argc, const char* const* argv) {
  int i = 1;
  while (i < argc) {
    const char* arg = argv[i];
    const char letter = (arg != nullptr && arg[0] != '\0') ? arg[1] : '\0';
    const bool hasNext = i + 1 < argc && argv[i + 1] != nullptr;
    switch (letter) {
      case 'b':
        foreground = 1;
        i += 1;
        break;
      case 'c':
      case 'd':
      case 'g':
      case 's':
        if (!hasNext) {
          i += 1;
          break;
        }
        (letter == 'c'   ? adapterName
         : letter == 'd' ? deviceName
         : letter == 'g' ? readCommunity
                         : writeCommunity) = std::string(argv[i + 1]);
        i += 2;
        break;
      case 'x':
        if (!hasNext) {
          i += 1;
          break;
        }
        // A number beyond the range of long is clamped (atoi would be undefined there).
        mode = static_cast<uint8_t>(std::strtol(argv[i + 1], nullptr, 10) & 0xFF);
        i += 2;
        break;
      default:
        i += 1;
        break;
    }
  }
}

std::unique_ptr<SerialUpsLink> KT_Agent::CreateSerialLink() {
  return serial_link_factory_ ? serial_link_factory_(scp_) : nullptr;
}

std::unique_ptr<SnmpAdapterClient> KT_Agent::CreateSnmpClient() {
  return snmp_factory_ ? snmp_factory_(scp_) : nullptr;
}

std::unique_ptr<NetBcmAdapterClient> KT_Agent::CreateNetBcmClient() {
  return netbcm_factory_ ? netbcm_factory_(scp_) : nullptr;
}

void KT_Agent::InitializeAgent() {
  Diag() << "Start of KT_Agent::InitializeAgent() - compiled on " << __DATE__ << " " << __TIME__ << kendl;

  // The working directory is the agent's data directory.
  if (!data_directory_.empty() && ::chdir(data_directory_.c_str()) != 0) {
    Diag() << "Cannot change to the data directory " << data_directory_ << kendl;
  }

  // SNMP support needs the MIB file; TCP/IP is always there.
  if (ReadMibFile(kMibFileName)) {
    scp_.SetFlag(SCP_FLAG_SNMP);
  } else {
    scp_.ClearFlag(SCP_FLAG_SNMP);
  }
  scp_.SetFlag(SCP_FLAG_TCPIP);
  if (!snmp_service_.empty() && StartServiceByName(snmp_service_.c_str(), 1) != SERVICE_NOT_RUNNING) {
    scp_.SetFlag(SCP_FLAG_SNMP_SERVICE);
  } else {
    scp_.ClearFlag(SCP_FLAG_SNMP_SERVICE);
  }

  // The error log is emptied before the record files are read, so that what goes wrong while
  // reading them stays in it.
  services_.EraseErrorFile();
  UpdateSCPFromDisk();

  // config.dat is read with a forced mode (-x) too: the mode replaces only the stored mode,
  // and what the agent writes back keeps every other stored setting.
  const int r = services_.ReadConfigFile();
  if (mode == 255) {
    if (r < 0) {
      Diag() << "Error reading the configuration file\n"
             << "Changing mode to idle\n";
      services_.PopupMessage(kCorruptedConfigText, kAgentMessageCaption, kMessageBoxAgentStyle);
      GoIdle();
    } else if (r == 0) {
      Diag() << "Change to idle mode and wait for a command.\n";
      GoIdle();
    }
    auto lock = scp_.Lock();
    mode = scp_.config.GetCommMode();
  } else {
    if (r < 0) Diag() << "Error reading the configuration file\n";
    auto lock = scp_.Lock();
    scp_.config.SetCommMode(mode);
    mode = scp_.config.GetCommMode();
  }
  // The configuration names the logs' files: now every record file's name is known.
  services_.RemoveLeftoverTemporaries();
  // The logs live in the files the configuration names.
  ReadLogFiles();
  {
    // The agent's own version is in its UPS information from the start, whatever the mode: it
    // says in which format the agent serves its adapter timing, which a console may ask for
    // before anything else.
    auto lock = scp_.Lock();
    scp_.upsInfo.SetSoftwareVersion();
  }

  if (deviceName) {
    Diag() << "Command line option serial port. device_name = " << *deviceName << kendl;
    auto lock = scp_.Lock();
    scp_.config.SetSerialDeviceName(deviceName->c_str());
    Diag() << "Returned from SetSerialDeviceName\n";
    scp_.config.SetBaudRate(2);
    if (mode > COMM_CONTACT_CLOSURE) mode = COMM_SERIAL_NORMAL;
    scp_.config.SetCommMode(mode);
  } else if (adapterName) {
    auto lock = scp_.Lock();
    scp_.config.SetAdapterName(adapterName->c_str());
    if (readCommunity) scp_.config.SetReadCommunity(readCommunity->c_str());
    if (writeCommunity) scp_.config.SetWriteCommunity(writeCommunity->c_str());
    if (mode != COMM_SNMP_ADAPTER && mode != COMM_NETBCM_ADAPTER) {
      if (scp_.HasTcpIpSupport()) {
        mode = COMM_NETBCM_ADAPTER;
      } else if (scp_.HasSnmpSupport()) {
        mode = COMM_SNMP_ADAPTER;
      }
    }
    scp_.config.SetCommMode(mode);
  }

  {
    auto lock = scp_.Lock();
    Diag() << "Using Tremona Mode = " << scp_.config.GetCommModeText(mode) << kendl;
  }

  switch (mode) {
    case COMM_SERIAL_NORMAL:
    case COMM_SERIAL_MASTER:
    case COMM_SERIAL_SLAVE:
    case COMM_NETWORK_MASTER:
    case COMM_CONTACT_CLOSURE:
      Establish();
      break;
    case COMM_NETWORK_SLAVE: {
      GoNetworkSlave();
      {
        auto lock = scp_.Lock();
        scp_.upsInfo.SetInterfaceType(3);
      }
      services_.ReadConfigFile();
      {
        // A forced mode stays the mode of this run.
        auto lock = scp_.Lock();
        scp_.config.SetCommMode(COMM_NETWORK_SLAVE);
      }
      break;
    }
    case COMM_DEMO:
      break;
    case COMM_SNMP_ADAPTER:
    case COMM_NETBCM_ADAPTER: {
      const bool snmp = mode == COMM_SNMP_ADAPTER;
      const bool supported = snmp ? scp_.HasSnmpSupport() : scp_.HasTcpIpSupport();
      bool haveAdapter;
      {
        auto lock = scp_.Lock();
        haveAdapter = scp_.config.GetAdapterName().has_value();
      }
      if (!supported) {
        GoIdle();
        services_.PopupMessage(snmp ? "Unable to locate mib.txt SNMP Unavailable" : "NetBCM Unavailable",
                               kAgentMessageCaption, kMessageBoxAgentStyle);
      } else if (haveAdapter) {
        PostAdapterRequests();
        if (snmp) {
          services_.StartSNMPThread();
        } else {
          services_.StartNetBCMThread();
        }
      } else {
        GoIdle();
        services_.PopupMessage("Adapter name must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.",
                               kAgentMessageCaption, kMessageBoxAgentStyle);
      }
      break;
    }
    default:
      GoIdle();
      break;
  }

  services_.StartNetworkThread();
  Diag() << "After starting network thread\n";
  services_.StartLocalThread();
  Diag() << "After starting local thread\n";
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_AGENT_STARTED);
  }
  services_.WriteConfigFile();
  Diag() << "Exiting agent initialization\n";
}

void KT_Agent::PostAdapterRequests() {
  scp_.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
  scp_.serial_queue.Post(BLOCK_STATUS, 1, 0, 0);
  scp_.serial_queue.Post(BLOCK_METERS, 1, 0, 0);
}

void KT_Agent::GoIdle() {
  {
    auto lock = scp_.Lock();
    scp_.config.SetCommMode(COMM_IDLE);
    scp_.upsStatus.SetAlarm(ALARM_IDLE);
  }
  mode = COMM_IDLE;
  ResetUpsView();
  SetAlarmQueueRead(false);
}

void KT_Agent::GoIdleAdapterUnreachable() {
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.ClearAlarm(ALARM_DETERMINING_UPS_TYPE);
    scp_.upsStatus.SetAlarm(ALARM_IDLE);
    scp_.config.SetCommMode(COMM_IDLE);
    scp_.upsStatus.SetRefreshPeriod(kRefreshNever);
    scp_.upsStatus.Branches().Touch(0);
    scp_.upsStatus.Branches().Touch(1);
    for (int b : {0, 1, 3, 4}) scp_.upsInfo.Branches().Touch(b);
  }
  mode = COMM_IDLE;
  SetAlarmQueueRead(false);
}

void KT_Agent::GoNetworkSlave() {
  {
    auto lock = scp_.Lock();
    scp_.config.SetCommMode(COMM_NETWORK_SLAVE);
    scp_.upsStatus.SetAlarm(ALARM_REMOTE_MASTER);
  }
  mode = COMM_NETWORK_SLAVE;
  ResetUpsView();
  SetAlarmQueueRead(false);
}

void KT_Agent::ResetUpsView() {
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetRefreshPeriod(kRefreshNever);
    scp_.upsStatus.Branches().Touch(0);
    scp_.upsStatus.Branches().Touch(1);
    scp_.upsInfo.SetSoftwareVersion();
  }
  services_.SetOsInfo();
  auto lock = scp_.Lock();
  for (int b : {0, 1, 3, 4}) scp_.upsInfo.Branches().Touch(b);
}

void KT_Agent::SetAlarmQueueRead(bool byWorker) {
  auto lock = scp_.Lock();
  AlarmQueueBlock& queue = scp_.alarmQueue;
  queue.SetRefreshPeriod(byWorker ? AlarmQueueBlock::kRefreshPeriod : kRefreshNever);
  for (int b : {0, 1}) {
    if (byWorker) {
      queue.Branches().ClearTime(b);
    } else {
      queue.Branches().Touch(b);
    }
  }
}

int KT_Agent::Establish() {
  Diag() << "KT_Agent::Establish SERIAL Communications.\n"
         << "Determining the type of UPS - Please wait.\n";
  std::optional<std::string> port;
  {
    auto lock = scp_.Lock();
    scp_.config.ClearSerialSettingsChanged();
    scp_.upsStatus.SetAlarm(ALARM_DETERMINING_UPS_TYPE);
    scp_.upsStatus.ClearAlarm(ALARM_IDLE);
    scp_.upsStatus.ClearAlarm(ALARM_REMOTE_MASTER);
    port = scp_.config.GetSerialDeviceName();
  }
  scp_.ResetUpsData();
  ResetUpsView();
  SetAlarmQueueRead(true);

  const auto started = std::chrono::steady_clock::now();
  int result = -1;
  int32_t errClass = 0;
  int32_t errCode = 0;
  std::unique_ptr<SerialUpsLink> link;
  if (port && !IsAllowedSerialDevice(*port)) {
    Diag() << "Serial device name \"" << *port << "\" is not a serial device\n";
  } else {
    link = CreateSerialLink();
  }
  if (link) {
    result = link->Connect();
    errClass = link->LastError().errorClass;
    errCode = link->LastError().code;
  }
  const std::string portText = port ? *port : std::string();
  auto withPort = [&](const char* format, const char* without) {
    if (portText.empty()) return std::string(without);
    char buf[512];
    std::snprintf(buf, sizeof(buf), format, portText.c_str());
    return std::string(buf);
  };

  if (result > 0) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    Diag() << "Detection of UPS took " << static_cast<long>(seconds) << " seconds\n";
    services_.StartSerialThread();
    {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetRefreshPeriod(2);
    }
    const int w = services_.WriteConfigFile();
    if (w < 0) {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
    }
    return w;
  }

  std::string message;
  if (result == 0) {
    Diag() << "Detected Serial Cable, but no UPS\n";
    message = withPort("UPS is not connected to port: %s", "No UPS Detected");
    auto lock = scp_.Lock();
    scp_.upsStatus.ClearAlarm(ALARM_DETERMINING_UPS_TYPE);
    scp_.upsStatus.ClearAlarm(ALARM_LOST_UPS_COMM);
  } else {
    if (errClass == ERR_LINK_SETUP && errCode == 2) {
      Diag() << "Tremona Cable has been removed from this port\n"
             << "Re-attach the cable, please.\n";
      message = withPort("Tremona cable is not attached to port: %s", "Tremona cable is not attached");
    } else if (errClass == ERR_LINK_SETUP && errCode == 3) {
      Diag() << "The device attached to this port is not a UPS\n";
      message = withPort("A device other than a UPS is attached to port: %s", "No UPS detected");
    } else {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_SOFTWARE_ERROR);
      Diag() << "ERROR - Change to idle mode and wait for a command.\n";
      message = withPort("Unable to open communication port: %s", "Unable to open communication port");
    }
    auto lock = scp_.Lock();
    scp_.upsStatus.ClearAlarm(ALARM_DETERMINING_UPS_TYPE);
  }
  services_.PopupMessage(message.c_str(), kAgentMessageCaption, kMessageBoxAgentStyle);
  GoIdle();
  return 0;
}

void KT_Agent::UpdateSCPFromDisk() {
  Diag() << "Entering UpdateSCPFromDisk\n";
  const int notify = services_.ReadNotifyFile();
  Diag() << "After SCPNotification\n";
  {
    auto lock = scp_.Lock();
    if (notify != 1) {
      Diag() << "Failed to open notification file, resetting to default\n";
      scp_.notify.ClearLoaded();
    } else if (scp_.config.GetCommMode() != COMM_IDLE) {
      for (int b = 0; b <= 5; ++b) scp_.notify.Branches().Touch(b);
      scp_.notify.SetLoaded();
    }
  }
  struct {
    AgentFile file;
    const char* error;
  } const kDefaults[] = {
      {FILE_SCHED_SHUTDOWN, "Error reading the time shutdown file\n"},
      {FILE_LOAD_BANK, "Error reading the load bank file\n"},
      {FILE_BATTERY_TEST, "Error reading the battery test file\n"},
      {FILE_BATTERY_INFO, "error updating battery info file\n"},
  };
  for (const auto& f : kDefaults) {
    const int r = services_.ReadAgentFile(f.file);
    if (r < 0) {
      Diag() << f.error;
      // The block kept its defaults: the damaged file is replaced by them.
      services_.WriteAgentFile(f.file);
    } else if (r == 0) {
      services_.WriteAgentFile(f.file);
    }
  }
  Diag() << "Exiting UpdateSCPFromDisk\n";
}

void KT_Agent::ReadLogFiles() {
  if (services_.ReadEventLogFile() < 0) Diag() << "Error reading the event log file\n";
  services_.ReadBatteryLogFile();
  auto lock = scp_.Lock();
  for (int b = 0; b <= 2; ++b) scp_.eventLog.Branches().Touch(b);
  scp_.batteryLog.Branches().Touch(0);
  scp_.batteryLog.Branches().Touch(1);
}

void KT_Agent::TraceMonitorHeader() {
  const std::string ruler(66, '=');
  std::string modeText;
  {
    auto lock = scp_.Lock();
    modeText = scp_.config.GetCommModeText(mode);
  }
  Diag() << "Start of KT_Agent::MonitorLoop()\n";
  Diag() << ruler << kendl;
  Diag() << "Tremona Mode: " << modeText << kendl;
  Diag() << ruler << kendl;
}

void KT_Agent::RunShutdownSequence(int reason) {
  if (actions_ == nullptr) {
    Diag() << "No action engine: shutdown sequence " << reason << " not run\n";
    return;
  }
  actions_->ShutdownSequence(reason);
}

void KT_Agent::CheckAdapterContact() {
  const int64_t heard = adapterHeard.load();
  const uint8_t current = mode.load();
  if (heard == 0 || (current != COMM_SNMP_ADAPTER && current != COMM_NETBCM_ADAPTER)) return;
  const int64_t silent = platform::Now() - heard;
  {
    auto lock = scp_.Lock();
    const int64_t limit =
        int64_t{scp_.config.GetPollingInterval()} + std::max<uint32_t>(1, scp_.config.GetCommTimeout());
    if (silent <= limit || scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) == 1) return;
    scp_.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
  }
  Diag() << "Tremona: ERROR no answer from the network adapter for " << silent << " seconds.\n";
}

void KT_Agent::MonitorLoop() {
  TraceMonitorHeader();
  CheckAdapterContact();

  bool resetView;
  bool haveStatus;
  {
    auto lock = scp_.Lock();
    resetView = scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) == 1 || scp_.upsStatus.IsAlarmSet(ALARM_IDLE) == 1;
    haveStatus = scp_.upsStatus.Branches().GetTime(1) != 0;
  }
  if (resetView) ResetUpsView();
  if (haveStatus) {
    auto lock = scp_.Lock();
    PrintStatus(scp_.upsStatus);
  }

  SSQ();
  if (!services_.IsRunning()) return;
  // A record file that could not be written (a full or read-only disk) gets what its block
  // holds now, as soon as there is room.
  services_.WriteUnwrittenFiles();

  if (actions_) actions_->TakeAction();

  const int timed = CheckTimedShutdown();
  if (timed == 1) {
    RunShutdownSequence(2);
  } else if (timed == 2) {
    CheckLoadControl(13);
  }

  int due;
  int64_t nextTest;
  {
    auto lock = scp_.Lock();
    due = scp_.batteryTest.IsTestDue();
    nextTest = scp_.batteryTest.GetNextTestTime();
  }
  if (due == BatteryTestBlock::TEST_NONE) {
    Diag() << "No battery test scheduled\n";
  } else if (due == BatteryTestBlock::TEST_NOT_YET) {
    Diag() << "Not time yet for battery test\n";
  } else if (due == BatteryTestBlock::TEST_MOVED_ON) {
    // A computer that was off, or a clock that was moved, left the test behind: the schedule
    // goes on from its next time, which the file keeps.
    Diag() << "Battery test time is passed current time, next test " << CTimeText(nextTest) << kendl;
    services_.WriteBatteryTestFile();
  } else {
    Diag() << "Time for battery test, next test " << CTimeText(nextTest) << kendl;
    // The file has the next time (and no run-now) before the test starts: an agent killed and
    // started again meanwhile does not take this test as due a second time.
    services_.WriteBatteryTestFile();
    scp_.serial_queue.Post(BLOCK_BATTERY_TEST, 0, 0, 0);
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
  }

  const int64_t now = platform::Now();
  bool onBattery;
  bool lowBattery;
  {
    auto lock = scp_.Lock();
    onBattery = scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1;
    lowBattery = scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY) == 1;
  }
  auto batteryInfoChanged = [&] {
    services_.WriteBatteryInfoFile();
    auto lock = scp_.Lock();
    scp_.batteryInfo.Branches().Touch(1);
    scp_.batteryInfo.Branches().Touch(0);
  };
  auto nonCriticalOn = [&] {
    auto lock = scp_.Lock();
    const uint8_t segment = scp_.receptacles.GetNonCriticalSegment();
    if (segment != kNoSegment) scp_.receptacles.SetStatus(segment, RECEPTACLE_ON);
  };
  if (onBattery && batt_time == 0) {
    {
      auto lock = scp_.Lock();
      scp_.batteryInfo.AddOutageCount(1);
    }
    batteryInfoChanged();
    batt_time = now;
    nonCriticalOn();
  }
  if (!onBattery && batt_time != 0) {
    {
      auto lock = scp_.Lock();
      scp_.batteryInfo.AddOnBatterySeconds(now - batt_time);
    }
    batteryInfoChanged();
    batt_time = 0;
    nonCriticalOn();
  }
  if (lowBattery && low_batt_time == 0) {
    {
      auto lock = scp_.Lock();
      scp_.batteryInfo.AddLowBatteryWarnings(1);
    }
    batteryInfoChanged();
    low_batt_time = now;
  } else if (!lowBattery) {
    low_batt_time = 0;
  }

  if (onBattery || lowBattery) CheckLoadControl(1);

  if (actions_) {
    int r = actions_->IsShutdownRequired();
    if (r == 0 && master_low_battery) {
      // The master's low-battery command without its utility failure (lost, or sent before
      // this agent restarted): the on-battery alarm is not set, the shutdown is due all the
      // same.
      Diag() << "Low battery at the master agent\n";
      r = 2;
    }
    if (r != 0) {
      Diag() << "IsShutdownRequired() returned " << r << kendl;
      {
        auto lock = scp_.Lock();
        const int64_t since = batt_time != 0 ? now - batt_time : 0;
        scp_.batteryInfo.AddOnBatterySeconds(scp_.config.GetOsShutdownTime() + since);
      }
      RunShutdownSequence(r == 1 ? 0 : 1);
    }
  }

  if (remote_shutdown_time != 0) {
    Diag() << "remote_scheduled_shutdown time = " << CTimeText(remote_shutdown_time)
           << ", time now = " << CTimeText(now) << kendl;
    if (remote_shutdown_time - now <= 0) RunShutdownSequence(4);
  }
}

int KT_Agent::CheckTimedShutdown() {
  auto lock = scp_.Lock();
  SchedShutdownBlock& schedule = scp_.schedShutdown;
  const int64_t t = schedule.GetShutdownTime();
  if (t == 0) {
    if (scp_.upsStatus.IsAlarmSet(ALARM_SCHEDULED_SHUTDOWN) == 1) scp_.upsStatus.ClearAlarm(ALARM_SCHEDULED_SHUTDOWN);
    Diag() << "No timed shutdown configuration\n";
    return 0;
  }
  Diag() << "Timed shutdown has been configured\n";
  const int64_t now = platform::Now();
  // The alarm says whether a shutdown is near now: it follows the current entry wherever the
  // table, a SET or a step of the clock moved it.
  auto showNear = [&](int64_t next) {
    const bool near =
        next != 0 && next + kScheduleGraceSeconds >= now && next - now <= kScheduledAlarmSeconds;
    if (near) {
      scp_.upsStatus.SetAlarm(ALARM_SCHEDULED_SHUTDOWN);
    } else if (scp_.upsStatus.IsAlarmSet(ALARM_SCHEDULED_SHUTDOWN) == 1) {
      scp_.upsStatus.ClearAlarm(ALARM_SCHEDULED_SHUTDOWN);
    }
  };
  if (now > t + kScheduleGraceSeconds) {
    // Further past than the grace (the computer was off or suspended, or the clock was moved):
    // every entry that is goes, or moves on to its first time that is not, in this one pass
    // however long the gap, so that none holds back an entry due meanwhile.
    int64_t next = t;
    do {
      Diag() << "Shutdown time is passed current time, IGNORE\n";
      if (schedule.AdvanceSchedule(now - kScheduleGraceSeconds) <= 0) break;
      next = schedule.GetShutdownTime();
    } while (next != 0 && now > next + kScheduleGraceSeconds);
    services_.WriteSchedShutdownFile();
    showNear(next);
    return 0;
  }
  Diag() << static_cast<long long>(t - now) << " seconds to the next timed shutdown\n";
  showNear(t);
  const bool segmentEntry = schedule.GetLoadSegmentFlag() == 1;
  const int64_t lead = segmentEntry ? 1 : scp_.config.GetOsShutdownTime();
  if (t - now > lead) return 0;

  scp_.commandBlock.SetShutdownDelay(static_cast<int32_t>(lead));
  Diag() << "Time to shutdown the system\n";
  scp_.upsStatus.ClearAlarm(ALARM_SCHEDULED_SHUTDOWN);
  int64_t restart = schedule.GetRestartTime() - now;
  if (scp_.upsInfo.GetManufacturer() != 0) restart = restart > lead ? restart - lead : 0;
  Diag() << "Restart in " << static_cast<long long>(restart) << " seconds\n";
  scp_.commandBlock.SetRestartDelay(static_cast<int32_t>(restart));
  scp_.receptacles.SetScheduledSegment(schedule.GetSegment());
  schedule.AdvanceSchedule();
  services_.WriteSchedShutdownFile();
  return segmentEntry ? 2 : 1;
}

int KT_Agent::CheckLoadControl(int type) {
  Diag() << "KT_Agent::CheckLoadControl called, type = " << type << kendl;
  if (type == 1) {
    auto lock = scp_.Lock();
    const uint8_t segment = scp_.receptacles.GetNonCriticalSegment();
    if (scp_.upsInfo.IsFunctionSupported(3, 7) != 1 || segment == kNoSegment) return 0;
    const int d = scp_.receptacles.GetDownDelay(segment);
    const int s = scp_.receptacles.GetStatus(segment);
    Diag() << "CheckLoadControl: uwDownDelay = " << d << ", ubLoadBankStatus = " << s << kendl;
    if (s != 0) return 0;
    if (platform::Now() + 3 >= batt_time + d) {
      Diag() << "Adding SCP_COMMAND 8 to serial_queue, batt_time = " << static_cast<long long>(batt_time) << kendl;
      scp_.serial_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_LOAD_OFF);
      scp_.receptacles.SetStatus(segment, RECEPTACLE_OFF_POWER_FAIL);
    }
  } else if (type == 13) {
    scp_.serial_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_SEGMENT_RESTART);
  }
  return 0;
}

void KT_Agent::ActivateNetworkShutdown() {
  int command;
  int warn;
  int shut;
  int timeShut;
  {
    auto lock = scp_.Lock();
    command = scp_.commandBlock.GetCommand();
    warn = scp_.commandBlock.GetWarnDelay();
    shut = scp_.commandBlock.GetShutDelay();
    timeShut = scp_.commandBlock.GetTimeShutDelay();
  }
  auto replaceWarning = [&](int event, int delay, int interval, const char* text) {
    KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_CONSOLE_WARNING);
    scp_.notify.RemoveAction(entry);
    entry.delay = static_cast<uint16_t>(delay);
    entry.interval = static_cast<uint16_t>(interval);
    entry.SetMessage(text);
    scp_.notify.AddAction(entry);
  };
  const int64_t now = platform::Now();
  switch (command) {
    case 0: {
      Diag() << "KT_Agent::ActivateNetworkShutdown: Received UF Shutdown Command!\n";
      auto lock = scp_.Lock();
      replaceWarning(EVENT_ON_BATTERY, warn * 60, 60, "Utility Failure, system protected by backup power.");
      scp_.config.SetTotalBatteryTime(shut + 1);
      scp_.config.SetShutdownStartDelay(shut);
      Diag() << "KT_Agent::ActivateNetworkShutdown: UF Shutdown Command: TotalBatteryTime to " << shut + 1
             << ", OnBatteryShutdownTime to " << shut << kendl;
      Diag() << "KT_Agent::ActivateNetworkShutdown: UF Shutdown Command: Admin Warn Delay = " << warn
             << " minutes.\n";
      scp_.config.ClearTurnOffUps();
      scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
      scp_.upsStatus.SetAlarm(ALARM_REMOTE_SHUTDOWN);
      master_outage = true;
      break;
    }
    case 1: {
      Diag() << "KT_Agent::ActivateNetworkShutdown: Received UR Command!\n";
      if (!master_outage) {
        // A master repeats this after the power returned, and says it when it starts with its
        // UPS on line: nothing to restore here.
        Diag() << "KT_Agent::ActivateNetworkShutdown: no outage from the master is held\n";
        break;
      }
      master_outage = false;
      master_low_battery = false;
      auto lock = scp_.Lock();
      replaceWarning(EVENT_POWER_RESTORED, 0, 0, "Utility Power Restored.");
      scp_.upsStatus.ClearAlarm(ALARM_ON_BATTERY);
      scp_.upsStatus.ClearAlarm(ALARM_REMOTE_SHUTDOWN);
      break;
    }
    case 2: {
      Diag() << "KT_Agent::ActivateNetworkShutdown: Received LB Shutdown Command!\n";
      auto lock = scp_.Lock();
      replaceWarning(EVENT_LOW_BATTERY, 0, 0, "Low Battery detected. Immediate system shutdown.");
      scp_.config.ClearTurnOffUps();
      scp_.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
      scp_.upsStatus.SetAlarm(ALARM_REMOTE_SHUTDOWN);
      master_outage = true;
      master_low_battery = true;
      break;
    }
    case 3: {
      const std::string stars(27, '*');
      Diag() << stars << kendl;
      Diag() << "warn_delay = " << warn << kendl;
      Diag() << "shut_delay = " << shut << kendl;
      Diag() << "time_shut_delay = " << timeShut << kendl;
      Diag() << stars << kendl;
      {
        auto lock = scp_.Lock();
        scp_.upsStatus.SetAlarm(ALARM_REMOTE_SHUTDOWN);
      }
      services_.PopupMessage("Remote Scheduled shutdown in Progress.", kAgentMessageCaption, kMessageBoxAgentStyle);
      remote_shutdown_time = now + int64_t{warn} * 60;
      Diag() << "remote_scheduled_shutdown = " << CTimeText(remote_shutdown_time) << kendl;
      break;
    }
    case 4:
      Diag() << "KT_Agent::ActivateNetworkShutdown: Received R_SHUTDOWN Command!\n";
      break;
    case 5: {
      {
        auto lock = scp_.Lock();
        scp_.upsStatus.ClearAlarm(ALARM_REMOTE_SHUTDOWN);
      }
      Diag() << "KT_Agent::ActivateNetworkShutdown: Received SHUTDOWN_CANCEL Command!\n";
      remote_shutdown_time = 0;
      services_.PopupMessage("Remote Scheduled shutdown was cancelled.", kAgentMessageCaption, kMessageBoxAgentStyle);
      break;
    }
    default:
      break;
  }
}
