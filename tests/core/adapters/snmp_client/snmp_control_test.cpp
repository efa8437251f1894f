// The adapter client's writes: control delays, the battery test, adapter management, the
// console request path, and the session set-up.
#include <arpa/inet.h>

#include <string>
#include <vector>

#include "core/scp/scp_frame.h"
#include "core/adapters/snmp.h"
#include "core/base/ups_identification.h"
#include "tests/core/adapters/snmp_client/client_fixture.h"

namespace {

using ControlTest = AdapterClientTest;
using testing_support::SnmpSetRecord;

TEST_F(ControlTest, ControlDelaysAreWrittenWithTheWriteCommunityAndReadBack) {
  std::unique_ptr<KT_SNMP> client = Client();
  EXPECT_EQ(client->SetControlDelay(CONTROL_SHUTDOWN_DELAY, 120), 1);
  EXPECT_EQ(client->SetControlDelay(CONTROL_STARTUP_DELAY, 180), 1);
  std::vector<SnmpSetRecord> sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].oid, ".1.3.6.1.2.1.33.1.8.2.0");
  EXPECT_EQ(sets[0].type, "integer");
  EXPECT_EQ(sets[0].value, "120");
  EXPECT_EQ(sets[1].oid, ".1.3.6.1.2.1.33.1.8.3.0");
  int startup = 0;
  int shutdown = 0;
  EXPECT_EQ(client->ReadControlDelays(startup, shutdown), 1);
  EXPECT_EQ(shutdown, 120);
  EXPECT_EQ(startup, 180);
  EXPECT_EQ(client->SetControlDelay(CONTROL_OFF_DELAY, -1), 1);  // switches the shutdown off
  EXPECT_EQ(client->ReadControlDelays(startup, shutdown), 1);
  EXPECT_EQ(shutdown, -1);
  EXPECT_EQ(client->SetControlDelay(7, 10), -1);

  peer_.SetRaw("missing", "[\"1.3.6.1.2.1.33.1.8.3.0\"]");
  EXPECT_EQ(client->ReadControlDelays(startup, shutdown), 0);
  EXPECT_EQ(startup, -2);

  // The read community cannot write (SNMPv1 answers noSuchName).
  std::unique_ptr<KT_SNMP> reader = Client(nullptr, "public", "public");
  EXPECT_EQ(reader->SetControlDelay(CONTROL_SHUTDOWN_DELAY, 30), 0);
  EXPECT_EQ(peer_.Sets().size(), 3u);
}

TEST_F(ControlTest, SleepModeDelays) {
  std::unique_ptr<KT_SNMP> client = Client();
  KT_SCP& image = client->Image();
  image.upsInfo.SetManufacturer(kManufacturerOwn);
  image.commandBlock.SetShutdownDelay(120);
  image.commandBlock.SetRestartDelay(30);
  EXPECT_EQ(client->StartSleepMode(), 1);
  std::vector<SnmpSetRecord> sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].value, "120");
  EXPECT_EQ(sets[1].value, "180");

  image.upsInfo.SetManufacturer(kManufacturerHarvan);
  image.commandBlock.SetShutdownDelay(0);
  image.commandBlock.SetRestartDelay(0);
  EXPECT_EQ(client->StartSleepMode(), 1);
  sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 4u);
  EXPECT_EQ(sets[2].value, "1");
  EXPECT_EQ(sets[3].value, "1");

  peer_.SetRaw("set_errors", "{\"1.3.6.1.2.1.33.1.8.2.0\": \"not-writable\"}");
  EXPECT_EQ(client->StartSleepMode(), -1);
  EXPECT_EQ(peer_.Sets().size(), 5u);  // the restart delay is not sent after a failure
}

