// The changes a call console's dialog sends, against a real VigilNT on the simulated BCM UPS:
// every settings dialog of the index table, opened as Pommet opens it (RemoteCallApp with the
// real worker), is changed and confirmed with OK; the program ends only once the agent has
// answered the SETs, and the agent's files hold the change. Once over the local channel and
// once over UDP, one agent for all the dialogs of a mode. Then the exit status of a change the
// agent refuses or never answers, and a console that follows another on the local channel.
#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "console/comm/communication.h"
#include "console/pommet/call_dialogs.h"
#include "core/network/ipc.h"
#include "core/scp/battery_info_block.h"
#include "core/scp/config_block.h"
#include "core/scp/notify_block.h"
#include "core/scp/sched_shutdown_block.h"
#include "core/scp/scp_frame.h"
#include "dialogs/agent_commands/password_dlg.h"
#include "dialogs/battery_test/battery_test.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/information/battery_info.h"
#include "dialogs/information/network_manager.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/serial_device_config.h"
#include "dialogs/information/ups_configuration.h"
#include "dialogs/information/ups_info_dlg.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/notification/execute_command.h"
#include "dialogs/paging/pager_config.h"
#include "dialogs/schedule/enter_password_dlg.h"
#include "dialogs/schedule/sched_shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_page.h"
#include "dialogs/shutdown/shutdown_ups_page.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/console/pommet/call_console_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using console_test::PumpUntil;
using testing_support::SimulatedUps;

constexpr int kBoundMs = 60000;
constexpr const char* kCommand = "/bin/true pommet";

template <class T>
T* Child(QWidget* d, int id) {
  return d->findChild<T*>(ControlName(id));
}
void Click(QWidget* d, int id) {
  Child<QAbstractButton>(d, id)->click();
}
void SetText(QWidget* d, int id, const char* text) {
  Child<QLineEdit>(d, id)->setText(QString::fromUtf8(text));
}

// Answers the modal password box of the scheduled shutdowns once it shows.
void EnterPasswordSoon(const char* password) {
  QTimer::singleShot(0, [password] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* p = qobject_cast<EnterPasswordDlg*>(w); p != nullptr && p->isVisible()) {
        SetText(p, IDC_ENTER_PASSWORD, password);
        Click(p, IDOK);
      }
    }
  });
}

// What the agent's files hold, read again until it holds what is asked (bounded).
struct AgentFiles {
  const AgentProcess& vigil;
  bool Config(const std::function<bool(ConfigBlock&)>& holds) const {
    return AgentProcess::WaitFor(
        [&] {
          ConfigBlock c;
          return ReadConfigFile(vigil.File("config.dat"), c) && holds(c);
        },
        10000);
  }
  bool Notify(const std::function<bool(const NotifyBlock&)>& holds) const {
    return AgentProcess::WaitFor(
        [&] {
          NotifyBlock n;
          return ReadBlockFile(vigil.File("notify.dat"), n) && holds(n);
        },
        10000);
  }
  template <class B>
  bool Block(const char* file, const std::function<bool(const B&)>& holds) const {
    return AgentProcess::WaitFor(
        [&] {
          B b;
          return ReadBlockFile(vigil.File(file), b) && holds(b);
        },
        10000);
  }
};

// One settings dialog: the change its user makes (ending with OK), the SETs its OK sends as
// "block, branch", and whether the agent holds the change.
struct ChangeRow {
  int index;
  std::vector<std::string> sets;
  std::function<void(KTDialog*)> change;
  std::function<bool(const AgentFiles&, SimulatedUps&)> stored;
};

