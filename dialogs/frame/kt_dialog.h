// KTDialog: the base of the library's dialogs.
//
// What every dialog shares:
//   - the host it talks to: one host name, or a list of selected hosts with a selection label;
//   - a modeless life: OK, Cancel, Escape and the close button destroy the window and the
//     object deletes itself (the class's exported pointer is cleared);
//   - the request path: RequestData queues a GET, SendCommand a SET, through gScp and gHosts
//     under the mutex "Mutex to lock SCP queue" (request_path.h);
//   - a busy state while replies are expected (SetWaitCount): a wait cursor, a key filter
//     (keys that type or erase text are swallowed; Tab, Escape, Enter and the mouse work, and
//     OK does nothing) and one reply deadline (30 s), after which the dialog shows "Unable to
//     retrieve data from the Agent" and closes;
//   - one notification, OnNewData, through which every reply reaches the dialog;
//   - readings a dialog keeps following while it is open (FollowData): a request of those that
//     stays unanswered a short while is asked again, so that a lost datagram or an agent that
//     restarted does not leave the dialog frozen;
//   - whether the dialog is filled: each request it asked while it opened has had its answer;
//   - printing of a text file the dialog wrote (Print... button, id 1710), a caption of the
//     title and the host, and context help from "hpanel.hlp" (Help button and F1).
//
// Writing a dialog:
//
//   DialogPointer<CMyDialog> pMyDialog{DialogSlot::...};   // or no slot when not routed
//
//   CMyDialog::CMyDialog(QWidget* parent, const QString& host) : KTDialog(IDD_MY, parent, host) {
//     BindDialogPointer(pMyDialog);
//     SetWaitCount(1);           // replies after which the dialog stops waiting
//     BuildControls();           // widgets, objectName ControlName(id), AddButtonRow(...)
//     Create();                  // OnInitDialog, then show; last step of the constructor
//   }
//   bool CMyDialog::OnInitDialog() {
//     KTDialog::OnInitDialog();
//     SetHelpContextId(42);
//     RequestData(4, 8, 0);
//     SetHostCaption(1234);
//     return true;
//   }
//   void CMyDialog::OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) {
//     if (block == 4) { auto lock = gScp.Lock(); ... read gScp.config ... }
//   }
//
// Everything runs on the user-interface thread.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QElapsedTimer>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <vector>

#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"

class QBoxLayout;
class QHBoxLayout;
class QPushButton;
class QTimer;

class KTDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kReplyTimerId = 1;
  static constexpr int kDefaultReplyDeadlineMs = 30000;

  // Template 3000, one host (empty: none named).
  explicit KTDialog(QWidget* parent = nullptr, const QString& hostName = QString());
  // A template of the derived dialog, one host.
  KTDialog(int templateId, QWidget* parent, const QString& hostName);
  // Several selected hosts: the label stands in the caption; requests go by host name
  // (RequestData) or to every listed host (SendCommand).
  KTDialog(QWidget* parent, const QString& selectionLabel, const QString& hostName,
           const QStringList& hostNames);
  KTDialog(int templateId, QWidget* parent, const QString& selectionLabel, const QString& hostName,
           const QStringList& hostNames);
  ~KTDialog() override;

  // Number of replies after which the dialog stops waiting (0: it waits for none).
  void SetWaitCount(int n);
  int GetWaitCount() const { return busy_count_; }
  bool IsBusy() const { return busy_count_ > 0; }

  void SetPrintFile(const QString& path) { print_file_ = path; }
  const QString& GetPrintFile() const { return print_file_; }

  // Caption: title " (" label ")" with a selection label, else title " (" host ")" with a host
  // name, else the title alone. The int form takes the title from the string table.
  void SetHostCaption(int stringId);
  void SetHostCaption(const QString& title);

  // GET of (block, branch, index) for the dialog's host; 0 when the mutex is missing.
  int RequestData(unsigned block, unsigned branch, unsigned index);
  // SET of gScp's data of (block, branch, index) for the first host or every listed host;
  // returns the number of SETs queued. Does not wait and leaves the busy count alone.
  int SendCommand(unsigned block, unsigned branch, unsigned index);
  static bool IsHostCapable(unsigned block, unsigned branch, int hostIndex);

  // Readings the dialog follows while it is open: asks for (block, branch, index) as
  // RequestData does, and keeps the request in view. The dialog asks again on its own cadence
  // (by calling FollowData again, usually with each answer); an ask that has had no answer
  // after FollowWaitMs() is asked again (the same question goes out again, also while the first
  // is still in flight), and so on until an answer comes. Result as RequestData.
  int FollowData(unsigned block, unsigned branch, unsigned index);
  // The dialog keeps asking for readings of its own (it has called FollowData).
  bool Follows() const { return !followed_.empty(); }
  // The packed keys (reply_routing.h) of the readings it follows.
  std::vector<uint32_t> FollowedKeys() const;
  // The dialog has opened and each request it asked while opening (in OnInitDialog) has had
  // its answer: what it shows of the agent's is the agent's. A dialog that keeps asking is
  // filled then, although a request of its own is always waiting.
  bool IsFilled() const { return !opening_ && opening_requests_.empty(); }
  // The same for one request of the opening (block, branch, index as asked): its answer has
  // come. A dialog shows the fields that the request fills empty until then.
  bool IsAnswered(unsigned block, unsigned branch, unsigned index) const;
  // How long a followed reading may stay unanswered before it is asked again: a few turns of
  // the console's worker, well under the time after which the worker gives a silent agent up.
  static constexpr int kDefaultFollowWaitMs = 6000;
  static void SetFollowWaitMs(int ms);  // tests shorten it; 0 or less: the default
  static int FollowWaitMs();

  void SetHelpContextId(int id) { help_context_id_ = id; }
  int HelpContextId() const { return help_context_id_; }

  // Creates the window: OnInitDialog, then shown (modeless). Call it last in the most-derived
  // constructor. With no controls built, the base template 3000 is built first.
  bool Create(int templateId = 0);
  // Modal use (the dialog is not deleted on close): OnInitDialog, then runs until closed;
  // returns IDOK or IDCANCEL.
  int DoModal();
  bool IsModeless() const { return modeless_ != 0; }

  // The window exists: created and not being destroyed.
  bool WindowExists() const { return created_ && !destroying_; }
  // Destroys the window; a modeless dialog then deletes itself (later, from the event loop).
  void DestroyWindow();

  const QString& HostName() const { return host_name_; }
  const QString& SelectionLabel() const { return selection_label_; }
  const QStringList& HostList() const { return host_list_; }
  RequestTarget Target() const;
  uint32_t LastReplyAddress() const { return last_reply_address_; }
  int TemplateId() const { return template_id_; }
  // True while the wait cursor is shown.
  bool ShowsWaitCursor() const { return wait_cursor_; }

  // The control of an id (objectName "ctl<id>"), or null.
  QWidget* Control(int id) const;
  template <class T>
  T* Control(int id) const {
    return findChild<T*>(ControlName(id));
  }

  // Timers numbered as the dialogs number them; OnTimer(id) is called for each.
  void SetTimer(int id, int ms);
  void KillTimer(int id);
  bool HasTimer(int id) const { return timers_.count(id) != 0; }

  // The reply deadline of dialogs that start waiting from now on (tests shorten it).
  static void SetReplyDeadlineMs(int ms);
  static int ReplyDeadlineMs();

  // --- notifications and handlers ---
  // A reply for (block, branch, index) with its SCP status; the data is in gScp.
  virtual void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned index);
  // The reply event: stores the address, lowers the busy count, calls OnNewData. 0.
  int OnScpReply(unsigned status, uint32_t packedKey);
  virtual bool OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnTimer(int timerId);
  virtual void OnHelp();
  // F1: the dialog's topic; true when handled.
  virtual bool OnHelpInfo();
  // The Print... button: prints the print file. 1 printed, 0 cancelled, -1 failed.
  virtual int PrintTextFile();
  // The deadline ran out: busy state ends, the box with `text`, then the dialog closes.
  void ReportReplyFailure(const QString& text);

 protected:
  // Sets the class's exported pointer to this dialog; it is cleared when the window is
  // destroyed and when the object is deleted (unless it points to a newer dialog by then).
  void BindDialogPointer(DialogPointerBase& pointer);
  // For dialogs without an exported pointer of their own (tests): bind a routing slot.
  void BindDialogSlot(DialogSlot slot);

  // A push button with the id as object name. Buttons IDOK, IDCANCEL, IDC_PRINT and ID_HELP
  // are wired to OnOK (through the busy check), OnCancel, PrintTextFile and OnHelp; IDOK is the
  // default button.
  QPushButton* MakeButton(int id, const QString& text);
  // A row of such buttons, right-aligned, with their standard texts ("OK", "Cancel",
  // "Print...", "Help") unless a text is given.
  QHBoxLayout* MakeButtonRow(std::initializer_list<int> ids);
  // Builds the base template 3000: caption "Dialog", OK, Cancel, Print..., Help.
  void BuildBaseTemplate();

  // Qt side.
  void accept() override;
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void EnterBusy();
  void LeaveBusy();
  void InstallKeyFilter(bool on);
  void ClearBoundPointers();
  // The request table key of a GET of (block, branch, index), packed.
  static uint32_t RequestKey(unsigned block, unsigned branch, unsigned index);
  // A reply's data take in the request's: same block, and the reply is the whole block, or
  // the same branch and either the whole branch or the same item.
  static bool ReplyCovers(uint32_t replyKey, uint32_t requestKey);
  // Asks again for the followed readings that have waited FollowWaitMs() for an answer.
  void AskAgainOverdue();
  // OK through the busy check (the OK button, Enter).
  void HandleOk();

  int busy_count_ = 0;
  QString print_file_;
  uint32_t last_reply_address_ = 0;
  QString host_name_;
  QStringList host_list_;
  QString selection_label_;
  int help_context_id_ = 0;
  int modeless_ = 1;
  int template_id_ = IDD_KTDIALOG;
  bool created_ = false;
  bool destroying_ = false;
  bool wait_cursor_ = false;
  bool key_filter_ = false;
  std::map<int, int> timers_;  // dialog id -> Qt timer id
  DialogPointerBase* bound_pointer_ = nullptr;
  // While OnInitDialog runs from Create or DoModal: requests are the dialog's first ones.
  bool opening_ = false;
  std::vector<uint32_t> opening_requests_;  // first requests not answered yet
  struct Followed {
    uint32_t key = 0;
    bool awaiting = false;  // asked, no answer yet
    QElapsedTimer asked;    // since the last ask
  };
  std::vector<Followed> followed_;
  QTimer* follow_timer_ = nullptr;  // checks the followed readings while one is awaited
  DialogSlot bound_slot_ = DialogSlot::Count;
};

// True when the dialog exists and its window is open (the test before reusing a pointer).
inline bool DialogIsOpen(const KTDialog* dialog) {
  return dialog != nullptr && dialog->WindowExists();
}
