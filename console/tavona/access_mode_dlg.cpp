#include "console/tavona/access_mode_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/tavona/tavona_ids.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/help.h"

using namespace tavona;

CAccessModeDlg::CAccessModeDlg(int commMode, bool showAtStartup, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CAccessModeDlg"));
  setWindowTitle(QStringLiteral("Tavona Communications Access Mode"));
  auto* group = new QGroupBox(QStringLiteral("Access Mode"), this);
  default_ = new QRadioButton(QStringLiteral("&Default"), group);
  default_->setObjectName(ControlName(IDC_ACCESS_DEFAULT));
  default_->setToolTip(QStringLiteral("The agent on this computer"));
  remote_ = new QRadioButton(QStringLiteral("&Remote Servers"), group);
  remote_->setObjectName(ControlName(IDC_ACCESS_REMOTE));
  auto* inGroup = new QVBoxLayout(group);
  inGroup->addWidget(default_);
  inGroup->addWidget(remote_);
  (commMode == 3 ? default_ : remote_)->setChecked(true);
  show_ = new QCheckBox(QStringLiteral("&Show dialog at startup"), this);
  show_->setObjectName(ControlName(IDC_ACCESS_SHOW));
  show_->setChecked(showAtStartup);

  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(ControlName(IDOK));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(ControlName(IDCANCEL));
  buttons->button(QDialogButtonBox::Help)->setObjectName(ControlName(ID_HELP));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { ShowHelpTopic(this, QString::fromLatin1(kPanelHelpFile), kAccessModeHelpTopic); });

  auto* all = new QVBoxLayout(this);
  all->addWidget(group);
  all->addWidget(show_);
  all->addSpacing(6);
  all->addWidget(buttons);
  setMinimumWidth(340);
}

int CAccessModeDlg::CommMode() const {
  return default_->isChecked() ? 3 : 1;
}

bool CAccessModeDlg::ShowAtStartup() const {
  return show_->isChecked();
}
