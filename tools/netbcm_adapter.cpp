#include "tools/netbcm_adapter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>

#include "core/adapters/bcm_block.h"
#include "platform/clock.h"
#include "tools/sim_device.h"

namespace netbcmsim {

namespace {

// Queries the adapter answers with data.
constexpr uint8_t kQueryIdentification = 0x31;
constexpr uint8_t kQueryMeters = 0x34;
constexpr uint8_t kQueryStatus = 0x35;
constexpr uint8_t kQueryConfig = 0x36;
constexpr uint8_t kQueryBatteryTest = 0x3B;
constexpr uint8_t kQueryRatings = 0x3C;
constexpr uint8_t kQueryCommands = 0x40;
constexpr uint8_t kQuerySegments = 0x41;

// Commands that change the UPS (they need the access code).
bool IsCommand(uint8_t b) {
  return b == BCM_CMD_IMMEDIATE_ON || b == BCM_CMD_DELAYED_OFF || b == BCM_CMD_IMMEDIATE_OFF ||
         (b >= BCM_CMD_ON_AFTER_MINUTES && b <= BCM_CMD_SET_CONFIG) || b == BCM_CMD_SEGMENT_PARAMETER ||
         b == BCM_CMD_BATTERY_TEST || b == BCM_CMD_CHECK_ACCESS;
}

bool IsQuery(uint8_t b) {
  return b == kQueryIdentification || b == kQueryMeters || b == kQueryStatus || b == kQueryConfig ||
         b == kQueryBatteryTest || b == kQueryRatings || b == kQueryCommands || b == kQuerySegments;
}

const char* QueryName(uint8_t b) {
  switch (b) {
    case kQueryIdentification: return "identification";
    case kQueryMeters: return "meters";
    case kQueryStatus: return "status";
    case kQueryConfig: return "configuration";
    case kQueryBatteryTest: return "battery test";
    case kQueryRatings: return "ratings";
    case kQueryCommands: return "supported commands";
    case kQuerySegments: return "load segments";
    default: return "unknown";
  }
}

bool ToInt(const std::string& s, long lo, long hi, int* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ToDouble(const std::string& s, double* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// "M.mm" -> major, minor.
bool ToVersion(const std::string& s, int* major, int* minor) {
  const size_t dot = s.find('.');
  if (dot == std::string::npos) return false;
  return ToInt(s.substr(0, dot), 0, 99, major) && ToInt(s.substr(dot + 1), 0, 99, minor);
}

bool OnOff(const std::string& s, bool* out) {
  if (s == "on" || s == "1") {
    *out = true;
    return true;
  }
  if (s == "off" || s == "0") {
    *out = false;
    return true;
  }
  return false;
}

void PutU16(std::vector<uint8_t>& d, size_t at, int v) {
  d[at] = static_cast<uint8_t>(v & 0xFF);
  d[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void PutText(std::vector<uint8_t>& d, size_t at, const std::string& text, size_t width) {
  for (size_t i = 0; i < width && i < text.size(); ++i) d[at + i] = static_cast<uint8_t>(text[i]);
}

// Meters of the battery.
constexpr int kMeterCapacity = 35;
constexpr int kMeterBatteryTime = 36;

// The BCM alarm numbers the adapter's map covers (8 per byte).
constexpr int kAlarmMapBytes = 25;
constexpr int kAlarmNumbers = kAlarmMapBytes * 8;

constexpr const char* kHelp =
    "status | help | log | log-since N | clear\n"
    "mains fail|ok   battery low|ok   bypass|buck|boost|overload|replace-battery|input-range on|off\n"
    "alarm N on|off  meter ID FORMAT VALUE | meter ID off   commands N,N,...\n"
    "set type-code|model|va|watts|phases|version|adapter-version|config-size|two-byte-delays|cto|serial|\n"
    "    output-voltage|input-voltage|frequency|audible|low-battery-warning|access|block-size|segments|\n"
    "    first-segment VALUE\n"
    "test-result pass|fail [SECONDS]   config-datagram on|off   silence on|off   reply-delay MS\n"
    "fault busy|corrupt|gap|short|silence|late [N]";

}  // namespace

NetBcmAdapter::NetBcmAdapter(AdapterOptions options) : options_(std::move(options)) {
  meters_ = {
      {4, {1, 230.2}},    // input voltage
      {16, {1, 3.4}},     // output current (tenths)
      {22, {230, 700}},   // output watts
      {24, {1, 800.0}},   // output VA
      {28, {1, 50.0}},    // output frequency
      {29, {1, 50.0}},    // input frequency
      {34, {1, 27.3}},    // battery voltage
      {35, {230, 100}},   // battery capacity (percent), from the battery
      {36, {230, 2520}},  // battery time (seconds), from the battery
      {60, {1, 230.0}},   // output voltage
      {63, {1, 31.5}},    // temperature
      {72, {230, 1500}},  // VA rating
  };
  commands_ = {0x31, 0x34, 0x35, 0x36, 0x3B, 0x3C, 0x40, 0x41, BCM_CMD_IMMEDIATE_ON, BCM_CMD_DELAYED_OFF,
               BCM_CMD_IMMEDIATE_OFF, BCM_CMD_ON_AFTER_MINUTES, BCM_CMD_ON_AT_TIME, BCM_CMD_OFF_AFTER_MINUTES,
               BCM_CMD_OFF_AT_TIME, BCM_CMD_SET_CONFIG, BCM_CMD_SEGMENT_PARAMETER, BCM_CMD_BATTERY_TEST};
  for (int i = 0; i < segments_; ++i) segment_state_[first_segment_ + i] = 2;
}

NetBcmAdapter::~NetBcmAdapter() { Stop(); }

int NetBcmAdapter::Start(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return -1;
  };
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail("socket");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(options_.port));
  if (::inet_pton(AF_INET, options_.bind.c_str(), &sin.sin_addr) != 1) {
    errno = EINVAL;
    return fail("bind address " + options_.bind);
  }
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0) return fail("bind");
  socklen_t len = sizeof sin;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return fail("getsockname");
  port_ = ntohs(sin.sin_port);
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC | O_NONBLOCK) < 0) return fail("pipe");
  wake_read_ = pipefd[0];
  wake_write_ = pipefd[1];
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return 0;
}

void NetBcmAdapter::Stop() {
  stop_ = true;
  if (wake_write_ >= 0) {
    const char c = 'x';
    (void)!::write(wake_write_, &c, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int* fd : {&fd_, &wake_read_, &wake_write_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void NetBcmAdapter::Serve() {
  std::vector<uint8_t> buffer(65536);
  while (!stop_) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int r = ::poll(p, 2, 50);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      RunDue();
    }
    if (r <= 0 || !(p[0].revents & POLLIN)) continue;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) continue;
    {
      char text[INET_ADDRSTRLEN] = "";
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      std::lock_guard<std::mutex> lock(mutex_);
      last_ip_ = text;
      last_port_ = ntohs(from.sin_port);
    }
    const std::vector<std::vector<uint8_t>> answers = Answer(std::vector<uint8_t>(buffer.begin(), buffer.begin() + n));
    const int delay = reply_delay_ms_.load();
    if (delay > 0 && !answers.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    for (const auto& a : answers) {
      ::sendto(fd_, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }
}

// ---- log ------------------------------------------------------------------------------------

bool NetBcmAdapter::LastRequester(std::string* ip, uint16_t* port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_port_ == 0) return false;
  if (ip != nullptr) *ip = last_ip_;
  if (port != nullptr) *port = last_port_;
  return true;
}

void NetBcmAdapter::AddLog(const std::string& kind, const std::string& text) {
  log_.push_back(std::to_string(log_first_ + log_.size()) + " " + kind + " " + text);
  logged_.notify_all();
}

std::vector<std::string> NetBcmAdapter::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::vector<uint8_t>> NetBcmAdapter::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::string> NetBcmAdapter::Entries(const std::string& kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  const std::string key = " " + kind + " ";
  for (const std::string& e : log_) {
    const size_t at = e.find(key);
    if (at != std::string::npos && e.find(' ') == at) out.push_back(e.substr(at + key.size()));
  }
  return out;
}

bool NetBcmAdapter::WaitFor(const std::string& text, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return logged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return std::any_of(log_.begin(), log_.end(), [&](const std::string& e) { return e.find(text) != std::string::npos; });
  });
}

void NetBcmAdapter::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_first_ += log_.size();
  log_.clear();
  received_.clear();
}

// ---- the UPS's timers -------------------------------------------------------------------------

void NetBcmAdapter::Switch(int indicator, bool on, const std::string& why) {
  if (indicator == 1) {
    output_on_ = on;
    for (auto& [segment, state] : segment_state_) state = on ? 2 : 1;
    AddLog("ACTION", std::string("ups ") + (on ? "on" : "off") + " (" + why + ")");
  } else {
    segment_state_[indicator] = on ? 2 : 1;
    AddLog("ACTION", "segment " + std::to_string(indicator) + (on ? " on" : " off") + " (" + why + ")");
  }
}

void NetBcmAdapter::Schedule(int indicator, bool on, int64_t seconds, const std::string& why) {
  if (seconds <= 0) {
    Switch(indicator, on, why);
    return;
  }
  const std::string target = indicator == 1 ? "ups" : "segment " + std::to_string(indicator);
  AddLog("ACTION", target + (on ? " on in " : " off in ") + std::to_string(seconds) + " s (" + why + ")");
  pending_.emplace(platform::TickMs() + static_cast<uint64_t>(seconds) * 1000u, Pending{indicator, on, why});
}

