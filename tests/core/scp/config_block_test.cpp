#include "core/scp/config_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "core/base/peer_version.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "core/scp/ups_info_block.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;

Bytes Encode(ConfigBlock& b, Bytes key) {
  Bytes reply;
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, key)), 1);
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  return m.data;
}

int Decode(ConfigBlock& b, Bytes key, const Bytes& data) {
  Bytes reply;
  return b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, key, data));
}

Bytes TextBytes(const std::string& t) {
  Bytes out;
  out.push_back(static_cast<uint8_t>(t.size() + 1));
  for (char c : t) out.push_back(static_cast<uint8_t>(c));
  out.push_back(0);
  return out;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPeerSoftwareVersion(); }
  void TearDown() override {
    ResetPeerSoftwareVersion();
    KT_PortList::SetSources("", "");
  }
  TempDir dir_;
};

TEST_F(ConfigTest, FreshBlockEncodesItsDefaults) {
  ConfigBlock b;
  Bytes branch5{0x0C};
  for (char c : std::string("logfile.dat")) branch5.push_back(static_cast<uint8_t>(c));
  branch5.insert(branch5.end(), {0x00, 0x00, 0x64});
  EXPECT_EQ(Encode(b, {4, 5}), branch5);
  EXPECT_EQ(Encode(b, {4, 2}), (Bytes{0, 120, 0, 7, 0, 5, 0, 0, 1, 0}));
  EXPECT_EQ(Encode(b, {4, 6}), (Bytes{10, 12, 'b', 'a', 't', 't', 'l', 'o', 'g', '.', 'd', 'a', 't', 0}));
  EXPECT_EQ(Encode(b, {4, 8}), TextBytes("4Tulip"));
  EXPECT_EQ(Encode(b, {4, 12}), Bytes{});  // peer version 0.37: nothing
  EXPECT_EQ(Encode(b, {4, 13}), (Bytes{0, 0, 0, 1}));
  EXPECT_EQ(b.Branches().GetFieldState(5, 1), FIELD_UNCHANGED);
  EXPECT_EQ(b.Branches().GetFieldState(0, 0), FIELD_UNCHANGED);
}

TEST_F(ConfigTest, CommunicationModesAndTheirTexts) {
  ConfigBlock b;
  b.SetCommMode(12);
  EXPECT_EQ(b.GetCommMode(), 255);
  EXPECT_EQ(b.GetCommModeText(), "Unknown");
  EXPECT_EQ(b.GetCommModeText(255), "Unknown");
  EXPECT_EQ(b.GetCommModeText(5), "Idle, waiting for a command");
  b.SetCommMode(COMM_SNMP_ADAPTER);
  EXPECT_EQ(b.GetCommModeText(), "SNMP Adapter");
  UpsInfoBlock info;
  b.SetUpsInfo(&info);
  info.SetOsType(0);
  EXPECT_EQ(b.GetCommModeText(), "NetBCM Adapter");
  info.SetOsType(3);
  EXPECT_EQ(b.GetCommModeText(), "SNMP Adapter");
  EXPECT_EQ(b.GetCommModeText(9), "NetBCM Adapter");

  EXPECT_EQ(b.GetRoute(0), ROUTE_BOTH);
  EXPECT_EQ(b.GetRoute(3), ROUTE_UPS);
  EXPECT_EQ(b.GetRoute(13), ROUTE_AGENT);
  EXPECT_EQ(b.GetRoute(14), ROUTE_REFUSED);
  EXPECT_EQ(b.function, ConfigBlock::FN_GET_ROUTE);
}

