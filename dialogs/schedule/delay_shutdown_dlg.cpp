#include "dialogs/schedule/delay_shutdown_dlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"

// Run modally by the scheduled-shutdown dialog; the tools open it on its own, without a modal loop.
TREM_REGISTER_DIALOG_WITH(DelayShutdownDlg, [](QWidget* parent, const QString& host) -> QDialog* {
  auto* dialog = new DelayShutdownDlg(parent, host);
  dialog->Create(IDD_DELAY_SHUTDOWN);
  return dialog;
});

DelayShutdownDlg::DelayShutdownDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_DELAY_SHUTDOWN, parent, hostName) {
  SetWaitCount(0);
  setWindowTitle(QStringLiteral("Delay Scheduled Shutdown"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  minutes_ = new QComboBox(this);
  minutes_->setObjectName(ControlName(IDC_DELAY_MINUTES));
  for (int m = 5; m <= 60; m += 5) minutes_->addItem(QString::number(m));
  auto* label = new QLabel(QStringLiteral("&Minutes"), this);
  label->setBuddy(minutes_);
  row->addWidget(minutes_);
  row->addWidget(label);
  row->addStretch(1);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool DelayShutdownDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  minutes_->setCurrentIndex(0);
  minutes_->setFocus();
  return true;
}

void DelayShutdownDlg::OnOK() {
  delay_seconds_ = (minutes_->currentIndex() + 1) * 300;
  KTDialog::OnOK();
}