std::vector<ChangeRow> ChangeRows() {
  using C = ConfigBlock&;
  using N = const NotifyBlock&;
  return {
      {3,
       {"5, branch 0", "4, branch 2", "4, branch 9"},
       [](KTDialog* d) {
         // The wait before the shutdown, on the time line's first page.
         Click(d, IDC_TIMELINE_CONFIGURE);
         ShutdownPage* page = ShutdownPage::OpenPage(ShutdownPageId::Ups);
         ASSERT_NE(page, nullptr);
         SetText(page, IDC_UPS_START, "4");
         Click(page, IDOK);
         ASSERT_EQ(ShutdownPage::OpenPage(ShutdownPageId::Ups), nullptr);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.GetShutdownStartDelay() == 4; });
       }},
      {4,
       {"5, branch 0"},
       [](KTDialog* d) {
         auto* n = static_cast<CEventNotification*>(d);
         ASSERT_GT(n->Events()->count(), 0);
         n->Events()->clearSelection();
         n->Events()->item(0)->setSelected(true);
         n->OnExecuteCmd();
         ASSERT_TRUE(pExecuteCommand != nullptr);
         pExecuteCommand->Command()->setText(QString::fromUtf8(kCommand));
         Click(pExecuteCommand, IDOK);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Notify([](N n) {
           for (const KT_ActionEntry& a : n.Actions())
             if (a.action == ACTION_COMMAND && a.GetMessage() == std::optional<std::string>(kCommand))
               return true;
           return false;
         });
       }},
      {6,
       {"5, branch 4"},
       [](KTDialog* d) {
         static_cast<CNetworkManager*>(d)->AddSNMP(QStringLiteral("127.0.0.9"), QStringLiteral("public"));
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Notify([](N n) {
           NetworkManagerEntry e;
           return n.TrapReceivers().GetBySlot(0, e) > 0 && e.hostName == "127.0.0.9";
         });
       }},
      {7,
       {"5, branch 3"},
       [](KTDialog* d) {
         SetText(d, CEMailConfig::IDC_NAME1, "Operations");
         SetText(d, CEMailConfig::IDC_ADDRESS1, "ops@example.org");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Notify([](N n) {
           return n.MailRecipients().GetRecipient(1) == std::optional<std::string>("Operations");
         });
       }},
      {8,
       {"5, branch 5"},
       [](KTDialog* d) {
         auto* p = static_cast<CPagerConfig*>(d);
         const auto amy = p->Recipients()->findItems("Amy", Qt::MatchExactly);
         ASSERT_EQ(amy.size(), 1);
         amy.front()->setSelected(true);
         Click(d, CPagerConfig::IDC_DELETE);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Notify([](N n) { return n.PagerRecipients().GetNames(0xFF) == "Zed, Kim"; });
       }},
      {9,
       {"4, branch 5"},
       [](KTDialog* d) {
         static_cast<CEventLogConfig*>(d)->MaxEntries()->setText("50");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.GetEventLogSize() == 50; });
       }},
      {10,
       {"4, branch 3"},
       [](KTDialog* d) {
         Click(d, CUpsConfiguration::IDC_ALARM_OFF);
         Click(d, IDOK);
       },
       // The UPS keeps its options itself.
       [](const AgentFiles&, SimulatedUps& ups) {
         return ups.WaitForLog("ACTION audible alarm set to 0", 0, 10000);
       }},
      {11,
       {"4, branch 10"},
       [](KTDialog* d) {
         auto* list = Child<QTreeWidget>(d, IDC_NC_LIST);
         ASSERT_EQ(list->topLevelItemCount(), 1);
         list->topLevelItem(0)->setSelected(true);
         Click(d, IDC_NC_DELETE);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.ScheduledShutdownClients().Count() == 0; });
       }},
      {12,
       {"4, branch 4"},
       [](KTDialog* d) {
         SetText(d, CUpsInfoDlg::IDC_LOCATION, "Rack 9");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.GetLocation() == std::optional<std::string>("Rack 9"); });
       }},
      {13,
       {"26, branch 1"},
       [](KTDialog* d) {
         SetText(d, CBatteryInfo::IDC_REPLACED_DATE, "03/04/24");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Block<BatteryInfoBlock>("bat_info.dat", [](const BatteryInfoBlock& b) {
           return b.GetReplacedDate() == std::optional<std::string>("03/04/24");
         });
       }},
      {18,
       {"24, branch 1"},
       [](KTDialog* d) {
         // Next year at the shown time; the agent's own password guards the table.
         auto* year = Child<QComboBox>(d, IDC_SCHED_START_YEAR);
         year->setCurrentIndex(1);
         emit year->activated(1);
         Click(d, IDC_SCHED_ADD);
         ASSERT_EQ(static_cast<CSchedShutdownDlg*>(d)->Rows().size(), 1u);
         EnterPasswordSoon(KT_Password::kDefaultPassword);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Block<SchedShutdownBlock>("sch_shut.dat", [](const SchedShutdownBlock& b) {
           const schedule_struct* entries = nullptr;
           return b.GetEntries(entries) == 1;
         });
       }},
      {19,
       {"25, branch 1", "4, branch 6"},
       [](KTDialog* d) {
         SetText(d, IDC_TEST_MAX_ENTRIES, "40");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.GetBatteryLogSize() == 40; });
       }},
      // The password changes after the scheduled shutdowns, which ask for the old one.
      {5,
       {"4, branch 8"},
       [](KTDialog* d) {
         SetText(d, IDC_OLD_PASSWORD, KT_Password::kDefaultPassword);
         SetText(d, IDC_NEW_PASSWORD, "Rose9");
         SetText(d, IDC_CONFIRM_PASSWORD, "Rose9");
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.Password().Check("Rose9") == 1; });
       }},
      // Last: its port settings go to the agent too.
      {2,
       {"4, branch 13", "4, branch 1"},
       [](KTDialog* d) {
         Child<QCheckBox>(d, CSerialDeviceConfig::IDC_NO_LOOPBACK)->setChecked(true);
         Click(d, IDOK);
       },
       [](const AgentFiles& f, SimulatedUps&) {
         return f.Config([](C c) { return c.GetNoLoopbackTest() == 1; });
       }},
  };
}

