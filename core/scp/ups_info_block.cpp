#include "core/scp/ups_info_block.h"

#include <cstdio>
#include <mutex>
#include <new>
#include <utility>

#include "core/base/peer_version.h"
#include "core/base/setup_data.h"

namespace {

// Function codes of the block's error records (class 10).
enum : int32_t {
  FN_SET_MODEL_TEXT = 2,
  FN_SET_SERIAL_NUMBER = 4,
  FN_SET_CTO = 6,
  FN_CONVERT_FIELD = 8,
  FN_SET_FUNCTION = 9,
  FN_CLEAR_FUNCTION = 10,
  FN_IS_FUNCTION = 11,
};

// Largest byte index of the function map: its length must fit the one length byte.
constexpr int kMaxFunctionByte = 254;

const char* const kOsNames[] = {
    "Unknown Operating System",
    "Novell Netware",
    "Microsoft Windows 3.1",
    "Microsoft Windows 95/98",
    "Microsoft Windows NT",
    "IBM AIX",
    "Sun Solaris",
    "Sun SunOS",
    "HP HP-UX",
    "IBM OS/2",
    "Silcon Graphics IRIX",
    "DEC Digital UNIX",
    "DEC Windows NT",
    "SNMP",
    "SCO UnixWare",
    "SCO OpenServer",
    "Linux",
    "SEQUENT DYNIX/ptx",
    "Microsoft Windows 2000",
    "Microsoft Windows XP",
};
constexpr int kOsNameCount = sizeof(kOsNames) / sizeof(kOsNames[0]);

uint8_t InRangeOr255(int v, int max) { return v >= 0 && v <= max ? static_cast<uint8_t>(v) : 255; }
uint16_t Word(int v) { return v >= 0 && v <= 0xFFFF ? static_cast<uint16_t>(v) : 0xFFFF; }

// A peer newer than 0.36 carries 4-byte ratings.
bool WideRatings(const PeerSoftwareVersion& v) { return v.second != 0 || v.third >= 37; }

std::mutex g_version_source_mutex;
AgentVersionSource g_version_source;

}  // namespace

const char* GetOsTableName(int entry) {
  if (entry < 0 || entry >= kOsNameCount) return kOsNames[0];
  return kOsNames[entry];
}

void SetAgentVersionSource(AgentVersionSource source) {
  std::lock_guard<std::mutex> lock(g_version_source_mutex);
  g_version_source = std::move(source);
}

AgentSoftwareVersion GetAgentSoftwareVersion() {
  AgentVersionSource source;
  {
    std::lock_guard<std::mutex> lock(g_version_source_mutex);
    source = g_version_source;
  }
  if (source) return source();
  // The agent's version triple of the product information (setup.dat, read anew each time).
  const SetupData setup;
  const SetupData::Version v = setup.GetVersion(8);
  return AgentSoftwareVersion{static_cast<uint8_t>(v.minor), static_cast<uint8_t>(v.build)};
}

UpsInfoBlock::UpsInfoBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  branches_.AddBranch(2, 9);
  branches_.AddBranch(3, 5);
  branches_.AddBranch(4, 4);
  branches_.AddBranch(5, 7);
  SetRefreshPeriod(kRefreshNever);
  Reset();
}

void UpsInfoBlock::Reset() {
  interface_type_ = 255;
  function_map_ = {0x83, 0x10, 0x01, 0x10};
  model_index_ = manufacturer_ = variant_ = 255;
  version_major_ = version_minor_ = 255;
  model_text_.reset();
  serial_number_.reset();
  cto_.reset();
  reserved_ = -1;
  software_second_ = software_third_ = 255;
  reserved_text_.reset();
  adapter_major_ = adapter_minor_ = 255;
  os_type_ = os_major_ = os_minor_ = os_build_ = 255;
  va_rating_ = watt_rating_ = -1;
  input_voltage_ = input_frequency_ = output_voltage_ = output_frequency_ = 0xFFFF;
  phases_ = 255;
  protocol_ = 255;
  for (int b = 0; b <= 5; ++b) {
    branches_.SetFieldState(b, 0, FIELD_UNCHANGED);
    branches_.ClearTime(b);
  }
}

