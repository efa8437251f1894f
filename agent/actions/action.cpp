#include "agent/actions/action.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "core/adapters/adapter_name.h"
#include "agent/engine/os_services.h"
#include "agent/workers/ups_worker.h"
#include "core/network/ipx.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "core/network/udp.h"
#include "platform/clock.h"

namespace {

// Events of the alarms: raised, cleared (0 = none).
constexpr int kAlarmEvents[kAlarmCount][2] = {
    {EVENT_BAD_BATTERY, EVENT_BAD_BATTERY_CLEARED},                // 0
    {EVENT_ON_BATTERY, EVENT_POWER_RESTORED},                      // 1
    {EVENT_LOW_BATTERY, EVENT_LOW_BATTERY_CLEARED},                // 2
    {EVENT_COMPONENT_FAILED, EVENT_COMPONENT_FAILURE_CLEARED},     // 3
    {EVENT_INPUT_OUT_OF_TOLERANCE, EVENT_INPUT_NORMAL},            // 4
    {EVENT_OVERLOAD, EVENT_OVERLOAD_CLEARED},                      // 5
    {EVENT_BYPASS, EVENT_BYPASS_CLEARED},                          // 6
    {EVENT_UPS_COMM_LOST, EVENT_UPS_COMM_RESTORED},                // 7
    {EVENT_SOFTWARE_ERROR, 0},                                     // 8
    {EVENT_PROGRAM_STARTED, 0},                                    // 9
    {EVENT_PROGRAM_TERMINATED, 0},                                 // 10
    {EVENT_REMOTE_CONFIG_CHANGE, 0},                               // 11
    {EVENT_SHUTDOWN_POWER_FAILURE, 0},                             // 12
    {EVENT_SCHEDULED_SHUTDOWN, 0},                                 // 13
    {EVENT_SHUTDOWN_LOW_BATTERY, 0},                               // 14
    {EVENT_REMOTE_SHUTDOWN, 0},                                    // 15
    {0, 0},                                                        // 16
    {EVENT_DIAGNOSTIC_TEST, EVENT_DIAGNOSTIC_TEST_COMPLETED},      // 17
    {EVENT_BUCK, EVENT_BUCK_CLEARED},                              // 18
    {EVENT_BOOST, EVENT_BOOST_CLEARED},                            // 19
    {EVENT_NO_UPS_CONFIGURED, EVENT_UPS_DISCOVERED},               // 20
    {0, 0},                                                        // 21
    {0, 0},                                                        // 22
    {0, 0},                                                        // 23
    {0, 0},                                                        // 24
};

// The action kinds of one pass, in the order they run.
constexpr int kKindOrder[] = {
    ACTION_CONSOLE_WARNING, ACTION_AUDIO,    ACTION_USER_WARNING, ACTION_MAIL,
    ACTION_PAGE,            ACTION_REMOTE_HOST, ACTION_SNMP_TRAP, ACTION_COMMAND,
    ACTION_APPLICATION_LOG, ACTION_EVENT_LOG,
};

// Alarms that announce one happening: the engine clears them once their actions have run.
bool IsOneShotAlarm(int code) {
  switch (code) {
    case ALARM_SOFTWARE_ERROR:
    case ALARM_AGENT_STARTED:
    case ALARM_AGENT_STOPPED:
    case ALARM_CONFIG_CHANGED:
    case ALARM_SHUTDOWN_PROLONGED_OUTAGE:
    case ALARM_LOW_BATTERY_SHUTDOWN:
    case ALARM_NET_CLIENT_PASSWORD:
      return true;
    default:
      return false;
  }
}

// Event and alarm of each shutdown reason.
constexpr int kReasonEvent[] = {EVENT_SHUTDOWN_POWER_FAILURE, EVENT_SHUTDOWN_LOW_BATTERY, EVENT_SCHEDULED_SHUTDOWN,
                                EVENT_REMOTE_SHUTDOWN, EVENT_REMOTE_SHUTDOWN};
constexpr int kReasonAlarm[] = {ALARM_SHUTDOWN_PROLONGED_OUTAGE, ALARM_LOW_BATTERY_SHUTDOWN, ALARM_SCHEDULED_SHUTDOWN,
                                ALARM_REMOTE_SHUTDOWN, ALARM_REMOTE_SHUTDOWN};

// Outcome codes of upsTestResultsSummary.
constexpr int kTestDonePass = 1;
constexpr int kTestDoneError = 3;
constexpr int kTestAborted = 4;
constexpr int kTestNoneInitiated = 6;

// Floor of a / b for b > 0.
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

KT_Action::KT_Action(KT_SCP& scp, KT_OSServices& services)
    : scp_(scp),
      services_(services),
      trap_senders_{std::make_shared<KT_SNMP>(), std::make_shared<KT_SNMP>()},
      remote_port_(kScpUdpPort) {
  Diag() << "KT_Action::KT_Action()\n";
}

KT_Action::~KT_Action() = default;

int KT_Action::EventOfAlarm(int alarm, bool active) {
  if (alarm < 0 || alarm >= kAlarmCount) return 0;
  return kAlarmEvents[alarm][active ? 0 : 1];
}

int KT_Action::Counter(int event, int action) const {
  if (event < 0 || event >= kEventSlots || action < 0 || action >= kActionSlots) return 0;
  return counters_[event][action];
}

// ---- one pass ------------------------------------------------------------------------------

int KT_Action::TakeAction() {
  std::vector<AlarmEntry> active;
  int64_t readAt;
  {
    auto lock = scp_.Lock();
    readAt = platform::Now();
    StatusBlock& status = scp_.upsStatus;
    for (int code = 0; code < kAlarmCount; ++code) {
      if (status.IsAlarmSet(code) == 1) {
        AlarmEntry e;
        e.active = 1;
        e.code = static_cast<uint8_t>(code);
        e.time = status.GetAlarmTime(code);
        active.push_back(e);
      }
    }
  }
  const int64_t previousPass = last_pass_;
  last_pass_ = readAt;
  const size_t n = active.size();
  const size_t m = pending_.size();
  if (n == 0 && m == 0) return 0;

  // The pending entries keep their places, the new alarms follow them.
  std::vector<PendingAlarm> merged;
  try {
    merged.reserve(m + 2 * n);
    std::vector<bool> taken(n, false);
    for (const PendingAlarm& p : pending_) {
      size_t i = 0;
      while (i < n && active[i].code != p.code) ++i;
      if (i == n) {
        PendingAlarm cleared = p;
        cleared.status = 0;
        merged.push_back(cleared);
        continue;
      }
      taken[i] = true;
      const int64_t stamp = active[i].time;
      if (p.status == 1 && p.stamp != stamp) {
        // A new time stamp: the alarm cleared and came back since the previous pass. Its
        // clearing comes first, as a pass would have seen it; it cleared after that pass.
        Diag() << "TakeAction: alarm " << static_cast<int>(p.code)
               << " cleared and came back between two passes\n";
        PendingAlarm cleared = p;
        cleared.status = 0;
        cleared.stamp = std::min(previousPass, stamp);
        cleared.returned = stamp;
        merged.push_back(cleared);
      }
      PendingAlarm again = p;
      again.status = 1;
      again.stamp = stamp;
      again.renewed = p.status == 0 || p.stamp != stamp;
      merged.push_back(again);
    }
    for (size_t i = 0; i < n; ++i) {
      if (!taken[i]) merged.push_back(PendingAlarm{active[i].code, 1, active[i].time});
    }
  } catch (const std::bad_alloc&) {
    LogError(ERR_ACTION, 1, pending_.empty() ? 1 : 2, 0);
    return -1;
  }
  pending_.swap(merged);

  Diag() << "TakeAction: new alarms = " << static_cast<int>(n) << ", old alarms = " << static_cast<int>(m) << kendl;
  for (size_t i = 0; i < pending_.size(); ++i) {
    Diag() << "pending_alarms[" << static_cast<int>(i) << "] = " << static_cast<int>(pending_[i].code) << kendl;
    Diag() << "pending_alarm_statuses[" << static_cast<int>(i) << "] = " << static_cast<int>(pending_[i].status)
           << kendl;
  }

  for (int kind : kKindOrder) {
    const int r = RunKind(kind);
    if (kind == ACTION_EVENT_LOG) Diag() << "LogEvent() returned " << r << kendl;
  }

  // The next pending list: the active alarms, and the cleared ones whose delayed "cleared"
  // actions have not run yet.
  const int64_t now = platform::Now();
  std::vector<PendingAlarm> next;
  std::vector<int> toClear;
  try {
    auto lock = scp_.Lock();
    for (const PendingAlarm& p : pending_) {
      if (p.status == 1) {
        PendingAlarm kept = p;
        kept.renewed = false;
        next.push_back(kept);
        // A one-shot alarm is cleared once its actions have run; one whose delayed actions
        // still wait stays set until they have. While the system goes down the shutdown
        // alarms stay for the consoles to see.
        if (IsOneShotAlarm(p.code) && !shutdown_started_.load() && !ActionsWaiting(EventOfAlarm(p.code, true), p.stamp, now)) {
          toClear.push_back(p.code);
        }
        continue;
      }
      if (p.returned != 0) continue;  // a clearing between two passes: the alarm is back
      const int64_t clearedAt = scp_.upsStatus.GetAlarmTime(p.code);
      if (ActionsWaiting(EventOfAlarm(p.code, false), clearedAt, now)) {
        PendingAlarm kept = p;
        kept.stamp = clearedAt;
        next.push_back(kept);
      }
    }
    for (int code : toClear) scp_.upsStatus.ClearAlarm(code);
  } catch (const std::bad_alloc&) {
    LogError(ERR_ACTION, 1, 3, 0);
    return -1;
  }
  pending_.swap(next);
  return 1;
}

bool KT_Action::ActionsWaiting(int event, int64_t since, int64_t now) {
  if (event <= 0 || event >= kEventSlots) return false;
  auto lock = scp_.Lock();
  for (int kind : kKindOrder) {
    KT_ActionEntry record;
    if (!scp_.notify.FindAction(event, kind, record)) continue;
    if (counters_[event][kind] == 0 && now - since < record.delay) return true;
  }
  return false;
}

bool KT_Action::IsActionRequired(int alarm, int status, int action, KT_ActionEntry& record) {
  if (alarm < 0 || alarm >= kAlarmCount) return false;
  PendingAlarm p;
  p.code = static_cast<uint8_t>(alarm);
  p.status = status != 0 ? 1 : 0;
  return ActionDue(p, action, record);
}

bool KT_Action::ActionDue(const PendingAlarm& p, int action, KT_ActionEntry& record) {
  if (action < 0 || action >= kActionSlots) return false;
  const int alarm = p.code;
  const bool active = p.status != 0;
  const int e = EventOfAlarm(alarm, active);
  const int raised = EventOfAlarm(alarm, true);
  const int cleared = EventOfAlarm(alarm, false);

  // An active alarm allows its next "cleared" action again. One back before its "cleared"
  // action of this kind ran goes on as the same occurrence for this kind: its first run has
  // been, its repeats are timed from the new stamp.
  if (active && cleared > 0) counters_[cleared][action] = 0;
  if (active && p.renewed && raised > 0 && counters_[raised][action] > 1) counters_[raised][action] = 1;

  auto lock = scp_.Lock();
  const bool found = e > 0 && e < kEventSlots && scp_.notify.FindAction(e, action, record);
  if (!found) {
    // A cleared alarm with no "cleared" action of this kind ends its occurrence at once (also
    // the alarms that have no "cleared" event): the next one starts over with the delay.
    if (!active && raised > 0) counters_[raised][action] = 0;
    return false;
  }
  int& c = counters_[e][action];
  // A clearing no pass saw is judged at the moment the alarm came back.
  const int64_t now = p.returned != 0 ? p.returned : platform::Now();
  const int64_t delay = record.delay;
  const int64_t interval = record.interval;

  int64_t start;  // the time of the first run
  if (e == EVENT_SCHEDULED_SHUTDOWN) {
    const int64_t t = scp_.schedShutdown.GetShutdownTime();
    if (t == 0) return false;
    start = t - delay;
  } else {
    start = (p.returned != 0 ? p.stamp : scp_.upsStatus.GetAlarmTime(alarm)) + delay;
  }
  if (now < start) return false;
  if (c == 0) {
    c = 1;
    // The "cleared" action of this kind has run: the occurrence has ended for it.
    if (!active && raised > 0) counters_[raised][action] = 0;
    return true;
  }
  // A cleared alarm's action runs once; an active one's again once per interval.
  if (!active || interval == 0) return false;
  const int64_t due = FloorDiv(now - start, interval);
  if (due < c) return false;
  c = static_cast<int>(due > 1000000 ? 1000000 : due) + 1;
  return true;
}

int KT_Action::RunKind(int action) {
  int result = 0;
  // The entries are copied: an effect must not see the list change under it.
  const std::vector<PendingAlarm> entries = pending_;
  for (const PendingAlarm& p : entries) {
    KT_ActionEntry record;
    if (!ActionDue(p, action, record)) continue;
    const int event = EventOfAlarm(p.code, p.status != 0);
    const std::optional<std::string> text = record.GetMessage();
    switch (action) {
      case ACTION_CONSOLE_WARNING:
        ConsoleWarning(p, record);
        break;
      case ACTION_AUDIO:
        if (text && !text->empty()) {
          PlaySound(*text);
        } else {
          Diag() << "Audio action without a sound file\n";
        }
        break;
      case ACTION_USER_WARNING:
        services_.Broadcast(text ? text->c_str() : "");
        break;
      case ACTION_MAIL:
        SendMail(record);
        break;
      case ACTION_PAGE:
        Diag() << "Common source: In SendPage\n";
        services_.SendPage(record);
        break;
      case ACTION_REMOTE_HOST:
        SendRemoteNotice(record);
        break;
      case ACTION_SNMP_TRAP:
        SendSnmpTrap(p, record);
        break;
      case ACTION_COMMAND:
        Diag() << "In ExecuteCommand\n";
        if (text && !text->empty()) {
          services_.RunProgram(text->c_str());
        } else {
          Diag() << "Command action without a command\n";
        }
        break;
      case ACTION_APPLICATION_LOG:
        services_.LogEvent(2, event);
        break;
      case ACTION_EVENT_LOG:
        result = AddEventLogRecord(event);
        break;
      default:
        break;
    }
  }
  return result;
}

// ---- the action kinds ----------------------------------------------------------------------

void KT_Action::ConsoleWarning(const PendingAlarm& p, const KT_ActionEntry& record) {
  std::string text = record.GetMessage().value_or("");
  if (p.code == ALARM_ON_BATTERY && p.status == 1) {
    const std::string countdown = ShutdownCountdownText(ALARM_ON_BATTERY);
    if (!countdown.empty()) text += "\n" + countdown;
  }
  services_.PopupMessage(text.c_str(), kAgentMessageCaption, kMessageBoxAgentStyle);
}

void KT_Action::SendMail(const KT_ActionEntry& record) {
  const std::string text = record.GetMessage().value_or("");
  for (int i = 1; i <= 2; ++i) {
    if ((record.alias & (1u << (i - 1))) == 0) continue;
    std::optional<std::string> recipient;
    {
      auto lock = scp_.Lock();
      if (scp_.notify.MailRecipients().Count() >= i) recipient = scp_.notify.MailRecipients().GetRecipient(i);
    }
    if (!recipient || recipient->empty()) {
      Diag() << "No mail recipient " << i << kendl;
      continue;
    }
    services_.SendMail(text.c_str(), kAgentMailSubject, recipient->c_str());
  }
}

int KT_Action::AddEventLogRecord(int event) {
  const uint8_t byte = static_cast<uint8_t>(event);
  bool added;
  {
    auto lock = scp_.Lock();
    added = scp_.eventLog.AddRecord(static_cast<uint32_t>(platform::Now()), 1, &byte);
  }
  if (!added) return 0;
  services_.WriteEventLogFile();
  return 1;
}

void KT_Action::SendSnmpTrap(const PendingAlarm& p, const KT_ActionEntry& record) {
  if (!scp_.HasSnmpSupport()) return;
  Diag() << "In KT_Action::SendSNMPTrap\n";
  char aliasText[16];
  std::snprintf(aliasText, sizeof(aliasText), "0x%x\n", static_cast<unsigned>(record.alias));
  Diag() << "alias = " << aliasText;
  KT_SNMP::Initialize();

  int totalMinutes;
  int lowBatteryMinutes;
  int64_t onBatterySince;
  bool haveTest = false;
  LogRecord lastTest;
  std::string testDetail;
  {
    auto lock = scp_.Lock();
    totalMinutes = scp_.config.GetTotalBatteryTime();
    lowBatteryMinutes = scp_.config.GetLowBatteryWarning();
    onBatterySince = scp_.upsStatus.GetAlarmTime(ALARM_ON_BATTERY);
    if (!scp_.batteryLog.Records().empty()) {
      haveTest = true;
      lastTest = scp_.batteryLog.Records().back();
      testDetail = scp_.batteryLog.LastResult().description.value_or(scp_.batteryLog.GetStatusText());
    }
  }

  std::vector<NetworkManagerEntry> managers;
  {
    auto lock = scp_.Lock();
    for (int slot = 0; slot < KT_NetworkManagerList::kSlots; ++slot) {
      if ((record.alias & (1u << slot)) == 0) continue;
      NetworkManagerEntry manager;
      if (scp_.notify.TrapReceivers().GetBySlot(slot, manager) == 1) managers.push_back(manager);
    }
  }
  if (managers.empty()) return;
  // What the trap says is taken now, at the event; the worker only resolves and sends.
  const int code = p.code;
  const bool active = p.status == 1;
  const int64_t onBatterySeconds = onBatterySince > 0 ? platform::Now() - onBatterySince : 0;
  // One send per receiver, each in the lane of its host: a receiver given by address is not
  // held by the lookups of those given by name.
  for (const NetworkManagerEntry& manager : managers) {
    const AdapterName target = SplitAdapterName(manager.hostName);
    const KT_NetworkActions::Lane lane = KT_NetworkActions::LaneOf(target.host);
    std::shared_ptr<KT_SNMP> sender = trap_senders_[lane];
    auto send = [sender, manager, target, code, active, onBatterySeconds, totalMinutes, lowBatteryMinutes,
                 haveTest, lastTest, testDetail](const std::atomic<bool>& stop) {
      if (stop.load()) return;
      Diag() << "Sending SNMP Trap to host " << manager.hostName << ", community " << manager.community
             << kendl;
      uint32_t address = 0;
      if (!KT_NetworkActions::AddressOf(target.host, address, stop, "SNMP trap")) return;
      char dotted[INET_ADDRSTRLEN] = {};
      in_addr a{};
      a.s_addr = address;
      inet_ntop(AF_INET, &a, dotted, sizeof dotted);
      sender->SetSession(dotted, manager.community.c_str(), manager.community.c_str(),
                         target.port != 0 ? target.port : kTrapPort);
      if (sender->OpenSession() < 0) {
        Diag() << "Cannot open a trap session to " << manager.hostName << kendl;
        return;
      }
      if (code == ALARM_ON_BATTERY && active) {
        sender->SendOnBatteryTrap(totalMinutes, static_cast<int>(onBatterySeconds), lowBatteryMinutes);
      } else if (code == ALARM_BATTERY_TEST && !active) {
        // The test that just ended: the newest record of the battery log.
        const std::optional<std::string>& id = sender->TestId();
        if (id && !id->empty() && sender->TestStartTime() != 0) {
          sender->SendDiagTestCompletedTrap(id->c_str(), sender->TestSpinLock(), kTestDonePass, testDetail.c_str(),
                                            sender->TestStartTime(), 0);
        } else if (haveTest) {
          const uint8_t result = lastTest.data.empty() ? 0 : lastTest.data[0];
          const int outcome = result == BATTERY_TEST_PASSED          ? kTestDonePass
                              : result == BATTERY_TEST_FAILED        ? kTestDoneError
                              : result == BATTERY_TEST_NOT_PERFORMED ? kTestAborted
                                                                     : kTestNoneInitiated;
          sender->SendDiagTestCompletedTrap(kQuickBatteryTestId, 0, outcome, testDetail.c_str(),
                                            static_cast<time_t>(lastTest.time), 0);
        } else {
          Diag() << "No battery test recorded: no test trap\n";
        }
      } else {
        sender->SendAlarmEntryTrap(code, active ? 0 : 1);
      }
    };
    network_.Post("a trap to " + manager.hostName, lane, std::move(send));
  }
}

void KT_Action::SendRemoteNotice(const KT_ActionEntry& record) {
  const std::optional<std::string> text = record.GetMessage();
  const std::optional<std::string> hostText = record.GetRemoteHost();
  if (!text || !hostText || hostText->empty()) {
    Diag() << "Remote host action without a message or a host\n";
    return;
  }
  // The message as a SET of the command block's message command (27, 9), in the block's
  // text form.
  const std::string message = text->substr(0, 254);
  KT_ScpMessage set(SCP_SET, {BLOCK_COMMAND, COMMAND_MESSAGE, 0});
  set.data.push_back(static_cast<uint8_t>(message.size() + 1));
  set.data.insert(set.data.end(), message.begin(), message.end());
  set.data.push_back(0);
  std::vector<uint8_t> frame;
  if (BuildScpFrame(set, frame) != 1) return;

  const size_t marker = hostText->find(kRemoteServerMarker);
  if (marker != std::string::npos) {
    // A network client of the configuration, reached over IPX.
    const std::string name = hostText->substr(0, marker);
    KT_Address address;
    bool found = false;
    {
      auto lock = scp_.Lock();
      KT_NetClient* client = scp_.config.PowerEventClients().FindByName(name);
      if (client == nullptr) client = scp_.config.ScheduledShutdownClients().FindByName(name);
      if (client != nullptr) {
        address.SetType(ADDRESS_IPX);
        address.SetIpAddress(client->address.GetIpAddress());
        address.SetPort(client->address.GetPort());
        address.SetNode(client->address.Node());
        found = true;
      }
    }
    if (!found) {
      Diag() << "Remote host " << name << " is not a network client\n";
      return;
    }
    auto send = [address, frame](const std::atomic<bool>&) mutable {
      KT_IPX channel;
      if (channel.Open(0) != 0) return;
      channel.SendData(&address, frame.data(), frame.size());
      channel.Close();
    };
    network_.Post("a notice to " + name, KT_NetworkActions::kNumericLane, std::move(send));
    return;
  }
  const std::string host = *hostText;
  const int port = remote_port_;
  auto send = [host, port, frame](const std::atomic<bool>& stop) {
    uint32_t ip = 0;
    if (!KT_NetworkActions::AddressOf(host, ip, stop, "Remote host")) return;
    KT_UDP channel;
    if (channel.Open(0) != 0) return;
    KT_Address address(ADDRESS_IP);
    address.SetIpAddress(ip);
    address.SetPort(htons(static_cast<uint16_t>(port)));
    if (channel.SendData(&address, frame.data(), frame.size()) != 0) {
      Diag() << "Notice to " << host << " not sent\n";
    }
    channel.Close();
  };
  network_.Post("a notice to " + host, KT_NetworkActions::LaneOf(host), std::move(send));
}

void KT_Action::PlaySound(const std::string& file) {
  // Between the moment a shutdown is due and the shutdown nothing waits for a sound player.
  if (shutdown_started_.load() || IsShutdownRequired(nullptr) != 0) {
    Diag() << "A shutdown is due: the sound is started, not waited for\n";
    services_.StartSound(file.c_str());
    return;
  }
  services_.PlaySound(file.c_str());
}

// ---- shutdown ------------------------------------------------------------------------------

int KT_Action::IsShutdownRequired(int64_t* startDelay) {
  auto lock = scp_.Lock();
  if (scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) != 1) {
    if (startDelay) *startDelay = 0;
    return 0;
  }
  const int64_t delay = int64_t{scp_.config.GetShutdownStartDelay()} * 60;
  if (startDelay) *startDelay = delay;
  if (scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY) == 1) return 2;
  return platform::Now() - scp_.upsStatus.GetAlarmTime(ALARM_ON_BATTERY) >= delay ? 1 : 0;
}