class PommetChangesTest : public call_console_test::CallConsoleTest {
 protected:
  void SetUp() override {
    CallConsoleTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  }
  void TearDown() override {
    KT_SCPBase::SetCommTimeout(KT_SCPBase::kDefaultCommTimeout);
    CallConsoleTest::TearDown();
  }
  // The agent, with the pager recipients Zed, Amy and Kim and the default event and action
  // maps in its notify.dat: on the simulated BCM UPS, ready once it has set the UPS's options,
  // or idle (it reads no UPS, and answers at once).
  bool StartAgent(bool onUps, std::string& why) {
    NotifyBlock prepared;
    prepared.SetDefaultSupport(SUPPORT_EVENTS);
    prepared.SetDefaultSupport(SUPPORT_ACTIONS);
    for (const char* name : {"Zed", "Amy", "Kim"})
      prepared.PagerRecipients().Add(TestPagerRecipient(name, "/dev/ttyS0"));
    if (!WriteBlockFile(vigil.File("notify.dat"), prepared)) return why = "notify.dat", false;
    if (onUps && !ups.ok()) return why = ups.error(), false;
    const std::vector<std::string> args = onUps ? std::vector<std::string>{"-b", "-d", ups.device()}
                                                : std::vector<std::string>{"-b", "-x", "5"};
    if (!vigil.Start(args, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}))
      return why = "VigilNT did not start", false;
    if (!vigil.WaitForTrace({"NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"}, 120000) ||
        (onUps && (!vigil.WaitForTrace({"Inside SERIAL thread"}, 120000) ||
                   !ups.WaitForLog("ACTION low-battery warning set to", 0, 60000))))
      return why = vigil.TraceDump(), false;
    return true;
  }
  // The console's worker, with short UDP waits.
  static ExecWorkerFactory ShortWaits() {
    return [](CommNoticeRelay& relay) {
      auto worker = std::make_unique<CommunicationWorker>(relay);
      worker->Thread().SetReceiveWaits(100, 100);
      return worker;
    };
  }
  // Opens the dialog of the index as Pommet does and waits until it has what it asked for:
  // nothing queued, no reply awaited, three turns running (a handled reply may ask again).
  KTDialog* Open(const std::vector<std::string>& args) {
    RemoteCallApp& a = Start(args, true, ShortWaits());
    if (!started) return nullptr;
    a.OnIdle();
    if (!a.DialogOpened()) return nullptr;
    QPointer<KTDialog> d = FindCallDialog(a.DialogIndex())->pointer->dialog();
    int quiet = 0;
    const bool filled = PumpUntil(
        [&] {
          bool idle;
          {
            ScpQueueLock lock;
            idle = !d.isNull() && gScp.requestTable.GetCount() == 0 && !d->IsBusy();
          }
          quiet = idle ? quiet + 1 : 0;
          return quiet >= 3;
        },
        kBoundMs);
    return filled ? d.data() : nullptr;
  }
  // One scheduled-shutdown client for the agent, as a console sends it.
  bool GiveTheAgentAClient() {
    KT_Address address(ADDRESS_IP);
    address.SetHostName("127.0.0.2");
    address.SetIpAddress(htonl(0x7F000002));
    {
      auto lock = gScp.Lock();
      gScp.config.ScheduledShutdownClients().Clear();
      if (!gScp.config.ScheduledShutdownClients().Add(address, "4Tulip", 1, 0, 2)) return false;
      gScp.config.Branches().Touch(10);
    }
    {
      KT_HostControl writer;
      gHosts.ResetHosts();
      KT_Address agentAddress(ADDRESS_IP);
      agentAddress.SetHostName("localhost");
      agentAddress.SetIpAddress(htonl(INADDR_LOOPBACK));
      agentAddress.SetPort(htons(kScpUdpPort));
      gHosts.AddHost(agentAddress);
    }
    trem_harness::UdpAgent udp;
    std::string error;
    if (!udp.Open(error, "127.0.0.1")) return false;
    trem_harness::AgentLink real(udp);
    if (SendCommandTo(nullptr, RequestTarget{QString(), QStringLiteral("localhost"), {}}, BLOCK_CONFIG, 10,
                      0) != 1)
      return false;
    real.PumpIdle(10000);
    gDiscover.Close();
    return AgentFiles{vigil}.Config([](ConfigBlock& c) { return c.ScheduledShutdownClients().Count() == 1; });
  }
  // The settings dialogs of the indexes (all: none given) in the mode, against the agent on
  // the UPS or an idle one: changed, confirmed, and held by the agent.
  void ChangesReachTheAgent(const std::vector<std::string>& modeArgs, bool onUps,
                            const std::set<int>& indexes = {}) {
    std::string why;
    ASSERT_TRUE(StartAgent(onUps, why)) << why;
    if (indexes.empty() || indexes.count(11) > 0) {
      ASSERT_TRUE(GiveTheAgentAClient()) << vigil.TraceDump();
    }
    for (const ChangeRow& row : ChangeRows()) {
      if (!indexes.empty() && indexes.count(row.index) == 0) continue;
      SCOPED_TRACE("e:" + std::to_string(row.index));
      std::vector<std::string> args = {"e:" + std::to_string(row.index)};
      args.insert(args.end(), modeArgs.begin(), modeArgs.end());
      boxes.Clear();
      KTDialog* d = Open(args);
      ASSERT_NE(d, nullptr) << vigil.TraceDump();
      const std::string before = vigil.Stderr();
      row.change(d);
      if (HasFatalFailure()) return;
      // Pommet's own end: the loop runs until the answers are in.
      EXPECT_EQ(app->Run(), 0);
      EXPECT_FALSE(app->ChangesLost());
      const std::string after = vigil.Stderr().substr(before.size());
      for (const std::string& set : row.sets) {
        EXPECT_TRUE(Contains(after, "Adding SCP_SET block " + set)) << set << "\n" << vigil.TraceDump();
      }
      EXPECT_TRUE(app->ExitInstance());
      EXPECT_TRUE(row.stored(AgentFiles{vigil}, ups)) << vigil.TraceDump();
      for (const auto& box : boxes.Boxes()) {
        EXPECT_FALSE(box.text.startsWith("SCP Status")) << box.text.toStdString();
      }
      Finish();
    }
  }

  SimulatedUps ups{"bcm"};
  AgentProcess vigil;
};

