#include "agent/servers/network_server.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "agent/engine/agent.h"
#include "agent/servers/command_server.h"
#include "agent/engine/os_services.h"
#include "agent/engine/trace_dumps.h"
#include "core/discovery/discover.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "platform/clock.h"
#include "platform/system_log.h"

namespace {

// Seconds past the moment the monitor loop starts a scheduled shutdown (its lead before the
// shutdown time) within which the schedule counts as run rather than withdrawn.
constexpr int64_t kScheduleRunMargin = 5;
// The cancellation of a scheduled shutdown is tried this many turns per listed client.
constexpr int kCountdownTurnsPerClient = 10;
// A power-event command is repeated to a client at this cadence while its condition lasts, so
// that a client that restarted or lost a datagram is told too; a client already told takes a
// repeat without a second effect. One datagram of under a hundred bytes per client every 10 s
// is nothing to a network, even with hundreds of clients, and a client that missed the
// low-battery command starts its shutdown at most 10 s late, out of the minutes that a UPS's
// low-battery warning leaves.
constexpr int64_t kCommandRepeatSeconds = 10;
// After the power returned, or when the master starts with its UPS on line, the clients are
// told that the utility is restored for this long: three tries at the repeat cadence.
constexpr int64_t kRestoreWindowSeconds = 25;
// The low-battery command goes to each client this many times, at least kLowBatteryPaceMs
// apart, before it falls back to the repeat cadence: paced by the clock, not by turns, since a
// turn is shorter when datagrams come in (the clients' answers to the command itself), and a
// loss of a few seconds on the network must not swallow them all. What a master that stops (its
// own low-battery shutdown) has not sent of them yet goes out before its network thread ends,
// kLowBatteryGapMs apart. A client that loses a datagram or two is still told within seconds,
// and the master's own shutdown waits a few seconds at most.
constexpr int kLowBatterySends = 4;
constexpr uint64_t kLowBatteryPaceMs = 2000;
constexpr int kLowBatteryGapMs = 1000;

// Whether a command that went out at `last` (0 = never) is to go out (again) now. A clock set
// back makes it due at once.
bool Due(time_t last, int64_t now) { return last == 0 || now < last || now - last >= kCommandRepeatSeconds; }

const char* CommandName(int command) {
  switch (command) {
    case CLIENT_UTILITY_FAILURE:
      return "utility failure";
    case CLIENT_UTILITY_RESTORED:
      return "utility restored";
    case CLIENT_LOW_BATTERY:
      return "low battery";
    case CLIENT_SCHEDULED_SHUTDOWN:
      return "scheduled shutdown";
    case CLIENT_SHUTDOWN_CANCELLED:
      return "scheduled shutdown cancelled";
    default:
      return "unknown";
  }
}

std::string DottedText(uint32_t ipNetworkOrder) {
  char text[INET_ADDRSTRLEN] = "";
  in_addr a{};
  a.s_addr = ipNetworkOrder;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// The client as the master's messages name it: its IP address, or an IPX client's host name.
std::string ClientText(const KT_NetClient& client) {
  if (client.address.GetType() == ADDRESS_IP) return DottedText(client.address.GetIpAddress());
  const char* name = client.address.StoredHostName();
  return name != nullptr ? name : "(IPX)";
}

bool OfTransport(const KT_NetClient& client, int transport) {
  return client.address.GetType() == (transport == TRANSPORT_IPX ? ADDRESS_IPX : ADDRESS_IP);
}

}  // namespace

KT_NetworkServer::KT_NetworkServer(KT_SCP& scp) : scp_(scp) {}

KT_NetworkServer::~KT_NetworkServer() { Close(); }

int KT_NetworkServer::Open(int port) {
  udp_.Initialize();
  if (udp_.OpenChannel(port) < 0) {
    Diag() << "NetworkThread: cannot open UDP port " << port << " on "
           << DottedText(KT_UDP::DefaultBindAddress()) << ": "
           << (udp_.systemError ? std::strerror(udp_.systemError) : "unknown reason") << kendl;
    PrintErrorStatus(udp_);
    return -1;
  }
  opened_ = platform::Now();
  ipx_.Initialize();
  ipx_open_ = ipx_.OpenChannel(0) >= 0;
  if (!ipx_open_) Diag() << "NetworkThread: IPX is not available, UDP only\n";
  return 1;
}

void KT_NetworkServer::Close() {
  udp_.CloseChannel();
  if (ipx_open_) ipx_.CloseChannel();
  ipx_open_ = false;
  clients_.Clear();
}

void KT_NetworkServer::Turn(int waitSeconds) {
  Diag() << "NETWORK THREAD IS ALIVE" << kendl;
  int ready = udp_.WaitForData(waitSeconds);
  if (ready < 0) {
    PrintErrorStatus(udp_);
  } else if (ready == 0) {
    Diag() << "Waiting for input\n";
  }
  for (int served = 0; ready > 0 && served < kMaxDatagramsPerTurn; ++served) {
    ServeOneDatagram();
    ready = udp_.WaitForData(0);
  }
  clients_.PushUpdates(scp_, udp_);
  CheckNetworkShutdownClients(TRANSPORT_UDP, udp_);
  if (ipx_open_) CheckNetworkShutdownClients(TRANSPORT_IPX, ipx_);
}

void KT_NetworkServer::ServeOneDatagram() {
  KT_Address sender;
  std::vector<uint8_t> received;
  const int r = udp_.ReceiveBounded(&sender, received);
  if (r == kUdpOversize) {
    // Anyone may send one: dropped with a trace line, as other junk is, but no error record (a
    // stream of them would fill error.dat).
    Diag() << "Datagram longer than 5000 bytes dropped: ";
    PrintAddress(sender);
  } else if (r < 0) {
    // A socket error: traced, and the turn goes on.
    PrintErrorStatus(udp_);
  } else if (r == 0 || received.empty()) {
    Diag() << "Nothing to read\n";
  } else {
    PrintAddress(sender);
    std::vector<uint8_t> answer;
    ServeScpBlock(scp_, clients_, udp_, sender, received.data(), received.size(), answer);
  }
}

int KT_NetworkServer::BuildClientCommandFrame(std::vector<uint8_t>& frame) {
  frame.clear();
  const KT_ScpMessage get(SCP_GET, {BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}, {}, 0);
  if (command_block_.ConvertMessage(frame, get) < 0 || frame.size() < kScpDataHeader) {
    frame.clear();
    return -1;
  }
  return 1;
}

int KT_NetworkServer::SendClientCommand(int command, KT_NetClient& client, KT_DatagramChannel& channel) {
  Diag() << "SendClientCommand(" << command << ",*v,&net)\n";
  Diag() << "client command         = " << command << kendl;
  Diag() << "client shut_delay      = " << static_cast<int>(client.shut_delay) << kendl;
  Diag() << "client warn_delay      = " << static_cast<int>(client.warn_delay) << kendl;
  Diag() << "client time_shut_delay = " << static_cast<int>(client.time_shut_delay) << kendl;
  const time_t now = static_cast<time_t>(platform::Now());
  switch (command) {
    case CLIENT_UTILITY_FAILURE:
      if (!Due(client.lastUF, now)) return 0;
      client.lastUF = now;
      client.lastUR = 0;
      client.restoreOwed = false;
      break;
    case CLIENT_UTILITY_RESTORED:
      // Only a client that was told of an outage, or may hold one, is told; then again at the
      // repeat cadence while the restore window lasts.
      if (client.lastUR != 0 ? !Due(client.lastUR, now)
                             : client.lastUF == 0 && client.lastLB == 0 && !client.restoreOwed) {
        return 0;
      }
      client.lastUF = 0;
      client.lastLB = 0;
      client.lowBatterySends = 0;
      client.restoreOwed = false;
      client.lastUR = now;
      break;
    case CLIENT_LOW_BATTERY: {
      const uint64_t tick = platform::TickMs();
      if (client.lowBatterySends >= kLowBatterySends) {
        if (!Due(client.lastLB, now)) return 0;
      } else if (client.lowBatterySends > 0 && !owed_round_ && tick - client.lastLBTick < kLowBatteryPaceMs) {
        return 0;
      }
      if (client.lowBatterySends < kLowBatterySends) ++client.lowBatterySends;
      client.lastLB = now;
      client.lastLBTick = tick;
      client.lastUR = 0;
      client.restoreOwed = false;
      break;
    }
    case CLIENT_SCHEDULED_SHUTDOWN:
      if (client.lastSS != 0) return 0;
      client.lastSS = now;
      command_block_.SetTimeShutDelay(client.time_shut_delay);
      break;
    case CLIENT_SHUTDOWN_CANCELLED:
      if (client.lastSS == 0) return 0;
      client.lastSS = 0;
      break;
    default:
      return 0;
  }
  command_block_.SetCommand(command);
  command_block_.SetShutDelay(client.shut_delay);
  command_block_.SetWarnDelay(client.warn_delay);
  // A client without a password must not be sent the previous client's.
  command_block_.SetPassword(client.password ? client.password->c_str() : nullptr);

  std::vector<uint8_t> frame;
  if (BuildClientCommandFrame(frame) != 1) {
    Diag() << "SendClientCommand: the command frame cannot be built\n";
    return -1;
  }
  frame[3] = SCP_SET;
  KT_Address to;
  to.SetType(client.address.GetType());
  to.SetIpAddress(client.address.GetIpAddress());
  to.SetNode(client.address.Node());
  to.SetPort(client.address.GetType() == ADDRESS_IP ? htons(kScpUdpPort) : client.address.GetPort());
  const int r = channel.Send(&to, frame);
  const int sendError = errno;
  Diag() << "Sent message to " << DottedText(to.GetIpAddress()) << " - " << r << kendl;
  if (r == 1) {
    client.failedCommand = -1;
    return 1;
  }
  if (client.failedCommand != command) {
    // Said once per client and command, not at every repeat: a master that cannot reach a
    // client (a bind address on another network, no route) must be seen outside its trace.
    client.failedCommand = command;
    const std::string text = std::string("Cannot send the ") + CommandName(command) + " command to client agent " +
                             ClientText(client) + ": " + (sendError != 0 ? std::strerror(sendError) : "send failed");
    Diag() << text << kendl;
    platform::WriteSystemLog("VigilNT", platform::LogEntryType::kError, {text});
  }
  return -1;
}

bool KT_NetworkServer::UpsSeenOnLine() {
  const uint8_t mode = scp_.config.GetCommMode();
  const bool upsMode = mode <= COMM_CONTACT_CLOSURE || mode == COMM_SNMP_ADAPTER || mode == COMM_NETBCM_ADAPTER;
  StatusBlock& status = scp_.upsStatus;
  // A status read since this server started, by a worker that talks to the UPS.
  // A low battery on line (still recharging after an outage) is on line all the same.
  return upsMode && status.IsAlarmSet(ALARM_LOST_UPS_COMM) != 1 && status.IsAlarmSet(ALARM_IDLE) != 1 &&
         status.IsAlarmSet(ALARM_DETERMINING_UPS_TYPE) != 1 && status.IsAlarmSet(ALARM_ON_BATTERY) != 1 &&
         status.Branches().GetTime(1) > opened_;
}

bool KT_NetworkServer::LowBatteryOnBattery() {
  StatusBlock& status = scp_.upsStatus;
  return status.IsAlarmSet(ALARM_ON_BATTERY) == 1 && status.IsAlarmSet(ALARM_LOW_BATTERY) == 1;
}

int KT_NetworkServer::SendOwedLowBattery(const std::function<void(int)>& pause) {
  // The clients still owed a low-battery command that can be sent to (the caller holds the
  // SCP object's lock).
  auto owed = [this] {
    std::vector<KT_NetClient*> out;
    if (!LowBatteryOnBattery()) return out;
    for (KT_NetClient& c : scp_.config.PowerEventClients().Clients()) {
      if (c.lowBatterySends >= kLowBatterySends) continue;
      if (c.address.GetType() == ADDRESS_IPX && (!ipx_open_ || !CompleteIpxAddress(c))) continue;
      out.push_back(&c);
    }
    return out;
  };
  int sent = 0;
  for (int round = 0; round < kLowBatterySends; ++round) {
    {
      auto lock = scp_.Lock();
      if (owed().empty()) break;
    }
    if (round == 0) Diag() << "Sending the client agents the low-battery commands still owed to them\n";
    // A gap after the last turn's send too.
    pause(kLowBatteryGapMs);
    auto lock = scp_.Lock();
    owed_round_ = true;
    for (KT_NetClient* c : owed()) {
      KT_DatagramChannel& channel = c->address.GetType() == ADDRESS_IPX ? static_cast<KT_DatagramChannel&>(ipx_) : udp_;
      if (SendClientCommand(CLIENT_LOW_BATTERY, *c, channel) == 1) ++sent;
    }
    owed_round_ = false;
  }
  return sent;
}

void KT_NetworkServer::DiscoverIpxHosts() {
  ipx_discovered_ = true;
  KT_Discover discover;
  discover.Initialize();
  if (discover.OpenChannel(0) < 0) return;
  if (discover.SendDiscoveryRequest(0, 0, 1) != 1) return;
  discover.CollectReplies(
      [this](KT_Address& found) {
        const char* name = found.StoredHostName();
        if (name == nullptr) return;
        IpxHost host;
        host.network = found.GetIpAddress();
        found.GetNode(host.node);
        host.socket = found.GetPort();
        ipx_hosts_[name] = host;
      },
      0, 1);
}

bool KT_NetworkServer::CompleteIpxAddress(KT_NetClient& client) {
  const char* name = client.address.StoredHostName();
  if (name == nullptr) return false;
  auto it = ipx_hosts_.find(name);
  if (it == ipx_hosts_.end()) return false;
  client.address.SetIpAddress(it->second.network);
  client.address.SetNode(it->second.node);
  // The agent listens two sockets above the one it announces.
  client.address.SetPort(htons(static_cast<uint16_t>(ntohs(it->second.socket) + 2)));
  return true;
}

void KT_NetworkServer::SettleCommandedSchedule(int64_t pending, int64_t now, KT_DatagramChannel& channel,
                                               int transport) {
  KT_NetClientList& clients = scp_.config.ScheduledShutdownClients();
  const int64_t lead = scp_.config.GetOsShutdownTime();
  const bool ran = now + lead + kScheduleRunMargin >= commanded_shutdown_;
  for (KT_NetClient& c : clients.Clients()) {
    if (ran) {
      // The clients shut down on their own: nothing to cancel, and the next schedule is
      // commanded afresh.
      c.lastSS = 0;
    } else if (OfTransport(c, transport)) {
      SendClientCommand(CLIENT_SHUTDOWN_CANCELLED, c, channel);
    }
  }
  if (ran || pending != 0) cancel_countdown_ = 0;
  commanded_shutdown_ = 0;
}

int KT_NetworkServer::CheckNetworkShutdownClients(int transport, KT_DatagramChannel& channel) {
  if (transport == TRANSPORT_IPX && !ipx_discovered_) {
    bool any = false;
    {
      auto lock = scp_.Lock();
      for (const KT_NetClient& c : scp_.config.PowerEventClients().Clients()) any = any || OfTransport(c, transport);
      for (const KT_NetClient& c : scp_.config.ScheduledShutdownClients().Clients()) {
        any = any || OfTransport(c, transport);
      }
    }
    // The discovery run waits for answers: never under the SCP object's lock.
    if (any) DiscoverIpxHosts();
  }

  int sent = 0;
  auto lock = scp_.Lock();
  const int64_t now = platform::Now();
  const bool onBattery = scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1;
  // Low battery is a command only on battery, when the master shuts down for it itself: on line
  // (a battery still recharging after an outage) it is no reason for anyone to go down.
  const bool lowBattery = LowBatteryOnBattery();

  KT_NetClientList& power = scp_.config.PowerEventClients();
  if (startup_restore_ && power.Count() > 0) {
    // What the clients were told before this master started is not known: once the UPS is
    // seen on line, every listed client is told that the utility is restored (one that holds
    // no outage takes that without any effect); seen on battery, the outage is told as usual.
    if (onBattery) {
      startup_restore_ = false;
    } else if (UpsSeenOnLine()) {
      Diag() << "The UPS is on line: telling the client agents that the utility is restored\n";
      for (KT_NetClient& c : power.Clients()) c.restoreOwed = true;
      restore_until_ = now + kRestoreWindowSeconds;
      startup_restore_ = false;
    }
  }
  if (onBattery) {
    restore_until_ = now + kRestoreWindowSeconds;
  } else if (restore_until_ != 0 && now >= restore_until_) {
    restore_until_ = 0;
    for (KT_NetClient& c : power.Clients()) {
      c.lastUR = 0;
      c.restoreOwed = false;
    }
  }
  if (power.Count() > 0 && (onBattery || restore_until_ != 0)) {
    for (KT_NetClient& c : power.Clients()) {
      if (!OfTransport(c, transport)) continue;
      int command = CLIENT_UTILITY_RESTORED;
      if (lowBattery) {
        command = CLIENT_LOW_BATTERY;
      } else if (onBattery) {
        command = CLIENT_UTILITY_FAILURE;
      }
      if (transport == TRANSPORT_IPX && !CompleteIpxAddress(c)) continue;
      if (SendClientCommand(command, c, channel) == 1) ++sent;
    }
  }

  KT_NetClientList& schedule = scp_.config.ScheduledShutdownClients();
  if (schedule.Count() > 0) {
    const int64_t pending = scp_.schedShutdown.GetShutdownTime();
    if (commanded_shutdown_ != 0 && pending != commanded_shutdown_) {
      SettleCommandedSchedule(pending, now, channel, transport);
    }
    if (pending != 0 || cancel_countdown_ != 0) {
      for (KT_NetClient& c : schedule.Clients()) {
        if (!OfTransport(c, transport)) continue;
        int command = -1;
        if (pending != 0) {
          const int64_t lead = (int64_t{c.time_shut_delay} + c.warn_delay) * 60;
          if (lead >= pending - now) {
            command = CLIENT_SCHEDULED_SHUTDOWN;
            cancel_countdown_ = kCountdownTurnsPerClient * schedule.Count();
          }
        } else {
          --cancel_countdown_;
          command = CLIENT_SHUTDOWN_CANCELLED;
        }
        if (command < 0) continue;
        if (transport == TRANSPORT_IPX && !CompleteIpxAddress(c)) continue;
        const int r = SendClientCommand(command, c, channel);
        if (r == 1) ++sent;
        if (command == CLIENT_SCHEDULED_SHUTDOWN && c.lastSS != 0) commanded_shutdown_ = pending;
        if (cancel_countdown_ <= 0) {
          cancel_countdown_ = 0;
          if (pending == 0) break;
        }
      }
    }
  }
  return sent;
}

int NetworkThread(KT_Agent& agent) {
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_NETWORK);
  {
    KT_NetworkServer server(agent.Scp());
    if (server.Open(kScpUdpPort) == 1) {
      while (state.load() == kThreadRunning) {
        server.Turn(1);
        if (state.load() != kThreadRunning) break;
        services.Pause(1000);
      }
      server.SendOwedLowBattery([&services](int ms) { services.Pause(ms); });
      server.Close();
    }
  }
  Diag() << "exiting network thread\n";
  state.store(kThreadEnded);
  return 0;
}
