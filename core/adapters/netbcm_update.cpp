// KT_NetBCM: polling -- status and alarms, identification, configuration and ratings,
// capabilities with the supported-command and load-segment tables, meters.
#include <algorithm>
#include <climits>

#include "core/adapters/adapter_capabilities.h"
#include "core/base/ktdiag.h"
#include "core/adapters/netbcm.h"
#include "core/scp/scp.h"
#include "core/base/ups_identification.h"

namespace {

// Error functions of the driver's records (class 11).
enum NetBcmErrorFunction : int32_t {
  NETBCM_FN_IDENTIFICATION = 4,
  NETBCM_FN_STATUS = 5,
  NETBCM_FN_CONFIG = 6,
  NETBCM_FN_RATINGS = 7,
  NETBCM_FN_TABLES = 12,
};
constexpr int32_t kCodeTooShort = 3;
constexpr int32_t kCodeBadValue = 4;

// Fields of the configuration reply.
constexpr size_t kConfigMinBytes = 12;
constexpr size_t kConfigOutputVoltage = 8;
constexpr size_t kConfigOutputFrequency = 10;
constexpr size_t kConfigAdapterMinor = 42;
constexpr size_t kConfigAdapterMajor = 43;
constexpr size_t kConfigTwoByteDelays = 47;
constexpr size_t kConfigCto = 48;
constexpr size_t kConfigSerial = 64;
constexpr size_t kConfigTextBytes = 16;
// Fields of the rating reply.
constexpr size_t kRatingMinBytes = 18;
constexpr size_t kRatingLowBatteryWarning = 16;
constexpr size_t kRatingAudibleAlarm = 17;
constexpr int kWattRatingStep = 50;

// Capability bits that come from the identification and the capability pass, not from the
// model code: the model code's word keeps them.
constexpr uint32_t kKeptCapabilities = NETBCM_CAP_CONFIG_QUERY | NETBCM_CAP_IDENTIFIED | NETBCM_CAP_DELAYED_OFF_SEGMENTS;

// Seconds the identification, configuration and table queries wait for their reply.
constexpr int kQueryWait = 10;
// The status query waits at least this long per try.
constexpr uint32_t kStatusMinWait = 3;

// States of a load segment that mean its output is on.
bool SegmentIsOn(int state) { return state == 2 || state == 4; }

int BcdOrUnknown(uint8_t b) {
  const int v = BcmFromBcd(b);
  return v < 0 ? 255 : v;
}

}  // namespace

// ---- identification -------------------------------------------------------------------------

int ParseNetBcmIdentification(const std::vector<uint8_t>& d, NetBcmIdentification& out) {
  out = NetBcmIdentification();
  const size_t n = d.size();
  if (n == 0) return NETBCM_ID_NO_DATA;
  const size_t versions = d[0];
  size_t pos = 1 + 2 * versions;
  if (versions > 0) {
    if (n < 3) return NETBCM_ID_NO_RATING;
    out.versionMinor = BcdOrUnknown(d[1]);
    out.versionMajor = BcdOrUnknown(d[2]);
  }
  if (pos >= n) return NETBCM_ID_NO_RATING;
  if (d[pos] != 0) {
    out.va = d[pos] * 1000;
    pos += 1;
  } else {
    if (n - pos < 3) return NETBCM_ID_NO_RATING;
    out.va = BcmU16(&d[pos + 1]) * 50;
    pos += 3;
  }
  // Phases (the rating multiplier), one unused byte, the name's length.
  if (n - pos < 3) return NETBCM_ID_NO_NAME;
  out.phases = d[pos];
  pos += 2;
  const size_t nameLength = d[pos++];
  if (nameLength > n - pos) return NETBCM_ID_SHORT_NAME;
  out.name.assign(d.begin() + static_cast<long>(pos), d.begin() + static_cast<long>(pos + nameLength));
  pos += nameLength;
  if (pos >= n) return NETBCM_ID_NO_METERS;
  const size_t meters = d[pos++];
  if (meters > n - pos) return NETBCM_ID_NO_METERS;
  for (size_t j = 0; j < meters; ++j) {
    if (d[pos + j] == 0) continue;
    out.meterIds.push_back(static_cast<uint16_t>(j + 1));
    out.meterFormats.push_back(d[pos + j]);
  }
  pos += meters;
  if (pos >= n) return NETBCM_ID_NO_ALARMS;
  const size_t alarmBytes = d[pos++];
  if (alarmBytes > n - pos) return NETBCM_ID_NO_ALARMS;
  for (size_t j = 0; j < alarmBytes; ++j) {
    for (int b = 0; b < 8; ++b) {
      if (d[pos + j] & (1u << b)) out.alarms.push_back(static_cast<uint16_t>(8 * j + static_cast<size_t>(b)));
    }
  }
  pos += alarmBytes;
  if (n - pos >= 2) out.configSize = BcmU16(&d[pos]);
  return NETBCM_ID_COMPLETE;
}

