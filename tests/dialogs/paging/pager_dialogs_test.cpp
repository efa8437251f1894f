// The pager action dialog, its test page and the pager recipient editor.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "core/mail_paging/page_call.h"
#include "core/scp/command_block.h"
#include "core/scp/port_list.h"
#include "dialogs/paging/pager.h"
#include "dialogs/paging/pager_config.h"
#include "dialogs/paging/test_pager.h"
#include "tests/dialogs/notification/notification_test_util.h"
#include "tests/support/simulated_ups.h"

namespace {

using notification_test::Click;
using notification_test::Record;
using notification_test::Sent;

KT_PagerConfig Recipient(const std::string& name, bool tap, const std::string& port = "/dev/null") {
  KT_PagerConfig r;
  r.SetName(name.c_str());
  r.SetAccessNumber("555-0100");
  if (tap) r.SetPin("123456");
  r.SetMaxCharacters("80");
  r.SetDelaySeconds(tap ? "0" : "4");
  r.SetDialString("ATDT");
  r.SetTap(tap ? 1 : 0);
  r.SetPortName(port.c_str());
  return r;
}

class PagingTest : public notification_test::NotificationTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("paging"); }
  void SetUp() override {
    notification_test::NotificationTest::SetUp();
    // The agent lists no serial port of this machine.
    KT_PortList::SetSources(File(""), File(""));
  }
  void TearDown() override {
    KT_PortList::SetSources("", "");
    CPager::SetPageSender(nullptr);
    notification_test::NotificationTest::TearDown();
  }
  void AgentRecipients(std::initializer_list<KT_PagerConfig> recipients) {
    auto lock = agent.scp().Lock();
    for (const KT_PagerConfig& r : recipients) agent.scp().notify.PagerRecipients().Add(r);
  }
  // The pager dialog for the given events of an opened notification dialog.
  CPager* OpenPager(CEventNotification* n, std::initializer_list<int> events) {
    Press(n, events, &CEventNotification::OnPage);
    EXPECT_FALSE(pPager.get() == nullptr);
    return pPager.get();
  }
  std::vector<std::string> Names(KT_SCP& scp) {
    auto lock = scp.Lock();
    std::vector<std::string> out;
    for (const KT_PagerConfig& r : scp.notify.PagerRecipients().Entries())
      out.push_back(r.GetName().value_or(""));
    return out;
  }
  static void SelectRow(QListWidget* list, int row) { list->item(row)->setSelected(true); }
};

TEST_F(PagingTest, PagerChecksInOrderAndStoresOnlyWhatPasses) {
  AgentRecipients({Recipient("Amy", true), Recipient("Num", false)});
  QPointer<CEventNotification> n = OpenNotification();
  struct Case {
    const char* message;
    int row;  // -1: none selected
    const char* minutes;
    const char* seconds;
    const char* retries;
    const char* wait;
    const char* box;     // "" passes
    const char* record;  // of event 3 after OK, "" none
  };
  const Case kCases[] = {
      {"", 0, "0", "5", "2", "20", "Must provide message", ""},
      {"hello", -1, "0", "5", "2", "20", "Must select recipient", ""},
      {"hello", 0, "21", "5", "2", "20", "Delay minutes must be between 0 and 20", ""},
      {"hello", 0, "0", "", "2", "20", "Must select delay seconds", ""},
      {"hello", 0, "0", "60", "2", "20", "Delay seconds must be between 0 and 59", ""},
      {"hello", 0, "0", "5", "11", "20", "Number of retries must be between 0 and 10", ""},
      {"hello", 0, "0", "5", "2", "60", "Retry interval must be between 0 and 59 seconds", ""},
      // A blank is refused for the numeric pager before anything is stored.
      {"call 42", 1, "0", "5", "2", "20", "The Pager Message must only contain numeric characters", ""},
      {"555-42", 1, "0", "5", "2", "20", "", "5/0/2/555-42"},
      {"call 42", 0, "1", "5", "3", "", "", "65/0/1/call 42"},  // retries 3, empty wait: 20
      {"x", 0, "1", "", "0", "", "", "60/0/1/x"},               // retries 0, empty wait: 0
  };
  for (const Case& c : kCases) {
    {
      auto lock = gScp.Lock();
      gScp.notify.RemoveAction(KT_ActionEntry(3, ACTION_PAGE));
    }
    CPager* p = OpenPager(n, {3});
    ASSERT_EQ(p->Recipients()->count(), 2);
    p->Message()->setText(c.message);
    if (c.row >= 0) SelectRow(p->Recipients(), c.row);
    p->DelayMinutes()->setEditText(c.minutes);
    p->DelaySeconds()->setEditText(c.seconds);
    p->Retries()->setEditText(c.retries);
    p->RetrySeconds()->setEditText(c.wait);
    boxes.Clear();
    Click(p->Control(IDOK));
    EXPECT_EQ(Record(gScp, 3, ACTION_PAGE), c.record) << c.message << " " << c.box;
    if (*c.box != 0) {
      EXPECT_TRUE(boxes.Saw(c.box)) << c.box;
      ASSERT_TRUE(DialogIsOpen(p));
      p->DestroyWindow();
      QCoreApplication::processEvents();
    } else {
      EXPECT_EQ(boxes.Count(), 0) << c.message;
    }
    link.PumpIdle();
  }
  KT_ActionEntry e;
  {
    auto lock = gScp.Lock();
    ASSERT_TRUE(gScp.notify.FindAction(3, ACTION_PAGE, e));
  }
  EXPECT_EQ(e.retries, 0);
  EXPECT_EQ(e.option, 0);
  // Reopened for that single event, the dialog shows the record.
  CPager* p = OpenPager(n, {3});
  EXPECT_EQ(p->Message()->text(), "x");
  EXPECT_TRUE(p->Recipients()->item(0)->isSelected());
  EXPECT_FALSE(p->Recipients()->item(1)->isSelected());
  EXPECT_EQ(p->DelayMinutes()->currentText(), "1");
  Screenshot(p, "pager");
}

