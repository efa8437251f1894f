// CDataCollectionDisplay: "Data Collection Meter Graph". A chart page (KtChart) with one line
// per meter type chosen in the display list, over the sample number; a double click redraws
// it from the setup dialog's newest readings. Without a chosen type it says "No meter types
// selected" and stays empty.
#pragma once

#include "dialogs/frame/kt_dialog.h"

class KtChart;

inline constexpr int IDD_DC_DISPLAY = 3043;

class CDataCollectionDisplay : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int IDC_CHART_PAGE = 1011;

  explicit CDataCollectionDisplay(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDataCollectionDisplay() override;

  bool OnInitDialog() override;
  // Redraws the chart page from the setup dialog's buffers (taken, then freed again).
  void RefreshChartPage();
  KtChart* Chart() const { return chart_; }

 private:
  KtChart* chart_ = nullptr;
};
