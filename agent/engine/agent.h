// KT_Agent: the one agent object of the process. InitializeAgent brings the SCP object up
// from the record files and the command line, picks the communication path (serial UPS, SNMP
// adapter, network BCM adapter, network slave, idle) and starts the worker threads;
// MonitorLoop is one pass of the agent's supervision, run every 2 seconds by the main thread;
// SSQ drains system_queue once per pass (agent/engine/agent_requests.cpp).
//
// The agent works on the SCP object and the OS-services object it is given; the action
// engine, the serial detection and the adapter drivers are attached through the seams of
// agent/engine/action_engine.h and agent/engine/worker_drivers.h. Time comes from the process clock
// (platform/clock.h) and every wait goes through the services' Pause, so tests drive the loop
// without sleeping.
//
// Locking: the agent holds the SCP object's lock while it reads or changes blocks, and never
// while it waits for a thread or calls into the OS services' stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "agent/engine/action_engine.h"
#include "agent/engine/worker_drivers.h"
#include "core/base/error_status.h"

class KT_SCP;
class KT_OSServices;
struct KT_ScpMessage;

// Texts of the agent's message boxes.
inline constexpr const char* kCorruptedConfigText = "Corrupted Configuration files.\nUse Tavona/Fenn/Kessa to reconfigure.";

class KT_Agent : public KT_ErrorStatus {
 public:
  KT_Agent(KT_SCP& scp, KT_OSServices& services);
  ~KT_Agent();
  KT_Agent(const KT_Agent&) = delete;
  KT_Agent& operator=(const KT_Agent&) = delete;

  // Command line: for i from 1, the option letter is the second character of argv[i] (so
  // "-b" and "/b" are the same): b foreground; c, d, g, s take the next argument as the
  // adapter name, serial device, read community, write community; x the next argument as the
  // forced mode (atoi, modulo 256); anything else is skipped alone. An option that needs an
  // argument but comes last is skipped.
  void ParseOptions(int argc, const char* const* argv);

  // Start-up, once (see agent.cpp for the steps).
  void InitializeAgent();
  // One supervision pass.
  void MonitorLoop();
  // Drains system_queue (agent/engine/agent_requests.cpp).
  void SSQ();

  // Serial detection: 1 (or the config write's result) when a UPS was found and the serial
  // thread started, 0 when not (the agent is then idle).
  int Establish();
  void GoIdle();
  // Idle after an adapter thread's adapter did not answer, or a setting it needs is missing:
  // mode and alarms as GoIdle (and the type detection over), the status and information
  // stamps renewed; the information block keeps what it holds.
  void GoIdleAdapterUnreachable();
  void GoNetworkSlave();
  void ResetUpsView();
  // Whether a UPS worker reads the UPS's alarm queue. Without one (idle, network slave) a GET
  // of the queue is answered with the queue as it stands, empty on a fresh agent, instead of
  // queueing a read that no thread would ever serve; with one, its first GET reads the UPS.
  void SetAlarmQueueRead(bool byWorker);
  // Reads the record files of the UPS-side blocks (notification, schedule, load segments,
  // battery test, battery information); a missing one is written from the block's defaults.
  void UpdateSCPFromDisk();
  // Reads the event log and the battery log from the files the configuration names: at
  // start-up, once config.dat has been read (a missing file starts an empty log).
  void ReadLogFiles();
  // 0 nothing to do, 1 shut the system down now, 2 shut the scheduled load segment down.
  int CheckTimedShutdown();
  int CheckLoadControl(int type);
  void ActivateNetworkShutdown();
  // Status, information and meter requests for an adapter thread.
  void PostAdapterRequests();
  // Writes config.dat after an applied SET of the configuration, so that a crash or a power cut
  // cannot take back a change the console was told is set; a failed write raises the
  // software-error alarm. The write's result.
  int SaveConfigFile();
  // The SCP object's set keeper (installed by the constructor): writes the record file of a
  // block that has one after a console's SET changed it, before the SET is answered. A failed
  // write raises the software-error alarm and gives -1 ("Set Failed"); a block without a file
  // gives 1. A scheduled-shutdown table or a battery-test schedule that can never run (an
  // entry without a time, a repeat the agent cannot follow, a next test the schedule cannot
  // reach the present from) gives -1 without a write.
  int KeepSet(int blockId, int branch);
  // The SCP object's set check (installed by the constructor): a SET of the configuration that
  // would give a log a name the agent will not use as given (KT_Daemon::LogNameRefusal), or
  // whose data does not decode, is refused, with the reason in the trace. A name the SET
  // leaves as it is passes. A master's command (27, 4) is taken only whole, with the password
  // it carries (master_command); a SET of one of its fields alone is refused.
  bool CheckSet(int blockId, const KT_ScpMessage& message);

