#include "dialogs/waveforms/dlg_voltage_output.h"

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"

DialogPointer<CDlgVoltageOutput> pDlgVoltageOutput{DialogSlot::DlgVoltageOutput};

static const StringTableRegistrar kStrings{{1685, "Output Voltage"}};

TREM_REGISTER_DIALOG(CDlgVoltageOutput);

CDlgVoltageOutput::CDlgVoltageOutput(QWidget* parent, const QString& hostName)
    : CDlgWaveBase(parent, hostName, kCaptionId, kWaveformId, kYRange, QStringLiteral("Time Samples"),
                   QStringLiteral("Voltage (V)")) {
  BindDialogPointer(pDlgVoltageOutput);
  Create(IDD_WAVEFORM);
}

CDlgVoltageOutput::~CDlgVoltageOutput() {
  pDlgVoltageOutput.ClearIf(this);
}

void CDlgVoltageOutput::OnWaveformBlock() {
  ShowWaveform(0, 0, 2);
}
