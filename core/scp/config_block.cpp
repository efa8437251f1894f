#include "core/scp/config_block.h"

#include <cstring>
#include <new>
#include <set>
#include <string_view>

#include "core/base/peer_version.h"
#include "core/scp/ups_info_block.h"

bool IsReservedAgentFileName(const std::string& name) {
  static const std::set<std::string> kReserved = {
      "config.dat", "sch_shut.dat", "loadbank.dat", "batt_tst.dat", "notify.dat", "bat_info.dat",
      "error.dat",  "setup.dat",    "mib.txt",      "tremmail.txt", "mail.conf",  "vigilnt.conf",
      "vigilnt",    "vigil95",      "tremmail",     "saver"};
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  constexpr std::string_view kKeptCopy = ".bad";
  if (lower.size() >= kKeptCopy.size() &&
      lower.compare(lower.size() - kKeptCopy.size(), kKeptCopy.size(), kKeptCopy) == 0) {
    return true;
  }
  return kReserved.count(lower) != 0;
}

bool IsAllowedLogFileName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return !IsReservedAgentFileName(name);
}

namespace {

// Fields of each branch 1..13.
constexpr int kFieldCounts[ConfigBlock::kLastBranch + 1] = {0, 3, 7, 2, 2, 2, 2, 3, 1, 1, 1, 1, 2, 10};

const char* const kDefaultEventLog = "logfile.dat";
const char* const kDefaultBatteryLog = "battlog.dat";

// Whether the peer's software version is of the first data format (version number 1).
bool PeerFormatOne() { return GetPeerSoftwareVersion().second == 1; }

}  // namespace

ConfigBlock::ConfigBlock() {
  branches_.AddBranch(0, 0);
  for (int b = 1; b <= kLastBranch; ++b) branches_.AddBranch(b, kFieldCounts[b]);
  SetRefreshPeriod(kRefreshNever);
  SetDefaults();
}

int ConfigBlock::Refuse(int32_t function, int32_t code, int32_t value) {
  LogError(ERR_CONFIG_BLOCK, function, code, value);
  return -1;
}

int ConfigBlock::StoreText(std::optional<std::string>& slot, const char* text, int32_t function, int branch,
                           int field) {
  if (text == nullptr) return Refuse(function, 1, 0);
  const size_t length = std::strlen(text);
  // A text the record cannot count would make the whole block unwritable.
  if (length > kRecordMaxText) return Refuse(function, 3, static_cast<int32_t>(length));
  try {
    slot = std::string(text, length);
  } catch (const std::bad_alloc&) {
    return Refuse(function, 2, GetSocketError());
  }
  if (branch > 0) Changed(branch, field);
  return 1;
}

void ConfigBlock::SetDefaults() {
  serial_device_.reset();
  baud_ = kConfigUnset8;
  comm_mode_ = kConfigUnset8;
  os_shutdown_time_ = 120;
  total_battery_time_ = 7;
  start_delay_ = 5;
  pre_shutdown_command_.reset();
  command_on_low_battery_ = 0;
  turn_off_ups_ = 1;
  run_file_saver_ = 0;
  audible_alarm_ = kConfigUnset8;
  low_battery_warning_ = kConfigUnset8;
  powered_devices_.reset();
  location_.reset();
  SetEventLogFileName(kDefaultEventLog);
  SetEventLogSize(100);
  SetBatteryLogSize(10);
  SetBatteryLogFileName(kDefaultBatteryLog);
  adapter_name_.reset();
  read_community_.reset();
  write_community_.reset();
  adapter_password_.reset();
  password_ = KT_Password();
  power_clients_.Clear();
  schedule_clients_.Clear();
  ports_.Clear();
  polling_interval_ = 0;
  comm_timeout_ = 120;
  no_loopback_ = 1;
  for (int b = 0; b <= kLastBranch; ++b) branches_.SetFieldState(b, 0, FIELD_UNCHANGED);
}

int ConfigBlock::GetRoute(int branch) {
  if (branch == 0) return ROUTE_BOTH;
  if (branch == 3) return ROUTE_UPS;
  if (branch >= 1 && branch <= kLastBranch) return ROUTE_AGENT;
  return Refuse(FN_GET_ROUTE, 1, branch);
}

// ---- branch 1 ----

int ConfigBlock::SetSerialDeviceName(const char* text) { return StoreText(serial_device_, text, FN_SERIAL_DEVICE, 1, 1); }

int ConfigBlock::SetBaudRate(uint8_t code) { return Store(baud_, code, 1, 2); }

