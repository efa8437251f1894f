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

// What the adapter's host name tells before the adapter is asked anything. A name that can
// never reach an adapter is a wrong setting; a name server that does not answer (it may be
// starting, like the adapter, after a power cut) is not.
enum AdapterHostCheck : int {
  ADAPTER_HOST_USABLE = 0,     // a dotted IPv4 address, or a name that resolves
  ADAPTER_HOST_MALFORMED = 1,  // empty, or not a host name (blanks, other characters, empty labels)
  ADAPTER_HOST_UNKNOWN = 2,    // the name service says there is no such IPv4 host
  ADAPTER_HOST_NO_ANSWER = 3,  // the name service gave no answer now (try again later)
};
AdapterHostCheck CheckAdapterHost(const std::string& host);