TEST_F(PagingTest, ResultsAndStatusesReadAsTheirTexts) {
  const std::pair<int, const char*> kResults[] = {
      {PAGE_SENT, ""},
      {PAGE_INTERRUPTED, "Operator interrupted session"},
      {PAGE_BUSY, "Error occurred\nError number: why"},
      {PAGE_PORT_UNAVAILABLE, "Error occurred during initialization\nError message: why"},
      {PAGE_BAD_SETTINGS, "Error occurred during initialization\nError message: why"},
      {20, "Error occurred while call was completing\nError message: why"},
      {PAGE_REJECTED, "Error occurred while call in progress\nError message: why"},
  };
  for (const auto& [result, text] : kResults) EXPECT_EQ(CPager::ResultMessage(result, "why"), text) << result;

  // The agent's status byte, read as signed.
  const std::pair<int, const char*> kStatuses[] = {
      {0, "Pager test complete. No Errors."},
      {255, "Pager test in progress. Please wait..."},
      {246, "There are no pagers configured!"},
      {247, "There are no actions configured for paging!"},
      {248, "The configured number of retries was exceeded!"},
      {251, "No modem found on COM port!"},
      {252, "The paging company refused the page!"},
  };
  QPointer<CTestPager> t = new CTestPager(nullptr, "localhost");
  for (const auto& [status, text] : kStatuses) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().commandBlock.SetValue(COMMAND_PAGER_TEST, status);
    }
    agent.MarkAllFresh();
    ASSERT_TRUE(link.PumpUntil([&] { return t->StatusShown() == text; }, 10000)) << status;
  }
  // An unknown status leaves the text.
  EXPECT_TRUE(CTestPager::StatusText(-11).isEmpty());
  Screenshot(t, "test_pager");
}