int ConfigBlock::SetCommMode(int mode) {
  comm_mode_ = (mode >= COMM_SERIAL_NORMAL && mode <= COMM_NETBCM_ADAPTER) ? static_cast<uint8_t>(mode) : kConfigUnset8;
  Changed(1, 3);
  return 1;
}

std::string ConfigBlock::GetCommModeText(int mode) const {
  if (mode == -1) mode = comm_mode_;
  switch (mode) {
    case COMM_SERIAL_NORMAL: return "Serial - Normal";
    case COMM_SERIAL_MASTER: return "Serial - Master";
    case COMM_SERIAL_SLAVE: return "Serial - Slave";
    case COMM_NETWORK_MASTER: return "Network - Master";
    case COMM_CONTACT_CLOSURE: return "Contact Closure";
    case COMM_IDLE: return "Idle, waiting for a command";
    case COMM_NETWORK_SLAVE: return "Network - Slave";
    case COMM_DEMO: return "Demo";
    case COMM_SNMP_ADAPTER:
      return ups_info_ != nullptr && ups_info_->GetOsType() == 0 ? "NetBCM Adapter" : "SNMP Adapter";
    case COMM_NETBCM_ADAPTER: return "NetBCM Adapter";
    default: return "Unknown";
  }
}

// ---- branch 2 ----

int ConfigBlock::SetOsShutdownTime(int seconds) {
  if (seconds < 1 || seconds > 65535) return Refuse(FN_OS_SHUTDOWN_TIME, 3, seconds);
  os_shutdown_time_ = static_cast<uint16_t>(seconds);
  Changed(2, 1);
  return 1;
}

int ConfigBlock::SetTotalBatteryTime(int minutes) {
  if (minutes < 1 || minutes > kMaxBatteryMinutes) return Refuse(FN_TOTAL_BATTERY_TIME, 3, minutes);
  total_battery_time_ = static_cast<uint16_t>(minutes);
  Changed(2, 2);
  return 1;
}

int ConfigBlock::SetShutdownStartDelay(int minutes) {
  if (minutes < 1 || minutes > kMaxBatteryMinutes ||
      (total_battery_time_ != kConfigUnset16 && minutes > total_battery_time_)) {
    return Refuse(FN_SHUTDOWN_START_DELAY, 3, minutes);
  }
  start_delay_ = static_cast<uint16_t>(minutes);
  Changed(2, 3);
  return 1;
}

int ConfigBlock::SetPreShutdownCommand(const char* text) {
  return StoreText(pre_shutdown_command_, text, FN_PRE_SHUTDOWN_COMMAND, 2, 4);
}

void ConfigBlock::ClearPreShutdownCommand() {
  pre_shutdown_command_.reset();
  Changed(2, 4);
}

int ConfigBlock::SetCommandOnLowBattery(int on) {
  if (on != 0 && on != 1) return Refuse(FN_COMMAND_ON_LOW_BATTERY, 3, on);
  command_on_low_battery_ = static_cast<uint8_t>(on);
  Changed(2, 5);
  return 1;
}

void ConfigBlock::SetTurnOffUps() {
  turn_off_ups_ = 1;
  Changed(2, 6);
}

void ConfigBlock::ClearTurnOffUps() {
  turn_off_ups_ = 0;
  Changed(2, 6);
}

void ConfigBlock::SetRunFileSaver() {
  run_file_saver_ = 1;
  Changed(2, 7);
}

void ConfigBlock::ClearRunFileSaver() {
  run_file_saver_ = 0;
  Changed(2, 7);
}

// ---- branches 3..7 ----

int ConfigBlock::SetAudibleAlarm(uint8_t v) { return Store(audible_alarm_, v, 3, 1); }
int ConfigBlock::SetLowBatteryWarning(uint8_t v) { return Store(low_battery_warning_, v, 3, 2); }

int ConfigBlock::SetPoweredDevices(const char* text) { return StoreText(powered_devices_, text, FN_POWERED_DEVICES, 4, 1); }
int ConfigBlock::SetLocation(const char* text) { return StoreText(location_, text, FN_LOCATION, 4, 2); }
int ConfigBlock::SetEventLogFileName(const char* text) { return StoreText(event_log_name_, text, FN_EVENT_LOG_NAME, 5, 1); }

bool ConfigBlock::ReadLogNamesOfSet(const KT_ScpMessage& set, LogNamesOfSet& out) {
  out = LogNamesOfSet();
  const int branch = set.KeyByte(kScpKeyBranch);
  const int field = set.KeyByte(kScpKeyField);
  const bool whole = branch == 0;
  const bool event = whole || (branch == 5 && (field == 0 || field == 1));
  const bool battery = whole || (branch == 6 && (field == 0 || field == 2));
  if (!event && !battery) return true;
  ConfigBlock scratch;
  std::vector<uint8_t> none;
  if (scratch.ConvertMessage(none, set) < 0) return false;
  out.event = event;
  out.battery = battery;
  if (event) out.eventName = scratch.event_log_name_;
  if (battery) out.batteryName = scratch.battery_log_name_;
  return true;
}

