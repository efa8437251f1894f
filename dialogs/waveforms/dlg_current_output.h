// CDlgCurrentOutput: the output-current waveform window (branch 3). Output waves arrive centred
// on 125; the conversion takes that off. Harmonics 1 to 31 are shown.
#pragma once

#include "dialogs/waveforms/dlg_wave_base.h"

class CDlgCurrentOutput : public CDlgWaveBase {
  Q_OBJECT

 public:
  static constexpr int kCaptionId = 1687;
  static constexpr int kWaveformId = 3;
  static constexpr int kHelpContext = 21;
  static constexpr int kYRange = 100;

  explicit CDlgCurrentOutput(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDlgCurrentOutput() override;

  bool OnInitDialog() override;
  void OnWaveformBlock() override;
};

extern DialogPointer<CDlgCurrentOutput> pDlgCurrentOutput;
