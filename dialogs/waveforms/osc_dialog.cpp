#include "dialogs/waveforms/osc_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/scp/scp_base.h"
#include "core/scp/scp_message.h"
#include "core/scp/waveform_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/waveforms/dlg_voltage_input.h"
#include "dialogs/waveforms/dlg_voltage_output.h"

DialogPointer<COscDialog> pOscDialog{DialogSlot::OscDialog};

namespace {
// Moves a window so that its outer rectangle, frame included, is `r`.
void MoveWindowFrame(QWidget* w, const QRect& r) {
  const QRect frame = w->frameGeometry();
  const QRect inner = w->geometry();
  w->setGeometry(r.adjusted(inner.left() - frame.left(), inner.top() - frame.top(),
                            inner.right() - frame.right(), inner.bottom() - frame.bottom()));
}
}  // namespace

TREM_REGISTER_DIALOG(COscDialog);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, COscDialog::kHelpContext, "Oscilloscope",
    "Opens windows that show the UPS's power waveforms as they are sampled now.\n\n"
    "Check Input Voltage, Output Voltage or both, then press Graph. With both checked the two "
    "windows are placed side by side. A window that is already open is kept; one that was closed "
    "is opened again.");

COscDialog::COscDialog(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_OSC_DIALOG, parent, hostName) {
  BindDialogPointer(pOscDialog);
  SetWaitCount(0);
  BuildControls();
  Create(IDD_OSC_DIALOG);
}

COscDialog::~COscDialog() {
  pOscDialog.ClearIf(this);
}

void COscDialog::BuildControls() {
  setWindowTitle(QStringLiteral("Oscilloscope"));
  auto* layout = new QHBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Select Graph"), this);
  group->setObjectName(ControlName(IDC_SELECT_GROUP));
  auto* boxes = new QVBoxLayout(group);
  auto* input = new QCheckBox(QStringLiteral("Input Voltage"), group);
  input->setObjectName(ControlName(IDC_INPUT_VOLTAGE));
  auto* output = new QCheckBox(QStringLiteral("Output Voltage"), group);
  output->setObjectName(ControlName(IDC_OUTPUT_VOLTAGE));
  boxes->addWidget(input);
  boxes->addWidget(output);
  auto* note = new QLabel(QString::fromStdString(ScpReplyCodeText(SCP_NOT_AVAILABLE)), group);
  note->setObjectName(QStringLiteral("notAvailableNote"));
  note->setVisible(false);
  boxes->addWidget(note);
  boxes->addStretch(1);
  layout->addWidget(group, 1);

  auto* buttons = new QVBoxLayout;
  QPushButton* graph = MakeButton(IDC_GRAPH_WAVEFORM, QStringLiteral("&Graph"));
  graph->setDefault(true);
  graph->setAutoDefault(true);
  connect(graph, &QPushButton::clicked, this, [this] { OnBtnGraphWaveform(); });
  QPushButton* help = MakeButton(ID_HELP, QStringLiteral("&Help"));
  QPushButton* cancel = MakeButton(IDCANCEL, QStringLiteral("Cancel"));
  buttons->addWidget(graph);
  buttons->addWidget(help);
  buttons->addWidget(cancel);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(input, output);
  setTabOrder(output, graph);
  setTabOrder(graph, help);
  setTabOrder(help, cancel);
}

bool COscDialog::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  SetHostCaption(1688);
  // Whether the agent has waves at all; only its "Not Available" changes anything here.
  RequestData(WaveformBlock::kBlockId, WAVE_INPUT_VOLTAGE, 0);
  return true;
}

void COscDialog::OnNewData(unsigned status, unsigned block, unsigned /*branch*/, unsigned /*index*/) {
  if (block != WaveformBlock::kBlockId || status != SCP_NOT_AVAILABLE || !waves_offered_) return;
  waves_offered_ = false;
  Control<QCheckBox>(IDC_INPUT_VOLTAGE)->setChecked(false);
  Control<QCheckBox>(IDC_INPUT_VOLTAGE)->setEnabled(false);
  Control<QCheckBox>(IDC_OUTPUT_VOLTAGE)->setChecked(false);
  Control<QCheckBox>(IDC_OUTPUT_VOLTAGE)->setEnabled(false);
  auto* graph = Control<QPushButton>(IDC_GRAPH_WAVEFORM);
  graph->setDefault(false);
  graph->setEnabled(false);
  auto* cancel = Control<QPushButton>(IDCANCEL);
  cancel->setDefault(true);
  cancel->setFocus();
  if (auto* note = findChild<QLabel*>(QStringLiteral("notAvailableNote"))) note->setVisible(true);
}

void COscDialog::UpdateData() {
  inputVoltage = Control<QCheckBox>(IDC_INPUT_VOLTAGE)->isChecked() ? 1 : 0;
  outputVoltage = Control<QCheckBox>(IDC_OUTPUT_VOLTAGE)->isChecked() ? 1 : 0;
}

QRect COscDialog::MainWindowRect() const {
  if (parentWidget() != nullptr) return parentWidget()->window()->frameGeometry();
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 800, 600);
}

void COscDialog::OnBtnGraphWaveform() {
  if (!waves_offered_) return;
  const QRect main = MainWindowRect();
  UpdateData();
  const int n = inputVoltage + outputVoltage;
  const int halfWidth = main.width() / 2;
  if (inputVoltage != 0) {
    if (!DialogIsOpen(pDlgVoltageInput)) {
      pDlgVoltageInput = nullptr;
      new CDlgVoltageInput(this, HostName());  // binds pDlgVoltageInput
    }
    if (n == 2) MoveWindowFrame(pDlgVoltageInput, QRect(main.left(), main.top(), halfWidth, main.height()));
  }
  if (outputVoltage != 0) {
    if (!DialogIsOpen(pDlgVoltageOutput)) {
      pDlgVoltageOutput = nullptr;
      new CDlgVoltageOutput(this, HostName());
    }
    if (n == 2) MoveWindowFrame(pDlgVoltageOutput, QRect(halfWidth, main.top(), halfWidth, main.height()));
  }
}