std::string KT_Action::ShutdownCountdownText(int alarm) {
  if (alarm != ALARM_ON_BATTERY) return std::string();
  int64_t s;
  {
    auto lock = scp_.Lock();
    if (scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) != 1) return std::string();
    s = scp_.upsStatus.GetAlarmTime(ALARM_ON_BATTERY) + int64_t{scp_.config.GetShutdownStartDelay()} * 60 -
        platform::Now();
  }
  char buf[96];
  if (s <= 0) return "Tremona: System shutdown NOW!";
  const int minutes = static_cast<int>(s / 60);
  const int seconds = static_cast<int>(s % 60);
  if (minutes == 1) {
    std::snprintf(buf, sizeof(buf), "Tremona: System shutdown in %d minute and %d seconds.", minutes, seconds);
  } else if (minutes >= 2) {
    std::snprintf(buf, sizeof(buf), "Tremona: System shutdown in %d minutes and %d seconds.", minutes, seconds);
  } else {
    std::snprintf(buf, sizeof(buf), "Tremona: System shutdown in %d seconds.", seconds);
  }
  return buf;
}

bool KT_Action::UpsWorkerServesQueue() {
  int mode;
  {
    auto lock = scp_.Lock();
    mode = scp_.config.GetCommMode();
  }
  switch (mode) {
    case COMM_SERIAL_NORMAL:
    case COMM_SERIAL_MASTER:
    case COMM_SERIAL_SLAVE:
    case COMM_NETWORK_MASTER:
    case COMM_CONTACT_CLOSURE:
      return services_.GetState(THREAD_SERIAL) == kThreadRunning;
    case COMM_SNMP_ADAPTER:
      return services_.GetState(THREAD_SNMP) == kThreadRunning;
    case COMM_NETBCM_ADAPTER:
      return services_.GetState(THREAD_NETBCM) == kThreadRunning;
    default:
      return false;  // idle, network slave, demo: nothing drains serial_queue
  }
}

