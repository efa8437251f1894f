#include "dialogs/information/battery_test_results.h"

#include <QVBoxLayout>
#include <ctime>
#include <utility>
#include <vector>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"

DialogPointer<CBatteryTestResults> pBatteryTestResults{DialogSlot::BatteryTestResults};

TREM_REGISTER_DIALOG(CBatteryTestResults);

static const StringTableRegistrar kStrings{
    {1690, "View Diagnostic Results"}, {3259, "Time"},   {3260, "Status"},    {3261, "Failed"},
    {3262, "Unable to perform"},       {3263, "Passed"}, {3264, "{unknown}"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CBatteryTestResults::kHelpContext, "View Diagnostic Results",
    "Lists the results of the UPS's battery tests that the agent has logged, the most recent "
    "first.\n\n"
    "Time is when the test ended; Status is its result: Passed, Failed, or Unable to perform "
    "(the UPS could not run the test, for instance because the batteries were still charging).\n\n"
    "At most the 1000 oldest logged results are listed.");

namespace {
constexpr int kIdsCaption = 1690;
constexpr int kIdsTime = 3259;
constexpr int kIdsStatus = 3260;
}  // namespace

CBatteryTestResults::CBatteryTestResults(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pBatteryTestResults);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CBatteryTestResults::CBatteryTestResults(QWidget* parent, const QString& selectionLabel,
                                         const QString& hostName, const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pBatteryTestResults);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CBatteryTestResults::~CBatteryTestResults() = default;

void CBatteryTestResults::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  list_ = new ReportList(IDC_RESULT_LIST, this);
  list_->setMinimumSize(380, 220);
  layout->addWidget(list_, 1);
  layout->addLayout(MakeButtonRow({IDOK, ID_HELP}));
  resize(440, 320);
}

void CBatteryTestResults::ApplyColumnWidths() {
  // "Time" three fifths of the client width, "Status" the rest.
  list_->SetWidthRule([](int w) {
    const int time = w * 3 / 5;
    return std::vector<int>{time, w - time};
  });
}

bool CBatteryTestResults::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->RemoveAll();
  list_->SetColumns({LoadString(kIdsTime), LoadString(kIdsStatus)});
  ApplyColumnWidths();
  SetHostCaption(kIdsCaption);
  UpdateResults();
  RequestData(BatteryLogBlock::kBlockId, 1, 0);
  return true;
}

void CBatteryTestResults::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/,
                                    unsigned /*item*/) {
  UpdateResults();
}

QString CBatteryTestResults::ResultText(unsigned resultCode) {
  switch (resultCode) {
    case 2:
      return LoadString(3263);
    case 3:
      return LoadString(3262);
    case 4:
      return LoadString(3261);
    default:
      return LoadString(3264);
  }
}

QString CBatteryTestResults::CtimeText(uint32_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  char buffer[64] = {};
  if (ctime_r(&t, buffer) == nullptr) return QString();
  QString text = QString::fromLatin1(buffer);
  while (text.endsWith('\n')) text.chop(1);
  return text;
}

void CBatteryTestResults::UpdateResults() {
  if (!WindowExists() || list_ == nullptr) return;
  list_->clear();
  // Until the agent's log arrives there is nothing to show, not even that it holds no results.
  if (!IsFilled()) return;
  std::vector<std::pair<QString, QString>> results;
  {
    auto lock = gScp.Lock();
    gScp.batteryLog.ResetCursor();
    uint32_t time = 0;
    uint8_t code = 0;
    while (static_cast<int>(results.size()) < kMaxResults && gScp.batteryLog.GetNextResult(time, code)) {
      results.emplace_back(CtimeText(time), ResultText(code));
    }
  }
  // Newest (the last read) first.
  for (auto it = results.rbegin(); it != results.rend(); ++it) list_->AddRow({it->first, it->second});
  if (results.empty()) list_->AddRow({QStringLiteral("(no results found)")});
  list_->ApplyWidths();
}
