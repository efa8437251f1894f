#include "tests/dialogs/harness/trem_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QApplication>
#include <QPointer>
#include <cstdlib>

#include "core/network/udp.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/trem_globals.h"

namespace trem_harness {

void ResetToLocalHost(uint16_t port, const char* ip) {
  KT_HostControl writer;
  gHosts.ResetHosts();
  KT_Address local(ADDRESS_IP);
  local.SetIpAddress(inet_addr(ip));
  local.SetPort(htons(port));
  local.SetHostName("localhost");
  gHosts.AddHost(local);
}

void TremTest::SetUp() {
  dir_ = std::make_unique<testing_support::TempDir>();
  prefix_ = testing_support::UniqueName("trem");
  ::setenv(platform::kNamePrefixVariable, prefix_.c_str(), 1);
  // The console creates the queue's mutex; the library only opens it.
  ASSERT_TRUE(scp_mutex_.Create(kScpQueueMutexName));
  ResetToLocalHost();
  gScp.requestTable.Clear();
  {
    auto lock = gScp.Lock();
    for (int id : kScpBlockIds) {
      if (KT_Block* b = gScp.GetBlock(id)) b->SetStatus(-1);
    }
  }
  gcsMessageBoxTitle = QStringLiteral("Tremona");
  SetMessageBoxLayer(&boxes);
  SetHelpLayer(&help);
  SetFileDialogLayer(&files);
  print.SetPath(QString::fromStdString(File("print.pdf")));
  SetPrintDialogLayer(&print);
  KTDialog::SetReplyDeadlineMs(KTDialog::kDefaultReplyDeadlineMs);
  KTDialog::SetFollowWaitMs(KTDialog::kDefaultFollowWaitMs);
}

void TremTest::TearDown() {
  CloseAllWindows();
  gScp.requestTable.Clear();
  SetMessageBoxLayer(nullptr);
  SetHelpLayer(nullptr);
  SetFileDialogLayer(nullptr);
  SetPrintDialogLayer(nullptr);
  SetPrintLineObserver({});
  KTDialog::SetReplyDeadlineMs(KTDialog::kDefaultReplyDeadlineMs);
  KTDialog::SetFollowWaitMs(KTDialog::kDefaultFollowWaitMs);
  scp_mutex_.Close();
  testing_support::RestoreProgramNamePrefix();
  testing_support::RemoveUnheldSharedObjects(prefix_);
  dir_.reset();
}

void TremTest::CloseAllWindows() {
  QList<QPointer<QWidget>> windows;
  for (QWidget* w : QApplication::topLevelWidgets()) windows << QPointer<QWidget>(w);
  for (QPointer<QWidget>& w : windows) delete w.data();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

QString TremTest::Screenshot(QWidget* widget, const QString& name) {
  return SaveScreenshot(widget, ScreenshotTopic(), name);
}

}  // namespace trem_harness
