// The call console in the test process: the start-up by command line, the dialog of every
// index, the refusal beside another console of the local channel, a worker's critical error,
// and the real worker against a real VigilNT (local channel and UDP) and against no agent.
#include "console/pommet/remote_call_app.h"

#include <arpa/inet.h>

#include <QImage>
#include <QPointer>
#include <QTreeWidget>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "console/comm/communication.h"
#include "console/pommet/call_dialogs.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/meters/meters.h"
#include "dialogs/mimic/mimic.h"
#include "dialogs/widgets/gauge.h"
#include "platform/name_resolver.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/console/comm_test_support.h"
#include "tests/console/pommet/call_console_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using call_console_test::LinkWorker;
using console_test::PumpUntil;

// Knows no name but this computer's, so that no lookup leaves the machine.
class NoNamesResolver : public platform::NameResolver {
 public:
  NoNamesResolver() { platform::SetNameResolver(this); }
  ~NoNamesResolver() override { platform::SetNameResolver(nullptr); }
  bool AddressOf(const std::string&, uint32_t&) override { return false; }
  bool NameOf(uint32_t, std::string&) override { return false; }
  bool LocalHostName(std::string& name) override {
    name = "deskbox";
    return true;
  }
};

class RemoteCallAppTest : public call_console_test::CallConsoleTest {};

