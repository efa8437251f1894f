#include "dialogs/datacollection/dc_meter_select_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/datacollection/data_collection_display.h"
#include "dialogs/datacollection/dc_dlg_setup.h"
#include "dialogs/frame/dialog_registry.h"

DialogPointer<CDcMeterSelectDlg> pDcMeterSelectDlg;

// The tools open it on its own (modeless); the setup dialog runs it modally.
static const DialogRegistrar kRegistrar("CDcMeterSelectDlg",
                                        [](QWidget* parent, const QString& host) -> KTDialog* {
                                          auto* dialog = new CDcMeterSelectDlg(parent, host);
                                          dialog->Create(IDD_DC_METER_SELECT);
                                          return dialog;
                                        });

CDcMeterSelectDlg::CDcMeterSelectDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_DC_METER_SELECT, parent, hostName) {
  BindDialogPointer(pDcMeterSelectDlg);
  SetWaitCount(0);
  BuildControls();
}

CDcMeterSelectDlg::~CDcMeterSelectDlg() {
  pDcMeterSelectDlg.ClearIf(this);
}

void CDcMeterSelectDlg::BuildControls() {
  setWindowTitle(QStringLiteral("Data Collection Display"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Select Meter Types to Display:"), this);
  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_DISPLAY_LIST));
  list_->setSelectionMode(QAbstractItemView::MultiSelection);
  list_->setMinimumSize(240, 200);
  label->setBuddy(list_);
  layout->addWidget(label);
  layout->addWidget(list_, 1);
  empty_hint_ = new QLabel(
      QStringLiteral("No meter types to display: select them under \"Select Meter Types to Store:\" in "
                     "Data Collection Setup, then choose Graph there."),
      this);
  empty_hint_->setWordWrap(true);
  empty_hint_->setMaximumWidth(list_->minimumWidth() + 40);
  empty_hint_->setVisible(false);
  layout->addWidget(empty_hint_);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  QPushButton* graph = MakeButton(IDC_GRAPH, QStringLiteral("Graph"));
  connect(graph, &QPushButton::clicked, this, [this] { OnGraph(); });
  // The template's closing button has the OK id and reads "Cancel".
  QPushButton* close = MakeButton(IDOK, QStringLiteral("Cancel"));
  close->setDefault(false);
  close->setAutoDefault(false);
  graph->setAutoDefault(true);
  graph->setDefault(true);
  row->addWidget(graph);
  row->addWidget(close);
  layout->addLayout(row);
  setTabOrder(list_, graph);
  setTabOrder(graph, close);
}

bool CDcMeterSelectDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(0);
  list_->clear();
  if (pDcDlgSetup) {
    const QStringList texts = pDcDlgSetup->EntryTexts();
    const std::vector<int>& flags = pDcDlgSetup->Selection();
    for (int i = 0; i < texts.size() && i < static_cast<int>(flags.size()); ++i) {
      if (flags[static_cast<size_t>(i)] == 1) list_->addItem(texts[i].left(99));
    }
  }
  if (list_->count() > 0) list_->item(0)->setSelected(true);
  // Nothing to chart: say why, and leave only the closing button.
  const bool empty = list_->count() == 0;
  empty_hint_->setVisible(empty);
  list_->setEnabled(!empty);
  if (auto* graph = Control<QPushButton>(IDC_GRAPH)) {
    graph->setEnabled(!empty);
    graph->setDefault(!empty);
  }
  if (auto* close = Control<QPushButton>(IDOK)) {
    close->setDefault(empty);
    if (empty) close->setFocus();
  }
  return true;
}

int CDcMeterSelectDlg::SelectedCount() const {
  return static_cast<int>(list_->selectedItems().size());
}

void CDcMeterSelectDlg::OnGraph() {
  auto* display = new CDataCollectionDisplay(nullptr, HostName());
  display->DoModal();
  delete display;
}