TEST_F(ControlTest, BatteryTestStartsAndItsOutcomeIsLoggedOnce) {
  testing_support::ScopedManualClock clock(1700000000);
  KT_SCP image;
  std::unique_ptr<KT_SNMP> client = Client(&image);
  peer_.SetInt("test_duration", 8);
  peer_.SetInt("spin_lock", 300);  // the whole value goes back, not its low byte
  image.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);

  ASSERT_EQ(client->InitiateBatteryTest(), 1);
  std::vector<SnmpSetRecord> sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].oid, ".1.3.6.1.2.1.33.1.7.2.0");
  EXPECT_EQ(sets[0].value, "300");
  EXPECT_EQ(sets[0].result, "DONE");
  EXPECT_EQ(sets[1].oid, ".1.3.6.1.2.1.33.1.7.1.0");
  EXPECT_EQ(sets[1].type, "objectid");
  EXPECT_EQ(sets[1].value, ".1.3.6.1.2.1.33.1.7.7.4");  // quick test for the maker's own UPSes
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 1);
  EXPECT_EQ(client->TestId(), kQuickBatteryTestId);

  EXPECT_EQ(client->UpdateBatteryTest(), 1);  // in progress
  // A poll whose alarm table lacks the test alarm keeps alarm 17 while our test runs.
  peer_.SetInt("alarms_present", 0);
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 1);
  peer_.Remove("alarms_present");

  peer_.SetUptime(108);
  clock->AdvanceSeconds(8);
  EXPECT_EQ(client->UpdateBatteryTest(), 0);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 0);
  EXPECT_EQ(image.serial_queue.Find(BLOCK_BATTERY_LOG, 0), -1);
  EXPECT_EQ(image.batteryLog.GetRecordCount(), 1);
  const BatteryTestResult& last = image.batteryLog.LastResult();
  EXPECT_EQ(last.description, kQuickBatteryTestId);
  EXPECT_EQ(last.value, 300);
  EXPECT_EQ(last.resultCode, BATTERY_TEST_PASSED);
  EXPECT_EQ(last.number2, 800);  // hundredths of a second
  EXPECT_EQ(image.batteryLog.GetStatusText(), "Passed Battery Test");

  // The finished test is not logged a second time.
  EXPECT_EQ(client->UpdateBatteryTest(), 0);
  EXPECT_EQ(image.batteryLog.GetRecordCount(), 1);
  EXPECT_FALSE(client->TestId());
}

TEST_F(ControlTest, RefusedOrUnreadableTestIsNotLogged) {
  KT_SCP image;
  std::unique_ptr<KT_SNMP> client = Client(&image);
  peer_.SetText("test_refuse", "inconsistent-value");
  EXPECT_EQ(client->InitiateBatteryTest(), 0);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 0);
  EXPECT_EQ(client->UpdateBatteryTest(), 0);  // no tests initiated: final, but not ours
  EXPECT_EQ(image.batteryLog.GetRecordCount(), 0);

  // Without a readable spin lock nothing is sent; without a readable outcome nothing ends.
  peer_.SetRaw("missing", "[\"1.3.6.1.2.1.33.1.7.2.0\", \"1.3.6.1.2.1.33.1.7.3.0\"]");
  EXPECT_EQ(client->InitiateBatteryTest(), -1);
  EXPECT_EQ(client->UpdateBatteryTest(), -1);
  EXPECT_EQ(peer_.Sets().size(), 2u);
}

TEST_F(ControlTest, ConsoleSeesTheOutcomeOnTheDialogScale) {
  std::unique_ptr<KT_SNMP> client = Client();
  client->Image().upsInfo.SetManufacturer(kManufacturerHarvan);
  peer_.SetInt("test_duration", 5);
  peer_.SetInt("test_outcome", 3);  // done with error
  EXPECT_EQ(client->UpdateBatteryTest(), 5);  // no test yet
  ASSERT_EQ(client->InitiateBatteryTest(), 1);
  EXPECT_EQ(peer_.Sets().back().value, ".1.3.6.1.2.1.33.1.7.7.3");  // general systems test
  EXPECT_EQ(client->UpdateBatteryTest(), 4);
  peer_.SetUptime(106);
  EXPECT_EQ(client->UpdateBatteryTest(), 2);
  EXPECT_EQ(client->Image().batteryLog.LastResult().resultCode, BATTERY_TEST_FAILED);
  peer_.SetRaw("override", "{\"1.3.6.1.2.1.33.1.7.3.0\": {\"type\": \"integer\", \"value\": 9}}");
  EXPECT_EQ(client->UpdateBatteryTest(), -1);
}

TEST_F(ControlTest, AdapterManagement) {
  std::unique_ptr<KT_SNMP> client = Client();
  EXPECT_EQ(client->ProbeAdapter(), "UPS 1500");
  EXPECT_FALSE(client->ReadAdapterText());  // empty sysContact
  EXPECT_EQ(client->WriteAdapterText("Ops desk, room 7"), 1);
  EXPECT_EQ(client->ReadAdapterText(), "Ops desk, room 7");
  EXPECT_EQ(client->RestartAdapterAgent(), 1);
  EXPECT_EQ(peer_.Sets().back().oid, ".1.3.6.1.2.1.2.2.1.7.1");
  EXPECT_EQ(peer_.Sets().back().value, "2");

  EXPECT_EQ(client->TestWriteAccess(), 1);
  EXPECT_EQ(peer_.Sets().back().oid, ".1.3.6.1.2.1.33.1.1.6.0");
  EXPECT_EQ(peer_.Sets().back().value, "File server");

  // Communities of 1 or 16 characters fail before any request.
  const int packets = peer_.PacketsReceived();
  client->SetSession(peer_.host().c_str(), "p", "private", peer_.port());
  EXPECT_EQ(client->TestWriteAccess(), -1);
  client->SetSession(peer_.host().c_str(), "public", std::string(16, 'w').c_str(), peer_.port());
  EXPECT_EQ(client->TestWriteAccess(), -1);
  EXPECT_EQ(peer_.PacketsReceived(), packets);
  std::unique_ptr<KT_SNMP> reader = Client(nullptr, "public", "public");
  EXPECT_EQ(reader->TestWriteAccess(), 0);
}

