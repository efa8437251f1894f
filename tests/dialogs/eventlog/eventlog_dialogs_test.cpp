// The event log viewer, the event log settings and the problem report.
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/scp/event_log_block.h"
#include "dialogs/eventlog/bug_dlg.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/eventlog/event_log_display.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/mail_settings.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/smtp_test_server.h"

namespace {

void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EventLogTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("paging"); }
  void SetUp() override {
    trem_harness::TremTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
    gnCommMode = 0;
    auto lock = gScp.Lock();
    gScp.eventLog.Clear();
    gScp.upsInfo.Reset();
  }
  void TearDown() override {
    gnCommMode = 0;
    unsetenv(platform::kMailSettingsEnv);
    trem_harness::TremTest::TearDown();
  }
  void AgentEvents(int count) {
    auto lock = agent.scp().Lock();
    agent.scp().eventLog.Clear();
    for (int i = 0; i < count; ++i) {
      const uint8_t event = static_cast<uint8_t>(1 + i % 36);
      agent.scp().eventLog.AddRecord(1700000000u + static_cast<uint32_t>(i), 1, &event);
    }
  }
  template <class D>
  D* Open(D* d) {
    agent.MarkAllFresh();
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }, 10000));
    return d;
  }
};

TEST_F(EventLogTest, ViewerShowsTheNewestThousandAndPrintsEveryRecord) {
  AgentEvents(1001);
  QPointer<CEventLogDisplay> d = Open(new CEventLogDisplay(nullptr, "localhost"));
  QTreeWidget* list = d->List();
  ASSERT_EQ(list->topLevelItemCount(), 1000);
  std::string time, name;
  LogRecord r999{1700000000u + 999u, {static_cast<uint8_t>(1 + 999 % 36)}};
  EventLogBlock::FormatEvent(r999, time, name);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "1");
  EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), time);
  EXPECT_EQ(list->topLevelItem(0)->text(2).toStdString(), name);
  Screenshot(d, "event_log_display");

  Click(d->Control(IDC_PRINT));
  const std::string text = ReadAll(File("eventlog.txt"));
  std::vector<std::string> lines;
  std::string expected = "\t\t\tEvent Log\r\n\r\n";
  for (int i = 1000; i >= 0; --i) {
    const uint8_t event = static_cast<uint8_t>(1 + i % 36);
    LogRecord r{1700000000u + static_cast<uint32_t>(i), {event}};
    EventLogBlock::FormatEvent(r, time, name);
    expected += time + "\t" + name + "\r\n";
  }
  EXPECT_EQ(text, expected);
  EXPECT_EQ(print.Count(), 1);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(File("print.pdf"))));
  QFile::copy(QString::fromStdString(File("eventlog.txt")),
              trem_harness::ScreenshotDir(ScreenshotTopic()) + "/eventlog.txt");
}

TEST_F(EventLogTest, EmptyLogShowsOneRowWhoseTopicIsTheGeneralOne) {
  AgentEvents(0);
  QPointer<CEventLogDisplay> d = Open(new CEventLogDisplay(nullptr, "localhost"));
  ASSERT_EQ(d->List()->topLevelItemCount(), 1);
  EXPECT_EQ(d->List()->topLevelItem(0)->text(1), "(no events found)");
  d->List()->setCurrentItem(d->List()->topLevelItem(0));
  d->OnDblclkEventLog();
  ASSERT_FALSE(help.Requests().empty());
  EXPECT_EQ(help.Requests().back().context, 40);
  // Configure twice: one settings dialog, brought forward.
  d->OnConfigure();
  CEventLogConfig* first = pEventLogConfig.get();
  d->OnConfigure();
  EXPECT_EQ(pEventLogConfig.get(), first);
}

