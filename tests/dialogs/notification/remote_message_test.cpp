// The remote message action (CRemoteMessage) against the in-process agent; its searches ask
// only this computer (the test's cfsubnet.dat), in a network of the test program's own so that
// they never reach another test's agent or responder on UDP port 7010.
#include "dialogs/notification/remote_message.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/event_notification.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/dialogs/discovery/ipx_search.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class RemoteMessageTest : public DiscoveryTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("shutdown"); }
  void SetUp() override {
    DiscoveryTest::SetUp();
    std::ofstream(File("cfsubnet.dat")) << "127.0.0.1\n";
    auto lock = gScp.Lock();
    gScp.notify.Reset();
    gScp.notify.SetDefaultSupport(SUPPORT_EVENTS);
  }
  CRemoteMessage* Open(const std::vector<int>& events) {
    gpSelectedEvents = events;
    gnSelectedEventCount = static_cast<int>(events.size());
    auto* d = new CRemoteMessage(nullptr, "localhost");
    link.PumpIdle();
    boxes.Clear();
    return d;
  }
  static void Fill(CRemoteMessage* d, const char* host, const char* delay, const char* minutes,
                   const char* seconds, const char* message) {
    d->Target()->setEditText(host);
    d->Control<QComboBox>(CRemoteMessage::IDC_DELAY_MINUTES)->setEditText(delay);
    d->Control<QComboBox>(CRemoteMessage::IDC_INTERVAL_MINUTES)->setEditText(minutes);
    d->Control<QComboBox>(CRemoteMessage::IDC_INTERVAL_SECONDS)->setEditText(seconds);
    d->Message()->setPlainText(message);
  }

  // Outlives the dialogs (gone by TearDown).
  std::optional<ScopedIpxSearch> ipx_;
};

TEST_F(RemoteMessageTest, OkChecksInOrderAndWritesOneRecordPerEvent) {
  struct Case {
    const char *host, *delay, *minutes, *seconds, *message, *refusal;
  };
  const std::vector<Case> cases{
      {"", "0", "1", "0", "m", "Host name or IP Address must be specified."},
      {"h", "0", "21", "0", "m", "Interval minutes must be between 0 and 20"},
      {"h", "0", "0", "", "m", "Must select interval seconds"},
      {"h", "0", "1", "60", "m", "Interval seconds must be between 0 and 59"},
      {"h", "21", "1", "0", "m", "Delay minutes must be between 0 and 20"},
      {"h", "0", "1", "0", "", "Please enter a message to be sent."},
  };
  QPointer<CRemoteMessage> d = Open({3, 5});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    boxes.Clear();
    Fill(d, c.host, c.delay, c.minutes, c.seconds, c.message);
    d->Control<QPushButton>(IDOK)->click();
    ASSERT_FALSE(d.isNull());
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Boxes()[0].text, c.refusal);
  }
  {
    // One already there for event 3: replaced.
    auto lock = gScp.Lock();
    KT_ActionEntry old(3, ACTION_REMOTE_HOST);
    old.SetRemoteHost("old");
    gScp.notify.AddAction(old);
  }
  Fill(d, "backup - (Remote Server)", "2", "2", "", "Mains failed at the depot");
  Screenshot(d, "remote_message");
  d->Control<QPushButton>(IDOK)->click();
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  for (int event : {3, 5}) {
    auto lock = gScp.Lock();
    KT_ActionEntry e;
    ASSERT_TRUE(gScp.notify.FindAction(event, ACTION_REMOTE_HOST, e)) << event;
    EXPECT_EQ(e.delay, 120);
    EXPECT_EQ(e.interval, 120);
    EXPECT_EQ(e.remoteHost, std::optional<std::string>("backup - (Remote Server)"));
    EXPECT_EQ(e.message, std::optional<std::string>("Mains failed at the depot"));
  }
  std::ifstream f(File("cfsubnet.dat"));
  std::string written((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "127.0.0.1\n");

  // Opened again for event 3 alone: its values are shown.
  d = Open({3});
  EXPECT_EQ(d->Target()->currentText(), "backup - (Remote Server)");
  EXPECT_EQ(d->Message()->toPlainText(), "Mains failed at the depot");
  EXPECT_EQ(d->Control<QComboBox>(CRemoteMessage::IDC_DELAY_MINUTES)->currentText(), "2");
  EXPECT_EQ(d->Control<QComboBox>(CRemoteMessage::IDC_INTERVAL_MINUTES)->currentText(), "2");
  EXPECT_EQ(d->Control<QComboBox>(CRemoteMessage::IDC_INTERVAL_SECONDS)->currentText(), "0");
}

// An agent found by IPX is offered with " - (Remote Server)" when the agent's computer may be
// searched by IPX, and the action keeps the suffix: the agent sends its notice by IPX then.
TEST_F(RemoteMessageTest, IpxHostsAreOfferedAndStoredWithTheSuffix) {
  ipx_.emplace(std::initializer_list<KT_Discover*>{});
  struct Case {
    int os;
    QStringList offered;
  };
  QPointer<CRemoteMessage> d;
  for (const Case& c : {Case{kOsTypeLinux, {}}, Case{3, {"NWSRV - (Remote Server)"}}}) {
    SCOPED_TRACE(c.os);
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.SetSoftwareVersion(2, 1);
      gScp.upsInfo.SetOsType(c.os);
    }
    ipx_->ipx.incoming.clear();
    ipx_->ipx.Queue(Sap(kSapGeneralResponse, {{kSapServerType, "NWSRV", 1}, {0x0004, "FILESRV", 2}}));
    delete d.data();
    d = Open({3});
    QStringList offered;
    for (int i = 0; i < d->Target()->count(); ++i)
      if (d->Target()->itemText(i).endsWith(" - (Remote Server)")) offered << d->Target()->itemText(i);
    EXPECT_EQ(offered, c.offered);
  }
  d->Target()->setCurrentIndex(d->Target()->findText("NWSRV - (Remote Server)"));
  d->Message()->setPlainText("Mains failed at the depot");
  Screenshot(d, "remote_message_ipx");
  d->Control<QPushButton>(IDOK)->click();
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  auto lock = gScp.Lock();
  KT_ActionEntry e;
  ASSERT_TRUE(gScp.notify.FindAction(3, ACTION_REMOTE_HOST, e));
  EXPECT_EQ(e.remoteHost, std::optional<std::string>("NWSRV - (Remote Server)"));
}

}  // namespace