TEST_F(ConfigTest, DialogSettersCheckRangesButTheDecoderKeepsWhatItGets) {
  ConfigBlock b;
  EXPECT_EQ(b.SetTotalBatteryTime(0), -1);
  EXPECT_EQ(b.SetTotalBatteryTime(1801), -1);
  EXPECT_EQ(b.errorClass, ERR_CONFIG_BLOCK);
  EXPECT_EQ(b.GetTotalBatteryTime(), 7);
  EXPECT_EQ(b.SetTotalBatteryTime(1800), 1);
  EXPECT_EQ(b.Branches().GetFieldState(2, 2), FIELD_CHANGED);
  EXPECT_EQ(b.SetTotalBatteryTime(10), 1);
  EXPECT_EQ(b.SetShutdownStartDelay(11), -1);  // above the total
  EXPECT_EQ(b.SetShutdownStartDelay(10), 1);   // equal passes
  EXPECT_EQ(b.SetShutdownStartDelay(0), -1);
  EXPECT_EQ(b.SetOsShutdownTime(0), -1);
  EXPECT_EQ(b.SetOsShutdownTime(65535), 1);
  EXPECT_EQ(b.SetCommandOnLowBattery(2), -1);
  EXPECT_EQ(b.SetCommandOnLowBattery(1), 1);
  b.ClearTurnOffUps();
  EXPECT_EQ(b.GetTurnOffUps(), 0);
  b.SetRunFileSaver();
  EXPECT_EQ(b.GetRunFileSaver(), 1);

  // A SET (or config.dat) outside the dialogs' ranges is stored as received.
  ASSERT_GE(Decode(b, {4, 2}, Bytes{0xFF, 0xFF, 0x13, 0x88, 0xFF, 0xFF, 0, 7, 0, 9}), 0);
  EXPECT_EQ(b.GetOsShutdownTime(), 0xFFFF);
  EXPECT_EQ(b.GetTotalBatteryTime(), 5000);
  EXPECT_EQ(b.GetShutdownStartDelay(), 0xFFFF);
  EXPECT_EQ(b.GetCommandOnLowBattery(), 7);
  EXPECT_EQ(b.GetTurnOffUps(), 0);
  EXPECT_EQ(b.GetRunFileSaver(), 9);
  // With the total unset, the start delay is checked against 1800 only.
  ASSERT_GE(Decode(b, {4, 2, 2}, Bytes{0xFF, 0xFF}), 0);
  EXPECT_EQ(b.SetShutdownStartDelay(1800), 1);

  EXPECT_EQ(b.SetPreShutdownCommand(nullptr), -1);
  EXPECT_EQ(b.code, 1);
  EXPECT_EQ(b.SetPreShutdownCommand(std::string(255, 'c').c_str()), -1);  // the record could not hold it
  ASSERT_EQ(b.SetPreShutdownCommand("/usr/local/bin/save"), 1);
  EXPECT_EQ(b.GetPreShutdownCommand(), std::optional<std::string>("/usr/local/bin/save"));
  b.ClearPreShutdownCommand();
  EXPECT_FALSE(b.GetPreShutdownCommand().has_value());
}

