// CHostSelect ("Select Hosts:"): searches the network once when it opens (UDP to
// "255.255.255.255" and the subnets of gClientDiscovery, and IPX where the kernel has it) and
// lists the names of every host that answered; the caller reads the selected names. Opening
// sockets that fail leaves the list empty without a message.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QListWidget;

inline constexpr int IDD_HOST_SELECT = 183;
inline constexpr int IDC_HOST_SELECT_LIST = 1014;

class CHostSelect : public KTDialog {
  Q_OBJECT

 public:
  explicit CHostSelect(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CHostSelect() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetHosts();

  // The text of the selected entry as the dialog's data exchange read it on OK, and every
  // selected entry.
  const QString& SelectedText() const { return selected_; }
  const QStringList& SelectedHosts() const { return selected_hosts_; }

 private:
  void DoDataExchange();
  QListWidget* list_ = nullptr;
  QString selected_;
  QStringList selected_hosts_;
};

extern DialogPointer<CHostSelect> pHostSelect;