const NetBcmModelName* FindNetBcmModel(const std::string& name) {
  for (const NetBcmModelName& entry : kNetBcmModelNames) {
    const char* text = entry.code != nullptr ? entry.code : kModelSubstrings[entry.substring];
    if (text != nullptr && *text != '\0' && name.find(text) != std::string::npos) return &entry;
  }
  return nullptr;
}

int KT_NetBCM::DecodeIdentification(const std::vector<uint8_t>& data) {
  NetBcmIdentification id;
  const int stage = ParseNetBcmIdentification(data, id);
  if (stage != NETBCM_ID_COMPLETE) {
    Diag() << "KT_NetBCM: identification reply of " << static_cast<int>(data.size()) << " bytes ends early (stage "
           << stage << ")" << kendl;
    LogError(ERR_BCM, NETBCM_FN_IDENTIFICATION, kCodeTooShort, stage);
    return -1;
  }
  const NetBcmModelName* model = FindNetBcmModel(id.name);
  rating_multiplier_ = static_cast<uint8_t>(id.phases);
  int64_t va = id.va;
  if (model != nullptr && model->ratingPerPhase) va *= std::max(1, id.phases);
  va = std::min<int64_t>(va, INT_MAX / 2);
  {
    auto lock = scp_->Lock();
    UpsInfoBlock& info = scp_->upsInfo;
    if (id.versionMajor >= 0) info.SetVersion(id.versionMajor, id.versionMinor);
    info.SetVARating(static_cast<int>(va));
    scp_->meters.SetLoadVARating(static_cast<int>(va));
    info.SetModelText(RatingText(static_cast<int32_t>(va)).c_str());
    info.SetNumberOfPhases(id.phases);
    if (model != nullptr) {
      info.SetModelIndex(model->modelIndex);
      info.SetVariant(model->variant);
    }
  }
  model_name_ = id.name;
  decoder_.meterIds = std::move(id.meterIds);
  decoder_.meterFormats = std::move(id.meterFormats);
  decoder_.alarmMap = std::move(id.alarms);
  for (size_t i = 0; i < decoder_.alarmMap.size(); ++i) {
    Diag() << "bcm_alarm_map[" << static_cast<int>(i) << "] = " << static_cast<int>(decoder_.alarmMap[i]) << kendl;
  }
  if (id.configSize != 0) {
    capabilities_ |= NETBCM_CAP_CONFIG_QUERY;
  } else {
    capabilities_ &= ~static_cast<uint32_t>(NETBCM_CAP_CONFIG_QUERY);
  }
  return 1;
}

int KT_NetBCM::UpdateInfo() {
  {
    auto lock = scp_->Lock();
    scp_->upsInfo.SetInterfaceType(agent_side_ ? 2 : 5);
  }
  std::vector<uint8_t> data;
  if (Exchange(Query(NETBCM_QUERY_IDENTIFICATION), BCM_REPLY_IDENTIFICATION, 0, 0, kQueryWait, &data) < 0 ||
      DecodeIdentification(data) < 0) {
    Diag() << "Tremona: ERROR during NetBCM UpdateInfo.\n";
    return -1;
  }
  if (capabilities_ & NETBCM_CAP_CONFIG_QUERY) UpdateConfig();
  capabilities_ |= NETBCM_CAP_IDENTIFIED;
  {
    auto lock = scp_->Lock();
    for (int b = 0; b <= 5; ++b) scp_->upsInfo.Branches().Touch(b);
  }
  UpdateCapabilities();
  return 1;
}