TEST_F(EventLogTest, SettingsAreClampedAndOnlyPlainNamesReachTheAgent) {
  const struct {
    int agentSize;
    const char* shown;
  } kShown[] = {{5, "10"}, {250, "100"}, {50, "50"}};
  for (const auto& s : kShown) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().config.SetEventLogSize(static_cast<uint16_t>(s.agentSize));
    }
    QPointer<CEventLogConfig> c = Open(new CEventLogConfig(nullptr, "localhost"));
    EXPECT_EQ(c->MaxEntries()->text(), s.shown) << s.agentSize;
    c->DestroyWindow();
    QCoreApplication::processEvents();
  }
  QPointer<CEventLogConfig> c = Open(new CEventLogConfig(nullptr, "localhost"));
  Screenshot(c, "event_log_config");
  const struct {
    const char* entries;
    const char* name;
    const char* box;  // "" passes
  } kCases[] = {
      {"9", "log.dat", "Max Entries must be between 10 and 100"},
      {"10", "", "Invalid filename specified"},
      {"10", "a?b.dat", "A filename cannot have any of the following characters:"},
      {"10", "/var/log/vigil.dat", "only under a plain file name in its own folder"},
      {"10", "config.dat", "only under a plain file name in its own folder"},
  };
  for (const auto& k : kCases) {
    boxes.Clear();
    c->MaxEntries()->setText(k.entries);
    c->FileName()->setText(k.name);
    EXPECT_FALSE(c->VerifyData()) << k.name;
    EXPECT_TRUE(boxes.Saw(k.box)) << k.box;
  }
  // Browse keeps the name alone.
  files.QueueAnswer(QStringLiteral("/home/someone/mylog.dat"));
  Click(c->Control(CEventLogConfig::IDC_BROWSE));
  EXPECT_EQ(c->FileName()->text(), "mylog.dat");
  c->MaxEntries()->setText("50");
  Click(c->Control(IDOK));
  ASSERT_TRUE(link.PumpIdle());
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.GetEventLogFileName().value_or(""), "mylog.dat");
  EXPECT_EQ(agent.scp().config.GetEventLogSize(), 50);
}

TEST_F(EventLogTest, DescriptionWrapsAtTheLastBlankOfALongPiece) {
  const std::string word70(70, 'w');
  const struct {
    std::string text;
    int width;
    QStringList lines;
  } kCases[] = {
      {word70, 68, {QString(68, 'w'), "ww"}},  // a word longer than the line is cut
      {std::string(33, 'a') + " " + std::string(33, 'b'),
       68,
       {QString(33, 'a'), QString(33, 'b')}},  // 67 chars
      {std::string(32, 'a') + " " + std::string(33, 'b'),
       68,
       {QString(32, 'a') + " " + QString(33, 'b')}},  // 66
      {std::string(40, 'a') + "\t" + std::string(45, 'b'), 80, {QString(40, 'a'), QString(45, 'b')}},
      {"", 68, {}},
      {"one\n\ntwo", 68, {"one", "", "two"}},  // typed line breaks end lines
  };
  for (const auto& c : kCases)
    EXPECT_EQ(CBugDlg::Wrap(QString::fromStdString(c.text), c.width, c.width - 1), c.lines) << c.text;
}

