#include "dialogs/waveforms/dlg_current_output.h"

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"

DialogPointer<CDlgCurrentOutput> pDlgCurrentOutput{DialogSlot::DlgCurrentOutput};

static const StringTableRegistrar kStrings{{1687, "Output Current"}};

TREM_REGISTER_DIALOG(CDlgCurrentOutput);

CDlgCurrentOutput::CDlgCurrentOutput(QWidget* parent, const QString& hostName)
    : CDlgWaveBase(parent, hostName, kCaptionId, kWaveformId, kYRange, QStringLiteral("Time Samples"),
                   QStringLiteral("Current (mA)")) {
  BindDialogPointer(pDlgCurrentOutput);
  Create(IDD_WAVEFORM);
}

CDlgCurrentOutput::~CDlgCurrentOutput() {
  pDlgCurrentOutput.ClearIf(this);
}

bool CDlgCurrentOutput::OnInitDialog() {
  CDlgWaveBase::OnInitDialog();
  SetHelpContextId(kHelpContext);
  return true;
}

void CDlgCurrentOutput::OnWaveformBlock() {
  ShowWaveform(0, 0, 1);
}
