// The network adapter's name as the settings give it: a host, or "host:port" for an adapter
// listening on another port than its protocol's own.
#pragma once

#include <string>

struct AdapterName {
  std::string host;
  int port = 0;  // 0: the protocol's own port
};

// A trailing ":N" (1..65535, digits only, the name's one colon, after a host) is the port;
// anything else (an IPv6 address, a bad or out-of-range number, ":N" alone) stays the host name.
AdapterName SplitAdapterName(const std::string& adapter);