void UpsInfoBlock::SetInterfaceType(int v) {
  interface_type_ = InRangeOr255(v, 9);
  MarkChanged(1, 1);
}
void UpsInfoBlock::SetModelIndex(int v) {
  model_index_ = InRangeOr255(v, 25);
  MarkChanged(2, 1);
}
void UpsInfoBlock::SetManufacturer(int v) {
  manufacturer_ = InRangeOr255(v, 4);
  MarkChanged(2, 2);
}
void UpsInfoBlock::SetVariant(int v) {
  variant_ = InRangeOr255(v, 2);
  MarkChanged(2, 3);
}
void UpsInfoBlock::SetOsType(int v) {
  os_type_ = InRangeOr255(v, 18);
  MarkChanged(4, 1);
}
void UpsInfoBlock::SetProtocol(int p) { protocol_ = InRangeOr255(p, 3); }

void UpsInfoBlock::SetVersion(int major, int minor) {
  version_major_ = static_cast<uint8_t>(major);
  version_minor_ = static_cast<uint8_t>(minor);
  MarkChanged(2, 4);
  MarkChanged(2, 5);
}

void UpsInfoBlock::SetAdapterVersion(int major, int minor) {
  adapter_major_ = static_cast<uint8_t>(major);
  adapter_minor_ = static_cast<uint8_t>(minor);
  MarkChanged(3, 4);
  MarkChanged(3, 5);
}

void UpsInfoBlock::SetOsVersion(int major, int minor, int build) {
  os_major_ = static_cast<uint8_t>(major);
  os_minor_ = static_cast<uint8_t>(minor);
  os_build_ = static_cast<uint8_t>(build);
  MarkChanged(4, 2);
  MarkChanged(4, 3);
  MarkChanged(4, 4);
}

void UpsInfoBlock::SetSoftwareVersion() {
  const AgentSoftwareVersion v = GetAgentSoftwareVersion();
  SetSoftwareVersion(v.second, v.third);
}

void UpsInfoBlock::SetSoftwareVersion(int second, int third) {
  software_second_ = static_cast<uint8_t>(second);
  software_third_ = static_cast<uint8_t>(third);
  MarkChanged(3, 1);
  MarkChanged(3, 2);
}

void UpsInfoBlock::SetVARating(int va) {
  // A negative rating is "unknown", not a rating of 0.
  va_rating_ = va < 0 ? -1 : va / 50;
  MarkChanged(5, 1);
}

void UpsInfoBlock::SetWattRating(int w) {
  watt_rating_ = w < 0 ? -1 : w / 50;
  MarkChanged(5, 2);
}

void UpsInfoBlock::SetNominalInputVoltage(int v) {
  input_voltage_ = Word(v);
  MarkChanged(5, 3);
}
void UpsInfoBlock::SetNominalInputFrequency(int v) {
  input_frequency_ = Word(v);
  MarkChanged(5, 4);
}
void UpsInfoBlock::SetNominalOutputVoltage(int v) {
  output_voltage_ = Word(v);
  MarkChanged(5, 5);
}
void UpsInfoBlock::SetNominalOutputFrequency(int v) {
  output_frequency_ = Word(v);
  MarkChanged(5, 6);
}
void UpsInfoBlock::SetNumberOfPhases(int v) {
  phases_ = InRangeOr255(v, 255);
  MarkChanged(5, 7);
}

int UpsInfoBlock::SetText(std::optional<std::string>& slot, const char* text, int function, int branch, int field) {
  if (text == nullptr) {
    LogError(ERR_UPS_INFO_BLOCK, function, 1, 0);
    return -1;
  }
  try {
    slot.emplace(text);
  } catch (const std::bad_alloc&) {
    LogError(ERR_UPS_INFO_BLOCK, function, 2, GetSocketError());
    return -1;
  }
  MarkChanged(branch, field);
  return 0;
}