// The local channel takes one request a turn of the agent's local thread (1.5 s), so its
// dialogs are shared among three agents: the dialogs that need a UPS behind the agent, and
// the others, against idle agents.
const std::vector<std::string> kLocal = {"c:3"};

TEST_F(PommetChangesTest, ChangesOfTheUpsDialogsReachTheAgentOverTheLocalChannel) {
  ChangesReachTheAgent(kLocal, true, {3, 10, 19, 2});
}

TEST_F(PommetChangesTest, NotificationChangesReachTheAgentOverTheLocalChannel) {
  ChangesReachTheAgent(kLocal, false, {4, 6, 7, 8, 9});
}

TEST_F(PommetChangesTest, InformationScheduleAndPasswordChangesReachTheAgentOverTheLocalChannel) {
  ChangesReachTheAgent(kLocal, false, {11, 12, 13, 18, 5});
}

TEST_F(PommetChangesTest, EverySettingsDialogsChangeReachesTheAgentOverUdp) {
  ChangesReachTheAgent({"c:0", "h:127.0.0.1"}, true);
}

// A change the agent does not take, or never answers, ends the program with status 1 and is
// said on standard error; the wait for an answer lasts the worker's time-out for a silent
// agent (2 s here).
TEST_F(PommetChangesTest, ARefusedOrUnansweredChangeEndsWithStatusOneAndIsSaid) {
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
  ASSERT_TRUE(vigil.WaitForTrace({"NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"}, kBoundMs))
      << vigil.TraceDump();
  struct Row {
    std::vector<std::string> args;
    bool answered;     // the agent runs, but cannot keep the change (its config.dat is a folder)
    const char* said;  // on standard error
  };
  const char* refused = "Pommet: the agent did not take the change of 4,4,0: Set Failed\n";
  const char* unanswered = "Pommet: the agent did not answer the change of 4,4,0\n";
  const std::vector<Row> rows = {
      {{"e:12", "c:3"}, true, refused},
      {{"e:12", "c:0", "h:127.0.0.1"}, true, refused},
      {{"e:12", "c:3"}, false, unanswered},
      {{"e:12", "c:0", "h:127.0.0.1"}, false, unanswered},
  };
  const std::filesystem::path config = vigil.File("config.dat");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[1] + (row.answered ? ", refused" : ", not answered"));
    std::filesystem::remove_all(config);
    if (row.answered) std::filesystem::create_directory(config);
    boxes.Clear();
    KTDialog* d = Open(row.args);
    ASSERT_NE(d, nullptr) << vigil.TraceDump();
    SetText(d, CUpsInfoDlg::IDC_LOCATION, "Rack 4");
    if (!row.answered) {
      KT_SCPBase::SetCommTimeout(2);
      vigil.Signal(SIGSTOP);
    }
    testing::internal::CaptureStderr();
    Click(d, IDOK);
    EXPECT_EQ(app->Run(), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    if (!row.answered) {
      vigil.Signal(SIGCONT);
      KT_SCPBase::SetCommTimeout(KT_SCPBase::kDefaultCommTimeout);
    }
    EXPECT_TRUE(app->ChangesLost());
    EXPECT_EQ(said, row.said);
    EXPECT_EQ(boxes.Saw(QStringLiteral("SCP Status: FieldAddress=4,4,0 - Set Failed")), row.answered);
    EXPECT_TRUE(app->ExitInstance());
    Finish();
  }
}

