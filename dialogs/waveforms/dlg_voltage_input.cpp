#include "dialogs/waveforms/dlg_voltage_input.h"

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"

DialogPointer<CDlgVoltageInput> pDlgVoltageInput{DialogSlot::DlgVoltageInput};

static const StringTableRegistrar kStrings{{1686, "Input Voltage"}};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CDlgVoltageInput::kHelpContext, "Waveforms",
    "Shows one waveform of the UPS as it is sampled now: the wave over 64 samples at the top, "
    "the amplitudes of its harmonics as bars below it and its total harmonic distortion at the "
    "bottom.\n\nThe window asks the agent for a new wave each time one arrives, so the picture "
    "keeps refreshing while it is open. Resize the window to enlarge the graphs.");

TREM_REGISTER_DIALOG(CDlgVoltageInput);

CDlgVoltageInput::CDlgVoltageInput(QWidget* parent, const QString& hostName)
    : CDlgWaveBase(parent, hostName, kCaptionId, kWaveformId, kYRange, QStringLiteral("Time Samples"),
                   QStringLiteral("Voltage (V)")) {
  BindDialogPointer(pDlgVoltageInput);
  Create(IDD_WAVEFORM);
}

CDlgVoltageInput::~CDlgVoltageInput() {
  pDlgVoltageInput.ClearIf(this);
}

bool CDlgVoltageInput::OnInitDialog() {
  CDlgWaveBase::OnInitDialog();
  SetHelpContextId(kHelpContext);
  return true;
}

void CDlgVoltageInput::OnWaveformBlock() {
  ShowWaveform(1, 1, 2);
}