  // Option fields.
  std::optional<std::string> deviceName;
  std::optional<std::string> adapterName;
  std::optional<std::string> readCommunity;
  std::optional<std::string> writeCommunity;
  // Forced mode from -x; then the agent's current mode (the adapter threads set it to idle
  // when their adapter does not answer).
  std::atomic<uint8_t> mode{255};
  int32_t foreground = 0;

  // Edge detectors and the remote schedule.
  int64_t batt_time = 0;
  int64_t low_batt_time = 0;
  int64_t remote_shutdown_time = 0;
  // The outage a master agent told this agent of (its utility-failure or low-battery command,
  // until its utility-restored command), and whether it was low battery: that shuts this
  // computer down as its message says, whether or not the utility failure was heard.
  bool master_outage = false;
  bool master_low_battery = false;
  // The master's network command last refused for a wrong password (-1 = none since the last
  // accepted one): its repeats are not logged again.
  int refused_master_command = -1;
  // The master's command (27, 4) as the frame of its last accepted SET carried it, password and
  // all, until the system request acts on it: the password is checked against the frame's
  // own, never against what earlier frames left in the command block. Guarded by the SCP
  // object's lock.
  struct MasterCommand {
    int command = 255;
    int shutDelay = 255;
    int warnDelay = 255;
    int timeShutDelay = 255;
    std::optional<std::string> password;
  };
  std::optional<MasterCommand> master_command;

  // Reconnect requests for a running adapter thread (new adapter settings).
  std::atomic<bool> snmpReconnect{false};
  std::atomic<bool> netBcmReconnect{false};
  // When the running adapter thread last heard from its network adapter: its start, the probe
  // of its adapter and every good status read (seconds since 1970); 0 while none runs. Each
  // monitor pass in an adapter mode checks it (CheckAdapterContact).
  std::atomic<int64_t> adapterHeard{0};

  KT_SCP& Scp() { return scp_; }
  KT_OSServices& Services() { return services_; }

  // Seams.
  void SetActionEngine(AgentActionEngine* engine) { actions_ = engine; }
  AgentActionEngine* ActionEngine() const { return actions_; }
  void SetSerialLinkFactory(SerialLinkFactory factory) { serial_link_factory_ = std::move(factory); }
  std::unique_ptr<SerialUpsLink> CreateSerialLink();
  void SetSnmpClientFactory(SnmpClientFactory factory) { snmp_factory_ = std::move(factory); }
  std::unique_ptr<SnmpAdapterClient> CreateSnmpClient();
  void SetNetBcmClientFactory(NetBcmClientFactory factory) { netbcm_factory_ = std::move(factory); }
  std::unique_ptr<NetBcmAdapterClient> CreateNetBcmClient();

  // The data directory the agent makes its working directory at start (empty: stay).
  void SetDataDirectory(const std::string& dir) { data_directory_ = dir; }
  const std::string& DataDirectory() const { return data_directory_; }
  // The system SNMP service started at start-up (empty: none).
  void SetSnmpServiceName(const std::string& name) { snmp_service_ = name; }

 private:
  void RunShutdownSequence(int reason);
  void TraceMonitorHeader();
  // An adapter that has not been heard from for longer than the configuration's communication
  // time-out, counted from when the next status read was due (the polling interval), is a lost
  // communication with the UPS (alarm 7), whatever its thread is doing: a thread that waits on
  // a silent adapter, or cannot get on at all, must not leave the UPS reported normal. A good
  // status read clears the alarm again.
  void CheckAdapterContact();
  void HandleConfigRequest(int set, int branch);
  // Acts on a SET of one configuration branch (new serial or adapter settings).
  void ApplyConfigSet(int branch);
  void HandleCommand(int command);
  // CheckSet for a SET of the master's command: keeps what a whole one carries, refuses a field.
  bool TakeMasterCommand(const KT_ScpMessage& message);

  KT_SCP& scp_;
  KT_OSServices& services_;
  AgentActionEngine* actions_ = nullptr;
  SerialLinkFactory serial_link_factory_;
  SnmpClientFactory snmp_factory_;
  NetBcmClientFactory netbcm_factory_;
  std::string data_directory_;
  std::string snmp_service_ = "snmp";
};
