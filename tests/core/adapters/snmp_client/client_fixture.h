// Shared set-up of the adapter client tests: a fresh working directory, the library started,
// the adapter peer running with a frozen clock, and clients with open sessions to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/adapters/snmp.h"
#include "tests/support/snmp_peer.h"
#include "tests/support/test_support.h"

class AdapterClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KT_SNMP::Initialize();
    peer_.SetUptime(100);
    ASSERT_TRUE(peer_.Start()) << peer_.error();
  }
  void TearDown() override { KT_SNMP::SetServicePortLookup(nullptr); }

  // A client on its own image (console side), or on `image` (agent side), session open.
  std::unique_ptr<KT_SNMP> Client(KT_SCP* image = nullptr, const char* read = "public", const char* write = "private") {
    auto client = image != nullptr ? std::make_unique<KT_SNMP>(image, 1) : std::make_unique<KT_SNMP>();
    client->SetSession(peer_.host().c_str(), read, write, peer_.port());
    EXPECT_EQ(client->OpenSession(), 0);
    return client;
  }

  // Requests of one kind ("get", "getnext", "set") the adapter has seen whose OID starts so.
  int CountRequests(const std::string& command, const std::string& oidPrefix) const {
    int n = 0;
    for (const testing_support::SnmpRequestRecord& r : peer_.Requests()) {
      if (r.command == command && r.oid.compare(0, oidPrefix.size(), oidPrefix) == 0) ++n;
    }
    return n;
  }

  testing_support::TempDir dir_;
  testing_support::SnmpAdapterPeer peer_;
};
