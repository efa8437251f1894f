#include "dialogs/discovery/discover.h"

#include "core/discovery/discover.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/trem_globals.h"

CDiscover* pDiscover = nullptr;

TREM_REGISTER_DIALOG_WITH(CDiscover, [](QWidget* parent, const QString&) -> QDialog* {
  auto* dialog = new CDiscover(parent);
  dialog->show();
  return dialog;
});

CDiscover::CDiscover(QWidget* parent) : CDiscoverc(parent) {
  // The base filled the list from its owner; this dialog shows gDiscover's.
  OnInitDialog();
}

KT_Discover* CDiscover::SubnetList() const {
  return &gDiscover;
}

void CDiscover::OnOK() {
  // The console's channel may not be open yet (a console that has not searched so far).
  if (!gDiscover.IsOpen()) {
    gDiscover.Initialize();
    gDiscover.OpenChannel(0);
  }
  gDiscover.SendDiscoveryRequest(1, 1, 1);
  QDialog::accept();
}