int ConfigBlock::SetEventLogSize(uint16_t records) { return Store(event_log_size_, records, 5, 2); }
int ConfigBlock::SetBatteryLogSize(uint8_t records) { return Store(battery_log_size_, records, 6, 1); }

int ConfigBlock::SetBatteryLogFileName(const char* text) {
  return StoreText(battery_log_name_, text, FN_BATTERY_LOG_NAME, 6, 2);
}

int ConfigBlock::SetAdapterName(const char* text) { return StoreText(adapter_name_, text, FN_ADAPTER_NAME, 7, 1); }
int ConfigBlock::SetReadCommunity(const char* text) { return StoreText(read_community_, text, FN_READ_COMMUNITY, 7, 2); }
int ConfigBlock::SetWriteCommunity(const char* text) { return StoreText(write_community_, text, FN_WRITE_COMMUNITY, 7, 3); }
int ConfigBlock::SetAdapterPassword(const char* text) {
  return StoreText(adapter_password_, text, FN_ADAPTER_PASSWORD, 0, 0);
}

// ---- branches 12, 13 ----

int ConfigBlock::SetPollingInterval(uint32_t v) { return Store(polling_interval_, v, 12, 1); }
int ConfigBlock::SetCommTimeout(uint32_t v) { return Store(comm_timeout_, v, 12, 2); }
int ConfigBlock::SetNoLoopbackTest(uint32_t v) { return Store(no_loopback_, v, 13, 1); }

bool ConfigBlock::TimingOnWire() const {
  return !file_conversion_ && (timing_addressed_ || PeerFormatOne());
}

// ---- record conversion ----

int ConfigBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE ? out == nullptr : in == nullptr) return -1;
  if (branch < 1 || branch > kLastBranch || field < 1 || field > 15) return Refuse(FN_CONVERT, branch, field);
  KT_FieldIO io(direction, out, in);
  int result = -2;  // -2: no such field
  switch (branch * 16 + field) {
    case 1 * 16 + 1: result = io.Text(serial_device_); break;
    case 1 * 16 + 2: result = io.U8(baud_); break;
    case 1 * 16 + 3: result = io.U8(comm_mode_); break;
    case 2 * 16 + 1: result = io.U16(os_shutdown_time_); break;
    case 2 * 16 + 2: result = io.U16(total_battery_time_); break;
    case 2 * 16 + 3: result = io.U16(start_delay_); break;
    case 2 * 16 + 4: result = io.Text(pre_shutdown_command_); break;
    case 2 * 16 + 5: result = io.U8(command_on_low_battery_); break;
    case 2 * 16 + 6: result = io.U8(turn_off_ups_); break;
    case 2 * 16 + 7: result = io.U8(run_file_saver_); break;
    case 3 * 16 + 1: result = io.U8(audible_alarm_); break;
    case 3 * 16 + 2: result = io.U8(low_battery_warning_); break;
    case 4 * 16 + 1: result = io.Text(powered_devices_); break;
    case 4 * 16 + 2: result = io.Text(location_); break;
    case 5 * 16 + 1: result = io.Text(event_log_name_); break;
    case 5 * 16 + 2: result = io.U16(event_log_size_); break;
    case 6 * 16 + 1: result = io.U8(battery_log_size_); break;
    case 6 * 16 + 2: result = io.Text(battery_log_name_); break;
    case 7 * 16 + 1: result = io.Text(adapter_name_); break;
    case 7 * 16 + 2: result = io.Text(read_community_); break;
    case 7 * 16 + 3: result = io.Text(write_community_); break;
    case 8 * 16 + 1: result = ConvertPassword(direction, out, in); break;
    case 9 * 16 + 1: result = ConvertClients(power_clients_, direction, out, in); break;
    case 10 * 16 + 1: result = ConvertClients(schedule_clients_, direction, out, in); break;
    case 11 * 16 + 1: result = file_conversion_ ? 1 : ConvertPorts(direction, out, in); break;
    case 12 * 16 + 1:
      result = TimingOnWire() ? io.U32(polling_interval_) : 1;
      break;
    case 12 * 16 + 2:
      result = TimingOnWire() ? io.U32(comm_timeout_) : 1;
      break;
    case 13 * 16 + 1:
      result = (!PeerFormatOne() || format_selector_ > 1) ? io.U32(no_loopback_) : 1;
      break;
    default:
      if (branch == 13 && field >= 2 && field <= 10) result = 1;  // reserved
      break;
  }
  if (result == -2) return Refuse(FN_CONVERT, branch, field);
  if (result < 0) return -1;
  if (direction == CONVERT_DECODE) {
    if (branch == 1 && (field == 1 || field == 3)) serial_changed_ = true;
    branches_.Touch(branch);
  }
  return result;
}

int ConfigBlock::ConvertFile(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (ConvertBlock(direction, out, in) < 0) return -1;
  if (!file_conversion_ || format_selector_ < kFileTimingFormat) return 1;
  KT_FieldIO io(direction, out, in);
  if (io.U32(polling_interval_) < 0 || io.U32(comm_timeout_) < 0) return -1;
  if (direction == CONVERT_DECODE) branches_.Touch(12);
  return 1;
}

int ConfigBlock::ConvertPassword(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) return out->PutText(password_.Get());
  std::optional<std::string> text;
  if (in->GetText(text) < 0) return -1;
  // Kept by the rule of a password change: 1..8 characters, else the SET fails.
  return password_.Set(text ? text->c_str() : nullptr) < 0 ? -1 : 1;
}

int ConfigBlock::ConvertPorts(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    ports_.Enumerate();
    if (out->PutCount8(ports_.Ports().size()) < 0) return -1;
    for (const std::string& name : ports_.Ports()) {
      if (out->PutText(name) < 0) return -1;
    }
    return 1;
  }
  uint8_t count = 0;
  if (in->Get8(count) < 0) return -1;
  if (count > in->Remaining()) return -1;
  KT_PortList list;
  for (int i = 0; i < count; ++i) {
    std::optional<std::string> name;
    if (in->GetText(name) < 0) return -1;
    if (name) list.Add(*name);
  }
  ports_ = std::move(list);
  return 1;
}

namespace {

// The IP address travels as the address's four bytes in network order.
uint32_t IpToRecord(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

uint32_t IpFromRecord(uint32_t value) {
  uint32_t networkOrder = 0;
  auto* b = reinterpret_cast<uint8_t*>(&networkOrder);
  b[0] = static_cast<uint8_t>(value >> 24);
  b[1] = static_cast<uint8_t>(value >> 16);
  b[2] = static_cast<uint8_t>(value >> 8);
  b[3] = static_cast<uint8_t>(value);
  return networkOrder;
}

}  // namespace

int ConfigBlock::ConvertClients(KT_NetClientList& list, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out->PutCount8(list.Clients().size()) < 0) return -1;
    for (const KT_NetClient& c : list.Clients()) {
      const uint32_t type = static_cast<uint32_t>(c.address.GetType());
      if (out->Put32(IpToRecord(c.address.GetIpAddress())) < 0 || out->Put32(type) < 0 ||
          out->PutBytes(c.address.Node(), kIpxNodeLength) < 0 || out->PutText(c.password) < 0 ||
          out->Put8(c.warn_delay) < 0 || out->Put8(c.shut_delay) < 0 || out->Put8(c.time_shut_delay) < 0) {
        return -1;
      }
      // Written as the reader of the same format reads it.
      if (type == ADDRESS_IPX && format_selector_ >= 1 && out->PutText(c.address.StoredHostName()) < 0) return -1;
    }
    return 1;
  }

  uint8_t count = 0;
  if (in->Get8(count) < 0) return -1;
  if (count > in->Remaining() / kMinClientBytes) return -1;
  KT_NetClientList read;
  for (int i = 0; i < count; ++i) {
    uint32_t ip = 0;
    uint32_t type = 0;
    uint8_t node[kIpxNodeLength] = {};
    KT_NetClient c;
    if (in->Get32(ip) < 0 || in->Get32(type) < 0 || in->GetBytes(node, kIpxNodeLength) < 0 ||
        in->GetText(c.password) < 0 || in->Get8(c.warn_delay) < 0 || in->Get8(c.shut_delay) < 0 ||
        in->Get8(c.time_shut_delay) < 0) {
      return -1;
    }
    c.address.SetType(static_cast<int>(type));
    c.address.SetIpAddress(IpFromRecord(ip));
    c.address.SetNode(node);
    if (type == ADDRESS_IPX && format_selector_ >= 1) {
      std::optional<std::string> name;
      if (in->GetText(name) < 0) return -1;
      if (name) c.address.SetHostName(name->c_str());
    }
    read.Add(c);  // a client listed twice is kept once
  }
  list.Swap(read);
  return 1;
}
