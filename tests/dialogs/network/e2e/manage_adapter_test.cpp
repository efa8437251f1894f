// Manage Adapter against snmpd playing an SNMP UPS adapter (tools/ups_mib_peer.py), reached
// through the default port as the console reaches it (the services lookup points at snmpd).
#include "dialogs/network/manage_adapter.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "core/adapters/snmp.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/snmp_peer.h"

namespace {

constexpr const char* kStartupDelayOid = ".1.3.6.1.2.1.33.1.8.3.0";
constexpr const char* kShutdownDelayOid = ".1.3.6.1.2.1.33.1.8.2.0";
constexpr const char* kAttachedDevicesOid = ".1.3.6.1.2.1.33.1.1.6.0";

class ManageAdapterTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("adapters"); }
  void SetUp() override {
    TremTest::SetUp();
    if (testing_support::FindProgram("snmpd").empty()) GTEST_SKIP() << "snmpd is not installed";
    peer.SetUptime(100);
    peer.SetInt("test_duration", 8);
    peer.SetText("sys_contact", "Facilities desk");
    ASSERT_TRUE(peer.Start()) << peer.error();
    // The MIB the console reads from its directory, and the adapter in the host table.
    std::filesystem::copy_file(testing_support::ShippedMibPath(), "mib.txt");
    const uint16_t port = peer.port();
    KT_SNMP::SetServicePortLookup([port](const char*) { return std::optional<uint16_t>(port); });
    KT_Address address(ADDRESS_SNMP);
    address.Resolve("127.0.0.1");
    address.SetHostName("127.0.0.1");
    address.SetReadCommunity("public");
    address.SetWriteCommunity("private");
    // The adapter is the table's one host (the agent's entry has the same address).
    KT_HostControl writer;
    gHosts.ResetHosts();
    gHosts.AddHost(address);
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const auto& b : boxes.Boxes()) std::printf("box: %s\n", b.text.toStdString().c_str());
      std::printf("snmpd: %s\n", peer.Log().c_str());
    }
    CloseAllWindows();
    KT_SNMP::SetServicePortLookup({});
    TremTest::TearDown();
  }
  CManageAdapter* Open() { return new CManageAdapter(nullptr, "127.0.0.1"); }
  static QString Field(KTDialog* d, int id) { return d->Control<QLineEdit>(id)->text(); }
  static bool Enabled(KTDialog* d, int id) { return d->Control<QPushButton>(id)->isEnabled(); }
  // The five buttons' states: Restart SNMP Agent, Abort, Run Test, UPS On, UPS Off.
  static std::vector<bool> Buttons(KTDialog* d) {
    return {Enabled(d, IDC_MA_RESTART_AGENT), Enabled(d, IDC_MA_ABORT), Enabled(d, IDC_MA_RUN_TEST),
            Enabled(d, IDC_MA_UPS_ON), Enabled(d, IDC_MA_UPS_OFF)};
  }
  std::vector<std::string> SetsOf(const std::string& oid) {
    std::vector<std::string> out;
    for (const auto& s : peer.Sets()) {
      if (s.oid == oid) out.push_back(s.value);
    }
    return out;
  }
  int WriteTests() {
    int n = 0;
    for (const auto& r : peer.Requests()) n += r.command == "set" && r.oid == kAttachedDevicesOid ? 1 : 0;
    return n;
  }
  // Reads and writes of the write test's object that reached the adapter.
  int WriteTestRequests() {
    int n = 0;
    for (const auto& r : peer.Requests()) n += r.oid == kAttachedDevicesOid ? 1 : 0;
    return n;
  }
  static void Press(KTDialog* d, int id) { QTest::mouseClick(d->Control<QPushButton>(id), Qt::LeftButton); }

  testing_support::SnmpAdapterPeer peer{"public", "private"};
};

const std::vector<bool> kIdle{true, false, true, true, true};
const std::vector<bool> kOnlyAbort{false, true, false, false, false};

TEST_F(ManageAdapterTest, UpsOffCountsDownFrom61ToNoneWithOnlyAbortEnabled) {
  QPointer<CManageAdapter> d = Open();
  ASSERT_TRUE(d->MibLoaded());
  EXPECT_EQ(Field(d, IDC_MA_CONTACT), QStringLiteral("Facilities desk"));
  EXPECT_EQ(Field(d, IDC_MA_PENDING_OFF), QStringLiteral("None"));
  EXPECT_EQ(Buttons(d), kIdle);
  Screenshot(d, QStringLiteral("manage_adapter"));
  Press(d, IDC_MA_UPS_OFF);
  EXPECT_EQ(SetsOf(kStartupDelayOid), (std::vector<std::string>{"-1"}));
  EXPECT_EQ(SetsOf(kShutdownDelayOid), (std::vector<std::string>{"61"}));
  EXPECT_TRUE(d->HasTimer(CManageAdapter::kCountdownTimer));
  for (int left = 61; left >= 1; --left) {
    ASSERT_EQ(Field(d, IDC_MA_PENDING_OFF), QStringLiteral("%1 seconds").arg(left));
    ASSERT_EQ(Buttons(d), kOnlyAbort);
    d->OnTimer(CManageAdapter::kCountdownTimer);
  }
  EXPECT_EQ(Field(d, IDC_MA_PENDING_OFF), QStringLiteral("None"));
  EXPECT_EQ(Field(d, IDC_MA_PENDING_ON), QStringLiteral("None"));
  EXPECT_FALSE(d->HasTimer(CManageAdapter::kCountdownTimer));
  EXPECT_EQ(Buttons(d), kIdle);
}