void KT_Action::TraceQueue() {
  for (const SystemRequest& r : scp_.serial_queue.Entries()) {
    Diag() << r.type << "." << r.branch << " is still on the queue\n";
  }
}

void KT_Action::WaitForUpsCommand(int branch) {
  if (!UpsWorkerServesQueue()) {
    Diag() << "No UPS-side worker serves serial_queue in this mode: not waiting for the UPS command\n";
    return;
  }
  for (int waited = 0;; ++waited) {
    if (scp_.serial_queue.Find(BLOCK_COMMAND, branch) < 0) {
      Diag() << "The UPS command has been taken\n";
      return;
    }
    bool lost;
    {
      auto lock = scp_.Lock();
      lost = scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) == 1;
    }
    if (lost) {
      Diag() << "Communication with the UPS is lost: not waiting for the UPS command\n";
      return;
    }
    if (!UpsWorkerServesQueue()) {
      Diag() << "The UPS-side worker has stopped: not waiting for the UPS command\n";
      return;
    }
    if (waited >= kUpsCommandWaitSeconds) {
      Diag() << "The UPS command is still on the queue after " << kUpsCommandWaitSeconds
             << " seconds: the shutdown goes on without it\n";
      return;
    }
    TraceQueue();
    Diag() << "waiting on UPS off command\n";
    services_.Pause(1000);
  }
}