TEST_F(ConfigTest, PortListFromTheTtyClass) {
  const std::filesystem::path sys = dir_.path() / "tty";
  auto device = [&](const std::string& name, int type) {
    std::filesystem::create_directories(sys / name / "device");
    if (type >= 0) std::ofstream(sys / name / "type") << type << "\n";
  };
  device("ttyS0", 4);
  device("ttyS1", 0);  // a UART slot with no UART
  device("ttyS10", 4);
  device("ttyS2", 4);
  device("ttyUSB0", -1);
  std::filesystem::create_directories(sys / "tty0");  // a virtual console: no device
  KT_PortList::SetSources(sys.string(), "/dev");

  ConfigBlock b;
  Bytes expected{4};
  for (const char* n : {"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}) {
    const Bytes t = TextBytes(n);
    expected.insert(expected.end(), t.begin(), t.end());
  }
  EXPECT_EQ(Encode(b, {4, 11}), expected);
  EXPECT_EQ(b.Ports().Count(), 4);

  // A console keeps the list it receives.
  ConfigBlock console;
  ASSERT_GE(Decode(console, {4, 11}, expected), 0);
  std::string name;
  console.Ports().ResetCursor();
  ASSERT_EQ(console.Ports().GetNext(name), 1);
  EXPECT_EQ(name, "/dev/ttyS0");
  EXPECT_LT(Decode(console, {4, 11}, Bytes{200, 1, 0}), 0);
  EXPECT_EQ(console.Ports().Count(), 4);

  // While config.dat is converted, branch 11 is left out.
  b.SetFileConversion(true);
  EXPECT_EQ(Encode(b, {4, 11}), Bytes{});
}

TEST_F(ConfigTest, VersionDependentBranches) {
  ConfigBlock b;
  ASSERT_GE(Decode(b, {4, 13, 5}, Bytes{}), 0);  // reserved: accepted, nothing converted
  EXPECT_EQ(b.GetNoLoopbackTest(), 1u);
  SetPeerSoftwareVersion(1, 0);
  EXPECT_EQ(Encode(b, {4, 12}), (Bytes{0, 0, 0, 0, 0, 0, 0, 120}));
  EXPECT_EQ(Encode(b, {4, 13}), (Bytes{0, 0, 0, 1}));  // format selector 2
  b.SetFormatSelector(1);
  EXPECT_EQ(Encode(b, {4, 13}), Bytes{});
  b.SetFileConversion(true);
  EXPECT_EQ(Encode(b, {4, 12}), Bytes{});
}

TEST_F(ConfigTest, ClientListsRoundTripAndAreBounded) {
  ConfigBlock b;
  KT_Address ip(ADDRESS_IP);
  ip.SetIpAddress(inet_addr("10.0.0.1"));
  ASSERT_TRUE(b.ScheduledShutdownClients().Add(ip, "pw", 3, 255, 0));
  EXPECT_FALSE(b.ScheduledShutdownClients().Add(ip, "other", 1, 1, 1));
  KT_Address ipx(ADDRESS_IPX);
  const uint8_t node[kIpxNodeLength] = {1, 2, 3, 4, 5, 6};
  ipx.SetIpAddress(htonl(0x00000042));
  ipx.SetNode(node);
  ipx.SetHostName("nw1");
  ASSERT_TRUE(b.ScheduledShutdownClients().Add(ipx, nullptr, 255, 255, 255));

  Bytes expected{2, 10, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 3, 'p', 'w', 0, 3, 255, 0,
                 0, 0, 0, 0x42, 0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 0, 255, 255, 255, 4, 'n', 'w', '1', 0};
  EXPECT_EQ(Encode(b, {4, 10}), expected);

  ConfigBlock copy;
  ASSERT_GE(Decode(copy, {4, 10}, expected), 0);
  KT_NetClientList& list = copy.ScheduledShutdownClients();
  ASSERT_EQ(list.Count(), 2);
  KT_NetClient* named = list.FindByName("nw1");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(std::memcmp(named->address.Node(), node, kIpxNodeLength), 0);
  EXPECT_EQ(Encode(copy, {4, 10}), expected);
  EXPECT_EQ(list.Remove(ip), 1);
  EXPECT_EQ(list.Remove(ip), 0);

  // A count the bytes cannot hold, or a truncated client, changes nothing.
  EXPECT_LT(Decode(copy, {4, 10}, Bytes{100, 0, 0}), 0);
  Bytes truncated(expected.begin(), expected.end() - 1);
  EXPECT_LT(Decode(copy, {4, 10}, truncated), 0);
  EXPECT_EQ(list.Count(), 1);

  // A client listed twice is kept once.
  Bytes twice{2};
  twice.insert(twice.end(), expected.begin() + 1, expected.begin() + 22);
  twice.insert(twice.end(), expected.begin() + 1, expected.begin() + 22);
  ASSERT_GE(Decode(copy, {4, 9}, twice), 0);
  EXPECT_EQ(copy.PowerEventClients().Count(), 1);
}

TEST_F(ConfigTest, PasswordAndSerialSettingsFromReceivedData) {
  ConfigBlock b;
  ASSERT_GE(Decode(b, {4, 8, 1}, TextBytes("secret")), 0);
  EXPECT_EQ(b.Password().Check("secret"), 1);
  EXPECT_LT(Decode(b, {4, 8, 1}, TextBytes("ninechars")), 0);
  EXPECT_LT(Decode(b, {4, 8, 1}, Bytes{0}), 0);
  EXPECT_EQ(b.Password().Check("secret"), 1);

  ASSERT_GE(Decode(b, {4, 1, 2}, Bytes{5}), 0);
  EXPECT_FALSE(b.SerialSettingsChanged());
  ASSERT_GE(Decode(b, {4, 1, 3}, Bytes{2}), 0);
  EXPECT_TRUE(b.SerialSettingsChanged());
  EXPECT_NE(b.Branches().GetTime(1), 0);
  EXPECT_LT(Decode(b, {4, 1, 4}, Bytes{1}), 0);
  EXPECT_EQ(b.code, 1);  // the branch of the unknown field
}

TEST_F(ConfigTest, AdapterModeSetOfBranchOneIsNotQueued) {
  // The mode that counts is the one of the process-wide object.
  KT_SCP& scp = GetProcessScp();
  scp.config.SetCommMode(COMM_SNMP_ADAPTER);
  scp.serial_queue.Clear();
  scp.system_queue.Clear();
  Bytes reply;
  ASSERT_GE(scp.ExecuteCommand(KT_ScpMessage(SCP_SET, {4, 1}, Bytes{0, 5, 8}), reply), 0);
  KT_ScpMessage m;
  ASSERT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  EXPECT_EQ(m.data, Bytes{SCP_SET_OK});
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  EXPECT_EQ(scp.GetCommMode(), COMM_SNMP_ADAPTER);
  // Any other branch is queued for the agent.
  ASSERT_GE(scp.ExecuteCommand(KT_ScpMessage(SCP_SET, {4, 5}, Bytes{0, 0, 50}), reply), 0);
  EXPECT_GE(scp.system_queue.Find(4, 5), 0);
  EXPECT_FALSE(scp.config.GetEventLogFileName().has_value());
  scp.config.SetDefaults();
  scp.system_queue.Clear();
}

}  // namespace

