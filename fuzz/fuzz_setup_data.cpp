// Fuzzes the setup.dat reader: any bytes must give either a whole table or the table
// unchanged, and a table that was read must write back to bytes that read the same.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/base/setup_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const SetupData* base = [] {
    auto* table = new SetupData;  // reads no file worth having here; keeps the defaults
    table->SetDefaults();
    return table;
  }();
  SetupData table = *base;
  const auto before = table.ToBytes();
  const int r = table.ReadBytes(std::span<const uint8_t>(data, size));
  if (r < 0) {
    if (table.ToBytes() != before) std::abort();  // a failed read changed the table
    return 0;
  }
  if (r != 1) std::abort();
  const auto written = table.ToBytes();
  SetupData again = *base;
  if (again.ReadBytes(written) != 1 || again.ToBytes() != written) std::abort();
  for (int i = -1; i <= SetupData::kModelCount; ++i) (void)table.GetUpsModelName(i);
  for (int n = 0; n <= SetupData::kVersionCount + 1; ++n) (void)table.VersionText(n);
  (void)VendorCode(table.GetVendorText().c_str());
  return 0;
}
