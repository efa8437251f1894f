#include "agent/protocols/link_setup.h"

#include "agent/protocols/apc.h"
#include "agent/protocols/contact_closure.h"
#include "agent/protocols/protocol_factory.h"
#include "agent/protocols/ups_protocol.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"

namespace {

// Speeds of the fixed steps.
constexpr int kLineProbeCode = 2;   // 1200 baud
constexpr int kVarnisCode = 2;      // 1200 baud
constexpr int kApcCode = 3;         // 2400 baud
constexpr int kContactCode = 2;     // 1200 baud

// The line probe's DTR pulses and its wait for an answer.
constexpr int kPulseMs = 200;
constexpr int kLineAnswerSeconds = 3;

}  // namespace

KT_LinkSetup::KT_LinkSetup(KT_SCP& scp) : scp_(scp), make_bcm_(MakeBcmProtocol), make_varnis_(MakeHarvanProtocol) {}
KT_LinkSetup::~KT_LinkSetup() = default;

int KT_LinkSetup::Fail(int32_t function, int32_t code, int32_t systemError) {
  LogError(ERR_LINK_SETUP, function, code, systemError);
  return -1;
}

int KT_LinkSetup::NextScanCode(int code) {
  return (code >= kFirstScanCode && code < kLastScanCode) ? code + 1 : kFirstScanCode;
}

int KT_LinkSetup::OpenAt(KT_UpsProtocol& protocol, int code, int32_t function) {
  if (protocol.Configure(*port_name_, code) < 0) {
    Diag() << "ERROR(KT_LinkSetup): cannot open " << *port_name_ << " at baud code " << code << kendl;
    return Fail(function, CODE_OPEN_FAILED, protocol.LastError().systemError);
  }
  return 0;
}

int KT_LinkSetup::CableTest(KT_UpsProtocol& protocol, int32_t function) {
  const int cable = protocol.IsCableConnected();
  if (cable < 0) {
    Diag() << "Error in IsCableConnected\n";
    return Fail(function, CODE_CABLE_TEST_FAILED);
  }
  if (cable == 0) {
    Diag() << "Serial cable not connected (no CTS)\n";
    return Fail(function, CODE_CABLE_MISSING);
  }
  return 1;
}

void KT_LinkSetup::Found(int protocol, int interfaceType, int commMode) {
  auto lock = scp_.Lock();
  scp_.upsInfo.SetProtocol(protocol);
  scp_.upsInfo.SetInterfaceType(interfaceType);
  scp_.config.SetCommMode(commMode);
}

// ---- Connect ----

int KT_LinkSetup::Connect() {
  {
    auto lock = scp_.Lock();
    port_name_ = scp_.config.GetSerialDeviceName();
    baud_ = scp_.config.GetBaudRate();
  }
  if (!port_name_) {
    Diag() << "ERROR(KT_LinkSetup::Connect): no serial device configured\n";
    return Fail(FN_READ_SETTINGS, CODE_NO_PORT_NAME);
  }
  if (baud_ == kUnknownBaud) baud_ = kFirstScanCode;

  const int found = DetectUpsType();
  if (found < 0) return -1;
  if (found == 0) return 0;
  {
    auto lock = scp_.Lock();
    scp_.config.SetSerialDeviceName(port_name_->c_str());
    scp_.config.SetBaudRate(static_cast<uint8_t>(baud_));
  }
  PostFirstRequests();
  return 1;
}

void KT_LinkSetup::PostFirstRequests() {
  int mode;
  {
    auto lock = scp_.Lock();
    mode = scp_.config.GetCommMode();
  }
  if (mode == COMM_IDLE || mode == COMM_NETWORK_SLAVE) return;
  // Status on every pass, the identification once.
  scp_.serial_queue.Post(BLOCK_STATUS, 1, 0, 0);
  scp_.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
  if (mode != COMM_CONTACT_CLOSURE) {
    // Meters on every pass; the agent's UPS settings written to the UPS once.
    scp_.serial_queue.Post(BLOCK_METERS, 1, 0, 0);
    scp_.serial_queue.Post(BLOCK_CONFIG, 0, 1, 0);
  }
  auto lock = scp_.Lock();
  scp_.upsInfo.Branches().ClearTime(0);
}