TEST_F(EventLogTest, ProblemReportKeepsItsEntriesAndPrintsTheReport) {
  gnCommMode = 4;
  {
    // Over-long strings are cut to their fields on reading.
    std::ofstream out(File("preport.dat"), std::ios::binary);
    out << std::string(100, 'N') << '\0' << "555-0100" << '\0' << "me@example.org" << '\0' << "It\r\nbeeps"
        << '\0';
  }
  QPointer<CBugDlg> b = Open(new CBugDlg(nullptr, "localhost"));
  auto* name = b->Control<QLineEdit>(CBugDlg::IDC_NAME);
  EXPECT_EQ(name->text(), QString(80, 'N'));
  EXPECT_EQ(b->Control<QPlainTextEdit>(CBugDlg::IDC_DESCRIPTION)->toPlainText(), "It\nbeeps");
  name->setText("Ann Example");
  Screenshot(b, "problem_report");
  Click(b->Control(CBugDlg::IDC_PRINT_REPORT));
  const std::string report = ReadAll(File("bugrport.txt"));
  EXPECT_NE(report.find("\tSoftware Type:\t\t\tTremona Kessa\r\n"), std::string::npos);
  EXPECT_EQ(report.find("Type of UPS"), std::string::npos);
  EXPECT_NE(report.find("\tName:\t\t\t\tAnn Example\r\n"), std::string::npos);
  EXPECT_NE(report.find("\tProblem description:\r\n\r\n\tIt\r\n\tbeeps\r\n"), std::string::npos);
  EXPECT_EQ(report.find("\r\r"), std::string::npos);
  QFile::copy(QString::fromStdString(File("bugrport.txt")),
              trem_harness::ScreenshotDir(ScreenshotTopic()) + "/bugrport.txt");
  // The e-mail lists the UPS fields whatever the mode.
  b->BuildBugMessage();
  EXPECT_TRUE(b->Message().contains("Type of UPS:\t\t"));
  EXPECT_TRUE(b->Message().endsWith(CBugDlg::kEndOfMessage));
  EXPECT_EQ(b->Message().count(CBugDlg::kEndOfMessage), 1);
  Click(b->Control(IDOK));
  const std::string saved = ReadAll(File("preport.dat"));
  EXPECT_EQ(saved, std::string("Ann Example") + '\0' + "555-0100" + '\0' + "me@example.org" + '\0' +
                       "It\r\nbeeps" + '\0');
  // A field is cut between characters, never inside one: a character beyond the basic plane
  // that the limit would split is left out whole, and the entries save and read back the same.
  const QString plug = QString::fromUcs4(U"\U0001F50C");
  const CBugDlg::Entries cut = CBugDlg::ParseDataFile((QString(79, 'N') + plug).toUtf8() + '\0');
  EXPECT_EQ(cut.name, QString(79, 'N'));
  const CBugDlg::Entries whole = CBugDlg::ParseDataFile((QString(78, 'N') + plug).toUtf8() + '\0');
  EXPECT_EQ(whole.name, QString(78, 'N') + plug);
  EXPECT_EQ(CBugDlg::ParseDataFile(CBugDlg::DataFileBytes(whole)).name, whole.name);
}

TEST_F(EventLogTest, ProblemReportMailsTheHelpDeskWithBothLogs) {
  testing_support::SmtpTestServer server;
  ASSERT_TRUE(server.Running());
  {
    std::ofstream conf(File("mail.conf"));
    conf << server.SettingsText("alias Help Desk = helpdesk@x.test\n");
  }
  setenv(platform::kMailSettingsEnv, File("mail.conf").c_str(), 1);
  {
    // Two console errors.
    std::ofstream err(File("error.dat"), std::ios::binary);
    const int32_t records[2][5] = {{1700000000, 7, 3, 2, 0}, {1700000060, 8, 1, 4, 11}};
    err.write(reinterpret_cast<const char*>(records), sizeof(records));
  }
  AgentEvents(2);
  QPointer<CBugDlg> b = Open(new CBugDlg(nullptr, "localhost"));
  b->Control<QLineEdit>(CBugDlg::IDC_NAME)->setText("Ann");
  Click(b->Control(CBugDlg::IDC_SEND));
  EXPECT_TRUE(boxes.Saw("The e-mail message has been sent.")) << boxes.Boxes().back().text.toStdString();
  const auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"helpdesk@x.test"});
  EXPECT_NE(mails[0].Header("Subject").find("Customer Problem Report"), std::string::npos);
  EXPECT_NE(mails[0].content.find("Name:\t\t\tAnn"), std::string::npos);
  EXPECT_NE(mails[0].content.find(CBugDlg::kEndOfMessage), std::string::npos);
  EXPECT_NE(mails[0].content.find("eventlog.txt"), std::string::npos);
  EXPECT_NE(mails[0].content.find("error.txt"), std::string::npos);
  const std::string errors = ReadAll(File("error.txt"));
  EXPECT_EQ(errors.find("\t\t\tError Log\r\n\r\n0) error:7.3.2.0 occured at "), 0u) << errors;
  EXPECT_NE(errors.find("\r\n1) error:8.1.4.11 occured at "), std::string::npos);
  // The attached event log is in the block's order.
  const std::string events = ReadAll(File("eventlog.txt"));
  EXPECT_LT(events.find(GetEventName(1)), events.find(GetEventName(2)));

  server.Stop();
  boxes.Clear();
  Click(b->Control(CBugDlg::IDC_SEND));
  EXPECT_TRUE(boxes.Saw("Unable to deliver e-mail message."));
}

}  // namespace