std::vector<uint8_t> Frame(int type, std::vector<uint8_t> key, std::vector<uint8_t> data = {}) {
  std::vector<uint8_t> frame;
  EXPECT_EQ(BuildScpFrame(KT_ScpMessage(type, std::move(key), std::move(data)), frame), 1);
  return frame;
}

// The adapter as a console names it: an SNMP address with both communities, whose port the
// service lookup gives as the peer's.
KT_Address ConsoleHost(uint16_t port) {
  KT_SNMP::SetServicePortLookup([port](const char*) { return std::optional<uint16_t>(port); });
  KT_Address host(ADDRESS_SNMP);
  host.SetHostName("127.0.0.1");
  host.SetReadCommunity("public");
  host.SetWriteCommunity("private");
  return host;
}

TEST_F(ControlTest, ConsoleRequestsAreAnsweredFromTheImage) {
  KT_Address host = ConsoleHost(peer_.port());
  KT_SNMP client;
  KT_Address from;
  std::vector<uint8_t> reply;
  EXPECT_EQ(client.AnswerPendingRequest(from, reply), 0);

  peer_.SetRaw("alarms", "[6, 2]");
  std::vector<uint8_t> frame = Frame(SCP_GET, {BLOCK_STATUS});
  ASSERT_EQ(client.SendRequest(host, frame.data(), static_cast<int>(frame.size())), 1);
  EXPECT_FALSE(client.IsSessionOpen());
  ASSERT_EQ(client.AnswerPendingRequest(from, reply), 1);
  KT_ScpMessage answer;
  ASSERT_GE(DecodeScpFrame(reply.data(), reply.size(), answer), 0);
  EXPECT_EQ(answer.type, SCP_DATA);
  EXPECT_EQ(answer.key, std::vector<uint8_t>{BLOCK_STATUS});
  EXPECT_EQ(from.GetType(), ADDRESS_IP);
  EXPECT_STREQ(from.StoredHostName(), "127.0.0.1");
  EXPECT_EQ(ntohs(from.GetPort()), 7010);
  EXPECT_STREQ(from.GetWriteCommunity(), "private");
  EXPECT_EQ(client.AnswerPendingRequest(from, reply), 0);

  frame = Frame(SCP_GET, {BLOCK_METERS, 1});
  ASSERT_EQ(client.SendRequest(host, frame.data(), static_cast<int>(frame.size())), 1);
  ASSERT_EQ(client.AnswerPendingRequest(from, reply), 1);
  ASSERT_GE(DecodeScpFrame(reply.data(), reply.size(), answer), 0);
  EXPECT_EQ(answer.type, SCP_DATA);

  // A SET of any block but 4 is not sent to the adapter, and the console hears it failed.
  frame = Frame(SCP_SET, {BLOCK_COMMAND, 1}, {1});
  EXPECT_EQ(client.SendRequest(host, frame.data(), static_cast<int>(frame.size())), -1);
  ASSERT_EQ(client.AnswerPendingRequest(from, reply), 1);
  ASSERT_GE(DecodeScpFrame(reply.data(), reply.size(), answer), 0);
  EXPECT_EQ(answer.type, SCP_STATUS);
  EXPECT_EQ(answer.data, std::vector<uint8_t>{SCP_SET_FAILED});
  EXPECT_TRUE(peer_.Sets().empty());

  // Frames whose key the bytes do not hold are refused before anything is sent.
  const int packets = peer_.PacketsReceived();
  const std::vector<std::vector<uint8_t>> bad = {
      {}, {0xC0, 0x00}, {0xC1, 0x00, 0x07, 0x01, 0x00, 0x01, 0x01}, {0xC0, 0x00, 0x07, 0x01, 0x00, 0x05, 0x01},
      {0xC0, 0x00, 0x07, 0x02, 0x09, 0x01}, {0xC0, 0x00, 0x06, 0x01, 0x00, 0x00}};
  for (const std::vector<uint8_t>& b : bad) {
    EXPECT_EQ(client.SendRequest(host, b.empty() ? nullptr : b.data(), static_cast<int>(b.size())), -1);
    EXPECT_EQ(client.AnswerPendingRequest(from, reply), 0);
  }
  EXPECT_EQ(peer_.PacketsReceived(), packets);
}

