#include "dialogs/paging/test_pager.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/scp/command_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CTestPager> pTestPager{DialogSlot::TestPager};

TREM_REGISTER_DIALOG(CTestPager);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CTestPager::kHelpContext, "Test Pager",
    "The agent is paging the recipients of the selected event. The text shows how the test "
    "goes; the computer beeps whenever it changes.");

CTestPager::CTestPager(QWidget* parent, const QString& hostName) : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pTestPager);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CTestPager::~CTestPager() = default;

void CTestPager::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* bitmap = new QPushButton(this);
  bitmap->setObjectName(ControlName(IDC_BITMAP));
  bitmap->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
  bitmap->setIconSize(QSize(32, 32));
  bitmap->setFlat(true);
  bitmap->setEnabled(false);
  status_ = new QLabel(this);
  status_->setObjectName(ControlName(IDC_STATUS));
  status_->setWordWrap(true);
  status_->setMinimumWidth(300);
  row->addWidget(bitmap);
  row->addWidget(status_, 1);
  layout->addLayout(row);
  layout->addStretch(1);
  layout->addLayout(MakeButtonRow({IDCANCEL}));
  auto* cancel = Control<QPushButton>(IDCANCEL);
  cancel->setDefault(true);
  cancel->setFocus();
}

bool CTestPager::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  last_status_ = -1;
  status_->setText(QStringLiteral("Pager test in progress. Please wait..."));
  setWindowTitle(QStringLiteral("Test Pager"));
  RequestData(BLOCK_COMMAND, COMMAND_PAGER_TEST, 0);
  return true;
}

QString CTestPager::StatusText(int status) {
  switch (status) {
    case 0:
      return QStringLiteral("Pager test complete. No Errors.");
    case -1:
      return QStringLiteral("Pager test in progress. Please wait...");
    case -2:
      return QStringLiteral("Pager test unable to open COM port");
    case -3:
      return QStringLiteral("Pager test unable to set modem control lines!");
    // The agent's 252: the paging company refused the page.
    case -4:
      return QStringLiteral("The paging company refused the page!");
    case -5:
      return QStringLiteral("No modem found on COM port!");
    case -6:
      return QStringLiteral("A modem error occured!");
    case -7:
      return QStringLiteral("An error occured during dialing!");
    case -8:
      return QStringLiteral("The configured number of retries was exceeded!");
    case -9:
      return QStringLiteral("There are no actions configured for paging!");
    case -10:
      return QStringLiteral("There are no pagers configured!");
    default:
      return QString();
  }
}

QString CTestPager::StatusShown() const {
  return status_->text();
}

void CTestPager::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/, unsigned /*item*/) {
  int value = 0;
  {
    auto lock = gScp.Lock();
    value = static_cast<int8_t>(static_cast<uint8_t>(gScp.commandBlock.GetValue(COMMAND_PAGER_TEST)));
  }
  if (value != last_status_) {
    last_status_ = value;
    const QString text = StatusText(value);
    if (!text.isEmpty()) status_->setText(text);
    QApplication::beep();
  }
  SetTimer(kPollTimerId, kPollMs);
}

void CTestPager::OnTimer(int timerId) {
  if (timerId != kPollTimerId) {
    KTDialog::OnTimer(timerId);
    return;
  }
  KillTimer(kPollTimerId);
  RequestData(BLOCK_COMMAND, COMMAND_PAGER_TEST, 0);
}
