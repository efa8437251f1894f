#include "dialogs/support/tech_support_dlg.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"

DialogPointer<CTechSupportDlg> pTechSupportDlg;

TREM_REGISTER_DIALOG(CTechSupportDlg);

namespace {

// Our help desk. Numbers and addresses are those of the product's support line.
struct ContactLine {
  const char* label;
  const char* text;
};

const char kHeading[] =
    "Brenvale Technical Support helps with all Tremona software and with UPS hardware up to "
    "6 kVA. Reach the Brenvale Help Desk as listed below.";

const ContactLine kContacts[] = {
    {"Phone:", "1-800-555-0134 (toll-free, United States and Canada)\n+44 20 7946 0134 (Europe)"},
    {"Fax:", "1-800-555-0135 (United States and Canada)\n+44 20 7946 0135 (Europe)"},
    {"E-mail:",
     "register@brenvale.example (product registration)\nsupport@brenvale.example (support questions)"},
    {"Mail:",
     "Brenvale Power Systems, Product Registration\n1200 Harbor Point Drive, Suite 400\nPortland, OR 97209, "
     "USA"},
    {"Product Registration:", "Register by mail or e-mail, or by phone at 1-800-555-0136."},
};

const char kLargeUps[] =
    "For UPS hardware above 6 kVA call 1-800-555-0140 (United States and Canada) "
    "or +44 20 7946 0140 (Europe).";
const char kOutside[] =
    "If you are located outside the United States and Canada, your local distributor will be able to "
    "provide product support.";

}  // namespace

CTechSupportDlg::CTechSupportDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_TECH_SUPPORT, parent, hostName) {
  BindDialogPointer(pTechSupportDlg);
  SetWaitCount(0);
  BuildControls();
  Create(IDD_TECH_SUPPORT);
}

CTechSupportDlg::~CTechSupportDlg() = default;

void CTechSupportDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  // The calling program's main icon.
  auto* icon = new QLabel(this);
  icon->setObjectName(ControlName(IDC_TECH_SUPPORT_ICON));
  QIcon programIcon = QApplication::windowIcon();
  if (programIcon.isNull())
    programIcon = style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this);
  icon->setPixmap(programIcon.pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  auto* heading = new QLabel(QString::fromUtf8(kHeading), this);
  heading->setWordWrap(true);
  top->addWidget(icon);
  top->addSpacing(10);
  top->addWidget(heading, 1);
  layout->addLayout(top);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(8);
  int row = 0;
  for (const ContactLine& c : kContacts) {
    auto* label = new QLabel(QString::fromUtf8(c.label), this);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    auto* value = new QLabel(QString::fromUtf8(c.text), this);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(label, row, 0, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(value, row, 1, Qt::AlignTop | Qt::AlignLeft);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  layout->addSpacing(6);
  layout->addLayout(grid);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);
  for (const char* t : {kLargeUps, kOutside}) {
    auto* label = new QLabel(QString::fromUtf8(t), this);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  layout->addSpacing(6);
  layout->addLayout(MakeButtonRow({IDOK}));
  setMinimumWidth(560);
}

bool CTechSupportDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(QStringLiteral("Technical Support"));
  return true;
}

void CTechSupportDlg::OnHelp() {}

bool CTechSupportDlg::OnHelpInfo() {
  return true;
}