TEST_F(PagingTest, RecipientsKeepTheirSlotsAndPageActionsFollowThem) {
  AgentRecipients({Recipient("Zed", true), Recipient("Amy", true), Recipient("Kim", true)});
  AgentAdd(3, ACTION_PAGE, "on battery", 0x04);  // Kim
  {
    auto lock = agent.scp().Lock();
    agent.scp().config.Ports().Clear();
  }
  agent.MarkAllFresh();
  QPointer<CPagerConfig> c = new CPagerConfig(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !c->IsBusy(); }));
  // Opened on its own, it asks for the whole notification block.
  const std::vector<std::string> asked = Sent(link);
  EXPECT_NE(std::find(asked.begin(), asked.end(), "GET 5"), asked.end());
  ASSERT_EQ(c->Recipients()->topLevelItemCount(), 3);
  EXPECT_EQ(c->Recipients()->topLevelItem(0)->text(0), "Amy");  // rows sort by name
  // Another dialog's request for the whole block adds no row.
  c->OnNewData(4, 5, 0, 0);
  EXPECT_EQ(c->Recipients()->topLevelItemCount(), 3);

  c->Ports()->addItem("/dev/null");
  c->Ports()->setCurrentIndex(0);
  boxes.Clear();
  c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_NAME))->setText("Bob");
  c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_ACCESS_NUMBER))->setText("555-0101");
  c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_PIN))->setText("42");
  c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_MAX_CHARS))->setText("80");
  Click(c->Control(CPagerConfig::IDC_ADD));
  EXPECT_EQ(boxes.Count(), 0);
  ASSERT_EQ(c->Recipients()->topLevelItemCount(), 4);
  Screenshot(c, "pager_config");
  c->Recipients()->clearSelection();
  c->Recipients()->findItems("Amy", Qt::MatchExactly).front()->setSelected(true);
  Click(c->Control(CPagerConfig::IDC_DELETE));
  const size_t before = link.Sent().size();
  Click(c->Control(IDOK));
  ASSERT_TRUE(link.PumpIdle());
  const std::vector<std::string> sent = Sent(link);
  EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(before), sent.end()),
            std::vector<std::string>{"SET 5"});
  EXPECT_EQ(Names(agent.scp()), (std::vector<std::string>{"Zed", "Kim", "Bob"}));
  EXPECT_EQ(Record(agent.scp(), 3, ACTION_PAGE), "0/0/2/on battery");
}

TEST_F(PagingTest, RecipientEditorRefusesWhatTheRecordCannotHold) {
  {
    std::ofstream modems(File("modems.txt"), std::ios::binary);
    modems << "Hayes-ATZ\r\nUSR -  AT&F1\nno hyphen here\n"
           << "Long-" << std::string(400, 'X')
           << "\nVery long modem name beyond forty characters-AT\nLast-AT";
  }
  {
    auto lock = agent.scp().Lock();
    agent.scp().config.Ports().Clear();
  }
  agent.MarkAllFresh();
  QPointer<CPagerConfig> c = new CPagerConfig(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !c->IsBusy(); }));
  // No port list and type 15: the message, no "TAPI" and no COM names.
  EXPECT_TRUE(boxes.Saw("Unable to assemble list of available serial ports."));
  QStringList modems;
  for (int i = 0; i < c->Modems()->count(); ++i) modems << c->Modems()->itemText(i);
  const QString kLongName = "Very long modem name beyond forty characters";
  EXPECT_EQ(modems, (QStringList{"<Default Modem Settings>", "Hayes", "Last", "Long", "USR ", kLongName}));
  EXPECT_EQ(c->Modems()->itemData(modems.indexOf("USR ")).toString(), " AT&F1");
  EXPECT_EQ(c->Modems()->itemData(modems.indexOf("Long")).toString().size(), 255 - 5);

  c->Ports()->addItem("/dev/null");
  auto* name = c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_NAME));
  auto* access = c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_ACCESS_NUMBER));
  auto* pin = c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_PIN));
  auto* maxChars = c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_MAX_CHARS));
  auto* delay = c->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_DELAY));
  auto* tap = c->findChild<QCheckBox*>(ControlName(CPagerConfig::IDC_TAP));
  struct Case {
    const char* name;
    const char* access;
    const char* pin;
    const char* maxChars;
    const char* delay;
    bool tap;
    int modem;  // -1 keeps
    const char* box;
  };
  const Case kCases[] = {
      {"", "1", "1", "5", "", true, -1, "Please provide name of recipient."},
      {"Ann", "", "1", "5", "", true, -1, "Please enter access number."},
      {"Ann", "1", "1", "0", "", true, -1, "Maximum Characters per Message Block must be greater than 0"},
      {"Ann", "1", "12a", "5", "", true, -1, "The Pager Pin Number must only contain numeric characters."},
      {"Ann", "1", "", "5", "0", false, -1, "Delay Seconds must be greater than 0."},
      // The modem name beyond what a recipient holds is named, and nobody is added.
      {"Ann", "1", "", "5", "3", false, static_cast<int>(modems.indexOf(kLongName)), "The Modem \"Very long"},
  };
  for (const Case& k : kCases) {
    boxes.Clear();
    name->setText(k.name);
    access->setText(k.access);
    pin->setText(k.pin);
    maxChars->setText(k.maxChars);
    delay->setText(k.delay);
    tap->setChecked(k.tap);
    if (k.modem >= 0) c->Modems()->setCurrentIndex(k.modem);
    Click(c->Control(CPagerConfig::IDC_ADD));
    EXPECT_TRUE(boxes.Saw(k.box)) << k.box;
    EXPECT_EQ(c->Recipients()->topLevelItemCount(), 0) << k.box;
  }
}