void NetBcmAdapter::RunDue() {
  const uint64_t now = platform::TickMs();
  while (!pending_.empty() && pending_.begin()->first <= now) {
    const Pending p = pending_.begin()->second;
    pending_.erase(pending_.begin());
    Switch(p.indicator, p.on, p.why);
  }
}

// ---- replies --------------------------------------------------------------------------------

std::set<int> NetBcmAdapter::ActiveAlarms() const {
  std::set<int> a = raised_;
  if (!mains_ok_) a.insert(57);
  if (overload_) a.insert(25);
  if (replace_battery_) a.insert(191);
  if (input_range_) a.insert(6);
  return a;
}

std::vector<uint8_t> NetBcmAdapter::StatusData() const {
  const bool well = mains_ok_ && !battery_low_ && !bypass_ && !buck_ && !boost_;
  uint8_t first = 'N';
  if (well) {
    first = 'P';
  } else if (boost_) {
    first = 'b';
  } else if (buck_) {
    first = 'c';
  } else if (!mains_ok_) {
    first = 'B';
  }
  const uint8_t flags = static_cast<uint8_t>((mains_ok_ ? 0x80 : 0) | (battery_low_ ? 0x20 : 0) | (bypass_ ? 0x04 : 0));
  return {first, flags};
}

std::vector<uint8_t> NetBcmAdapter::AlarmData() const {
  std::vector<uint8_t> d(kAlarmNumbers, 0);
  for (int a : ActiveAlarms()) {
    if (a >= 0 && a < kAlarmNumbers) d[static_cast<size_t>(a)] = 1;
  }
  return d;
}

std::vector<uint8_t> NetBcmAdapter::IdentificationData() const {
  std::vector<uint8_t> d{1, BcmToBcd(version_minor_), BcmToBcd(version_major_)};
  if (va_ % 1000 == 0 && va_ / 1000 >= 1 && va_ / 1000 <= 255) {
    d.push_back(static_cast<uint8_t>(va_ / 1000));
  } else {
    const int steps = std::min(va_ / 50, 0xFFFF);
    d.push_back(0);
    d.push_back(static_cast<uint8_t>(steps & 0xFF));
    d.push_back(static_cast<uint8_t>(steps >> 8));
  }
  d.push_back(static_cast<uint8_t>(phases_));
  d.push_back(0);
  const size_t nameLength = std::min<size_t>(model_.size(), 255);
  d.push_back(static_cast<uint8_t>(nameLength));
  d.insert(d.end(), model_.begin(), model_.begin() + static_cast<long>(nameLength));
  const int maxId = meters_.empty() ? 0 : std::min(meters_.rbegin()->first, 255);
  d.push_back(static_cast<uint8_t>(maxId));
  for (int id = 1; id <= maxId; ++id) {
    auto it = meters_.find(id);
    d.push_back(it == meters_.end() ? 0 : static_cast<uint8_t>(it->second.format));
  }
  d.push_back(kAlarmMapBytes);
  d.insert(d.end(), kAlarmMapBytes, 0xFF);
  d.push_back(static_cast<uint8_t>(config_size_ & 0xFF));
  d.push_back(static_cast<uint8_t>((config_size_ >> 8) & 0xFF));
  return d;
}

std::vector<uint8_t> NetBcmAdapter::ConfigData() const {
  std::vector<uint8_t> d(80, 0);
  PutU16(d, 0, type_code_);
  PutU16(d, 8, output_voltage_);
  PutU16(d, 10, frequency_);
  d[42] = BcmToBcd(adapter_minor_);
  d[43] = BcmToBcd(adapter_major_);
  d[47] = two_byte_delays_ ? 1 : 0;
  PutText(d, 48, cto_, 16);
  PutText(d, 64, serial_, 16);
  if (config_size_ > 0 && config_size_ < 80) d.resize(static_cast<size_t>(config_size_));
  return d;
}

std::vector<uint8_t> NetBcmAdapter::RatingsData() const {
  std::vector<uint8_t> d(18, 0);
  PutU16(d, 0, input_voltage_);
  PutU16(d, 2, frequency_);
  PutU16(d, 4, std::min(watts_ / 50, 0xFFFF));
  d[16] = low_battery_warning_;
  d[17] = audible_;
  return d;
}

