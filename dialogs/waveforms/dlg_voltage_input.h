// CDlgVoltageInput: the input-voltage waveform window (branch 1). The input wave arrives
// rectified; it is converted with the input circuit's correction. Harmonics 2 to 31 are shown.
#pragma once

#include "dialogs/waveforms/dlg_wave_base.h"

class CDlgVoltageInput : public CDlgWaveBase {
  Q_OBJECT

 public:
  static constexpr int kCaptionId = 1686;
  static constexpr int kWaveformId = 1;
  static constexpr int kHelpContext = 21;
  static constexpr int kYRange = 600;

  explicit CDlgVoltageInput(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDlgVoltageInput() override;

  bool OnInitDialog() override;
  void OnWaveformBlock() override;
};

extern DialogPointer<CDlgVoltageInput> pDlgVoltageInput;