// ---- detection ----

int KT_LinkSetup::DetectUpsType() {
  if (!port_name_) {
    Diag() << "ERROR(KT_LinkSetup::DetectUpsType): no serial device\n";
    return Fail(FN_DETECT, CODE_NO_PORT_NAME);
  }
  if (baud_ == kUnknownBaud) baud_ = kFirstScanCode;

  using Step = int (KT_LinkSetup::*)();
  static constexpr Step kSteps[] = {&KT_LinkSetup::TryLineProbe, &KT_LinkSetup::TryVarnis,
                                    &KT_LinkSetup::TryApc, &KT_LinkSetup::TryContactClosure};
  for (Step step : kSteps) {
    const int r = (this->*step)();
    if (r != 0) return r;
  }
  return ChangeBaud();
}

int KT_LinkSetup::LineProbe(KT_UpsProtocol& protocol) {
  if (protocol.ControlCheck(KT_SerialPort::kAllLines) < 0) return -1;
  static constexpr int kPulses[] = {KT_SerialPort::kDtr, 0, KT_SerialPort::kDtr};
  for (int lines : kPulses) {
    if (protocol.ControlSet(lines) < 0) return -1;  // RTS stays off
    KT_UpsProtocol::Pause(kPulseMs);
  }
  if (protocol.Ready(kLineAnswerSeconds) < 1) return -1;
  KT_ReadRecord record;
  const int r = protocol.Read(record);
  if (r < 0) return -1;
  return r > 0 ? 1 : 0;
}

int KT_LinkSetup::TryLineProbe() {
  std::unique_ptr<KT_UpsProtocol> bcm = make_bcm_ ? make_bcm_(scp_) : nullptr;
  if (!bcm) return 0;  // BCM not built in: nothing to scan for
  if (OpenAt(*bcm, kLineProbeCode, FN_DETECT) < 0) return -1;
  const int answered = LineProbe(*bcm);
  bcm->Close();
  if (answered < 0) {
    Diag() << "Error in the line probe\n";
    return Fail(FN_DETECT, CODE_PORT_FAILED);
  }
  if (answered == 0) return 0;
  // A UPS with a service menu on the line.
  const int r = ChangeBaud();
  return r < 0 ? -1 : r;
}

int KT_LinkSetup::TryVarnis() {
  std::unique_ptr<KT_UpsProtocol> port = make_varnis_ ? make_varnis_(scp_) : nullptr;
  // Without the Varnis II protocol its cable test still runs: a missing cable ends detection
  // here whatever protocols are built in.
  const bool probe = port != nullptr;
  if (!port) port = std::make_unique<KT_PortOnlyProtocol>(scp_);
  if (OpenAt(*port, kVarnisCode, FN_VARNIS) < 0) return -1;
  if (CableTest(*port, FN_VARNIS) < 0) return -1;
  const int r = probe ? port->Probe() : 0;
  port->Close();
  if (r > 0) {
    Diag() << "VARNISII Mode Detected.\n";
    baud_ = kVarnisCode;
    Found(PROTOCOL_VARNIS, 2, COMM_SERIAL_NORMAL);
    return 1;
  }
  if (r < 0) {
    Diag() << "Error in Varnis Communication Test.\n";
    return Fail(FN_VARNIS, CODE_PORT_FAILED);
  }
  return 0;
}