TEST_F(ControlTest, ConfigurationTextsAndDelayedOff) {
  KT_Address host = ConsoleHost(peer_.port());
  KT_SNMP client;
  KT_Address from;
  std::vector<uint8_t> reply;

  std::vector<uint8_t> frame = Frame(SCP_GET, {BLOCK_CONFIG, 4});
  ASSERT_EQ(client.SendRequest(host, frame.data(), static_cast<int>(frame.size())), 1);
  EXPECT_EQ(client.Image().config.GetLocation(), "Test bench");
  EXPECT_EQ(client.Image().config.GetPoweredDevices(), "File server");
  ASSERT_EQ(client.AnswerPendingRequest(from, reply), 1);
  KT_ScpMessage answer;
  ASSERT_GE(DecodeScpFrame(reply.data(), reply.size(), answer), 0);
  EXPECT_EQ(answer.type, SCP_DATA);

  // A console's SET of branch 4 writes both texts to the adapter.
  KT_SCP console;
  console.config.SetPoweredDevices("Rack 4");
  console.config.SetLocation("Lab 2");
  console.config.Branches().Touch(4);
  ASSERT_EQ(console.ExecuteCommand(KT_ScpMessage(SCP_GET, {BLOCK_CONFIG, 4}), reply), 1);
  reply[3] = SCP_SET;
  ASSERT_EQ(client.SendRequest(host, reply.data(), static_cast<int>(reply.size())), 1);
  std::vector<SnmpSetRecord> sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].oid, ".1.3.6.1.2.1.1.6.0");
  EXPECT_EQ(sets[0].value, "Lab 2");
  EXPECT_EQ(sets[1].oid, ".1.3.6.1.2.1.33.1.1.6.0");
  EXPECT_EQ(sets[1].value, "Rack 4");
  ASSERT_EQ(client.AnswerPendingRequest(from, reply), 1);
  ASSERT_GE(DecodeScpFrame(reply.data(), reply.size(), answer), 0);
  EXPECT_EQ(answer.data, std::vector<uint8_t>{SCP_SET_OK});

  // Off after the operating system's shutdown time, or at once.
  std::unique_ptr<KT_SNMP> agent = Client();
  agent->Image().config.SetOsShutdownTime(90);
  EXPECT_EQ(agent->DelayedOff(0xFF), 1);
  EXPECT_EQ(peer_.Sets().back().value, "90");
  EXPECT_EQ(agent->DelayedOff(0), 1);
  EXPECT_EQ(peer_.Sets().back().value, "0");
  peer_.SetRaw("set_errors", "{\"1.3.6.1.2.1.33.1.8.2.0\": \"not-writable\"}");
  EXPECT_EQ(agent->DelayedOff(0), 0);  // a refused SET is not a success
}

TEST_F(ControlTest, SessionSetUp) {
  KT_SNMP client;
  // Port 0: the services database's kt-snmp, else 161.
  KT_SNMP::SetServicePortLookup([](const char* name) {
    return std::string(name) == "kt-snmp" ? std::optional<uint16_t>(16161) : std::nullopt;
  });
  EXPECT_EQ(KT_SNMP::DefaultPort(), 16161);
  KT_SNMP::SetServicePortLookup([](const char*) { return std::optional<uint16_t>(); });
  EXPECT_EQ(KT_SNMP::DefaultPort(), 161);

  client.SetSession("255.255.255.255", "public", "private", 162);
  ASSERT_EQ(client.OpenSession(), 0);
  EXPECT_EQ(client.BroadcastEnabled(), 1);
  client.SetSession(nullptr, "public", "private", 0);
  EXPECT_FALSE(client.IsSessionOpen());
  EXPECT_EQ(client.OpenSession(), -1);
  client.SetSession("", "public", "private", 0);
  EXPECT_EQ(client.OpenSession(), -1);

  // Identifiers that do not parse never reach the wire.
  std::unique_ptr<KT_SNMP> open = Client();
  KT_SnmpValue value;
  EXPECT_EQ(open->Get(nullptr, value), -1);
  EXPECT_EQ(open->Get("33.1.6.2.1.2.-1", value), -1);
  EXPECT_EQ(open->Set("33.1.8.2.0", value, 'q', "1"), -1);
  EXPECT_EQ(open->Set("33.1.8.2.0", value, 'i', "12x"), -1);
  EXPECT_TRUE(peer_.Sets().empty());
  EXPECT_EQ(open->Get("33.1.1.1.0", value), 1);
  EXPECT_EQ(value.GetType(), ASN_OCTET_STR);
}

}  // namespace