std::optional<std::string> KT_NetBCM::ProbeAdapter() {
  // The probe waits no longer than the adapter's time-out (but as long as a status try at
  // least): an adapter configured to answer within a few seconds is asked again sooner.
  uint32_t timeout;
  {
    auto lock = scp_->Lock();
    timeout = scp_->config.GetCommTimeout();
  }
  const int wait = static_cast<int>(std::clamp<uint32_t>(timeout, kStatusMinWait, static_cast<uint32_t>(kQueryWait)));
  std::vector<uint8_t> data;
  if (Exchange(Query(NETBCM_QUERY_IDENTIFICATION), BCM_REPLY_IDENTIFICATION, 1, 0, wait, &data) < 0) {
    return std::nullopt;
  }
  NetBcmIdentification id;
  const int stage = ParseNetBcmIdentification(data, id);
  if (stage != NETBCM_ID_COMPLETE && stage < NETBCM_ID_NO_METERS) return std::nullopt;
  return id.name;
}

// ---- configuration and ratings --------------------------------------------------------------

int KT_NetBCM::DecodeConfig(const std::vector<uint8_t>& d) {
  if (d.size() < kConfigMinBytes) {
    LogError(ERR_BCM, NETBCM_FN_CONFIG, d.empty() ? 1 : kCodeTooShort, static_cast<int32_t>(d.size()));
    return -1;
  }
  auto lock = scp_->Lock();
  UpsInfoBlock& info = scp_->upsInfo;
  const int code = BcmU16(&d[0]);
  const BcmTypeCodeModel byCode = BcmModelForTypeCode(code, info.GetModelIndex());
  if (!byCode.keepsModel) {
    info.SetVariant(0);
    if (byCode.model >= 0) {
      info.SetModelIndex(byCode.model);
      info.SetVariant(byCode.adapterVariant);
      capabilities_ = byCode.capabilities | (capabilities_ & kKeptCapabilities);
    } else {
      info.SetModelIndex(255);
    }
  }
  info.SetNominalOutputVoltage(BcmU16(&d[kConfigOutputVoltage]));
  info.SetNominalOutputFrequency(BcmU16(&d[kConfigOutputFrequency]));
  // Each field is read only when the reply reaches it.
  if (d.size() > kConfigAdapterMajor) {
    info.SetAdapterVersion(BcdOrUnknown(d[kConfigAdapterMajor]), BcdOrUnknown(d[kConfigAdapterMinor]));
  }
  if (d.size() > kConfigTwoByteDelays && d[kConfigTwoByteDelays] != 0) capabilities_ |= NETBCM_CAP_TWO_BYTE_DELAY;
  if (d.size() > kConfigCto) {
    const std::string cto = BcmFixedText(d, kConfigCto, kConfigTextBytes);
    if (!cto.empty() && cto[0] != ' ') info.SetCto(cto.c_str());
  }
  if (d.size() > kConfigSerial) {
    const std::string serial = BcmFixedText(d, kConfigSerial, kConfigTextBytes);
    if (!serial.empty() && serial[0] != ' ') {
      info.SetSerialNumber(serial.c_str());
      Diag() << "Serial Number = " << serial << kendl;
    }
  }
  return 1;
}

int KT_NetBCM::DecodeRatings(const std::vector<uint8_t>& d) {
  if (d.size() < kRatingMinBytes) {
    LogError(ERR_BCM, NETBCM_FN_RATINGS, d.empty() ? 1 : kCodeTooShort, static_cast<int32_t>(d.size()));
    return 0;
  }
  auto lock = scp_->Lock();
  int watts = (d[5] * 256 + d[4]) * kWattRatingStep;
  if (model_name_ && model_name_->find(kBcmTripleWattCode) != std::string::npos) watts *= 3;
  scp_->upsInfo.SetWattRating(watts);
  scp_->meters.SetLoadWattRating(watts);
  Diag() << "Watt rating = " << watts << kendl;
  scp_->upsInfo.SetNominalInputVoltage(BcmU16(&d[0]));
  scp_->upsInfo.SetNominalInputFrequency(BcmU16(&d[2]));
  scp_->config.SetLowBatteryWarning(d[kRatingLowBatteryWarning]);
  scp_->config.SetAudibleAlarm(d[kRatingAudibleAlarm]);
  return 1;
}