TEST_F(RemoteCallAppTest, EveryIndexBuildsItsClassForTheHostAndClosingItEndsTheProgram) {
  // Some dialogs search the network for agents when they open.
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  agent.MarkAllFresh();
  ASSERT_EQ(CallDialogs().size(), 26u);
  for (const CallDialog& entry : CallDialogs()) {
    SCOPED_TRACE(entry.className);
    RemoteCallApp& a = Start({"e:" + std::to_string(entry.index), "c:0", "h:localhost"});
    ASSERT_TRUE(started);
    EXPECT_FALSE(*entry.pointer);  // the window cleared it
    a.OnIdle();
    EXPECT_FALSE(a.StartFlag());
    ASSERT_TRUE(*entry.pointer);
    KTDialog* dialog = entry.pointer->dialog();
    EXPECT_STREQ(dialog->metaObject()->className(), entry.className);
    EXPECT_EQ(dialog->parentWidget(), nullptr);
    EXPECT_EQ(dialog->HostName(), QStringLiteral("localhost"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(static_cast<LinkWorker*>(a.Window()->Worker())->started);
    // Until the dialog's requests are answered; the meters ask again for as long as they are open.
    if (entry.index == 14) {
      link.PumpUntil([] { return pMeters && !pMeters->IsBusy(); }, 5000);
    } else {
      link.PumpIdle(5000);
    }
    // The program's own first request: the UPS information of host 1.
    ASSERT_FALSE(link.Sent().empty());
    EXPECT_EQ(trem_harness::DescribeMessage(link.Sent().front()), "GET 2") << entry.className;
    EXPECT_EQ(agent.Hosts().front(), 1);
    // Open, the dialog holds the program; closed (the network adapter manager closes at once
    // without a MIB file), it ends it.
    a.OnIdle();
    EXPECT_EQ(a.QuitPosted(), !*entry.pointer);
    a.CloseDialog();
    ASSERT_TRUE(TicksUntilQuit(5000));
    EXPECT_FALSE(*entry.pointer);
    EXPECT_EQ(a.ExitCode(), 0);
    agent.ClearReceived();
    Finish();
  }
}

struct StartRow {
  std::vector<std::string> args;
  int mode;
  std::optional<int> hostType;  // nullopt: no host entered
  const char* hostName;         // the dialog's host name (and the host's, but in mode 1)
  const char* className;        // the dialog opened; null: none
  const char* box;              // the box the end shows; null: none
  std::array<uint8_t, 6> node = {};
  uint32_t ipxNetwork = 0;
  uint16_t ipxSocket = 0;
  const char* read = "";
  const char* write = "";
};

TEST_F(RemoteCallAppTest, CommandLineChoosesModeHostAndDialog) {
  NoNamesResolver resolver;
  const std::string cut20 = "e:00000000000000000014";  // 20 digits: the 19 left say 1
  const std::vector<StartRow> rows = {
      {{"e:14", "c:0", "h:ups1", "g:public", "s:private"},
       0,
       ADDRESS_IP,
       "ups1",
       "CMeters",
       nullptr,
       {},
       0,
       0,
       "public",
       "private"},
      {{"e:16", "c:2", "h:adapter1"}, 2, ADDRESS_SNMP, "adapter1", "CMimic", nullptr},
      {{"e:14", "c:3"}, 3, ADDRESS_SNMP, "deskbox", "CMeters", nullptr},
      {{"e:14", "c:7", "h:ups2"}, 3, ADDRESS_SNMP, "ups2", "CMeters", nullptr},
      {{"e:14", "c:1", "i:1193046", "m:00a0C9fF1e02", "p:34952"},
       1,
       ADDRESS_IPX,
       "",
       "CMeters",
       nullptr,
       {0x00, 0xA0, 0xC9, 0xFF, 0x1E, 0x02},
       1193046,
       34952},
      {{"e:14", "c:1", "i:5", "m:00a0C9fF1e0", "p:7"}, 1, ADDRESS_IPX, "", "CMeters", nullptr, {}, 5, 7},
      {{"e:14", "c:1", "m:00a0C9fF1e023"}, 1, ADDRESS_IPX, "", "CMeters", nullptr},
      {{"e:14", "c:1", "h:server7", "i:5", "p:7"}, 1, ADDRESS_IPX, "server7", "CMeters", nullptr},
      {{cut20, "c:0", "h:ups1"}, 0, ADDRESS_IP, "ups1", "CEventLogDisplay", nullptr},
      {{"e:30", "c:0", "h:ups1"}, 0, ADDRESS_IP, "ups1", nullptr, "ERROR: Invalid dialog specified"},
      {{"e", "c:0", "h:ups1"}, 0, ADDRESS_IP, "ups1", nullptr, "ERROR: Invalid dialog specified"},
      {{"c:0", "h:ups1"}, 0, ADDRESS_IP, "ups1", nullptr, "ERROR: Invalid dialog specified"},
      {{"e:14", "c:4", "h:ups1"}, 4, std::nullopt, "ups1", nullptr, nullptr},
      {{"e:14", "c:5"}, 5, std::nullopt, "", nullptr, nullptr},
  };
  for (const StartRow& row : rows) {
    std::string joined;
    for (const std::string& a : row.args) joined += a + " ";
    SCOPED_TRACE(joined);
    boxes.Clear();
    RemoteCallApp& a = Start(row.args);
    ASSERT_TRUE(started);
    EXPECT_EQ(gnCommMode, row.mode);
    if (row.className == nullptr) {
      // The program runs its ticks by itself and ends.
      EXPECT_EQ(a.Run(), 1);
    } else {
      a.OnIdle();
    }
    EXPECT_EQ(gcsMessageBoxTitle, QStringLiteral("Tremona\u00AE Pommet"));
    {
      KT_HostControl reader(0);
      HostEntry* host = gHosts.GetFirstHost();
      ASSERT_EQ(host != nullptr, row.hostType.has_value());
      if (host != nullptr) {
        KT_Address& address = host->Address();
        EXPECT_EQ(gHosts.GetHostCount(), 1);
        EXPECT_EQ(host->GetHostIndex(), 1);
        EXPECT_EQ(address.GetType(), *row.hostType);
        const char* stored = address.StoredHostName();
        if (row.mode != 1) {
          EXPECT_STREQ(stored != nullptr ? stored : "", row.hostName);
        }
        if (row.mode == 1) {
          EXPECT_EQ(address.GetIpAddress(), htonl(row.ipxNetwork));
          EXPECT_EQ(address.GetPort(), htons(row.ipxSocket));
          EXPECT_EQ(0, std::memcmp(address.Node(), row.node.data(), 6));
        } else {
          EXPECT_EQ(address.GetPort(), htons(kScpUdpPort));
          EXPECT_STREQ(address.GetReadCommunity(), row.read);
          EXPECT_STREQ(address.GetWriteCommunity(), row.write);
        }
      }
    }
    EXPECT_EQ(a.HostName(), row.hostName);
    if (row.className != nullptr) {
      ASSERT_TRUE(a.DialogOpened());
      const CallDialog* entry = FindCallDialog(a.DialogIndex());
      ASSERT_NE(entry, nullptr);
      EXPECT_STREQ(entry->pointer->dialog()->metaObject()->className(), row.className);
      EXPECT_EQ(entry->pointer->dialog()->HostName().toStdString(), row.hostName);
      EXPECT_EQ(gScp.requestTable.GetCount() > 0, true);  // at least the UPS information
      a.CloseDialog();
      ASSERT_TRUE(TicksUntilQuit(5000));
      EXPECT_EQ(a.ExitCode(), 0);
    } else {
      EXPECT_FALSE(a.DialogOpened());
      EXPECT_TRUE(a.QuitPosted());
    }
    const std::vector<ScriptedMessageBoxes::Box> shown = boxes.Boxes();
    if (row.box == nullptr) {
      EXPECT_EQ(shown.size(), 0u) << (shown.empty() ? "" : shown.front().text.toStdString());
    } else {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text.toStdString(), row.box);
      EXPECT_EQ(shown[0].caption, QStringLiteral("Tremona\u00AE Pommet"));
    }
    Finish();
  }
}

TEST_F(RemoteCallAppTest, OnlyOneConsoleUsesTheLocalChannel) {
  console::GuiRunningMapping other;  // another console holds the local channel
  ASSERT_TRUE(other.Take());
  RemoteCallApp& refused = Start({"e:14", "c:3"});
  EXPECT_FALSE(started);
  EXPECT_EQ(refused.ExitCode(), 1);
  EXPECT_EQ(refused.Window(), nullptr);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, QStringLiteral("Tremona is already running.\n"));
  EXPECT_EQ(boxes.Boxes()[0].caption, QStringLiteral("Tremona\u00AE Pommet"));
  // Other modes do not need the channel.
  Start({"e:14", "c:0", "h:ups1"});
  EXPECT_TRUE(started);
  // Once the other has gone, a call console in mode 3 holds the channel itself.
  other.Release();
  Start({"e:14", "c:3"});
  EXPECT_TRUE(started);
  EXPECT_FALSE(other.Take());
}

