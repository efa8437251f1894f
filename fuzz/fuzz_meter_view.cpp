// Fuzzes the reader of "cfgmeter.dat", the meters' saved view: any bytes give one name per
// gauge slot, each at most a line's 80 bytes without its line end.
#include "dialogs/meters/meters.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_console::WriteInput("cfgmeter.dat", data, size);
  Check(fuzz_console::InScratch([] { return CMeters::ReadFileFromDisk(); }) == 1);
  for (int i = 0; i < kMeterCount; ++i) {
    const QString& name = CMeters::ConfiguredMeter(i);
    Check(name.size() <= 80);
    Check(!name.contains(QLatin1Char('\n')));
  }
  return 0;
}
