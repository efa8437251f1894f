// A small KTDialog for the frame's tests: one edit field (ctl1001), OK, Cancel, Print and Help,
// a wait count and an optional routing slot; it records every OnNewData and every OnOK.
#pragma once

#include <QLineEdit>
#include <QVBoxLayout>
#include <vector>

#include "dialogs/frame/kt_dialog.h"

struct ProbeReply {
  unsigned status, block, branch, item;
};

class ProbeDialog : public KTDialog {
 public:
  static constexpr int IDC_EDIT = 1001;

  ProbeDialog(int waitCount, DialogSlot slot = DialogSlot::Count,
              const QString& host = QStringLiteral("localhost"), const QString& label = QString(),
              const QStringList& hosts = {})
      : KTDialog(IDD_KTDIALOG, nullptr, label, host, hosts) {
    if (slot != DialogSlot::Count) BindDialogSlot(slot);
    SetWaitCount(waitCount);
    auto* layout = new QVBoxLayout(this);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(ControlName(IDC_EDIT));
    layout->addWidget(edit);
    layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, IDC_PRINT, ID_HELP}));
    Create();
  }

  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override {
    replies.push_back({status, block, branch, item});
  }
  void OnOK() override {
    ++ok_count;
    KTDialog::OnOK();
  }

  std::vector<ProbeReply> replies;
  int ok_count = 0;
};
