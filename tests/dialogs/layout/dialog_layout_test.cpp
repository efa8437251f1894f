// Every dialog of the library (each page of the shutdown parameters too), as a user first sees
// it and again with every check box ticked (ticking shows the controls that depend on them),
// and each window a dialog opens beside itself: a picture of each under screenshots/layout/, and
// none of the faults trem_harness::LayoutFaults finds (clipped text, controls outside their
// parent or over a neighbour, a window larger than its screen, buttons out of tab order). The program runs
// once per scale (QT_SCALE_FACTOR 1, 1.5 and 2, see CMakeLists.txt); the pictures of a scale other than 1
// carry it in their names (name@1.5x.png).
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPointer>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dialogs/datacollection/data_collection_display.h"
#include "dialogs/datacollection/dc_meter_select_dlg.h"
#include "dialogs/discovery/client_discovery.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/dialogs/discovery/ipx_search.h"
#include "tests/dialogs/harness/layout_check.h"

TREM_HARNESS_PRIVATE_NETWORK();
// Screens as users run these scales on: 2560x1440 is 1280x720 at twice the scale.
TREM_HARNESS_SCREENS("2560x1440");

namespace {

// Dialogs that search the network as they open (the searches of the host and client lists,
// the discovery dialogs): only in a network of the test's own.
const std::set<QString> kSearching = {"CDiscover",      "CDiscoverc",          "CDiscoverAdapter",
                                      "CHostSelect",    "CHostSelection",      "CDiscoveryWaitDlg",
                                      "CRemoteMessage", "ShutdownClientsPage", "CNetworkConfiguration"};

struct Case {
  QString name;  // the class; the pictures' name
  std::function<QDialog*()> open;
  std::function<void()> before;  // console state the dialog is opened in (optional)
};

class DialogLayoutTest : public DiscoveryTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("layout"); }
  void SetUp() override {
    DiscoveryTest::SetUp();
    gnCommMode = 0;
    gClientDiscovery.ClearSubnets();
    // Searches stay on this computer.
    std::ofstream(File("cfsubnet.dat")) << "127.0.0.1\n";
    ipx_.emplace(std::initializer_list<KT_Discover*>{&gClientDiscovery});
    ipx_->ipx.fail_socket = true;
    // A UPS that offers every function, so that every optional control shows; the agent's
    // image and the console's (the shutdown pages read the console's without asking).
    for (KT_SCP* scp : {&agent.scp(), &gScp}) {
      auto lock = scp->Lock();
      for (int byte = 0; byte < 4; ++byte)
        for (int bit = 0; bit < 8; ++bit) scp->upsInfo.SetFunctionSupported(byte, bit);
      scp->notify.SetDefaultSupport(SUPPORT_EVENTS);
      scp->notify.SetDefaultSupport(SUPPORT_ACTIONS);
      scp->receptacles.SetCount(4);
    }
  }
  void TearDown() override {
    gnCommMode = 0;
    DiscoveryTest::TearDown();
    ipx_.reset();
  }

  // Lets the dialog's first requests be answered (dialogs that keep asking or searching are
  // pictured as they are after a moment).
  void Settle(QDialog* d) {
    // A dialog may close and delete itself while the events run (the data collection display).
    QPointer<KTDialog> kt = qobject_cast<KTDialog*>(d);
    if (!kt.isNull()) link.PumpUntil([&] { return kt.isNull() || !DialogIsOpen(kt) || !kt->IsBusy(); }, 3000);
    link.PumpIdle(300);
  }

  // The visible windows, the dialog first.
  static std::vector<QWidget*> Windows(QDialog* d) {
    std::vector<QWidget*> out;
    if (d != nullptr && d->isVisible()) out.push_back(d);
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != d && w->isVisible()) out.push_back(w);
    return out;
  }

  // Pictures and checks of every visible window.
  void Look(QDialog* d, const QString& name, std::vector<std::string>& faults) {
    int n = 0;
    for (QWidget* w : Windows(d)) {
      Check(w, n == 0 ? name : name + QStringLiteral("_window%1").arg(n), faults);
      ++n;
    }
  }

  void Check(QWidget* w, const QString& name, std::vector<std::string>& faults) {
    QApplication::processEvents();
    EXPECT_FALSE(Screenshot(w, name).isEmpty()) << name.toStdString();
    for (const std::string& fault : trem_harness::LayoutFaults(w))
      faults.push_back(name.toStdString() + ": " + fault);
  }

  // Ticks every check box the user could tick; true when there was one.
  static bool TickAll(QWidget* d) {
    bool any = false;
    for (QCheckBox* box : d->findChildren<QCheckBox*>()) {
      if (!box->isVisible() || !box->isEnabled() || box->isChecked()) continue;
      box->click();
      any = true;
    }
    return any;
  }

  std::optional<ScopedIpxSearch> ipx_;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const QString& name : RegisteredDialogs())
    cases.push_back(
        {name, [name] { return OpenRegisteredDialog(name, nullptr, QStringLiteral("localhost")); }, {}});
  // Opened from another dialog only.
  cases.push_back({"CDcMeterSelectDlg", [] { return new CDcMeterSelectDlg(nullptr, "localhost"); }, {}});
  cases.push_back(
      {"CDataCollectionDisplay", [] { return new CDataCollectionDisplay(nullptr, "localhost"); }, {}});
  // The Software Programs page on the agent of this computer offers the File Saver.
  cases.push_back({"ShutdownProgramsPage_local",
                   [] { return OpenRegisteredDialog("ShutdownProgramsPage", nullptr, "localhost"); },
                   [] { gnCommMode = 3; }});
  // On a Smart-UPS with an agent's first settings the first pages note the values they change.
  for (const char* page : {"ShutdownUpsPage", "ShutdownProgramsPage"})
    cases.push_back({QString::fromUtf8(page) + "_smart_ups",
                     [page] { return OpenRegisteredDialog(page, nullptr, QStringLiteral("localhost")); },
                     [] { gScp.upsInfo.SetModelIndex(8); }});
  return cases;
}

TEST_F(DialogLayoutTest, EveryDialogShowsAllItsTextAtThisScale) {
  std::vector<std::string> faults;
  int looked = 0;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name.toStdString());
    if (kSearching.count(c.name) != 0 && !Network()) continue;
    gnCommMode = 0;
    if (c.before) c.before();
    agent.MarkAllFresh();
    QPointer<QDialog> d = c.open();
    ASSERT_FALSE(d.isNull()) << c.name.toStdString();
    Settle(d);
    Look(d, c.name, faults);
    if (!d.isNull() && d->isVisible() && TickAll(d)) {
      Settle(d);
      Look(d, c.name + QStringLiteral("_ticked"), faults);
    }
    ++looked;
    CloseAllWindows();
    link.PumpIdle(1000);
    gScp.requestTable.Clear();
  }
  EXPECT_GE(looked, 55);
  std::string all;
  for (const std::string& f : faults) all += f + "\n";
  EXPECT_TRUE(faults.empty()) << faults.size() << " layout faults at scale " << qApp->devicePixelRatio()
                              << ":\n"
                              << all;
}

}  // namespace