TEST_F(ManageAdapterTest, AbortStopsTheCountdownAndSwitchesThePendingOffOff) {
  QPointer<CManageAdapter> d = Open();
  Press(d, IDC_MA_UPS_OFF);
  for (int i = 0; i < 3; ++i) d->OnTimer(CManageAdapter::kCountdownTimer);
  EXPECT_EQ(Field(d, IDC_MA_PENDING_OFF), QStringLiteral("58 seconds"));
  Press(d, IDC_MA_ABORT);
  EXPECT_EQ(Field(d, IDC_MA_PENDING_OFF), QStringLiteral("None"));
  EXPECT_EQ(Field(d, IDC_MA_PENDING_ON), QStringLiteral("None"));
  EXPECT_FALSE(d->HasTimer(CManageAdapter::kCountdownTimer));
  EXPECT_EQ(Buttons(d), kIdle);
  EXPECT_EQ(SetsOf(kShutdownDelayOid), (std::vector<std::string>{"61", "-1"}));
}

TEST_F(ManageAdapterTest, OnlyAChangedCommunityIsCheckedAgain) {
  QPointer<CManageAdapter> d = Open();
  EXPECT_EQ(WriteTests(), 1) << "the opening checks the communities once";
  struct Step {
    const char* getCommunity;  // null: unchanged
    int packets;               // SNMP packets the adapter receives for UPS On (at least; a slow
                               // answer may bring a retry)
    int checks;                // 1 when the write test reaches the adapter
    const char* box;           // null: none, UPS On goes out
  };
  const Step steps[] = {
      {nullptr, 1, 0, nullptr},  // the start-up delay alone
      {nullptr, 1, 0, nullptr},
      {"wrong", 3, 0, "Password(s) incorrect"},  // the write test's read, unanswered, tried 3 times
      {nullptr, 0, 0, "Password(s) incorrect"},  // the last result again: the adapter is not asked
      {"x", 0, 0, "Passwords must be between 2 and 15 characters"},
      {"public", 3, 1, nullptr},  // read, write back, start-up delay
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.getCommunity != nullptr ? s.getCommunity : "(unchanged)");
    boxes.Clear();
    if (s.getCommunity != nullptr) d->Control<QLineEdit>(IDC_MA_GET)->setText(s.getCommunity);
    const int before = peer.PacketsReceived();
    const int checksBefore = WriteTestRequests();
    const size_t startups = SetsOf(kStartupDelayOid).size();
    Press(d, IDC_MA_UPS_ON);
    if (s.packets == 0) {
      EXPECT_EQ(peer.PacketsReceived() - before, 0);
    } else {
      EXPECT_GE(peer.PacketsReceived() - before, s.packets);
    }
    EXPECT_EQ(WriteTestRequests() > checksBefore ? 1 : 0, s.checks);
    if (s.box != nullptr) {
      EXPECT_TRUE(boxes.Saw(s.box));
      EXPECT_EQ(SetsOf(kStartupDelayOid).size(), startups) << "a failed check blocks the command";
    } else {
      EXPECT_EQ(boxes.Count(), 0);
      EXPECT_EQ(SetsOf(kStartupDelayOid).size(), startups + 1);
      EXPECT_EQ(Field(d, IDC_MA_PENDING_ON), QStringLiteral("5 seconds"));
      d->StopTimer(CManageAdapter::kCountdownTimer);
    }
  }
}

TEST_F(ManageAdapterTest, RunTestFollowsTheResultUntilDonePassed) {
  QPointer<CManageAdapter> d = Open();
  Press(d, IDC_MA_RUN_TEST);
  EXPECT_TRUE(d->HasTimer(CManageAdapter::kTestTimer));
  EXPECT_EQ(Buttons(d), (std::vector<bool>{false, false, false, false, false}));
  d->OnTimer(CManageAdapter::kTestTimer);
  EXPECT_EQ(Field(d, IDC_MA_TEST_RESULTS), QStringLiteral("In Progress."));
  EXPECT_TRUE(d->HasTimer(CManageAdapter::kTestTimer));
  peer.SetUptime(109);
  d->OnTimer(CManageAdapter::kTestTimer);
  EXPECT_EQ(Field(d, IDC_MA_TEST_RESULTS), QStringLiteral("Done, Passed."));
  EXPECT_FALSE(d->HasTimer(CManageAdapter::kTestTimer));
  EXPECT_EQ(Buttons(d), kIdle);
}

TEST_F(ManageAdapterTest, OkWritesTheContactAndTheHostsCommunities) {
  QPointer<CManageAdapter> d = Open();
  d->Control<QLineEdit>(IDC_MA_CONTACT)->setText("Night shift, room 4");
  d->Control<QLineEdit>(IDC_MA_SET)->setText("private2");
  Press(d, IDC_MA_OK);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(d.isNull());
  bool wrote = false;
  for (const auto& s : peer.Sets())
    wrote |= s.oid == ".1.3.6.1.2.1.1.4.0" && s.value == "Night shift, room 4";
  EXPECT_TRUE(wrote);
  KT_HostControl reader(0);
  HostEntry* host = gHosts.GetHostByIndex(gHosts.FindHostByName("127.0.0.1"));
  ASSERT_NE(host, nullptr);
  EXPECT_STREQ(host->Address().GetReadCommunity(), "public");
  EXPECT_STREQ(host->Address().GetWriteCommunity(), "private2");
}

TEST_F(ManageAdapterTest, EveryDialogChecksItsOwnCommunities) {
  // A second Manage Adapter sets up its own client and checks, whatever the first one did.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const int before = WriteTests();
    QPointer<CManageAdapter> d = Open();
    EXPECT_EQ(WriteTests() - before, 1);
    Press(d, IDC_MA_UPS_ON);
    EXPECT_EQ(SetsOf(kStartupDelayOid).size(), static_cast<size_t>(round + 1));
    d->OnCancel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace
