#include "core/scp/port_settings.h"

namespace {
const std::string kNoName;
}

int KT_PortSettings::Refuse(Function f) {
  LogError(ERR_PORT_SETTINGS, f, 1, 0);
  return -1;
}

int KT_PortSettings::SetPortName(const char* name) {
  if (name == nullptr) return Refuse(kSetPortName);
  port_name_ = name;
  return 0;
}

std::optional<std::string> KT_PortSettings::GetPortName() {
  if (!port_name_) {
    Refuse(kGetPortName);
    return std::nullopt;
  }
  return port_name_;
}

const std::string& KT_PortSettings::PortNameRef() const {
  return port_name_ ? *port_name_ : kNoName;
}

int KT_PortSettings::SetBaudIndex(int value) {
  if (value < 0 || value > 9) return Refuse(kSetBaudIndex);
  baud_index_ = static_cast<uint8_t>(value);
  return 0;
}

int KT_PortSettings::SetParity(int value) {
  if (value < 0 || value > 2) return Refuse(kSetParity);
  parity_ = static_cast<uint8_t>(value);
  return 0;
}

int KT_PortSettings::SetStopBits(int value) {
  if (value != 0) return Refuse(kSetStopBits);
  stop_bits_ = 0;
  return 0;
}

int KT_PortSettings::SetDataBits(int value) {
  if (value < 7 || value > 8) return Refuse(kSetDataBits);
  data_bits_ = static_cast<uint8_t>(value);
  return 0;
}

int KT_PortSettings::SetFlowControl(int value) {
  if (value < 0 || value > 2) return Refuse(kSetFlowControl);
  flow_control_ = static_cast<uint8_t>(value);
  return 0;
}

int KT_PortSettings::SetPortOption(int value) {
  if (value < 0 || value > 3) return Refuse(kSetPortOption);
  port_option_ = value;
  return 0;
}

void KT_PortSettings::CopyFrom(const KT_PortSettings& other) {
  port_name_ = other.port_name_;
  baud_index_ = other.baud_index_;
  parity_ = other.parity_;
  stop_bits_ = other.stop_bits_;
  data_bits_ = other.data_bits_;
  flow_control_ = other.flow_control_;
  port_option_ = other.port_option_;
}
