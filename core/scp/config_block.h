// SCP block 4: the agent's configuration -- how it reaches the UPS, when and how it shuts
// the computer down, the log files, the network adapter connection, the user password, the
// client agents that get network-shutdown commands, and the serial ports present. The agent
// keeps it in "config.dat" and acts on a SET through its system-request handler.
//
// Branches and fields (record encoding, big-endian; defaults after SetDefaults):
//   1  serial device name (text, none), baud-rate code (255), communication mode (255)
//   2  OS shutdown time s (16-bit, 120), total battery time min (16-bit, 7), shutdown start
//      delay min (16-bit, 5), pre-shutdown command (text, none), run it on low battery (0),
//      turn the UPS off after the shutdown (1), run the file saver first (0)
//   3  audible alarm (255), low-battery warning (255)
//   4  powered devices (text), location (text)
//   5  event-log file name (text, "logfile.dat"), event-log size (16-bit, 100)
//   6  battery-log size (8-bit, 10), battery-log file name (text, "battlog.dat")
//   7  network adapter name, read community, write community (texts)
//   8  user password (text; the password record)
//   9  power-event clients, 10 scheduled-shutdown clients: a count byte, then per client:
//      IP address (32-bit, the address's bytes in network order), address type (32-bit:
//      1 IP, 2 IPX), IPX node (6 bytes), password (text), warn_delay, shut_delay,
//      time_shut_delay (bytes, 255 = not set), and for an IPX client its host name (text)
//      while the format selector is at least 1
//   11 serial ports present: a count byte, then each port name (text); always enumerated
//      anew when encoded
//   12 polling interval, communication time-out (32-bit; only for peers whose software
//      version's first number is 1, and in a message of the branch alone to or from an agent
//      of that version)
//   13 no loopback test (32-bit, 1); fields 2..10 reserved (accepted, nothing converted)
//
// config.dat holds the branches in order with branches 11 and 12 empty (the ports are
// enumerated anew, and the timing values travel only to peers of the first format); from file
// format 3 on, branch 12's two values follow after branch 13 (ConvertFile). A reader of an
// older format stops after branch 13, so an older agent still reads the rest of a newer file,
// and a file of an older format reads as before (branch 12 keeps its defaults).
//
// Range checks belong to the setters the consoles' dialogs call. The decoder (SETs and
// config.dat) stores what it receives, so that no stored configuration is lost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/block.h"
#include "core/network/net_client_list.h"
#include "core/scp/password.h"
#include "core/scp/port_list.h"

class UpsInfoBlock;

// Communication modes of the agent.
enum CommMode : int {
  COMM_SERIAL_NORMAL = 0,
  COMM_SERIAL_MASTER = 1,
  COMM_SERIAL_SLAVE = 2,
  COMM_NETWORK_MASTER = 3,
  COMM_CONTACT_CLOSURE = 4,
  COMM_IDLE = 5,
  COMM_NETWORK_SLAVE = 6,
  COMM_DEMO = 7,
  COMM_SNMP_ADAPTER = 8,
  COMM_NETBCM_ADAPTER = 9,
};

inline constexpr uint16_t kConfigUnset16 = 0xFFFF;
inline constexpr uint8_t kConfigUnset8 = 255;

// True when `name` may name one of the log files that the consoles configure (branch 5's event
// log, branch 6's battery log): the agent keeps them only as a plain file name in its data
// directory (letters, digits, '.', '_', '-'; not starting with '.'; at most 64 characters)
// that is not one of its other files (IsReservedAgentFileName). The agent refuses a SET of any
// other name and falls back to its default name for a stored one, so the consoles refuse it
// before sending.
bool IsAllowedLogFileName(const std::string& name);
// True for the names, in any letter case, of the agent's other files in its data directory:
// the record files but the two logs, error.dat, setup.dat, mib.txt, the mail files, the
// settings file's default name, the programs the agent is or runs, and the kept copies of
// damaged files ("NAME.bad").
bool IsReservedAgentFileName(const std::string& name);

class ConfigBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 4;
  static constexpr int kLastBranch = 13;
  // Smallest record of one client (absent texts).
  static constexpr size_t kMinClientBytes = 18;
  static constexpr uint16_t kMaxBatteryMinutes = 1800;

  // Error record functions (class 18). Setters: code 1 null text, 2 no memory, 3 out of
  // range (or a text too long for the record).
  enum : int32_t {
    FN_GET_ROUTE = 5,
    FN_CONVERT = 6,  // code: the branch
    FN_SERIAL_DEVICE = 10,
    FN_PRE_SHUTDOWN_COMMAND = 11,
    FN_POWERED_DEVICES = 12,
    FN_LOCATION = 13,
    FN_EVENT_LOG_NAME = 14,
    FN_BATTERY_LOG_NAME = 15,
    FN_ADAPTER_NAME = 16,
    FN_READ_COMMUNITY = 17,
    FN_WRITE_COMMUNITY = 18,
    FN_ADAPTER_PASSWORD = 19,
    FN_TOTAL_BATTERY_TIME = 20,
    FN_SHUTDOWN_START_DELAY = 21,
    FN_OS_SHUTDOWN_TIME = 22,
    FN_COMMAND_ON_LOW_BATTERY = 23,
    FN_TEXT_GET = 24,
  };

  ConfigBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // Frees the texts and applies the defaults (client and port lists emptied, the default
  // password); then every state byte of branches 0..13 back to 0.
  void SetDefaults();

  // Branch 1.
  std::optional<std::string> GetSerialDeviceName() const { return serial_device_; }
  int SetSerialDeviceName(const char* text);
  uint8_t GetBaudRate() const { return baud_; }
  int SetBaudRate(uint8_t code);
  uint8_t GetCommMode() const { return comm_mode_; }
  // A mode outside 0..9 is stored as 255.
  int SetCommMode(int mode);
  // The text of a mode (-1: the current one). Mode 8 reads "NetBCM Adapter" while the
  // operating-system type of the UPS information block given to SetUpsInfo is 0.
  std::string GetCommModeText(int mode = -1) const;
  void SetUpsInfo(const UpsInfoBlock* info) { ups_info_ = info; }

  // Branch 2. Range-checked setters answer 1, or -1 (error record) with the value kept.
  uint16_t GetOsShutdownTime() const { return os_shutdown_time_; }
  int SetOsShutdownTime(int seconds);      // 1..65535
  uint16_t GetTotalBatteryTime() const { return total_battery_time_; }
  int SetTotalBatteryTime(int minutes);    // 1..1800
  uint16_t GetShutdownStartDelay() const { return start_delay_; }
  // 1..1800, and not above the total battery time unless that is unset (0xFFFF).
  int SetShutdownStartDelay(int minutes);
  std::optional<std::string> GetPreShutdownCommand() const { return pre_shutdown_command_; }
  // A copy of the text, 1; a null text is refused (-1, code 1): ClearPreShutdownCommand
  // removes the command.
  int SetPreShutdownCommand(const char* text);
  void ClearPreShutdownCommand();
  uint8_t GetCommandOnLowBattery() const { return command_on_low_battery_; }
  int SetCommandOnLowBattery(int on);      // 0 or 1
  uint8_t GetTurnOffUps() const { return turn_off_ups_; }
  void SetTurnOffUps();                    // 1
  void ClearTurnOffUps();                  // 0
  uint8_t GetRunFileSaver() const { return run_file_saver_; }
  void SetRunFileSaver();
  void ClearRunFileSaver();

  // Branch 3.
  uint8_t GetAudibleAlarm() const { return audible_alarm_; }
  int SetAudibleAlarm(uint8_t v);
  uint8_t GetLowBatteryWarning() const { return low_battery_warning_; }
  int SetLowBatteryWarning(uint8_t v);

  // Branch 4.
  std::optional<std::string> GetPoweredDevices() const { return powered_devices_; }
  int SetPoweredDevices(const char* text);
  std::optional<std::string> GetLocation() const { return location_; }
  int SetLocation(const char* text);

  // Branches 5 and 6.
  // The log file names that a SET of this block would store: for each log, whether the SET
  // carries its name (a whole-block SET, branch 5 or field 5.1, branch 6 or field 6.2) and the
  // name it carries. The data is decoded into a scratch block, so that this one is not
  // touched. False when the SET carries a name but its data does not decode.
  struct LogNamesOfSet {
    bool event = false;
    std::optional<std::string> eventName;
    bool battery = false;
    std::optional<std::string> batteryName;
  };
  static bool ReadLogNamesOfSet(const KT_ScpMessage& set, LogNamesOfSet& out);
  std::optional<std::string> GetEventLogFileName() const { return event_log_name_; }
  int SetEventLogFileName(const char* text);
  uint16_t GetEventLogSize() const { return event_log_size_; }
  int SetEventLogSize(uint16_t records);
  uint8_t GetBatteryLogSize() const { return battery_log_size_; }
  int SetBatteryLogSize(uint8_t records);
  std::optional<std::string> GetBatteryLogFileName() const { return battery_log_name_; }
  int SetBatteryLogFileName(const char* text);

  // Branch 7, and the adapter password (never on the wire).
  std::optional<std::string> GetAdapterName() const { return adapter_name_; }
  int SetAdapterName(const char* text);
  std::optional<std::string> GetReadCommunity() const { return read_community_; }
  int SetReadCommunity(const char* text);
  std::optional<std::string> GetWriteCommunity() const { return write_community_; }
  int SetWriteCommunity(const char* text);
  std::optional<std::string> GetAdapterPassword() const { return adapter_password_; }
  int SetAdapterPassword(const char* text);

  // Branch 8.
  KT_Password& Password() { return password_; }
  const KT_Password& Password() const { return password_; }

  // Branches 9, 10, 11.
  KT_NetClientList& PowerEventClients() { return power_clients_; }
  KT_NetClientList& ScheduledShutdownClients() { return schedule_clients_; }
  KT_PortList& Ports() { return ports_; }

  // Branches 12 and 13.
  uint32_t GetPollingInterval() const { return polling_interval_; }
  int SetPollingInterval(uint32_t v);
  uint32_t GetCommTimeout() const { return comm_timeout_; }
  int SetCommTimeout(uint32_t v);
  uint32_t GetNoLoopbackTest() const { return no_loopback_; }
  int SetNoLoopbackTest(uint32_t v);
  // Branch 12 carries its values on the wire for a peer of the first data format. While
  // SetTimingAddressed(true) holds, it carries them whatever the peer: KT_SCP sets it around a
  // message that addresses the branch alone, to or from an agent of that format, so that such
  // an agent keeps and gives its timing before any peer has read its UPS information.
  void SetTimingAddressed(bool on) { timing_addressed_ = on; }
  // Whether branch 12 converts its values in a message now (never while converting the file).
  bool TimingOnWire() const;

  // config.dat's form of the block, for its reader and writer while the file-conversion flag
  // is set: ConvertBlock, then, while the format selector is at least kFileTimingFormat,
  // branch 12's polling interval and time-out (32-bit each, whatever the peer's version).
  // 1, or -1 when a conversion failed.
  static constexpr int kFileTimingFormat = 3;
  int ConvertFile(int direction, KT_RecordWriter* out, KT_RecordReader* in);

  // Set whenever field 1 or 3 of branch 1 is decoded; the agent clears it once it has
  // reopened the port.
  bool SerialSettingsChanged() const { return serial_changed_; }
  void ClearSerialSettingsChanged() { serial_changed_ = false; }
  // The config.dat reader and writer set the file-conversion flag (branches 11 and 12 then
  // convert nothing) and the format selector (the file's format version) around their
  // conversion, and put both back afterwards (false, 2).
  void SetFileConversion(bool on) { file_conversion_ = on; }
  bool IsFileConversion() const { return file_conversion_; }
  void SetFormatSelector(int v) { format_selector_ = v; }
  int GetFormatSelector() const { return format_selector_; }

 private:
  int StoreText(std::optional<std::string>& slot, const char* text, int32_t function, int branch, int field);
  int Refuse(int32_t function, int32_t code, int32_t value);
  void Changed(int branch, int field) { branches_.SetFieldState(branch, field, FIELD_CHANGED); }
  // A value every setting of its type accepts: stored and its field marked changed.
  template <typename T>
  int Store(T& slot, T value, int branch, int field) {
    slot = value;
    Changed(branch, field);
    return 1;
  }

  int ConvertClients(KT_NetClientList& list, int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertPorts(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertPassword(int direction, KT_RecordWriter* out, KT_RecordReader* in);

  // Branch 1.
  std::optional<std::string> serial_device_;
  uint8_t baud_ = kConfigUnset8;
  uint8_t comm_mode_ = kConfigUnset8;
  // Branch 2.
  uint16_t os_shutdown_time_ = 120;
  uint16_t total_battery_time_ = 7;
  uint16_t start_delay_ = 5;
  std::optional<std::string> pre_shutdown_command_;
  uint8_t command_on_low_battery_ = 0;
  uint8_t turn_off_ups_ = 1;
  uint8_t run_file_saver_ = 0;
  // Branch 3.
  uint8_t audible_alarm_ = kConfigUnset8;
  uint8_t low_battery_warning_ = kConfigUnset8;
  // Branch 4.
  std::optional<std::string> powered_devices_;
  std::optional<std::string> location_;
  // Branches 5, 6.
  std::optional<std::string> event_log_name_;
  uint16_t event_log_size_ = 100;
  uint8_t battery_log_size_ = 10;
  std::optional<std::string> battery_log_name_;
  // Branch 7.
  std::optional<std::string> adapter_name_;
  std::optional<std::string> read_community_;
  std::optional<std::string> write_community_;
  // Branches 8..11.
  KT_Password password_;
  KT_NetClientList power_clients_;
  KT_NetClientList schedule_clients_;
  KT_PortList ports_;
  // Branches 12, 13.
  uint32_t polling_interval_ = 0;
  uint32_t comm_timeout_ = 120;
  uint32_t no_loopback_ = 1;

  std::optional<std::string> adapter_password_;
  bool serial_changed_ = false;
  bool file_conversion_ = false;
  bool timing_addressed_ = false;
  int format_selector_ = 2;
  const UpsInfoBlock* ups_info_ = nullptr;
};