int KT_NetBCM::UpdateConfig() {
  if (!(capabilities_ & NETBCM_CAP_CONFIG_QUERY)) {
    auto lock = scp_->Lock();
    scp_->upsInfo.ClearFunctionSupported(2, 3);
    scp_->config.Branches().SetFieldState(3, 0, FIELD_NOT_AVAILABLE);
    return 0;
  }
  std::vector<uint8_t> data;
  if (Exchange(Query(NETBCM_QUERY_CONFIG), BCM_REPLY_CONFIG, 0, 0, kQueryWait, &data) < 0 || DecodeConfig(data) < 0) {
    Diag() << "Tremona: ERROR during NetBCM UpdateConfig.\n";
    return -1;
  }
  if (Exchange(Query(NETBCM_QUERY_RATINGS), BCM_REPLY_RATINGS, 0, 0, kQueryWait, &data) < 0 ||
      DecodeRatings(data) <= 0) {
    Diag() << "Tremona: ERROR during NetBCM UpdateConfig.\n";
    return 0;
  }
  return 1;
}

bool KT_NetBCM::IsCommandSupported(int command) const {
  auto has = [&](uint32_t bit) { return (capabilities_ & bit) != 0; };
  switch (command) {
    case 6: return has(NETBCM_CAP_CONFIG_QUERY);
    case 11:
    case BCM_CMD_BATTERY_TEST: return has(NETBCM_CAP_BATTERY_TEST);
    case 12: return has(NETBCM_CAP_TWO_BYTE_DELAY);
    case BCM_CMD_DELAYED_OFF: return has(NETBCM_CAP_DELAYED_OFF) || has(NETBCM_CAP_DELAYED_OFF_SEGMENTS);
    case BCM_CMD_ON_AFTER_MINUTES:
    case BCM_CMD_OFF_AFTER_MINUTES: return has(NETBCM_CAP_SCHEDULED);
    case BCM_CMD_ON_AT_TIME:
    case BCM_CMD_OFF_AT_TIME: return has(NETBCM_CAP_DATE_TIME);
    case BCM_CMD_SET_CONFIG: return has(NETBCM_CAP_CONFIG_SETTINGS);
    default: return false;
  }
}

bool KT_NetBCM::IsNewAdapter() {
  auto lock = scp_->Lock();
  const int major = scp_->upsInfo.GetAdapterVersionMajor();
  const int minor = scp_->upsInfo.GetAdapterVersionMinor();
  if (major == 255 || minor == 255) return false;
  return major * 100 + minor >= kNetBcmNewAdapterVersion;
}

// ---- capabilities -------------------------------------------------------------------------

int KT_NetBCM::UpdateCapabilities() {
  bool withFunction33;
  bool withFunction10;
  {
    auto lock = scp_->Lock();
    UpsInfoBlock& info = scp_->upsInfo;
    NotifyBlock& notify = scp_->notify;
    auto function = [&](int n, int b) { info.SetFunctionSupported(n, b); };
    auto event = [&](int n, int b) { notify.SetSupportBit(SUPPORT_EVENTS, n, b); };
    auto noEvent = [&](int n, int b) { notify.ClearSupportBit(SUPPORT_EVENTS, n, b); };

    // The fixed lists every adapter-driven UPS has.
    SetAdapterUpsCapabilities(info, notify);

    const int m = info.GetModelIndex();
    auto is = [&](std::initializer_list<int> models) { return std::find(models.begin(), models.end(), m) != models.end(); };
    auto threePhaseEvents = [&] {
      noEvent(1, 0);
      noEvent(1, 1);
      event(3, 5);
      event(3, 6);
      event(3, 7);
      event(4, 0);
    };
    if (is({2, 7})) {
      function(2, 5);
      function(1, 0);
      event(2, 5);
      function(3, 1);
    }
    if (m == 20) {
      function(1, 0);
      function(3, 1);
      event(2, 5);
    }
    if (is({1, 6, 17})) {
      function(3, 0);
      event(3, 3);
      event(3, 4);
      function(3, 1);
      event(2, 5);
      function(2, 6);
      function(2, 3);
    }
    if (is({11, 12, 3, 10, 15, 19, 21})) {
      function(3, 0);
      event(3, 3);
      event(3, 4);
      function(3, 1);
      event(2, 5);
      function(3, 3);
      function(2, 3);
      if (!is({11, 12})) threePhaseEvents();
    }
    if (is({13, 16})) function(3, 3);
    if (m == 18) {
      function(3, 1);
      event(2, 5);
      function(3, 3);
      threePhaseEvents();
    }
    if (m == 6) function(3, 3);
    if (is({1, 17, 18, 21, 22, 23, 24})) {
      // An unknown version (255) counts as no version.
      const int major = info.GetVersionMajor() == 255 ? 0 : info.GetVersionMajor();
      const int minor = info.GetVersionMinor() == 255 ? 0 : info.GetVersionMinor();
      if (info.GetVARating() > 3000 && (major > 1 || minor > 4)) {
        function(3, 3);
      } else {
        function(1, 0);
      }
    }
    withFunction33 = info.IsFunctionSupported(3, 3) == 1;
    withFunction10 = info.IsFunctionSupported(1, 0) == 1;
  }
  if (withFunction33) {
    capabilities_ |= NETBCM_CAP_DELAYED_OFF_SEGMENTS;
  } else if (withFunction10) {
    capabilities_ |= NETBCM_CAP_DELAYED_OFF;
  }
  ReadSupportedCommands();
  ReadLoadSegments();
  if (segment_count_ > 1) {
    auto lock = scp_->Lock();
    scp_->upsInfo.SetFunctionSupported(3, 7);
  }
  return 1;
}

