#include "core/adapters/adapter_name.h"

AdapterName SplitAdapterName(const std::string& adapter) {
  AdapterName name{adapter, 0};
  const size_t colon = adapter.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= adapter.size() || colon + 6 < adapter.size() ||
      adapter.find(':') != colon || adapter.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
    return name;
  }
  const int port = std::stoi(adapter.substr(colon + 1));
  if (port > 0 && port <= 65535) {
    name.host = adapter.substr(0, colon);
    name.port = port;
  }
  return name;
}
