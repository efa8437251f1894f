#include "dialogs/monitoring/manage_diag_test.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "core/scp/command_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CManageDiagTest> pManageDiagTest;

TREM_REGISTER_DIALOG(CManageDiagTest);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CManageDiagTest::kHelpContext, "Manage Diagnostic Test",
    "Starts the UPS's diagnostic test on the agent's UPS.\n\n"
    "During the test the UPS briefly runs the load from its batteries to check that they can "
    "carry it. The load stays protected. The result appears in the battery test results once "
    "the test is over.\n\n"
    "Press OK to start the test now, or Cancel to close without testing.");

CManageDiagTest::CManageDiagTest(QWidget* parent, const QString& hostName)
    : CManageDiagTest(parent, QString(), hostName, QStringList()) {}

CManageDiagTest::CManageDiagTest(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                 const QStringList& hostNames)
    : KTDialog(IDD_MANAGE_DIAG_TEST, parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pManageDiagTest);
  SetWaitCount(0);
  BuildControls();
  Create(IDD_MANAGE_DIAG_TEST);
}

CManageDiagTest::~CManageDiagTest() = default;

void CManageDiagTest::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(size, size));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(
      QStringLiteral("UPS is about to perform a diagnostic test.\nDo you want to continue?"), this);
  text->setObjectName(ControlName(IDC_DIAG_TEXT));
  top->addWidget(icon);
  top->addSpacing(12);
  top->addWidget(text, 1);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool CManageDiagTest::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  SetHostCaption(IDS_MANAGE_DIAG_TEST);
  return true;
}

void CManageDiagTest::OnOK() {
  {
    auto lock = gScp.Lock();
    gScp.commandBlock.Branches().Touch(COMMAND_BATTERY_TEST);
  }
  SendCommand(BLOCK_COMMAND, COMMAND_BATTERY_TEST, 0);
  KTDialog::OnOK();
}
