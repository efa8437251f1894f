// CDlgVoltageOutput: the output-voltage waveform window (branch 2). Output waves arrive centred
// on 125; the conversion takes that off. Harmonics 2 to 31 are shown.
#pragma once

#include "dialogs/waveforms/dlg_wave_base.h"

class CDlgVoltageOutput : public CDlgWaveBase {
  Q_OBJECT

 public:
  static constexpr int kCaptionId = 1685;
  static constexpr int kWaveformId = 2;
  static constexpr int kYRange = 600;

  explicit CDlgVoltageOutput(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDlgVoltageOutput() override;

  void OnWaveformBlock() override;
};

extern DialogPointer<CDlgVoltageOutput> pDlgVoltageOutput;
