#include "agent/protocols/contact_closure.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"

namespace {

constexpr int32_t kEchoFn = 1;
constexpr int32_t kBatteryContactFn = 2;

constexpr int kSamples = 2;

// What the UPS information block says of a contact-closure UPS.
constexpr int kContactModelIndex = 4;
constexpr int kContactVariant = 1;
constexpr int kContactInterface = 1;

}  // namespace

KT_ContactClosure::KT_ContactClosure(KT_SCP& scp) : KT_UpsProtocol(scp) {}

int KT_ContactClosure::SendRequest(const uint8_t*, int, int) { return -1; }
int KT_ContactClosure::ProcessBlock(KT_ReadRecord&) { return 0; }
int KT_ContactClosure::UpdateMeter() { return -1; }
int KT_ContactClosure::SetConfig() { return -1; }
int KT_ContactClosure::InitiateBatteryTest() { return -1; }
int KT_ContactClosure::UpdateBatteryTest() { return -1; }
int KT_ContactClosure::UpdateAlarmQueue() { return -1; }

int KT_ContactClosure::EchoTest() {
  DiscardInput();
  if (Write(kEcho, kEchoSize) < 0) {
    protocol_error_.LogError(ERR_CONTACT_CLOSURE, kEchoFn, 1, LastError().systemError);
    return -1;
  }
  // Exactly the echo's size: the read ends as soon as the echo is back.
  KT_ReadRecord record;
  record.capacity = kEchoSize;
  const int r = Read(record);
  if (r < 0) return -1;
  if (r == 0) return 1;
  const bool echoed = record.data.size() >= 2 && record.data[0] == kEcho[0] && record.data[1] == kEcho[1];
  return echoed ? 0 : 1;
}

int KT_ContactClosure::BatteryContactOpen() {
  const int lines = ControlCheck(kDcd);
  if (lines < 0) return Fail(ERR_CONTACT_CLOSURE, kBatteryContactFn, 1, LastError().systemError);
  return (lines & kDcd) ? 0 : 1;
}

int KT_ContactClosure::ModemProbe() {
  DiscardInput();
  if (Write(kModemCommand, static_cast<int>(std::strlen(kModemCommand))) < 0) return -1;
  Pause(kModemWaitMs);
  KT_ReadRecord record;
  record.capacity = kModemReplyCapacity;
  if (Read(record) <= 0) return 0;
  const std::string reply(record.data.begin(), record.data.end());
  return reply.find("OK") != std::string::npos ? 1 : 0;
}

int KT_ContactClosure::Probe() {
  const int r = EchoTest();
  if (r < 0) return -1;
  return r == 0 ? 1 : 0;
}

int KT_ContactClosure::UpdateStatus() {
  int no_cable = 0;
  int on_battery = 0;
  int low_battery = 0;
  int port_errors = 0;
  for (int i = 0; i < kSamples; ++i) {
    if (IsCableConnected() != 1) {
      ++no_cable;
      continue;
    }
    const int echo = EchoTest();
    if (echo == 0) break;  // on line power: no need for a second look
    if (echo < 0) {
      // A port that fails says nothing about the contacts: no on-battery sample.
      ++port_errors;
      continue;
    }
    ++on_battery;
    if (BatteryContactOpen() == 1) ++low_battery;
  }
  if (port_errors > 0) return -1;

  auto lock = scp_.Lock();
  StatusBlock& status = scp_.upsStatus;
  if (no_cable == kSamples) {
    status.SetAlarm(ALARM_LOST_UPS_COMM);
    return 1;
  }
  status.ClearAlarm(ALARM_LOST_UPS_COMM);
  if (on_battery == kSamples) {
    status.SetAlarm(ALARM_ON_BATTERY);
    if (low_battery == kSamples) {
      status.SetAlarm(ALARM_LOW_BATTERY);
    } else {
      status.ClearAlarm(ALARM_LOW_BATTERY);
    }
  } else {
    status.ClearAlarm(ALARM_ON_BATTERY);
    status.ClearAlarm(ALARM_LOW_BATTERY);
  }
  return 1;
}

int KT_ContactClosure::UpdateInfo() {
  auto lock = scp_.Lock();
  scp_.upsInfo.SetModelIndex(kContactModelIndex);
  scp_.upsInfo.SetVariant(kContactVariant);
  scp_.upsInfo.SetInterfaceType(kContactInterface);
  return 1;
}

int KT_ContactClosure::UpdateConfig() {
  auto lock = scp_.Lock();
  scp_.config.SetCommMode(COMM_CONTACT_CLOSURE);
  return 1;
}

int KT_ContactClosure::RaiseInterfacePower() {
  if (ControlCheck(kAllLines) < 0) return -1;
  // The interface draws its power from DTR. RTS stays up: the cable loops it back to CTS,
  // and the cable test reads CTS.
  if (ControlSet(kDtr | kRts) < 0) return -1;
  return 0;
}

int KT_ContactClosure::UpdateCapabilities() {
  auto lock = scp_.Lock();
  DefaultCapabilitiesLocked();
  ClearFunction(3, 4);
  return 1;
}
