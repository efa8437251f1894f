// CEventNotification: "Configure Events". The editor of an agent's event -> action table (the
// notification block, block 5): the events the agent supports, the actions configured for
// them, and one button per kind of action that opens that action's dialog for the selected
// events. The action dialogs change gScp's copy of the block; OK sends the whole block back.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "dialogs/frame/kt_dialog.h"
#include "dialogs/notification/event_action_pair.h"

class QListWidget;
class QPushButton;
class ReportList;

class CEventNotification : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3019;
  static constexpr int kHelpContext = 11;
  static constexpr int IDC_DELETE = 1183;
  static constexpr int IDC_EVENTS = 1207;
  static constexpr int IDC_PAGE = 1209;
  static constexpr int IDC_USER_WARN = 1211;
  static constexpr int IDC_ADMIN_WARN = 1212;
  static constexpr int IDC_LOG_EVENT = 1213;
  static constexpr int IDC_NETWORK_MSG = 1214;
  static constexpr int IDC_EXECUTE_CMD = 1215;
  static constexpr int IDC_EMAIL = 1217;
  static constexpr int IDC_CONFIGURED = 1498;
  static constexpr int IDC_REMOTE_WARN = 1948;

  explicit CEventNotification(QWidget* parent = nullptr, const QString& hostName = QString());
  CEventNotification(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                     const QStringList& hostNames);
  ~CEventNotification() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  void InitListControl();
  void SetupBitmapButtons();
  void LoadValidAlarms();
  void LoadConfiguredActions();
  void SortConfiguredActions();
  // 1, or -1 after its message.
  int GetSelectedEvents();
  QString GetEventsAndActionsErrorMsg(int action);
  // The event number when the action cannot be configured for the event, else 0.
  static int CheckEventsAndActions(int event, int action, bool localMode);
  int CheckEventsAndActions(int event, int action) const;
  static int GetEventNumber(const QString& name);
  static int GetActionNumber(const QString& description);

  void OnNetworkMsg();
  void OnUserWarn();
  void OnAdminWarn();
  void OnPage();
  void OnEmail();
  void OnExecuteCmd();
  void OnLogEvent();
  void OnRemoteWarn();
  void OnDelete();
  void OnSelchangeEvents();
  void SaveConfiguredActions();

  QListWidget* Events() const { return events_; }
  ReportList* Configured() const { return configured_; }
  const std::vector<CEventActionPair>& ConfiguredActions() const { return pairs_; }
  QPushButton* ActionButton(int id) const;

 protected:
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void Init();
  void BuildControls();
  // Steps 1-3 of every action button: true when the selected events all take the action.
  bool PrepareAction(int action);
  bool LocalMode() const;

  QListWidget* events_ = nullptr;
  ReportList* configured_ = nullptr;
  std::vector<CEventActionPair> pairs_;
  bool first_data_ = false;
};

extern DialogPointer<CEventNotification> pEventNotification;

// Shared with the action dialogs: for each row of the event list, (row, event number); and
// the events selected when an action button was last pressed, ascending in list order.
struct EventIndexPair {
  int index = 0;
  int event = 0;
};
extern std::vector<EventIndexPair> gpEventIndexMap;
extern int gnSelectedEventCount;
extern std::vector<int> gpSelectedEvents;
