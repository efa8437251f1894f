// detect_ups: runs the agent's UPS type detection on one serial device and prints what it
// found; with --poll it then reads the UPS once through the detected protocol (identification,
// status, meters) as the agent's serial thread would.
//
//   detect_ups [--baud CODE] [--cable-test] [--poll] [--trace] DEVICE
//
// --baud       the stored baud-rate code the BCM scan starts from (default 2 = 1200 baud)
// --cable-test make the cable test read CTS (by default the configuration turns it off)
// --trace      print the agent's trace lines
// Exit status: 0 a UPS was found, 1 none answered, 2 detection failed, 64 bad arguments.
// Error records go to error.dat beside the program (the agent's own default folder), not into
// the folder it is run in.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "agent/protocols/link_setup.h"
#include "agent/protocols/protocol_factory.h"
#include "core/base/error_status.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/service_settings.h"

namespace {

void Usage() {
  std::fprintf(stderr, "usage: detect_ups [--baud CODE] [--cable-test] [--poll] [--trace] DEVICE\n");
}

const char* ProtocolName(int p) {
  switch (p) {
    case PROTOCOL_BCM: return "BCM";
    case PROTOCOL_VARNIS: return "Varnis II";
    case PROTOCOL_CONTACT_CLOSURE: return "contact closure";
    case PROTOCOL_APC: return "APC Smart-UPS";
    default: return "unknown";
  }
}

std::string Text(const std::optional<std::string>& t) { return t ? *t : std::string("-"); }

void PrintAlarms(KT_SCP& scp) {
  std::printf("alarms:");
  bool any = false;
  for (int a = 0; a < kAlarmCount; ++a) {
    if (scp.upsStatus.IsAlarmSet(a) == 1) {
      std::printf(" %d (%s)", a, GetAlarmText(a));
      any = true;
    }
  }
  std::printf("%s\n", any ? "" : " none");
}

void Poll(KT_SCP& scp, const std::string& device) {
  int protocol;
  int baud;
  {
    auto lock = scp.Lock();
    protocol = scp.upsInfo.GetProtocol();
    baud = scp.config.GetBaudRate();
  }
  std::unique_ptr<KT_UpsProtocol> ups = CreateUpsProtocol(protocol, scp);
  if (!ups || ups->Configure(device, baud) < 0) {
    std::printf("poll: cannot open %s with the %s protocol\n", device.c_str(), ProtocolName(protocol));
    return;
  }
  const int info = ups->UpdateInfo();
  if (info > 0) ups->UpdateCapabilities();
  const int status = ups->UpdateStatus();
  const int meters = protocol == PROTOCOL_CONTACT_CLOSURE ? 0 : ups->UpdateMeter();
  ups->Close();

  auto lock = scp.Lock();
  std::printf("identification: %s (model index %d, interface type %d, variant %d)\n",
              info > 0 ? "read" : "failed", scp.upsInfo.GetModelIndex(), scp.upsInfo.GetInterfaceType(),
              scp.upsInfo.GetVariant());
  std::printf("model: %s  serial number: %s  VA rating: %d  nominal: %d V %d Hz\n",
              Text(scp.upsInfo.GetModelText()).c_str(), Text(scp.upsInfo.GetSerialNumber()).c_str(),
              scp.upsInfo.GetVARating(), scp.upsInfo.GetNominalOutputVoltage(),
              scp.upsInfo.GetNominalOutputFrequency());
  std::printf("status: %s\n", status > 0 ? "read" : "failed");
  PrintAlarms(scp);
  if (meters > 0) {
    MeterBlock& m = scp.meters;
    // The meter block keeps the battery time in seconds.
    std::printf("meters: input %d V, output %d V, %d Hz, battery %d V %d %%, %d min left, load %d %%, %d C\n",
                m.GetInputVoltage(0), m.GetOutputVoltage(0), m.GetOutputFrequency(), m.GetBatteryVoltage(),
                m.GetBatteryCapacity(), m.GetBatteryTime() == 0xFFFF ? -1 : m.GetBatteryTime() / 60,
                m.GetVAPercentLoad(), m.GetTemperature());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Its error records beside the program, not in the folder it is run in (a checkout).
  SetErrorLogFolder(platform::ProgramDirectory());
  int baud = 2;
  bool cable_test = false;
  bool poll = false;
  bool trace = false;
  std::string device;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--baud" && i + 1 < argc) {
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || v < 0 || v > 255) {
        Usage();
        return 64;
      }
      baud = static_cast<int>(v);
    } else if (a == "--cable-test") {
      cable_test = true;
    } else if (a == "--poll") {
      poll = true;
    } else if (a == "--trace") {
      trace = true;
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] != '-' && device.empty()) {
      device = a;
    } else {
      Usage();
      return 64;
    }
  }
  if (device.empty()) {
    Usage();
    return 64;
  }
  if (trace) KtDiag::EnableOutput(true);

  KT_SCP scp;
  {
    auto lock = scp.Lock();
    scp.config.SetSerialDeviceName(device.c_str());
    scp.config.SetBaudRate(static_cast<uint8_t>(baud));
    scp.config.SetNoLoopbackTest(cable_test ? 0 : 1);
  }
  KT_LinkSetup link(scp);
  const int r = link.Connect();
  if (r < 0) {
    const char* why = link.code == KT_LinkSetup::CODE_CABLE_MISSING && link.function != KT_LinkSetup::FN_READ_SETTINGS
                          ? "the cable is removed"
                      : link.code == KT_LinkSetup::CODE_NOT_A_UPS ? "the device is not a UPS"
                                                                  : "the port could not be used";
    std::printf("detection failed: %s (error %d, %d, %d)\n", why, link.errorClass, link.function, link.code);
    return 2;
  }
  if (r == 0) {
    std::printf("no UPS answered on %s\n", device.c_str());
    return 1;
  }
  {
    auto lock = scp.Lock();
    std::printf("found: %s UPS on %s at baud code %d, communication mode %d (%s)\n",
                ProtocolName(scp.upsInfo.GetProtocol()), device.c_str(), scp.config.GetBaudRate(),
                scp.config.GetCommMode(), scp.config.GetCommModeText().c_str());
  }
  if (poll) Poll(scp, device);
  return 0;
}
