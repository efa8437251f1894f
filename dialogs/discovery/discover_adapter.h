// CDiscoverAdapter: "Edit Network Adapter", the UPS network adapters the console reaches by
// SNMP: hosts of gHosts of address type 3, each with its get and set community. Add puts a row
// into the list (nothing changes until OK); Delete takes the selected rows' hosts out of
// gHosts at once; OK enters every new adapter as a host that looks found by discovery and asks
// it for its UPS information (2, 0, 0). Run modally; pDiscoverAdapter is the opener's to set.
#pragma once

#include <QDialog>
#include <QString>

class KT_Address;
class QLineEdit;
class QTreeWidget;

inline constexpr int IDD_DISCOVER_ADAPTER = 130;
inline constexpr int IDC_ADAPTER_HOST = 1001;
inline constexpr int IDC_ADAPTER_GET = 1002;
inline constexpr int IDC_ADAPTER_SET = 1009;
inline constexpr int IDC_ADAPTER_ADD = 1021;
inline constexpr int IDC_ADAPTER_DELETE = 1022;
inline constexpr int IDC_ADAPTER_LIST = 1019;

class CDiscoverAdapter : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 40;

  explicit CDiscoverAdapter(QWidget* parent = nullptr);

  int DoModal() { return exec(); }
  bool OnInitDialog();
  void OnButtonAdd();
  void OnButtonDelete();
  void OnClickListadapter();
  void OnOK();
  void OnHelp();
  bool IsNameInList(const QString& name) const;
  int InsertListItem(const QString& text);
  void UpdateListItem(int row, int column, const QString& text);
  // Gives a new host the identity of a network adapter: the answer discovery makes of an
  // adapter's reply, through the host table.
  static void UpdateHostData(KT_Address& address);

  QTreeWidget* List() const { return list_; }
  QWidget* Control(int id) const;

 protected:
  void accept() override { OnOK(); }
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTreeWidget* list_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* get_ = nullptr;
  QLineEdit* set_ = nullptr;
  int changed_ = 0;
};

extern CDiscoverAdapter* pDiscoverAdapter;
