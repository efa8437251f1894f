// The adapter names of the settings: which ones carry a port, and which can never name a host.
#include <gtest/gtest.h>

#include "core/adapters/adapter_name.h"

namespace {

void ExpectSplit(const std::string& adapter, const std::string& host, int port) {
  const AdapterName name = SplitAdapterName(adapter);
  EXPECT_EQ(name.host, host) << adapter;
  EXPECT_EQ(name.port, port) << adapter;
}

TEST(AdapterName, OnlyATrailingValidPortIsSplitOff) {
  ExpectSplit("ups-adapter", "ups-adapter", 0);
  ExpectSplit("127.0.0.2:7010", "127.0.0.2", 7010);
  ExpectSplit("adapter:1", "adapter", 1);
  ExpectSplit("adapter:65535", "adapter", 65535);
  // Not a port: the whole text stays the host name (and the lookup will say what is wrong).
  ExpectSplit("adapter:0", "adapter:0", 0);
  ExpectSplit("adapter:65536", "adapter:65536", 0);
  ExpectSplit("adapter:999999", "adapter:999999", 0);
  ExpectSplit("adapter:", "adapter:", 0);
  ExpectSplit("adapter:16x", "adapter:16x", 0);
  ExpectSplit("adapter:-1", "adapter:-1", 0);
  ExpectSplit(":161", ":161", 0);
  ExpectSplit("::1", "::1", 0);
  ExpectSplit("fe80::1:161", "fe80::1:161", 0);
  ExpectSplit("", "", 0);
}

// Only a name that cannot be a host, or that the name service says does not exist, is a wrong
// setting; a dotted address is never looked up.
TEST(AdapterName, HostsThatCanNeverBeReachedAreTold) {
  const struct {
    const char* host;
    AdapterHostCheck check;
  } cases[] = {
      {"127.0.0.1", ADAPTER_HOST_USABLE},
      {"10.77.0.9", ADAPTER_HOST_USABLE},
      {"localhost", ADAPTER_HOST_USABLE},
      {"", ADAPTER_HOST_MALFORMED},
      {"ups adapter", ADAPTER_HOST_MALFORMED},
      {"ups..example", ADAPTER_HOST_MALFORMED},
      {".ups", ADAPTER_HOST_MALFORMED},
      {"ups!", ADAPTER_HOST_MALFORMED},
      {"adapter:0", ADAPTER_HOST_MALFORMED},
      {"::1", ADAPTER_HOST_MALFORMED},
      {"a23456789012345678901234567890123456789012345678901234567890123x.example", ADAPTER_HOST_MALFORMED},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckAdapterHost(c.host), c.check) << '"' << c.host << '"';
}

}  // namespace
