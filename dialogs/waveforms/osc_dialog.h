// COscDialog: the "Oscilloscope" chooser of the waveform windows. "&Graph" opens the input- and
// output-voltage windows that are checked (recreating one whose window was closed); with both
// checked they are placed side by side over the main window's rectangle. The output-current
// window is opened by its own constructor elsewhere.
//
// On opening it asks the agent for the input wave once; when the agent answers "Not
// Available" (its UPS gives no waveforms) the choices and "&Graph" are disabled and the group
// says so, so that no window is opened for waves that do not exist.
#pragma once

#include <QRect>

#include "dialogs/frame/kt_dialog.h"

inline constexpr int IDD_OSC_DIALOG = 3046;

class COscDialog : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 44;
  static constexpr int IDC_INPUT_VOLTAGE = 1605;
  static constexpr int IDC_OUTPUT_VOLTAGE = 1607;
  static constexpr int IDC_GRAPH_WAVEFORM = 1606;  // "&Graph"
  static constexpr int IDC_SELECT_GROUP = 1604;    // "Select Graph"

  explicit COscDialog(QWidget* parent = nullptr, const QString& hostName = QString());
  ~COscDialog() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned index) override;
  void OnBtnGraphWaveform();
  // False once the agent said it has no waves.
  bool WavesOffered() const { return waves_offered_; }
  // The main window's screen rectangle the windows are placed over: the top-level window of
  // the dialog's parent, else the primary screen's available area.
  QRect MainWindowRect() const;

  int inputVoltage = 0;
  int outputVoltage = 0;

 private:
  void BuildControls();
  void UpdateData();

  bool waves_offered_ = true;
};

extern DialogPointer<COscDialog> pOscDialog;