int UpsInfoBlock::SetModelText(const char* text) { return SetText(model_text_, text, FN_SET_MODEL_TEXT, 2, 6); }
int UpsInfoBlock::SetSerialNumber(const char* text) {
  return SetText(serial_number_, text, FN_SET_SERIAL_NUMBER, 2, 7);
}
int UpsInfoBlock::SetCto(const char* text) { return SetText(cto_, text, FN_SET_CTO, 2, 8); }

std::string UpsInfoBlock::GetVersionText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d", version_major_, version_minor_);
  return buf;
}

std::string UpsInfoBlock::GetAdapterVersionText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d", adapter_major_, adapter_minor_);
  return buf;
}

std::string UpsInfoBlock::GetSoftwareVersionText() const {
  char buf[32];
  if (interface_type_ == 5) {
    std::snprintf(buf, sizeof buf, "%d.%02d", software_second_, software_third_);
  } else {
    std::snprintf(buf, sizeof buf, "4.%d.%02d", software_second_, software_third_);
  }
  return buf;
}

std::string UpsInfoBlock::GetOsVersionText() const {
  char buf[32];
  if (os_build_ == 0) {
    std::snprintf(buf, sizeof buf, "%d.%d", os_major_, os_minor_);
  } else {
    std::snprintf(buf, sizeof buf, "%d.%d.%d", os_major_, os_minor_, os_build_);
  }
  return buf;
}

std::string UpsInfoBlock::GetOsName() const {
  return GetOsTableName(os_type_ == 255 ? 0 : os_type_ + 1);
}

int UpsInfoBlock::SetFunctionSupported(int n, int b) {
  if (n < 0 || n > kMaxFunctionByte) {
    LogError(ERR_UPS_INFO_BLOCK, FN_SET_FUNCTION, 1, n);
    return -1;
  }
  if (b < 0 || b > 7) {
    LogError(ERR_UPS_INFO_BLOCK, FN_SET_FUNCTION, 2, b);
    return -1;
  }
  if (static_cast<size_t>(n) >= function_map_.size()) {
    try {
      function_map_.resize(static_cast<size_t>(n) + 1, 0);
    } catch (const std::bad_alloc&) {
      function_map_.clear();
      LogError(ERR_UPS_INFO_BLOCK, FN_SET_FUNCTION, 3, GetSocketError());
      return -1;
    }
  }
  function_map_[n] = static_cast<uint8_t>(function_map_[n] | (1u << b));
  MarkChanged(1, 2);
  branches_.Touch(1);
  return 1;
}

int UpsInfoBlock::ClearFunctionSupported(int n, int b) {
  if (function_map_.empty()) {
    LogError(ERR_UPS_INFO_BLOCK, FN_CLEAR_FUNCTION, 1, 0);
    return -1;
  }
  if (n < 0 || static_cast<size_t>(n) >= function_map_.size()) {
    LogError(ERR_UPS_INFO_BLOCK, FN_CLEAR_FUNCTION, 2, n);
    return -1;
  }
  if (b < 0 || b > 7) {
    LogError(ERR_UPS_INFO_BLOCK, FN_CLEAR_FUNCTION, 3, b);
    return -1;
  }
  function_map_[n] = static_cast<uint8_t>(function_map_[n] & ~(1u << b));
  branches_.Touch(1);
  return 1;
}

int UpsInfoBlock::IsFunctionSupported(int n, int b) {
  if (b < 0 || b > 7) {
    LogError(ERR_UPS_INFO_BLOCK, FN_IS_FUNCTION, 1, b);
    return -1;
  }
  if (n < 0 || static_cast<size_t>(n) >= function_map_.size()) return 0;
  return (function_map_[n] >> b) & 1;
}

int UpsInfoBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_UPS_INFO_BLOCK, FN_SET_FUNCTION, 2, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_UPS;
}

int UpsInfoBlock::ConvertFunctionMap(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr || out->PutCount8(function_map_.size()) < 0) return -1;
    return out->PutBytes(function_map_.data(), function_map_.size());
  }
  if (in == nullptr) return -1;
  uint8_t n = 0;
  std::vector<uint8_t> map;
  if (in->Get8(n) < 0) return -1;
  if (in->GetBytes(map, n) < 0) {
    if (in->errorClass == ERR_BLOCK_CONVERSION && in->code == RECORD_TEXT_NO_MEMORY) {
      LogError(ERR_UPS_INFO_BLOCK, FN_CONVERT_FIELD, 1, GetSocketError());
    }
    return -1;
  }
  function_map_ = std::move(map);
  return 1;
}

int UpsInfoBlock::ConvertRating(int32_t& rating, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  if (WideRatings(GetPeerSoftwareVersion())) return io.I32(rating);
  // Peers of 0.36 and older: 2 bytes, 0xffff for "unknown".
  if (io.Encoding()) return out != nullptr ? out->Put16(static_cast<uint32_t>(rating) & 0xFFFF) : -1;
  uint16_t v = 0;
  if (in == nullptr || in->Get16(v) < 0) return -1;
  if (v != 0xFFFF) rating = v;
  return 1;
}

int UpsInfoBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  int result = -1;
  bool known = true;
  switch (branch) {
    case 1:
      switch (field) {
        case 1: result = io.U8(interface_type_); break;
        case 2: result = ConvertFunctionMap(direction, out, in); break;
        default: known = false;
      }
      break;
    case 2:
      switch (field) {
        case 1: result = io.U8(model_index_); break;
        case 2: result = io.U8(manufacturer_); break;
        case 3: result = io.U8(variant_); break;
        case 4: result = io.U8(version_major_); break;
        case 5: result = io.U8(version_minor_); break;
        case 6: result = io.Text(model_text_); break;
        case 7: result = io.Text(serial_number_); break;
        case 8: result = io.Text(cto_); break;
        case 9: result = io.I32(reserved_); break;
        default: known = false;
      }
      break;
    case 3:
      switch (field) {
        case 1: result = io.U8(software_second_); break;
        case 2: result = io.U8(software_third_); break;
        case 3: result = io.Text(reserved_text_); break;
        case 4: result = io.U8(adapter_major_); break;
        case 5: result = io.U8(adapter_minor_); break;
        default: known = false;
      }
      break;
    case 4:
      switch (field) {
        case 1: result = io.U8(os_type_); break;
        case 2: result = io.U8(os_major_); break;
        case 3: result = io.U8(os_minor_); break;
        case 4: result = io.U8(os_build_); break;
        default: known = false;
      }
      break;
    case 5:
      if (field < 1 || field > 7) {
        known = false;
        break;
      }
      SetPeerSoftwareVersion(software_second_, software_third_);
      switch (field) {
        case 1: result = ConvertRating(va_rating_, direction, out, in); break;
        case 2: result = ConvertRating(watt_rating_, direction, out, in); break;
        case 3: result = io.U16(input_voltage_); break;
        case 4: result = io.U16(input_frequency_); break;
        case 5: result = io.U16(output_voltage_); break;
        case 6: result = io.U16(output_frequency_); break;
        case 7: result = io.U8(phases_); break;
      }
      break;
    default:
      LogError(ERR_UPS_INFO_BLOCK, FN_SET_FUNCTION, 2, branch);
      return -1;
  }
  if (!known) {
    LogError(ERR_UPS_INFO_BLOCK, FN_CONVERT_FIELD, branch + 1, field);
    return -1;
  }
  if (result >= 0 && direction == CONVERT_DECODE) {
    branches_.Touch(branch);
    branches_.Touch(0);
  }
  return result;
}
