#include "core/adapters/adapter_name.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

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

namespace {

// Letters, digits, '-' and '_' in labels of 1..63 characters, 253 characters at most; one
// final dot is allowed.
bool IsHostNameForm(const std::string& host) {
  std::string name = host;
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty() || name.size() > 253) return false;
  size_t label = 0;
  for (char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  return label > 0;
}

}  // namespace

AdapterHostCheck CheckAdapterHost(const std::string& host) {
  in_addr address{};
  if (inet_aton(host.c_str(), &address) != 0) return ADAPTER_HOST_USABLE;
  if (!IsHostNameForm(host)) return ADAPTER_HOST_MALFORMED;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  const int r = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (list != nullptr) freeaddrinfo(list);
  if (r == 0) return ADAPTER_HOST_USABLE;
  // A definite "no such host" (or no IPv4 address for it); anything else (a time-out, a
  // name server that cannot be reached, a failure of this computer) may pass.
  switch (r) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return ADAPTER_HOST_UNKNOWN;
    default:
      return ADAPTER_HOST_NO_ANSWER;
  }
}