TEST_F(RemoteCallAppTest, AWorkersCriticalErrorEndsTheProgramWithStatusOne) {
  RemoteCallApp& a = Start({"e:14", "c:0", "h:ups1"});
  ASSERT_TRUE(started);
  a.OnIdle();
  ASSERT_TRUE(a.DialogOpened());
  a.Window()->Relay().PostBox(QStringLiteral("(CCommunication::Send): Could not wait on SCP mutex."),
                              QStringLiteral("CRITICAL ERROR"), MB_OK | MB_ICONERROR, true);
  ASSERT_TRUE(PumpUntil([&] { return a.QuitPosted(); }));
  EXPECT_TRUE(boxes.Saw(QStringLiteral("Could not wait on SCP mutex.")));
  EXPECT_EQ(a.ExitCode(), 1);
  EXPECT_TRUE(a.ExitInstance());
  EXPECT_FALSE(pMeters);  // the dialog left open goes at the end
}

// The value column of a meter's row in the meters dialog; empty when the meter is not listed.
std::string MeterValue(CMeters* m, const char* label) {
  for (int r = 0; r < m->List()->topLevelItemCount(); ++r) {
    if (m->List()->topLevelItem(r)->text(0) == QLatin1String(label))
      return m->List()->topLevelItem(r)->text(1).toStdString();
  }
  return {};
}

