// The agent's network command server: SCP frames on UDP port 7010 (and IPX where the kernel
// offers it), status pushes to the registered consoles, and -- for an agent with client
// agents in its configuration -- the network-shutdown commands to those clients.
//
// One turn (NetworkThread runs one every 1 to 2 seconds while its state word is 1, the turn and
// a pause of a second):
//   1. wait up to 1 s for a datagram; serve it and every further one already waiting, up to
//      kMaxDatagramsPerTurn (agent/servers/command_server.h)
//   2. push the status block to every registered console whose view is out of date
//   3. CheckNetworkShutdownClients for UDP, and for IPX when that channel is open
// The bound keeps a flood of datagrams to a few dozen frames a second of work for the agent,
// while a backlog that a flood leaves in the socket (bounded by the kernel's receive buffer)
// is worked off within seconds instead of holding the consoles' questions back for minutes.
// A receive error is traced and the turn goes on (pushes, client commands and the pause still
// happen), so no kind of bad datagram can make the thread spin.
//
// Client commands (block 27 branch 4, sent as an SCP_SET to port 7010 of each client):
//   0 utility failure      the UPS is on battery (power-event clients, configuration branch 9)
//   1 utility restored     after the UPS is off battery again
//   2 low battery          the UPS is on battery and reports low battery (wins over 0); on
//                          line a low battery (a battery still recharging) is no command
//   3 scheduled shutdown   a scheduled shutdown is nearer than the client's lead
//                          ((time_shut_delay + warn_delay) minutes; branch 10 clients)
//   5 shutdown cancelled   the scheduled shutdown went away before its time
// The power-event commands (0, 2) are repeated to each client every 10 s while the UPS stays on
// battery, so that a client that restarted or lost a datagram is told too; the first four
// low-battery commands go out at least 2 s apart (by the clock, at the first turn after that),
// and those the master has not sent yet when its network thread stops (its own low-battery
// shutdown) go out first, a second apart. 1 goes to each
// client that was told of the outage, three times 10 s apart. A master that starts is not
// sure what its clients were told before: once a status read shows its UPS on line, it tells
// every client that the utility is restored (a client that holds no outage ignores that).
// 3 and 5 go once per change (the clients' SS times). A send that fails is said once per client
// and command in the system log (error), not at every repeat. The frame
// is built in a command block of the server's own: the agent's own command block, which
// consoles can read, never holds a client's password.
//
// A scheduled shutdown that has run is not reported to the clients as cancelled; one that was
// moved to another time is cancelled and commanded again for the new time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/servers/client_list.h"
#include "core/scp/command_block.h"
#include "core/network/ipx.h"
#include "core/network/udp.h"

class KT_Agent;
class KT_SCP;
class KT_NetClient;
class KT_DatagramChannel;

// The client-command values.
enum ClientCommand : int {
  CLIENT_UTILITY_FAILURE = 0,
  CLIENT_UTILITY_RESTORED = 1,
  CLIENT_LOW_BATTERY = 2,
  CLIENT_SCHEDULED_SHUTDOWN = 3,
  CLIENT_SHUTDOWN_CANCELLED = 5,
};

// Transports of CheckNetworkShutdownClients.
enum ClientTransport : int {
  TRANSPORT_UDP = 1,
  TRANSPORT_IPX = 2,
};

class KT_NetworkServer {
 public:
  // Datagrams served in one turn at most.
  static constexpr int kMaxDatagramsPerTurn = 32;

  explicit KT_NetworkServer(KT_SCP& scp);
  ~KT_NetworkServer();
  KT_NetworkServer(const KT_NetworkServer&) = delete;
  KT_NetworkServer& operator=(const KT_NetworkServer&) = delete;

  // Opens the UDP channel on the port (the bind address is the process's, core/network/udp.h) and
  // tries IPX. 1, or -1 when the UDP channel cannot be opened (its error record is traced).
  int Open(int port = kScpUdpPort);
  void Close();
  // One turn (see the head of this file), waiting at most waitSeconds for a datagram.
  void Turn(int waitSeconds = 1);

  // Sends the commands the UPS state calls for to the clients of one transport. Returns the
  // number of commands sent.
  int CheckNetworkShutdownClients(int transport, KT_DatagramChannel& channel);
  // One command to one client, unless that client was already told (see the head of the
  // file). 1 sent, 0 skipped, -1 the frame could not be built or sent. The caller holds the
  // SCP object's lock.
  int SendClientCommand(int command, KT_NetClient& client, KT_DatagramChannel& channel);
  // The SCP_DATA frame of block 27 branch 4 of the server's command block.
  int BuildClientCommandFrame(std::vector<uint8_t>& frame);
  // Run when the thread stops: while the UPS is on battery with a low battery, sends each
  // power-event client the low-battery commands it is still owed of its first few, `pause`
  // (milliseconds) before each round. Returns the number of commands sent.
  int SendOwedLowBattery(const std::function<void(int)>& pause);

  KT_ClientList& Clients() { return clients_; }
  KT_UDP& Udp() { return udp_; }
  bool IpxOpen() const { return ipx_open_; }
  // The end of the window in which the clients are told that the utility is restored (0 =
  // none open).
  int64_t RestoreUntil() const { return restore_until_; }
  int CancelCountdown() const { return cancel_countdown_; }

 private:
  void ServeOneDatagram();
  // IPX: fills the client's network, node and socket from a discovery run (once).
  bool CompleteIpxAddress(KT_NetClient& client);
  void DiscoverIpxHosts();
  // A commanded scheduled shutdown whose time has come or changed: see the head of the file.
  void SettleCommandedSchedule(int64_t pending, int64_t now, KT_DatagramChannel& channel, int transport);
  // Whether a worker has read the UPS since this server opened and found it on line (the
  // caller holds the SCP object's lock).
  bool UpsSeenOnLine();
  // The UPS is on battery with a low battery: what the master shuts down for itself (the caller
  // holds the SCP object's lock).
  bool LowBatteryOnBattery();

  KT_SCP& scp_;
  KT_UDP udp_;
  KT_IPX ipx_;
  bool ipx_open_ = false;
  KT_ClientList clients_;
  CommandBlock command_block_;
  int64_t restore_until_ = 0;     // the restore window's end (0 = none open)
  bool startup_restore_ = true;    // the clients are still to be told of the UPS state at start
  int64_t opened_ = 0;             // when Open ran
  int cancel_countdown_ = 0;
  int64_t commanded_shutdown_ = 0;  // the shutdown time clients were told of (0 = none)
  bool ipx_discovered_ = false;
  bool owed_round_ = false;  // SendOwedLowBattery is sending: its own gap paces the commands
  struct IpxHost {
    uint32_t network = 0;
    uint8_t node[kIpxNodeLength] = {};
    uint16_t socket = 0;
  };
  std::map<std::string, IpxHost> ipx_hosts_;
};

// The network thread procedure: runs KT_NetworkServer turns while the thread's state word is 1
// and writes 255 into it when it ends (also when port 7010 cannot be opened). Returns 0.
int NetworkThread(KT_Agent& agent);
