// CHostSelection: the console's choice of its host at start-up. It asks the network for the
// servers that carry an agent (IPX service queries for server type 0x085E), lists each one
// once, and OK makes the chosen one the only host of gHosts (index 1); Cancel leaves gHosts
// as it was.
//
// Where the IPX channel cannot be opened (current Linux kernels) the dialog searches by UDP
// instead: gDiscover's subnets ("255.255.255.255" when none), and lists every agent that
// answers (type 1, port 7010).
//
// With a preset host (SetHost) the dialog searches out of sight and ends with OK by itself
// when that host answers (its name compared ignoring letter case). When it does not answer
// within 10 s, or at once when no channel opens, the dialog appears with "Remote Server NOT
// found" and lists the servers that did answer.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "core/network/address.h"
#include "dialogs/frame/hosts.h"

class QTreeWidget;

inline constexpr int IDD_HOST_SELECTION = 3040;
inline constexpr int IDC_HOST_LIST = 1519;

class CHostSelection : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 2;
  static constexpr int kSearchTimerId = 1;
  // Timer ticks (of 1 s) a preset host is waited for.
  static constexpr int kPresetTicks = 10;

  explicit CHostSelection(QWidget* parent = nullptr);
  ~CHostSelection() override;

  void SetHost(const QString& hostName) { preset_ = hostName; }
  // Runs the dialog modally: QDialog::Accepted or Rejected.
  int DoModal();
  // Starts the search and shows the window without a modal loop (opening by class name).
  void Open();

  // The period of the search timer (tests shorten it); 1000 ms by default.
  static void SetTickMs(int ms);

  // Test access.
  bool Found() const { return found_ != 0; }
  bool UsesUdp() const { return udp_search_; }
  int RowCount() const;
  QString RowText(int row) const;
  QString RowAddressText(int row) const;
  QTreeWidget* List() const { return list_; }
  // True while the dialog waits out of sight for its preset host.
  bool OutOfSight() const { return hidden_; }
  // True once the search has ended (answers read, given up, or no channel).
  bool SearchDone() const { return finished_; }

 protected:
  int SendIPXDiscoverPacket();
  void InitList();
  void GetData();
  void DecodeSap(const uint8_t* response, size_t length);
  void AddItemsToList(int row, int column, const QString& text);
  int GetHostName(const char* hostName, const char* addressText);

  bool OnInitDialog();
  void OnTimer(int id);
  void OnOK();
  void OnCancel();
  void OnDblclkHostName();
  void OnHelp();
  bool OnHelpInfo();

  void accept() override;
  void reject() override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Adds a server unless the same host is listed; checks the preset. False when decoding
  // should stop (the preset answered).
  bool OfferServer(KT_Address& address, const QString& name);
  static const char* ServerName(HostEntry& server);
  void SearchByUdp();
  void Finish();
  int FindPresetRow();
  bool MatchesPreset(const QString& name) const;

  KT_Address work_{ADDRESS_IPX};
  QTreeWidget* list_ = nullptr;
  QString preset_;
  int found_ = 0;
  QRect saved_rect_;
  // The servers found, in the order of the list's rows (row n is index n + 1); gHosts is left
  // alone until OK.
  KT_Hosts servers_;
  int timer_ = 0;
  int ticks_ = 0;
  bool udp_search_ = false;
  bool no_channel_ = false;
  bool hidden_ = false;
  bool finished_ = false;
};

extern CHostSelection* pHostSelection;