TEST_F(PagingTest, BaudCodesAreTheAgentsAndTwoHaveNoBoxEntry) {
  const struct {
    int code;
    const char* text;
    int position;
  } kCases[] = {{0, "300", 0},   {5, "9600", 5},   {6, "19200", 7}, {7, "38400", -1},
                {8, "14400", 6}, {9, "28800", -1}, {200, "300", 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(CPagerConfig::GetBaudRateString(c.code), c.text);
    EXPECT_EQ(CPagerConfig::PositionOfBaudIndex(c.code), c.position) << c.code;
    if (c.position >= 0 && c.code <= 9) {
      EXPECT_EQ(CPagerConfig::BaudIndexOfPosition(c.position), c.code);
    }
    // The agent reads the same speed for it.
    EXPECT_EQ(CPagerConfig::GetBaudRateString(c.code), PagerBaudText(c.code));
  }
}

TEST_F(PagingTest, TestPageReachesThePagerSimulatorAndReportsFailures) {
  testing_support::SimulatedUps sim("pager");
  ASSERT_TRUE(sim.ok()) << sim.error();
  AgentRecipients({Recipient("Tap", true, sim.device()), Recipient("Num", false, sim.device()),
                   Recipient("Gone", true, File("no-such-port"))});
  QPointer<CEventNotification> n = OpenNotification();
  CPager* p = OpenPager(n, {3});
  p->Message()->setText("555-42");
  SelectRow(p->Recipients(), 0);
  SelectRow(p->Recipients(), 1);
  Click(p->Control(CPager::IDC_TEST));
  EXPECT_EQ(boxes.Count(), 0) << (boxes.Count() ? boxes.Boxes().front().text.toStdString() : "");
  // Test stores the records as OK would.
  EXPECT_EQ(Record(gScp, 3, ACTION_PAGE), "0/0/3/555-42");
  EXPECT_EQ(sim.Entries("PAGE"), (std::vector<std::string>{"TAP 123456 555-42", "NUMERIC 5550100 55542"}));

  const struct {
    const char* sim;
    const char* undo;
    int row;
    const char* box;
  } kFailures[] = {
      {"busy on", "busy off", 0, "Error occurred\nError number: number busy"},
      {nullptr, nullptr, 2, "Error occurred during initialization\nError message: the port cannot be opened"},
  };
  for (const auto& f : kFailures) {
    if (f.sim) {
      ASSERT_TRUE(sim.Do(f.sim));
    }
    boxes.Clear();
    p->Recipients()->clearSelection();
    SelectRow(p->Recipients(), f.row);
    Click(p->Control(CPager::IDC_TEST));
    EXPECT_TRUE(boxes.Saw(f.box)) << f.box;
    if (f.undo) {
      ASSERT_TRUE(sim.Do(f.undo));
    }
  }

  // Cancel in the progress window raises the link's stop flag.
  CPager::SetPageSender([](const KT_PageCall& call, const std::atomic<bool>& stop, std::string* text) {
    for (int i = 0; i < 1000 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KT_PageLink link;
    link.SetStopFlag(&stop);
    return link.Send(call, text);
  });
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, p, [p] {
    auto* progress = p->findChild<QProgressDialog*>("pagerTestProgress");
    if (progress != nullptr && progress->isVisible()) progress->cancel();
  });
  canceller.start(20);
  boxes.Clear();
  Click(p->Control(CPager::IDC_TEST));
  EXPECT_TRUE(boxes.Saw("Operator interrupted session"));
  EXPECT_EQ(sim.Entries("PAGE").size(), 2u);
}

}  // namespace