// The end waits for the notice of every SET answer the worker has taken: the worker takes a
// request off the table before its notice reaches this thread. A refused change is said and
// ends the program with status 1.
TEST_F(RemoteCallAppTest, TheEndWaitsForTheNoticeOfEverySetAnswerTaken) {
  struct CountingWorker : LinkWorker {
    long taken = 0;
    long SetAnswersTaken() const override { return taken; }
  };
  CountingWorker* worker = nullptr;
  RemoteCallApp& a = Start({"e:12", "c:0", "h:ups1"}, false, [&](CommNoticeRelay&) {
    auto w = std::make_unique<CountingWorker>();
    worker = w.get();
    return w;
  });
  ASSERT_TRUE(started);
  a.OnIdle();
  ASSERT_TRUE(a.DialogOpened());
  a.CloseDialog();
  ASSERT_NE(worker, nullptr);
  worker->taken = 1;  // answered and off the table; its notice is still on its way
  for (int i = 0; i < 5; ++i) a.OnIdle();
  EXPECT_FALSE(a.QuitPosted());
  CommNotice refused;
  refused.message = kNoticeReplyApplied;
  refused.key = PackScpKey(2, 4, 4, 0);
  refused.status = SCP_SET_FAILED;
  refused.hostIndex = 1;
  refused.answeredSet = true;
  a.Window()->Relay().PostNotice(refused);
  testing::internal::CaptureStderr();
  const bool quit = TicksUntilQuit(5000);
  const std::string said = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(quit);
  EXPECT_EQ(said, "Pommet: the agent did not take the change of 4,4,0: Set Failed\n");
  EXPECT_TRUE(a.ChangesLost());
  EXPECT_EQ(a.ExitCode(), 1);
  EXPECT_TRUE(boxes.Saw(QStringLiteral("SCP Status: FieldAddress=4,4,0 - Set Failed")));
}