std::vector<uint8_t> NetBcmAdapter::MeterData() const {
  std::vector<uint8_t> d;
  for (const auto& [id, meter] : meters_) {
    double v = meter.value;
    // Charge and run time come from the battery unless a control command set them.
    if (id == kMeterCapacity && !pinned_meters_.count(id)) v = battery_.Percent(battery_low_);
    if (id == kMeterBatteryTime && !pinned_meters_.count(id)) v = battery_.RuntimeSeconds(battery_low_);
    if ((id == 4 || id == 29) && !mains_ok_) v = 0;
    if ((id == 60 || id == 16 || id == 22 || id == 24) && !output_on_) v = 0;
    uint32_t bits;
    if (meter.format > 223) {
      bits = static_cast<uint32_t>(static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0)));
    } else {
      const float f = static_cast<float>(v);
      std::memcpy(&bits, &f, sizeof bits);
    }
    for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  return d;
}

std::vector<uint8_t> NetBcmAdapter::CommandsData() const {
  const size_t count = std::min<size_t>(commands_.size(), 254);
  std::vector<uint8_t> d{static_cast<uint8_t>(count), 2};
  for (size_t i = 0; i < count; ++i) {
    d.push_back(static_cast<uint8_t>(commands_[i]));
    d.push_back(0);
  }
  return d;
}

std::vector<uint8_t> NetBcmAdapter::SegmentsData() const {
  std::vector<uint8_t> d{static_cast<uint8_t>(segments_), 2};
  for (int i = 0; i < segments_; ++i) {
    const int number = first_segment_ + i;
    auto it = segment_state_.find(number);
    d.push_back(static_cast<uint8_t>(number));
    d.push_back(static_cast<uint8_t>(it == segment_state_.end() ? 2 : it->second));
  }
  return d;
}

uint8_t NetBcmAdapter::BatteryTestState() {
  if (test_state_ == 1 && platform::TickMs() >= test_end_) {
    test_state_ = test_fails_ ? 4 : 2;
    AddLog("ACTION", std::string("battery test ") + (test_fails_ ? "failed" : "passed"));
  }
  return test_state_;
}

std::vector<uint8_t> NetBcmAdapter::Blocks(const Reply& reply, size_t blockSize, bool gap) const {
  std::vector<uint8_t> out;
  size_t size = std::clamp<size_t>(blockSize, 1, 255);
  if (gap && reply.data.size() >= 2) size = std::min(size, (reply.data.size() + 1) / 2);
  const size_t blocks = reply.data.empty() ? 1 : (reply.data.size() + size - 1) / size;
  for (size_t b = 0; b < blocks; ++b) {
    const size_t from = b * size;
    const size_t n = std::min(size, reply.data.size() - std::min(from, reply.data.size()));
    int number = static_cast<int>(b) + 1;
    if (gap && b > 0) number += 1;  // 1, 3, 4, ...
    const size_t start = out.size();
    out.push_back(kBcmStartByte);
    out.push_back(reply.type);
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>((number & kBcmBlockNumberMask) | (b + 1 == blocks ? kBcmLastBlockFlag : 0)));
    out.insert(out.end(), reply.data.begin() + static_cast<long>(from), reply.data.begin() + static_cast<long>(from + n));
    out.push_back(BcmChecksum(out.data() + start, out.size() - start));
  }
  return out;
}

std::vector<NetBcmAdapter::Reply> NetBcmAdapter::Query(uint8_t query, std::vector<std::vector<Reply>>* more) {
  switch (query) {
    case kQueryStatus: return {{BCM_REPLY_STATUS, StatusData()}, {BCM_REPLY_ALARMS, AlarmData()}};
    case kQueryIdentification:
      if (config_datagram_) more->push_back({{BCM_REPLY_CONFIG, ConfigData()}});
      return {{BCM_REPLY_STATUS, StatusData()}, {BCM_REPLY_IDENTIFICATION, IdentificationData()}};
    case kQueryConfig: return {{BCM_REPLY_CONFIG, ConfigData()}};
    case kQueryRatings: return {{BCM_REPLY_RATINGS, RatingsData()}};
    case kQueryMeters:
      battery_.Advance(!mains_ok_);
      return {{BCM_REPLY_METERS, MeterData()}};
    case kQueryCommands: return {{BCM_REPLY_SUPPORTED_COMMANDS, CommandsData()}};
    case kQuerySegments: return {{BCM_REPLY_LOAD_SEGMENTS, SegmentsData()}};
    case kQueryBatteryTest: return {{BCM_REPLY_BATTERY_TEST, {BatteryTestState()}}};
    default: return {{BCM_REPLY_ACK, {BCM_ACK_UNRECOGNIZED, query}}};
  }
}

