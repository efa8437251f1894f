#include "dialogs/discovery/discovery_wait_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/dialog_registry.h"

QPointer<CDiscoveryWaitDlg> pDiscoveryWaitDlg;

TREM_REGISTER_DIALOG_WITH(CDiscoveryWaitDlg, [](QWidget* parent, const QString&) -> QDialog* {
  return ShowDiscoveryWait(parent);
});

CDiscoveryWaitDlg::CDiscoveryWaitDlg() : QDialog(nullptr) {
  setAttribute(Qt::WA_DeleteOnClose);
}

CDiscoveryWaitDlg::CDiscoveryWaitDlg(QWidget* parent) : QDialog(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  Create(parent);
}

CDiscoveryWaitDlg::~CDiscoveryWaitDlg() {
  if (pDiscoveryWaitDlg == this) pDiscoveryWaitDlg = nullptr;
}

void CDiscoveryWaitDlg::Build() {
  if (built_) return;
  built_ = true;
  setObjectName(QStringLiteral("dlg%1").arg(IDD_DISCOVERY_WAIT));
  setWindowTitle(QStringLiteral("Discovery Process"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(36, 28, 36, 28);
  auto* text = new QLabel(QStringLiteral("Please wait a moment..."), this);
  text->setObjectName(ControlName(IDC_DISCOVERY_WAIT_TEXT));
  text->setAlignment(Qt::AlignCenter);
  layout->addWidget(text);
  setMinimumWidth(fontMetrics().averageCharWidth() * 36);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDiscoveryWaitDlg::Create(QWidget* parent) {
  if (parent != nullptr && parentWidget() != parent) setParent(parent, windowFlags());
  Build();
  setModal(false);
  pDiscoveryWaitDlg = this;
  show();
}

void CDiscoveryWaitDlg::keyPressEvent(QKeyEvent* event) {
  // No buttons: Escape does not close the notice; the search closes it.
  if (event->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(event);
}

CDiscoveryWaitDlg* ShowDiscoveryWait(QWidget* parent) {
  CDiscoveryWaitDlg* wait = pDiscoveryWaitDlg;
  if (wait != nullptr) {
    wait->raise();
    wait->activateWindow();
  } else {
    wait = new CDiscoveryWaitDlg(parent);
  }
  // Painted before the search blocks the event loop.
  wait->repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  return wait;
}

void CloseDiscoveryWait() {
  CDiscoveryWaitDlg* wait = pDiscoveryWaitDlg;
  pDiscoveryWaitDlg = nullptr;
  if (wait != nullptr) {
    wait->close();
  }
}
