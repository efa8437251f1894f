#include "console/tavona/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/tavona/tandle_pictures.h"
#include "console/tavona/tavona_ids.h"
#include "core/base/setup_data.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

#ifndef VIGIL_VERSION_TEXT
#define VIGIL_VERSION_TEXT "0"
#endif

using namespace tavona;

QPointer<CAboutDlg> pAboutDlg;

QString ProductVersionText() {
  return QStringLiteral("Version " VIGIL_VERSION_TEXT);
}

QString LegalNoticeText() {
  return QString::fromUtf8("Copyright \u00A9 1996-2026 Brenvale. All rights reserved.");
}

QString CAboutDlg::CaptionFor(int interfaceType) {
  SetupData setup;
  return LoadString(IDS_ABOUT_PREFIX) + QString::fromStdString(setup.GetApplicationTypeName(6)) +
         QLatin1Char(' ') + QString::fromStdString(setup.GetApplicationTypeName(interfaceType == 1 ? 1 : 2));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CAboutDlg"));
  setAttribute(Qt::WA_DeleteOnClose);
  pAboutDlg = this;
  SetupData setup;
  int type = 255;
  {
    auto lock = gScp.Lock();
    type = gScp.upsInfo.GetInterfaceType();
  }
  setWindowTitle(CaptionFor(type));

  auto* title = new QLabel(QString::fromStdString(setup.GetApplicationTypeName(6)) + QLatin1Char(' ') +
                               QString::fromStdString(setup.GetApplicationTypeName(type == 1 ? 1 : 2)),
                           this);
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  title->setFont(big);
  const std::string versionText = setup.GetConsoleVersionText();
  version_ = new QLabel(
      versionText.empty() ? QString() : QStringLiteral("Version ") + QString::fromStdString(versionText),
      this);
  version_->setObjectName(ControlName(IDC_ABOUT_VERSION));
  legal_ = new QLabel(LegalNoticeText(), this);
  legal_->setObjectName(ControlName(IDC_ABOUT_LEGAL));
  company_ = new QLabel(QString::fromStdString(setup.GetCompanyText()), this);
  company_->setObjectName(ControlName(IDC_ABOUT_COMPANY));
  version_->setToolTip(QStringLiteral("Tavona ") + ProductVersionText().toLower());
  for (QLabel* l : {version_, legal_, company_}) l->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* text = new QVBoxLayout;
  text->setSpacing(4);
  text->addWidget(title);
  text->addSpacing(6);
  text->addWidget(version_);
  text->addSpacing(6);
  text->addWidget(company_);
  text->addWidget(legal_);
  auto* row = new QHBoxLayout;
  row->addSpacing(64 + 10);
  row->addLayout(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(ControlName(IDOK));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* all = new QVBoxLayout(this);
  all->setContentsMargins(16, 16, 16, 12);
  all->addLayout(row);
  all->addSpacing(8);
  all->addWidget(buttons);
  setLayout(all);
  setMinimumWidth(380);
  show();
}

CAboutDlg::~CAboutDlg() {
  if (pAboutDlg == this) pAboutDlg = nullptr;
}

QString CAboutDlg::VersionText() const {
  return version_->text();
}
QString CAboutDlg::LegalText() const {
  return legal_->text();
}
QString CAboutDlg::CompanyText() const {
  return company_->text();
}

void CAboutDlg::paintEvent(QPaintEvent* e) {
  QDialog::paintEvent(e);
  QPainter p(this);
  p.drawImage(QPoint(16, 16), ProgramIconImage(64));
}

CAboutDlg* OpenAboutBox() {
  if (pAboutDlg) {
    pAboutDlg->show();
    pAboutDlg->raise();
    pAboutDlg->activateWindow();
    return pAboutDlg;
  }
  return new CAboutDlg();
}