int KT_NetBCM::DecodeSupportedCommands(const std::vector<uint8_t>& d) {
  if (d.size() < 2) {
    LogError(ERR_BCM, NETBCM_FN_TABLES, d.empty() ? 1 : kCodeTooShort, 16);
    return -1;
  }
  const size_t count = d[0];
  const size_t size = d[1];
  if (count == 0 || count == 255 || size == 0) {
    Diag() << "KT_NetBCM: the supported-command query failed (count " << static_cast<int>(count) << ")" << kendl;
    LogError(ERR_BCM, NETBCM_FN_TABLES, kCodeBadValue, 16);
    return -1;
  }
  if (count > (d.size() - 2) / size) {
    LogError(ERR_BCM, NETBCM_FN_TABLES, kCodeTooShort, 16);
    return -1;
  }
  supported_commands_.fill(0);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t code = d[2 + i * size];
    // 0 and 255 read as "no command".
    if (code != 0 && code < supported_commands_.size()) supported_commands_[code] = 1;
  }
  return 1;
}

int KT_NetBCM::ReadSupportedCommands() {
  std::vector<uint8_t> data;
  if (Exchange(Query(NETBCM_QUERY_COMMANDS), BCM_REPLY_SUPPORTED_COMMANDS, 0, 0, kQueryWait, &data) < 0) return -1;
  return DecodeSupportedCommands(data);
}

int KT_NetBCM::DecodeLoadSegments(const std::vector<uint8_t>& d) {
  if (d.size() < 2) {
    LogError(ERR_BCM, NETBCM_FN_TABLES, d.empty() ? 1 : kCodeTooShort, 17);
    return -1;
  }
  const size_t count = d[0];
  const size_t size = d[1];
  if (count == 0) {
    // A UPS always feeds at least its whole output.
    segment_count_ = 1;
    segment_table_.clear();
    return 1;
  }
  if (size < 2 || count > (d.size() - 2) / size) {
    LogError(ERR_BCM, NETBCM_FN_TABLES, kCodeTooShort, 17);
    return -1;
  }
  segment_table_.clear();
  for (size_t i = 0; i < count; ++i) {
    segment_table_.push_back(d[2 + i * size]);
    segment_table_.push_back(d[3 + i * size]);
  }
  segment_count_ = static_cast<int>(count);
  first_segment_ = d[2];
  return 1;
}

int KT_NetBCM::ReadLoadSegments() {
  int r = 1;
  if (IsListedCommand(BCM_REQ_LOAD_SEGMENTS)) {
    std::vector<uint8_t> data;
    r = Exchange(Query(NETBCM_QUERY_SEGMENTS), BCM_REPLY_LOAD_SEGMENTS, 0, 0, kQueryWait, &data) < 0
            ? -1
            : DecodeLoadSegments(data);
  } else {
    segment_count_ = 1;
    segment_table_.clear();
  }
  auto lock = scp_->Lock();
  if (scp_->receptacles.GetCount() != segment_count_) scp_->receptacles.SetCount(segment_count_);
  return r;
}