int KT_Action::ShutdownSequence(int reason) {
  if (reason < SHUTDOWN_PROLONGED_OUTAGE || reason > SHUTDOWN_WITHOUT_UPS_OFF) {
    Diag() << "ShutdownSequence: unknown reason " << reason << kendl;
    return -1;
  }
  if (shutdown_started_.exchange(true)) {
    Diag() << "ShutdownSequence: a shutdown is already under way (reason " << reason << ")\n";
    return -1;
  }
  Diag() << "KT_Action::ShutdownSequence, reason = " << reason << kendl;

  // 1. Nothing queued earlier goes to the UPS now.
  scp_.serial_queue.Clear();

  // 2. The reason's event and alarm, and the actions configured for them.
  const uint8_t event = static_cast<uint8_t>(kReasonEvent[reason]);
  {
    auto lock = scp_.Lock();
    scp_.eventLog.AddRecord(static_cast<uint32_t>(platform::Now()), 1, &event);
    scp_.upsStatus.SetAlarm(kReasonAlarm[reason]);
  }
  TakeAction();

  // 3. The consoles see that the agent goes away.
  services_.Pause(kShutdownAnnounceMs);
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
  }

  std::optional<std::string> command;
  bool commandOnLowBattery;
  bool runSaver;
  bool turnOffUps;
  {
    auto lock = scp_.Lock();
    command = scp_.config.GetPreShutdownCommand();
    commandOnLowBattery = scp_.config.GetCommandOnLowBattery() == 1;
    runSaver = scp_.config.GetRunFileSaver() == 1;
    turnOffUps = scp_.config.GetTurnOffUps() == 1;
  }

  // 4. The pre-shutdown command (on low battery only when configured so).
  if (command && !command->empty() && (reason != SHUTDOWN_LOW_BATTERY || commandOnLowBattery)) {
    Diag() << "Running the pre-shutdown command: " << *command << kendl;
    const int r = services_.RunAndWait(command->c_str());
    if (r == 0) {
      Diag() << "The pre-shutdown command is still running: the shutdown goes on\n";
    } else if (r < 0) {
      Diag() << "The pre-shutdown command could not be started\n";
    }
  }

  // 5. The file saver.
  if (runSaver) {
    Diag() << "Running the file saver\n";
    if (services_.RunSaver() < 0) Diag() << "The file saver failed or is still running: the shutdown goes on\n";
  }

  // 6. The UPS command. A reboot restarts the computer by itself: a UPS that turned its output
  // off and on again after it would cut the power of a computer already starting again.
  int branch = 0;
  if ((reason == SHUTDOWN_PROLONGED_OUTAGE || reason == SHUTDOWN_LOW_BATTERY) && turnOffUps) {
    branch = kUpsOffCommand;
  } else if (reason == SHUTDOWN_SCHEDULED) {
    branch = COMMAND_RESTART;
  }
  if (branch != 0) {
    scp_.serial_queue.Post(BLOCK_COMMAND, 0, 1, branch);
    Diag() << "Added SCP_COMMAND " << branch << " to serial_queue\n";
    // 7. The UPS-side worker sends it.
    WaitForUpsCommand(branch);
  }

  // 8. The agent stops, then the system goes down (or, for a reboot, restarts).
  services_.StopAgent(0);
  if (reason == SHUTDOWN_REMOTE) {
    const int result = services_.RebootSystem();
    Diag() << "RebootSystem returned " << result << kendl;
    return result;
  }
  const int result = services_.ShutdownSystem();
  Diag() << "ShutdownSystem returned " << result << kendl;
  return result;
}