int KT_LinkSetup::TryApc() {
  KT_APC apc(scp_);
  if (OpenAt(apc, kApcCode, FN_APC) < 0) return -1;
  if (CableTest(apc, FN_APC) < 0) return -1;
  const int r = apc.Probe();
  apc.Close();
  if (r > 0) {
    Diag() << "APC Mode Detected.\n";
    baud_ = kApcCode;
    Found(PROTOCOL_APC, 2, COMM_SERIAL_NORMAL);
    return 1;
  }
  if (r < 0) {
    Diag() << "Error Checking APC Communication Mode\n";
    return Fail(FN_APC, CODE_PORT_FAILED);
  }
  return 0;
}

int KT_LinkSetup::TryContactClosure() {
  KT_ContactClosure contact(scp_);
  if (OpenAt(contact, kContactCode, FN_CONTACT_CLOSURE) < 0) return -1;
  if (CableTest(contact, FN_CONTACT_CLOSURE) < 0) return -1;
  const int modem = contact.ModemProbe();
  if (modem < 0) {
    contact.Close();
    Diag() << "Error Detecting Contact Closure UPS Type\n";
    return Fail(FN_CONTACT_CLOSURE, CODE_PORT_FAILED);
  }
  if (modem > 0) {
    contact.Close();
    Diag() << "A modem answers on " << *port_name_ << ": not a UPS\n";
    return Fail(FN_CONTACT_CLOSURE, CODE_NOT_A_UPS);
  }
  const int r = contact.Probe();
  contact.Close();
  if (r > 0) {
    Diag() << "CONTACT UPS\n";
    baud_ = kContactCode;
    {
      auto lock = scp_.Lock();
      scp_.upsInfo.SetModelIndex(4);
      scp_.upsInfo.SetInterfaceType(1);
      scp_.upsInfo.SetVariant(1);
    }
    Found(PROTOCOL_CONTACT_CLOSURE, 1, COMM_CONTACT_CLOSURE);
    return 1;
  }
  if (r < 0) {
    Diag() << "Error Contact Closure the UPS Type\n";
    return Fail(FN_CONTACT_CLOSURE, CODE_PORT_FAILED);
  }
  return 0;
}

// ---- the BCM baud scan ----

int KT_LinkSetup::ChangeBaud() {
  if (!port_name_) return Fail(FN_DETECT, CODE_NO_PORT_NAME);
  std::unique_ptr<KT_UpsProtocol> bcm = make_bcm_ ? make_bcm_(scp_) : nullptr;
  if (!bcm) return 0;
  if (baud_ == kUnknownBaud) baud_ = kFirstScanCode;
  const int start = baud_;
  int code = start;
  if (OpenAt(*bcm, code, FN_DETECT) < 0) return -1;

  // Every code at most once, the start included: a start outside the ring scans the ring
  // once, so the scan always ends.
  uint32_t tried = 0;
  for (;;) {
    const int r = bcm->Probe();
    if (code >= 0 && code < 32) tried |= 1u << code;
    if (r < 0) {
      bcm->Close();
      Diag() << "Error in the BCM probe\n";
      return Fail(FN_DETECT, CODE_PORT_FAILED);
    }
    if (r > 0) {
      Diag() << "BCM Mode Detected.\n";
      baud_ = code;
      Found(PROTOCOL_BCM, 2, COMM_SERIAL_NORMAL);
      bcm->Close();
      return 1;
    }
    code = NextScanCode(code);
    if (code == start || (tried & (1u << code)) != 0) {
      bcm->Close();
      return 0;
    }
    if (bcm->SetBaud(code) < 0) {
      Diag() << "Error in ChangeBaud\n";
      bcm->Close();
      return Fail(FN_DETECT, CODE_PORT_FAILED);
    }
    if (bcm->SetIdleLines() < 0) {
      bcm->Close();
      return Fail(FN_DETECT, CODE_PORT_FAILED);
    }
    const int cable = bcm->IsCableConnected();
    if (cable < 0) {
      Diag() << "Error in Cable connection\n";
      bcm->Close();
      return Fail(FN_DETECT, CODE_CABLE_TEST_FAILED);
    }
    if (cable == 0) {
      bcm->Close();
      return 0;
    }
  }
}
