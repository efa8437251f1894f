// Fuzzes the reader of "modems.txt", the pager dialog's modem list ("name - initialisation"
// lines): any bytes give a list sorted by name that holds the default modem, one entry at most
// per line, each no longer than a line counts.
#include <vector>

#include "dialogs/paging/pager_config.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_console::WriteInput(CPagerConfig::kModemFile, data, size);
  std::vector<std::pair<QString, QString>> modems;
  Check(CPagerConfig::ReadModemFile(QString::fromStdString(path), modems));
  Check(!modems.empty() && modems.size() <= size + 1);
  bool hasDefault = false;
  for (size_t i = 0; i < modems.size(); ++i) {
    const auto& [name, init] = modems[i];
    hasDefault = hasDefault || name == QLatin1String(CPagerConfig::kDefaultModem);
    Check(name.size() + init.size() <= CPagerConfig::kModemLineMax);
    Check(!init.endsWith(QLatin1Char('\n')) && !init.endsWith(QLatin1Char('\r')));
    if (i > 0) Check(modems[i - 1].first.compare(name, Qt::CaseInsensitive) <= 0);
  }
  Check(hasDefault);
  return 0;
}
