#include "agent/servers/network_server.h"

#include <arpa/inet.h>

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

namespace {

// Seconds past the moment the monitor loop starts a scheduled shutdown (its lead before the
// shutdown time) within which the schedule counts as run rather than withdrawn.
constexpr int64_t kScheduleRunMargin = 5;
// Each repeated command (1, 5) is tried this many turns per listed client.
constexpr int kCountdownTurnsPerClient = 10;

std::string DottedText(uint32_t ipNetworkOrder) {
  char text[INET_ADDRSTRLEN] = "";
  in_addr a{};
  a.s_addr = ipNetworkOrder;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
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
  const int r = udp_.Receive(&sender, received);
  if (r < 0) {
    // A datagram too long for the buffer, or a socket error: traced, and the turn goes on.
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
      if (client.lastUF != 0) return 0;
      client.lastUF = now;
      break;
    case CLIENT_UTILITY_RESTORED:
      if (client.lastUF == 0) return 0;
      client.lastUF = 0;
      break;
    case CLIENT_LOW_BATTERY:
      if (client.lastLB != 0) return 0;
      client.lastLB = now;
      break;
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
  Diag() << "Sent message to " << DottedText(to.GetIpAddress()) << " - " << r << kendl;
  return r == 1 ? 1 : -1;
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
  const bool lowBattery = scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY) == 1;

  KT_NetClientList& power = scp_.config.PowerEventClients();
  if (power.Count() > 0 && (onBattery || lowBattery || restore_countdown_ != 0)) {
    for (KT_NetClient& c : power.Clients()) {
      if (!OfTransport(c, transport)) continue;
      int command = -1;
      if (onBattery) {
        command = CLIENT_UTILITY_FAILURE;
        restore_countdown_ = kCountdownTurnsPerClient * power.Count();
      } else if (restore_countdown_ != 0) {
        command = CLIENT_UTILITY_RESTORED;
        --restore_countdown_;
      }
      if (lowBattery) command = CLIENT_LOW_BATTERY;
      if (command < 0) continue;
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
      server.Close();
    }
  }
  Diag() << "exiting network thread\n";
  state.store(kThreadEnded);
  return 0;
}