int KT_NetBCM::UpdateSegmentState(int load) {
  int state = kNetBcmSegmentStateUnknown;
  if (IsListedCommand(BCM_REQ_LOAD_SEGMENTS)) {
    ReadLoadSegments();
    const int number = load + first_segment_;
    for (size_t i = 0; i + 1 < segment_table_.size(); i += 2) {
      if (segment_table_[i] == number) {
        state = segment_table_[i + 1];
        break;
      }
    }
  }
  segment_state_ = state;
  if (SegmentIsOn(state)) {
    auto lock = scp_->Lock();
    scp_->receptacles.SetStatus(load, RECEPTACLE_ON);
  }
  return state;
}

// ---- status and alarms --------------------------------------------------------------------

int KT_NetBCM::DecodeStatusDatagram(const uint8_t* bytes, size_t size) {
  std::vector<uint8_t> status;
  std::vector<uint8_t> alarms;
  const int s = ParseNetBcmReply(bytes, size, BCM_REPLY_STATUS, status, &counters_);
  const int a = ParseNetBcmReply(bytes, size, BCM_REPLY_ALARMS, alarms, &counters_);
  if (s != NETBCM_REPLY_COMPLETE || a != NETBCM_REPLY_COMPLETE) {
    Diag() << "KT_NetBCM: status reply without a whole status (" << s << ") and alarm (" << a << ") part" << kendl;
    LogError(ERR_BCM, NETBCM_FN_STATUS, s != NETBCM_REPLY_COMPLETE ? 1 : 2, s != NETBCM_REPLY_COMPLETE ? s : a);
    return -1;
  }
  if (decoder_.DecodeStatus(status) <= 0) return -1;
  // One byte per entry of the alarm list; bytes beyond it name no alarm. With no entry at
  // all the reply reports no alarm, which clears them as an all-zero reply does.
  if (alarms.size() > decoder_.alarmMap.size()) alarms.resize(decoder_.alarmMap.size());
  if (alarms.empty()) alarms.push_back(0);
  return decoder_.DecodeAlarms(alarms) > 0 ? 1 : -1;
}

int KT_NetBCM::UpdateStatus() {
  uint32_t polling;
  uint32_t timeout;
  {
    auto lock = scp_->Lock();
    polling = std::max<uint32_t>(1, scp_->config.GetPollingInterval());
    timeout = std::max<uint32_t>(1, scp_->config.GetCommTimeout());
  }
  if (polling > timeout) polling = timeout;
  const uint32_t tries = timeout / polling;
  const int retries = tries == 1 ? 0 : static_cast<int>(std::min<uint32_t>(tries, INT_MAX));
  const int wait = static_cast<int>(std::max<uint32_t>((timeout + tries - 1) / tries, kStatusMinWait));

  // Each try asks for whole status and alarm parts, so that a damaged, cut or busy reply is
  // tried again within the adapter time-out rather than taken for a lost UPS.
  const bool ok = Exchange(Query(NETBCM_QUERY_STATUS), BCM_REPLY_STATUS, 0, retries, wait, nullptr, BCM_REPLY_ALARMS) == 0 &&
                  DecodeStatusDatagram(reply_.data(), reply_.size()) > 0;
  auto lock = scp_->Lock();
  if (ok) {
    scp_->upsStatus.ClearAlarm(ALARM_LOST_UPS_COMM);
    if (status_lost_) Diag() << "Tremona: Communications restored.\n";
    status_lost_ = false;
    return 1;
  }
  scp_->upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
  if (!status_lost_) Diag() << "Tremona: ERROR communication loss during NetBCM UpdateStatus.\n";
  status_lost_ = true;
  return -1;
}

// ---- meters -------------------------------------------------------------------------------

int KT_NetBCM::UpdateMeter() {
  std::vector<uint8_t> data;
  if (Exchange(Query(NETBCM_QUERY_METERS), BCM_REPLY_METERS, 0, 0, kQueryWait, &data) < 0 ||
      decoder_.DecodeMeters(data) <= 0) {
    if (!meter_failed_) Diag() << "Tremona: ERROR during NetBCM UpdateMeter.\n";
    meter_failed_ = true;
    return -1;
  }
  meter_failed_ = false;
  return 1;
}