// The real worker against a real VigilNT on the simulated Smart-UPS: the meters and the mimic
// diagram over the local channel, the meters over UDP, the meters following a change at the
// UPS while they stay open; each registers with the heartbeat and unregisters when its dialog
// has closed and the program ends.
TEST_F(RemoteCallAppTest, RealAgentAnswersOverTheLocalChannelAndUdpAndTheProgramUnregistersAtTheEnd) {
  testing_support::ScopedManualClock clock;
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(
      vigil.Start({"-b", "-d", ups.device()}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
  ASSERT_TRUE(vigil.WaitForTrace({"Inside SERIAL thread", "NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"},
                                 120000))
      << vigil.TraceDump();
  struct Row {
    std::vector<std::string> args;
    const char* picture;
  };
  std::vector<Row> rows = {{{"e:14", "c:3"}, "meters-local"}, {{"e:16", "c:3"}, "mimic-local"}};
  if (trem_harness::HarnessInPrivateNetwork()) rows.push_back({{"e:14", "c:0", "h:127.0.0.1"}, "meters-udp"});
  size_t unregistered = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.picture);
    RemoteCallApp& a = Start(row.args, true);
    ASSERT_TRUE(started);
    a.OnIdle();
    ASSERT_TRUE(a.DialogOpened());
    KTDialog* dialog = FindCallDialog(a.DialogIndex())->pointer->dialog();
    QPointer<KTDialog> watched(dialog);
    if (a.DialogIndex() == 14) {
      // The readings arrive: every listed meter shows a value.
      ASSERT_TRUE(PumpUntil(
          [&] {
            CMeters* m = pMeters;
            if (m == nullptr || m->IsBusy() || m->List()->topLevelItemCount() < 3) return false;
            for (int r = 0; r < m->List()->topLevelItemCount(); ++r) {
              if (m->List()->topLevelItem(r)->text(1).isEmpty()) return false;
            }
            return true;
          },
          60000))
          << vigil.TraceDump();
      // While it stays open, the dialog follows the UPS: a change there reaches the list and
      // the needle of the input voltage's gauge (of the default view), with nothing but the
      // dialog asking.
      CMeters* m = pMeters;
      KtGaugeWindow* gauge = CMeters::GaugeWindowOf(11);
      ASSERT_NE(gauge, nullptr);
      const QImage before = gauge->grab().toImage();
      const bool local = row.args[1] == "c:3";
      const std::string volts = local ? "200" : "215";
      const std::string load = local ? "60" : "40";
      ASSERT_TRUE(ups.Do("set input-voltage " + volts + ".0"));
      ASSERT_TRUE(ups.Do("set load 0" + load + ".0"));
      const auto needle = [] {
        const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(11));
        return def != nullptr ? def->value : -1;
      };
      EXPECT_TRUE(PumpUntil(
          [&] {
            return MeterValue(m, "Input Voltage") == volts + "V" &&
                   MeterValue(m, "Percent Load") == load + "%" && needle() == std::stod(volts);
          },
          60000))
          << MeterValue(m, "Input Voltage") << ", " << MeterValue(m, "Percent Load") << ", needle "
          << needle();
      EXPECT_TRUE(gauge->grab().toImage() != before) << "the dial looks as before";
    } else {
      // The program's own first request is answered (the mimic itself may find what it shows
      // in the image already).
      ASSERT_TRUE(PumpUntil(
          [&] { return pMimic != nullptr && !pMimic->IsBusy() && a.Window()->NoticesHandled() > 0; }, 60000));
      PumpUntil([] { return false; }, 1500);  // the status push settles the picture
    }
    EXPECT_EQ(a.Window()->Worker() != nullptr, true);
    EXPECT_GT(a.Window()->NoticesHandled(), 0);
    Screenshot(dialog, QString::fromLatin1(row.picture));
    // The heartbeat registers the program with the agent.
    clock->AdvanceSeconds(31);
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "Console registered") > unregistered; }, 30000));
    a.CloseDialog();
    ASSERT_TRUE(TicksUntilQuit(10000));
    EXPECT_TRUE(watched.isNull() || !watched->WindowExists());
    EXPECT_EQ(a.ExitCode(), 0);
    EXPECT_TRUE(a.ExitInstance());
    ++unregistered;
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "Console unregistered") >= unregistered; }, 15000))
        << vigil.TraceDump();
    EXPECT_EQ(boxes.Count(), 0) << (boxes.Count() ? boxes.Boxes()[0].text.toStdString() : "");
  }
}

// No agent answers: an unreachable IPX host (no kernel IPX) and a host name that does not
// resolve. The dialog's own deadline closes it, and the program ends.
TEST_F(RemoteCallAppTest, WithoutAnAnswerTheDialogsDeadlineEndsTheProgram) {
  NoNamesResolver resolver;
  KTDialog::SetReplyDeadlineMs(1500);
  const std::vector<std::vector<std::string>> rows = {
      {"e:12", "c:1", "i:7", "m:00a0c9ff1e02", "p:34952"},
      {"e:12", "c:0", "h:no-such-host.invalid"},
  };
  for (const auto& args : rows) {
    SCOPED_TRACE(args[1]);
    boxes.Clear();
    RemoteCallApp& a = Start(args, true);
    ASSERT_TRUE(started);
    a.OnIdle();
    ASSERT_TRUE(a.DialogOpened());
    ASSERT_TRUE(TicksUntilQuit(30000));
    EXPECT_TRUE(boxes.Saw(QStringLiteral("Unable to retrieve data from the Agent")));
    EXPECT_EQ(a.ExitCode(), 0);
    EXPECT_TRUE(a.ExitInstance());
    gDiscover.Close();
  }
}

}  // namespace