// A console on the local channel after one that has ended: what the earlier one left there,
// its last answer or its last request (answered only while the next console runs), is not
// taken for the next console's own, which shows the agent's stored battery information at its
// first open.
TEST_F(PommetChangesTest, ALocalConsoleTakesNoReplyLeftByAnEarlierOne) {
  BatteryInfoBlock stored;
  stored.SetResetTime(1700000000);
  stored.SetOutageCount(2);
  stored.SetOnBatterySeconds(16);
  stored.SetReplacedDate("01/02/23");
  ASSERT_TRUE(WriteBlockFile(vigil.File("bat_info.dat"), stored));
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE"}, kBoundMs)) << vigil.TraceDump();
  // The earlier console's last request: the battery information sent back, as its OK sends it.
  std::vector<uint8_t> set;
  ASSERT_GE(stored.ConvertMessage(set, KT_ScpMessage(SCP_GET, {BatteryInfoBlock::kBlockId, 1})), 0);
  ASSERT_GT(set.size(), 4u);
  set[3] = SCP_SET;
  auto value = [](const ReportList* list, int label) {
    for (int row = 0; row < list->RowCount(); ++row) {
      if (list->Text(row, 0) == LoadString(label)) return list->Text(row, 1).toStdString();
    }
    return std::string("(none)");
  };
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered ? "its answer waits" : "its request waits");
    {
      KT_IPC earlier;
      ASSERT_EQ(earlier.Open(kIpcConsoleRole), 1);
      ASSERT_EQ(earlier.Send(nullptr, set), 1);
      if (answered) {
        ASSERT_TRUE(AgentProcess::WaitFor([&] { return earlier.IsDataReady(); }, kBoundMs));
      }
    }
    {
      auto lock = gScp.Lock();
      gScp.batteryInfo.Reset();
    }
    boxes.Clear();
    auto* info = static_cast<CBatteryInfo*>(Open({"e:13", "c:3"}));
    ASSERT_NE(info, nullptr) << vigil.TraceDump();
    EXPECT_EQ(value(info->List(), 3252), "2");
    EXPECT_EQ(value(info->List(), 3253), "16 seconds");
    EXPECT_EQ(Child<QLineEdit>(info, CBatteryInfo::IDC_REPLACED_DATE)->text(), QStringLiteral("01/02/23"));
    EXPECT_EQ(boxes.Count(), 0);
    Screenshot(info, answered ? "battery_info_after_an_answer_left" : "battery_info_after_a_request_left");
    Finish();
  }
}

}  // namespace
