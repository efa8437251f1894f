// Fuzzes the reader of "cfgnet.dat", the console's polling interval and agent time-out: any
// bytes leave each value as it was or put one of its range there, and values read are written
// and read back unchanged.
#include "dialogs/network/net_settings.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = QString::fromStdString(fuzz_console::WriteInput(kNetSettingsFileName, data, size));
  NetSettingsFile values;
  Check(ReadNetSettingsFile(path, values) == 1);
  Check(values.pollingInterval >= kMinPollingIntervalSeconds &&
        values.pollingInterval <= kMaxPollingIntervalSeconds);
  Check(values.timeout >= kMinCommTimeoutSeconds && values.timeout <= kMaxCommTimeoutSeconds);
  Check(WriteNetSettingsFile(path, values));
  NetSettingsFile again{kMinPollingIntervalSeconds, kMinCommTimeoutSeconds};
  Check(ReadNetSettingsFile(path, again) == 1);
  Check(again.pollingInterval == values.pollingInterval && again.timeout == values.timeout);
  return 0;
}