uint8_t NetBcmAdapter::Command(const std::vector<uint8_t>& p, int select) {
  const uint8_t cmd = p[0];
  auto listed = [&](int c) { return std::find(commands_.begin(), commands_.end(), c) != commands_.end(); };
  auto validIndicator = [&](int ind) { return ind == 1 || (ind >= first_segment_ && ind < first_segment_ + segments_); };
  auto u16 = [&](size_t at) { return p[at] | (p[at + 1] << 8); };
  if (cmd != BCM_CMD_CHECK_ACCESS && !listed(cmd)) {
    AddLog("REQ", "command " + std::to_string(cmd) + " not implemented");
    return BCM_ACK_NOT_IMPLEMENTED;
  }
  switch (cmd) {
    case BCM_CMD_IMMEDIATE_ON:
    case BCM_CMD_IMMEDIATE_OFF: {
      const int ind = p.size() > 1 ? p[1] : select;
      if (!validIndicator(ind)) return BCM_ACK_INVALID_PARAMETER;
      Switch(ind, cmd == BCM_CMD_IMMEDIATE_ON, "immediate");
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_DELAYED_OFF: {
      const size_t delayBytes = two_byte_delays_ ? 2 : 1;
      if (p.size() < 1 + delayBytes) return BCM_ACK_INVALID_PARAMETER;
      const int seconds = delayBytes == 2 ? u16(1) : p[1];
      const int ind = p.size() > 1 + delayBytes ? p[1 + delayBytes] : select;
      if (!validIndicator(ind)) return BCM_ACK_INVALID_PARAMETER;
      Schedule(ind, false, seconds, "delayed off");
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_ON_AFTER_MINUTES:
    case BCM_CMD_OFF_AFTER_MINUTES: {
      if (p.size() < 3) return BCM_ACK_INVALID_PARAMETER;
      const int ind = p.size() > 3 ? p[3] : select;
      if (!validIndicator(ind)) return BCM_ACK_INVALID_PARAMETER;
      Schedule(ind, cmd == BCM_CMD_ON_AFTER_MINUTES, static_cast<int64_t>(u16(1)) * 60, "after minutes");
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_ON_AT_TIME:
    case BCM_CMD_OFF_AT_TIME: {
      if (p.size() < 7 || !(p[1] & kBcmDateYearFlag)) return BCM_ACK_INVALID_PARAMETER;
      const int century = BcmFromBcd(static_cast<uint8_t>(p[1] & ~kBcmDateYearFlag));
      int f[5];
      for (int i = 0; i < 5; ++i) f[i] = BcmFromBcd(p[2 + static_cast<size_t>(i)]);
      if (century < 0 || std::any_of(f, f + 5, [](int v) { return v < 0; })) return BCM_ACK_RANGE_ERROR;
      struct tm tm {};
      tm.tm_year = century * 100 + f[0] - 1900;
      tm.tm_mon = f[1] - 1;
      tm.tm_mday = f[2];
      tm.tm_hour = f[3];
      tm.tm_min = f[4];
      tm.tm_isdst = -1;
      const time_t when = mktime(&tm);
      if (when == static_cast<time_t>(-1)) return BCM_ACK_RANGE_ERROR;
      const int ind = p.size() > 7 ? p[7] : select;
      if (!validIndicator(ind)) return BCM_ACK_INVALID_PARAMETER;
      Schedule(ind, cmd == BCM_CMD_ON_AT_TIME, std::max<int64_t>(0, when - platform::Now()), "at a moment");
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_SET_CONFIG: {
      if (p.size() < 4) return BCM_ACK_INVALID_PARAMETER;
      if (p[1] == kBcmConfigAudibleAlarm) {
        audible_ = p[2];
      } else if (p[1] == kBcmConfigLowBatteryWarning) {
        low_battery_warning_ = p[2];
      } else {
        return BCM_ACK_INVALID_PARAMETER;
      }
      AddLog("ACTION", "setting " + std::to_string(p[1]) + " = " + std::to_string(p[2]));
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_SEGMENT_PARAMETER: {
      if (p.size() < 5) return BCM_ACK_INVALID_PARAMETER;
      const int ind = p[2];
      const int value = u16(3);
      if (!validIndicator(ind)) return BCM_ACK_INVALID_PARAMETER;
      if (p[1] == kBcmSegmentRestartDelay) {
        restart_delay_[ind] = value;
        AddLog("ACTION", "segment " + std::to_string(ind) + " restart delay " + std::to_string(value) + " s");
      } else if (p[1] == kBcmSegmentOff || p[1] == kBcmSegmentOn) {
        Schedule(ind, p[1] == kBcmSegmentOn, value, "segment parameter");
      } else {
        return BCM_ACK_INVALID_PARAMETER;
      }
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_BATTERY_TEST: {
      if (p.size() < 3) return BCM_ACK_INVALID_PARAMETER;
      const int seconds = test_seconds_ >= 0 ? test_seconds_ : p[2];
      test_state_ = 1;
      test_end_ = platform::TickMs() + static_cast<uint64_t>(seconds) * 1000u;
      AddLog("ACTION", "battery test for " + std::to_string(seconds) + " s");
      return BCM_ACK_ACCEPTED;
    }
    case BCM_CMD_CHECK_ACCESS: return BCM_ACK_ACCEPTED;
    default: return BCM_ACK_UNRECOGNIZED;
  }
}

std::vector<std::vector<uint8_t>> NetBcmAdapter::Answer(const std::vector<uint8_t>& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  return AnswerLocked(request);
}

std::vector<std::vector<uint8_t>> NetBcmAdapter::AnswerLocked(const std::vector<uint8_t>& request) {
  received_.push_back(request);
  AddLog("RECV", upssim::HexBytes(request.data(), request.size()));
  RunDue();

  // The blocks of the request, each checked.
  std::vector<std::vector<uint8_t>> payloads;
  for (size_t pos = 0; pos < request.size();) {
    const size_t left = request.size() - pos;
    if (request[pos] != kBcmStartByte || left < 4 || request[pos + 1] == 0 ||
        static_cast<size_t>(request[pos + 1]) + 3 > left) {
      AddLog("CHECKSUM", "no whole block at byte " + std::to_string(pos));
      return {};
    }
    const size_t n = request[pos + 1];
    if (!BcmSumIsZero(request.data() + pos, n + 3)) {
      AddLog("CHECKSUM", "block at byte " + std::to_string(pos));
      return {};
    }
    payloads.emplace_back(request.begin() + static_cast<long>(pos + 2), request.begin() + static_cast<long>(pos + 2 + n));
    pos += n + 3;
  }
  int select = 1;
  enum { NONE, GOOD, BAD } access = NONE;
  std::vector<std::vector<uint8_t>> commands;
  for (const auto& p : payloads) {
    if (p[0] == kBcmSelectBlock && p.size() == 2) {
      select = p[1];
    } else if (p[0] == kBcmAccessBlock) {
      const bool match = p.size() == 1 + access_.size() && std::equal(access_.begin(), access_.end(), p.begin() + 1);
      access = match && access != BAD ? GOOD : BAD;
    } else {
      commands.push_back(p);
    }
  }
  if (commands.empty()) {
    AddLog("REQ", "nothing asked");
    return {};
  }
  if (access == BAD) {
    AddLog("DENIED", "wrong access code");
    return {};
  }

  std::vector<Reply> replies;
  std::vector<std::vector<Reply>> more;
  uint8_t principal;
  const bool query = commands.size() == 1 && commands[0].size() == 1 && IsQuery(commands[0][0]);
  if (query) {
    AddLog("REQ", std::string(QueryName(commands[0][0])) + " select " + std::to_string(select));
    replies = Query(commands[0][0], &more);
    principal = commands[0][0] == kQueryIdentification ? static_cast<uint8_t>(BCM_REPLY_IDENTIFICATION) : replies[0].type;
  } else {
    for (const auto& c : commands) {
      if (IsCommand(c[0]) && access != GOOD) {
        AddLog("DENIED", "command " + std::to_string(c[0]) + " without the access code");
        return {};
      }
    }
    uint8_t code = BCM_ACK_ACCEPTED;
    uint8_t which = commands.back()[0];
    bool refused = false;
    for (const auto& c : commands) {
      AddLog("REQ", "command " + upssim::HexBytes(c.data(), c.size()) + " select " + std::to_string(select));
      const uint8_t r = Command(c, select);
      if (!refused) {
        code = r;
        which = c[0];
      }
      if (!BcmCommandAccepted(r)) refused = true;
    }
    replies = {{BCM_REPLY_ACK, {code, which}}};
    principal = BCM_REPLY_ACK;
  }

  auto take = [&](const char* kind) {
    auto it = faults_.find(kind);
    if (it == faults_.end() || it->second <= 0) return false;
    --it->second;
    AddLog("FAULT", kind);
    return true;
  };
  if (silent_) {
    AddLog("FAULT", "silence");
    return {};
  }
  if (take("silence")) return {};
  if (take("busy")) return {Blocks({BCM_REPLY_ACK, {BCM_ACK_BUSY, commands[0][0]}}, block_size_, false)};
  const bool gap = take("gap");
  std::vector<uint8_t> main;
  for (const Reply& r : replies) {
    const std::vector<uint8_t> b = Blocks(r, block_size_, gap && r.type == principal);
    main.insert(main.end(), b.begin(), b.end());
  }
  if (take("corrupt") && main.size() > 4) main[4 + main[2]] ^= 0x5A;
  if (take("short")) main.resize(std::max<size_t>(1, main.size() / 2));
  std::vector<std::vector<uint8_t>> out;
  // A late answer: the previous request's reply arrives in front of this one.
  if (take("late") && !previous_answer_.empty()) out.push_back(previous_answer_);
  previous_answer_ = main;
  out.push_back(std::move(main));
  for (const auto& extra : more) {
    std::vector<uint8_t> d;
    for (const Reply& r : extra) {
      const std::vector<uint8_t> b = Blocks(r, block_size_, false);
      d.insert(d.end(), b.begin(), b.end());
    }
    out.push_back(std::move(d));
  }
  return out;
}

// ---- control --------------------------------------------------------------------------------

std::string NetBcmAdapter::Describe() const {
  std::ostringstream s;
  s << "port " << port_ << " mains " << (mains_ok_ ? "ok" : "fail") << " battery " << (battery_low_ ? "low" : "ok")
    << " output " << (output_on_ ? "on" : "off") << " model \"" << model_ << "\" type-code " << type_code_ << " va "
    << va_ << " adapter " << adapter_major_ << "." << adapter_minor_ << " segments " << segments_ << " first "
    << first_segment_ << " test " << static_cast<int>(test_state_) << (silent_ ? " silent" : "");
  return s.str();
}

bool NetBcmAdapter::Do(const std::string& line) {
  const std::vector<std::string> answer = Control(line);
  return !answer.empty() && answer.back().rfind("OK", 0) == 0;
}

std::vector<std::string> NetBcmAdapter::Control(const std::string& line) {
  const std::vector<std::string> w = upssim::Words(line);
  std::vector<std::string> lines;
  std::string error;
  if (w.empty()) return {"ERR empty command"};
  std::lock_guard<std::mutex> lock(mutex_);
  if (w[0] == "help") {
    std::istringstream in(kHelp);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  } else if (w[0] == "status") {
    lines.push_back(Describe());
  } else if (w[0] == "log" || w[0] == "log-since") {
    int since = 0;
    if (w[0] == "log-since" && (w.size() < 2 || !ToInt(w[1], 0, INT32_MAX, &since))) {
      error = "log-since needs a number";
    } else {
      for (size_t i = 0; i < log_.size(); ++i) {
        if (log_first_ + i >= static_cast<size_t>(since)) lines.push_back(log_[i]);
      }
      lines.push_back("OK " + std::to_string(lines.size()));
      return lines;
    }
  } else if (w[0] == "clear") {
    log_first_ += log_.size();
    log_.clear();
    received_.clear();
  } else if (!ControlLocked(w, line, &error, &lines) && error.empty()) {
    error = "unknown command " + w[0];
  }
  if (!error.empty()) {
    lines.push_back("ERR " + error);
  } else {
    if (w[0] != "help" && w[0] != "status") AddLog("STATE", line);
    lines.push_back("OK");
  }
  return lines;
}

bool NetBcmAdapter::ControlLocked(const std::vector<std::string>& w, const std::string& line, std::string* error,
                                  std::vector<std::string>* lines) {
  (void)lines;
  const std::string& c = w[0];
  const std::string arg = w.size() > 1 ? w[1] : "";
  bool on = false;
  int n = 0;
  auto flag = [&](bool* member) {
    if (!OnOff(arg, member)) *error = c + " needs on or off";
    return true;
  };
  if (c == "mains") {
    if (arg != "fail" && arg != "ok") *error = "mains fail|ok";
    battery_.Advance(!mains_ok_);
    mains_ok_ = arg == "ok" ? true : arg == "fail" ? false : mains_ok_;
    return true;
  }
  if (c == "battery") {
    if (arg != "low" && arg != "ok") *error = "battery low|ok";
    battery_low_ = arg == "low" ? true : arg == "ok" ? false : battery_low_;
    return true;
  }
  if (c == "bypass") return flag(&bypass_);
  if (c == "buck") return flag(&buck_);
  if (c == "boost") return flag(&boost_);
  if (c == "overload") return flag(&overload_);
  if (c == "replace-battery") return flag(&replace_battery_);
  if (c == "input-range") return flag(&input_range_);
  if (c == "config-datagram") return flag(&config_datagram_);
  if (c == "silence" && (arg == "on" || arg == "off")) return flag(&silent_);
  if (c == "reply-delay") {
    if (!ToInt(arg, 0, 60000, &n)) *error = "reply-delay MS (up to 60000)";
    if (error->empty()) reply_delay_ms_ = n;
    return true;
  }
  if (c == "alarm") {
    if (w.size() < 3 || !ToInt(arg, 0, kAlarmNumbers - 1, &n) || !OnOff(w[2], &on)) {
      *error = "alarm N on|off (N below 200)";
    } else if (on) {
      raised_.insert(n);
    } else {
      raised_.erase(n);
    }
    return true;
  }
  if (c == "fault" || c == "silence") {
    const std::string kind = c == "silence" ? "silence" : arg;
    const std::string count = c == "silence" ? arg : (w.size() > 2 ? w[2] : "1");
    if (kind != "busy" && kind != "corrupt" && kind != "gap" && kind != "short" && kind != "silence" &&
        kind != "late") {
      *error = "fault busy|corrupt|gap|short|silence|late [N]";
    } else if (!ToInt(count.empty() ? "1" : count, 0, 1000000, &n)) {
      *error = "fault needs a count";
    } else {
      faults_[kind] = n;
    }
    return true;
  }
  if (c == "test-result") {
    if (arg != "pass" && arg != "fail") {
      *error = "test-result pass|fail [SECONDS]";
    } else if (w.size() > 2 && !ToInt(w[2], 0, 86400, &test_seconds_)) {
      *error = "test-result: bad seconds";
    } else {
      test_fails_ = arg == "fail";
    }
    return true;
  }
  if (c == "commands") {
    std::vector<int> list;
    std::istringstream in(arg);
    for (std::string item; std::getline(in, item, ',');) {
      if (!ToInt(item, 0, 255, &n)) {
        *error = "commands N,N,...";
        return true;
      }
      list.push_back(n);
    }
    commands_ = list;
    return true;
  }
  if (c == "meter") {
    int id = 0;
    int format = 0;
    double value = 0;
    if (w.size() == 3 && w[2] == "off" && ToInt(arg, 1, 255, &id)) {
      meters_.erase(id);
      pinned_meters_.erase(id);
    } else if (w.size() == 4 && ToInt(arg, 1, 255, &id) && ToInt(w[2], 1, 255, &format) && ToDouble(w[3], &value)) {
      meters_[id] = Meter{format, value};
      pinned_meters_.insert(id);
    } else {
      *error = "meter ID FORMAT VALUE | meter ID off";
    }
    return true;
  }
  if (c == "set") {
    if (w.size() < 3) {
      *error = "set KEY VALUE";
      return true;
    }
    const std::string& v = w[2];
    auto number = [&](int* member, long lo, long hi) {
      if (!ToInt(v, lo, hi, member)) *error = "set " + arg + ": bad value";
    };
    auto byte = [&](uint8_t* member) {
      if (ToInt(v, 0, 255, &n)) {
        *member = static_cast<uint8_t>(n);
      } else {
        *error = "set " + arg + ": bad value";
      }
    };
    if (arg == "model") {
      const size_t at = line.find(v, line.find("model") + 5);
      model_ = line.substr(at);
    } else if (arg == "type-code") {
      number(&type_code_, 0, 65535);
    } else if (arg == "va") {
      number(&va_, 0, 3276750);
    } else if (arg == "watts") {
      number(&watts_, 0, 3276750);
    } else if (arg == "phases") {
      number(&phases_, 0, 255);
    } else if (arg == "version") {
      if (!ToVersion(v, &version_major_, &version_minor_)) *error = "set version M.mm";
    } else if (arg == "adapter-version") {
      if (!ToVersion(v, &adapter_major_, &adapter_minor_)) *error = "set adapter-version M.mm";
    } else if (arg == "config-size") {
      number(&config_size_, 0, 65535);
    } else if (arg == "two-byte-delays") {
      if (!OnOff(v, &two_byte_delays_)) *error = "set two-byte-delays 0|1";
    } else if (arg == "cto") {
      cto_ = v;
    } else if (arg == "serial") {
      serial_ = v;
    } else if (arg == "output-voltage") {
      number(&output_voltage_, 0, 65535);
    } else if (arg == "input-voltage") {
      number(&input_voltage_, 0, 65535);
    } else if (arg == "frequency") {
      number(&frequency_, 0, 65535);
    } else if (arg == "audible") {
      byte(&audible_);
    } else if (arg == "low-battery-warning") {
      byte(&low_battery_warning_);
    } else if (arg == "access") {
      access_ = v;
    } else if (arg == "block-size") {
      if (ToInt(v, 1, 255, &n)) {
        block_size_ = static_cast<size_t>(n);
      } else {
        *error = "set block-size 1..255";
      }
    } else if (arg == "segments" || arg == "first-segment") {
      number(arg == "segments" ? &segments_ : &first_segment_, arg == "segments" ? 0 : 1, 255);
      segment_state_.clear();
      for (int i = 0; i < segments_; ++i) segment_state_[first_segment_ + i] = output_on_ ? 2 : 1;
    } else {
      *error = "set: unknown key " + arg;
    }
    return true;
  }
  return false;
}

}  // namespace netbcmsim
