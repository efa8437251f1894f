#include "dialogs/datacollection/data_collection_display.h"

#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>

#include "dialogs/datacollection/dc_dlg_setup.h"
#include "dialogs/datacollection/dc_meter_select_dlg.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/widgets/chart_widget.h"

static const DialogRegistrar kRegistrar("CDataCollectionDisplay",
                                        [](QWidget* parent, const QString& host) -> KTDialog* {
                                          auto* dialog = new CDataCollectionDisplay(parent, host);
                                          dialog->Create(IDD_DC_DISPLAY);
                                          return dialog;
                                        });

CDataCollectionDisplay::CDataCollectionDisplay(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_DC_DISPLAY, parent, hostName) {
  SetWaitCount(0);
  setWindowTitle(QStringLiteral("Data Collection Meter Graph"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  chart_ = new KtChart(this);
  chart_->setObjectName(ControlName(IDC_CHART_PAGE));
  chart_->setMinimumSize(640, 480);
  chart_->hide();  // shown once there is something to chart
  layout->addWidget(chart_, 1);
  connect(chart_, &KtChart::doubleClicked, this, [this] { RefreshChartPage(); });
}

CDataCollectionDisplay::~CDataCollectionDisplay() = default;

bool CDataCollectionDisplay::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(0);
  if (!pDcMeterSelectDlg || pDcMeterSelectDlg->SelectedCount() == 0) {
    TremMessageBox(this, LoadString(3276), MB_OK | MB_ICONEXCLAMATION);
    // Nothing to chart: the window goes with the box rather than stay open empty.
    DestroyWindow();
    return true;
  }
  chart_->show();
  RefreshChartPage();
  return true;
}

void CDataCollectionDisplay::RefreshChartPage() {
  setEnabled(false);
  if (!pDcDlgSetup) {
    chart_->Clear();
    setEnabled(true);
    return;
  }
  CDcDlgSetup* setup = pDcDlgSetup;
  const int n = setup->GetSampleCount();
  std::vector<double> x;
  if (const double* t = setup->GetPtrDataTime()) x.assign(t, t + n);
  std::vector<std::vector<double>> ys = setup->GetPtrDataValues();
  QStringList names;
  if (const char* legend = setup->GetPtrLegendStrings()) {
    for (int i = 0; i < setup->LegendCount(); ++i) {
      const char* slot = legend + static_cast<size_t>(i) * CDcDlgSetup::kLegendSlot;
      names << QString::fromUtf8(slot, static_cast<qsizetype>(strnlen(slot, CDcDlgSetup::kLegendSlot)));
    }
    setup->FreeLegendStrings();
  }
  setup->FreeDataValues();
  setup->FreeDataTime();
  chart_->SetData(std::move(x), std::move(ys), names);
  setEnabled(true);
}
