#include "agent/engine/trace_dumps.h"

#include <arpa/inet.h>

#include <cctype>
#include <ctime>
#include <string>

#include "core/scp/action_entry.h"
#include "core/network/address.h"
#include "core/scp/block.h"
#include "core/base/ktdiag.h"
#include "core/scp/meter_block.h"
#include "core/scp/status_block.h"
#include "core/scp/ups_info_block.h"

namespace {

constexpr int kUnknown16 = 0xFFFF;
constexpr int kUnknown8 = 255;

// "<label><value>\n", or "<label>UNKNOWN Value\n".
void Meter(const char* label, int value, int unknown) {
  if (value == unknown || value < 0) {
    Diag() << label << "UNKNOWN Value\n";
  } else {
    Diag() << label << value << "\n";
  }
}

}  // namespace

void PrintStatus(StatusBlock& status) {
  if (status.GetAlarmCount() == 0) {
    Diag() << kSystemNormalText << "\n";
    return;
  }
  status.ResetAlarmCursor();
  AlarmEntry entry;
  while (status.GetNextAlarm(entry) == 1) {
    time_t t = static_cast<time_t>(entry.time);
    char buf[32] = "";
    if (ctime_r(&t, buf) == nullptr) buf[0] = '\0';
    Diag().Printf("%s set at %s", GetAlarmText(entry.code), buf);
  }
  status.ResetAlarmCursor();
}

void PrintUpsInfo(UpsInfoBlock& info) {
  Diag() << " Tremona SCP INFO UPS Inofrmation\n";
  Diag().Printf("UPS Protocol =\t\t\t\t %d\n", info.GetProtocol());
  Diag() << "UPS Version =\t\t\t\t" << info.GetVersionText() << "\n";
  Diag() << "UPS Model = \t\t\t\t" << info.GetModelText().value_or("") << "\n";
  Diag() << "UPS Serial Number = \t\t\t" << info.GetSerialNumber().value_or("") << "\n";
  Diag() << "UPS CTO = \t\t\t\t" << info.GetCto().value_or("") << "\n";
  Diag() << "Nominal Values\n";
  Diag().Printf("VA Rating:                %d\n", info.GetVARating());
  Diag().Printf("Watt Rating:              %d\n", info.GetWattRating());
  Diag().Printf("Output Voltage:           %d\n", info.GetNominalOutputVoltage());
  Diag().Printf("Output Frequency:         %d\n", info.GetNominalOutputFrequency());
  Diag().Printf("Number Of Phases:         %d\n", info.GetNumberOfPhases());
  Diag() << "Tremona Type =\t\t\t\t" << (info.GetManufacturer() == 0 ? "Tremona Tandle\n" : "Tremona Mosk\n");
  for (int n = 0; n < info.GetFunctionMapSize(); ++n) {
    for (int b = 0; b < 8; ++b) {
      Diag().Printf(info.IsFunctionSupported(n, b) == 1 ? "Function %d,%d is supported\n"
                                                        : "Function %d,%d is NOT supported\n",
                    n, b);
    }
  }
}

void PrintMeters(MeterBlock& meters) {
  Diag() << " Tremona SCP Meter Common Inofrmation\n";
  Meter("Output VA =\t\t\t\t\t", meters.GetOutputVA(), -1);
  Diag().Printf("Percent Load VA = \t\t\t\t%d\n", meters.GetVAPercentLoad());
  Meter("Output Watts =\t\t\t\t\t", meters.GetOutputWatts(), -1);
  Diag().Printf("Percent Load WATTS = \t\t\t\t%d\n", meters.GetWattPercentLoad());
  Diag().Printf("Percent Load = \t\t\t\t\t%d\n", meters.GetPercentLoad(-1));
  Meter("Percent Battery =\t\t\t\t", meters.GetBatteryCapacity(), kUnknown8);
  Meter("Battery Time =\t\t\t\t\t", meters.GetBatteryTime(), kUnknown16);
  Meter("Battery Voltage =\t\t\t\t", meters.GetBatteryVoltage(), kUnknown16);
  Meter("Input Frequency =\t\t\t\t", meters.GetInputFrequency(), kUnknown16);
  Meter("Output Frequency =\t\t\t\t", meters.GetOutputFrequency(), kUnknown16);
  Meter("Tempreature =\t\t\t\t\t", meters.GetTemperature(), kUnknown8);
  const char* const kPhases[] = {"Phase A Values\n", "Phase B Values\n", "Phase C Values\n"};
  for (int p = 0; p < 3; ++p) {
    Diag() << kPhases[p];
    Meter("Input Voltage =\t\t\t\t\t", meters.GetInputVoltage(p), kUnknown16);
    Meter("Output Voltage =\t\t\t\t", meters.GetOutputVoltage(p), kUnknown16);
    Meter("Input Current =\t\t\t\t\t", meters.GetInputCurrent(p), kUnknown16);
    Meter("Ouput Curent =\t\t\t\t\t", meters.GetOutputCurrent(p), kUnknown16);
  }
}

void PrintErrorStatus(const KT_ErrorStatus& record) {
  Diag().Printf("Class Number: %d", record.errorClass);
  Diag().Printf("  Method Number: %d", record.function);
  Diag().Printf("  ID Number: %d", record.code);
  Diag().Printf("  Errno Number: %d\n", record.systemError);
}

void PrintDataRead(const uint8_t* data, size_t length) {
  Diag() << "Data Read\n";
  const size_t shown = length < kMaxDumpedBytes ? length : kMaxDumpedBytes;
  for (size_t i = 0; data != nullptr && i < shown; ++i) {
    const int c = data[i];
    Diag().Printf("%d) 0x%x, ", static_cast<int>(i), c);
    Diag().Printf(" assci = %c ", std::isprint(c) ? c : '.');
  }
  if (shown < length) Diag() << "... " << static_cast<unsigned long>(length - shown) << " more bytes\n";
  Diag() << "successful read.\n";
}

void PrintAddress(KT_Address& address) {
  const char* dotted = address.GetAddressString();
  Diag().Printf("Address = |%s|", dotted != nullptr ? dotted : "");
  Diag().Printf("At port %d\n", static_cast<int>(ntohs(address.GetPort())));
}

void PrintBranchAck(const KT_Block& block, const char* serialDeviceName) {
  for (const KT_BranchTable::Entry& e : block.Branches().Entries()) {
    time_t t = static_cast<time_t>(e.receivedTime);
    char buf[32] = "";
    if (ctime_r(&t, buf) == nullptr) buf[0] = '\0';
    Diag().Printf("Branch %d was acknowledged with %d", e.branch, e.received);
    Diag().Printf("at %s", buf);
  }
  Diag().Printf("Serial Device Name = %s\n", serialDeviceName != nullptr ? serialDeviceName : "");
}

void PrintAction(const KT_ActionEntry& action) {
  Diag().Printf("action number=%d  ", action.action);
  Diag().Printf("event number=%d ", action.event);
  Diag().Printf("delay=%d ", action.delay);
  Diag().Printf("interval=%d ", action.interval);
  Diag().Printf("retries=%d ", action.retries);
  Diag().Printf("Alias=0x%x\n", action.alias);
  Diag().Printf("message = %s\n", action.message ? action.message->c_str() : "");
}