TEST(ConfigBlockLogNames, OnlyPlainNamesOfTheDataDirectoryAreLogNames) {
  const std::pair<std::string, bool> kCases[] = {
      {"logfile.dat", true}, {"Events_2-1.log", true},  {"", false},
      {".hidden", false},    {"/var/log/x.dat", false}, {"C:\\logs\\x", false},
      {"a b.dat", false},    {"NOTIFY.DAT", false},     {"config.dat", false},
      {"mail.conf", false},  {"error.dat", false},      {std::string(65, 'a'), false},
      {"VigilNT", false},    {"saver", false},          {"notify.dat.bad", false},
      {"bad.log", true},
  };
  for (const auto& [name, allowed] : kCases) EXPECT_EQ(IsAllowedLogFileName(name), allowed) << name;
  EXPECT_TRUE(IsAllowedLogFileName(std::string(64, 'a')));
}

// The names a SET would give the logs, by the part of the block it addresses; the block the
// SET is meant for is not touched.
TEST(ConfigBlockLogNames, ASetCarriesTheNamesOfThePartItAddresses) {
  TempDir dir;  // the error log of the undecodable SET
  KT_SCP image;
  image.config.SetEventLogFileName("ev.log");
  image.config.SetBatteryLogFileName("bt.log");
  const struct {
    Bytes key;
    bool event;
    bool battery;
  } kCases[] = {
      {{4}, true, true},        {{4, 0}, true, true},      {{4, 5}, true, false},
      {{4, 5, 1}, true, false}, {{4, 5, 2}, false, false}, {{4, 6}, false, true},
      {{4, 6, 2}, false, true}, {{4, 6, 1}, false, false}, {{4, 2}, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.key));
    Bytes frame;
    ASSERT_EQ(image.config.ConvertMessage(frame, KT_ScpMessage(SCP_GET, c.key)), 1);
    KT_ScpMessage set;
    ASSERT_EQ(DecodeScpFrame(frame.data(), frame.size(), set), 0);
    set.type = SCP_SET;
    ConfigBlock::LogNamesOfSet names;
    ASSERT_TRUE(ConfigBlock::ReadLogNamesOfSet(set, names));
    EXPECT_EQ(names.event, c.event);
    EXPECT_EQ(names.battery, c.battery);
    EXPECT_EQ(names.eventName, c.event ? std::optional<std::string>("ev.log") : std::nullopt);
    EXPECT_EQ(names.batteryName, c.battery ? std::optional<std::string>("bt.log") : std::nullopt);
  }
  ConfigBlock::LogNamesOfSet names;
  EXPECT_FALSE(ConfigBlock::ReadLogNamesOfSet(KT_ScpMessage(SCP_SET, {4, 5}, Bytes{9, 'x'}), names));
}
