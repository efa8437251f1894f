// CPagerConfig: "Configure Pager Recipients". The pager recipients of the notification block
// (at most eight): for each the paging company's number, the pager PIN, the modem, port and
// speed, and the protocol details. Modems come from "modems.txt" in the current directory,
// ports from the agent. OK sends the whole list.
//
// An action names recipient i by bit i, so OK keeps every recipient in its slot: a replaced
// recipient takes its predecessor's slot, new ones go last, and after a delete the page
// actions' bits follow their recipients (the whole block is sent then).
//
// Baud index: the record holds the agent's codes (1 600 .. 5 9600, 6 19200, 7 38400, 8 14400,
// 9 28800, others 300). The Baud Rate box lists 300 .. 19200; 38400 and 28800 have no entry, so
// a recipient with one of them leaves the box as it was when selected.
#pragma once

#include <QString>
#include <utility>
#include <vector>

#include "core/scp/pager_config.h"
#include "dialogs/frame/kt_dialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class CPagerConfig : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3020;
  static constexpr int kHelpContext = 21;
  static constexpr int IDC_ADD = 1181;
  static constexpr int IDC_DELETE = 1183;
  static constexpr int IDC_INFO_GROUP = 1218;
  static constexpr int IDC_NAME = 1219;
  static constexpr int IDC_ACCESS_NUMBER = 1220;
  static constexpr int IDC_ACCESS_LABEL = 1223;
  static constexpr int IDC_MODEM_GROUP = 1225;
  static constexpr int IDC_PORT = 1232;
  static constexpr int IDC_BAUD = 1233;
  static constexpr int IDC_DIAL = 1734;
  static constexpr int IDC_RECIPIENTS = 1706;
  static constexpr int IDC_PIN_LABEL = 1811;
  static constexpr int IDC_PIN = 1812;
  static constexpr int IDC_INIT = 1814;
  static constexpr int IDC_MAX_CHARS = 1816;
  static constexpr int IDC_TAP = 1826;
  static constexpr int IDC_DELAY = 1827;
  static constexpr int IDC_DELAY_LABEL = 1828;
  static constexpr int IDC_TERMINATION_LABEL = 1829;
  static constexpr int IDC_TERMINATION = 1830;
  static constexpr int IDC_RECIPIENTS_LABEL = 1940;
  static constexpr int IDC_MODEM = 1955;
  static constexpr const char* kModemFile = "modems.txt";
  static constexpr const char* kDefaultModem = "<Default Modem Settings>";
  // The most characters of a modems.txt line that count; the rest of a longer line is skipped.
  static constexpr int kModemLineMax = 255;

  explicit CPagerConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CPagerConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);
  ~CPagerConfig() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  void InitModemComboBox();
  void InitListControl();
  void UpdateSerialPorts();
  void SetDefaults();
  void AddExistingToRecipientList();
  int AddToRecipientList(const KT_PagerConfig& recipient);
  void OnTapSupport1();
  void OnRecipientFocusChanged();
  void OnSetfocusRecipients();
  static int TranslateDatabits(int flag) { return flag != 0 ? 8 : 7; }
  void OnSelchangeModemCombo();
  bool IsDuplicateName() const;
  bool DeleteRecipientbyName(const QString& name);
  // The text of a stored baud index (the agent's codes).
  static QString GetBaudRateString(int baudIndex);
  // Baud Rate box position <-> stored index; -1 when the index has no entry.
  static int BaudIndexOfPosition(int position);
  static int PositionOfBaudIndex(int baudIndex);
  void OnAdd();
  void OnDelete();

  // One modems.txt line: false for a line without '-'.
  static bool ParseModemLine(const QString& line, QString& name, QString& init);
  // The modems of a modems.txt file (name, initialisation string) with the default modem,
  // sorted by name; false, with the list empty, when the file cannot be opened.
  static bool ReadModemFile(const QString& path, std::vector<std::pair<QString, QString>>& modems);

  QTreeWidget* Recipients() const { return list_; }
  QComboBox* Modems() const { return modem_; }
  QComboBox* Ports() const { return port_; }
  QComboBox* BaudRates() const { return baud_; }

 private:
  struct Row {
    KT_PagerConfig config;
    int slot = -1;  // the recipient's place in the list when the dialog filled, -1 for new
    int order = 0;  // order of addition (new rows go last in this order)
  };
  void Init();
  void BuildControls();
  Row* RowOf(QTreeWidgetItem* item) const;
  QTreeWidgetItem* InsertRow(const KT_PagerConfig& recipient, int slot);
  void ClearRows();

  QCheckBox* tap_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* access_ = nullptr;
  QLineEdit* pin_ = nullptr;
  QLineEdit* max_chars_ = nullptr;
  QLineEdit* delay_ = nullptr;
  QLineEdit* termination_ = nullptr;
  QLineEdit* init_ = nullptr;
  QLineEdit* dial_ = nullptr;
  QLabel* access_label_ = nullptr;
  QLabel* pin_label_ = nullptr;
  QLabel* delay_label_ = nullptr;
  QLabel* termination_label_ = nullptr;
  QComboBox* modem_ = nullptr;
  QComboBox* port_ = nullptr;
  QComboBox* baud_ = nullptr;
  QTreeWidget* list_ = nullptr;
  // The application's focus notice, let go before the dialog's own destruction hides it (which
  // moves the focus and would call back into a half-destroyed dialog).
  QMetaObject::Connection focus_connection_;
  std::vector<Row*> rows_;
  int slots_before_ = 0;  // recipients the list held when the dialog filled
  int next_order_ = 0;
  bool filled_ = false;
  bool ports_filled_ = false;
  bool beside_pager_ = false;
};

extern DialogPointer<CPagerConfig> pPagerConfig;
