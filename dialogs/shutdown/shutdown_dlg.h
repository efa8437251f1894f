// CShutdownDlg: "Configure Shutdown Parameters", what happens after an agent's UPS goes on
// battery, minute by minute: one row per step and machine (the local computer's shutdown start,
// operating-system shutdown, load shedding and warnings, and the start and warning of every
// network client of branch 9) with a bar on a common time scale. "Configure" opens the
// shutdown-parameter pages (ShutdownUpsPage and the pages after it), which edit gScp's
// configuration, notification and receptacle blocks; this dialog draws from those blocks and
// on OK sends them all to the agent.
//
// Each row carries its kind and, for a client's rows, the client's host name: the bar follows
// from them, not from the row's text, so a client "ups2" never shows the delays of a client
// "ups", nor a client named "shutdownsrv" a shutdown bar on its warning row.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "dialogs/frame/kt_dialog.h"

class QLabel;
class QListWidget;
class TimeLineView;

inline constexpr int IDD_SHUTDOWN_DLG = 216;
inline constexpr int IDC_TIMELINE_LIST = 1856;
inline constexpr int IDC_TIMELINE_HEADING = 1857;
inline constexpr int IDC_TIMELINE_LEFT = 1858;
inline constexpr int IDC_TIMELINE_RIGHT = 1859;
inline constexpr int IDC_TIMELINE_CONFIGURE = 1854;
inline constexpr int IDC_TIMELINE_DELETE = 1183;

// What a row of the time line stands for.
enum class TimeLineKind {
  LocalStart,
  LocalOsShutdown,
  LocalLoad,
  LocalAdministrator,
  LocalUser,
  ClientStart,
  ClientAdministrator,
  ClientUser,
  Other,  // a line added by AddMachineID: no bar
};

// Bar colours.
enum class BarColour { None = 0, Red = 1, Yellow = 2, Blue = 3, Green = 4 };

struct TimeLineRow {
  QString text;
  TimeLineKind kind = TimeLineKind::Other;
  QString client;  // host name of a client's row (without the remote-server suffix)
};

// A row's bar, in minutes from the power failure.
struct TimeLineBar {
  BarColour colour = BarColour::None;
  int from = 0;
  int to = 0;
};

class CShutdownDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 5;
  // Unset (0xFFFF) values count as the agent's defaults.
  static constexpr int kDefaultTotalMinutes = 7;
  static constexpr int kDefaultStartDelay = 5;
  static constexpr int kDefaultOsMinutes = 2;

  explicit CShutdownDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  CShutdownDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);
  ~CShutdownDlg() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // Rebuilds the rows from gScp's blocks.
  void OnConfigBlock();
  void OnDelete();
  void OnWizard();
  // Adds the rows of a client (its entry text; the remote-server suffix is shown only) unless
  // that client has rows. Removes every row of the client of that host name.
  void AddMachine(const QString& entryText);
  void DeleteMachine(const QString& hostName);
  // One row without a bar: 1, or 255 when refused.
  int AddMachineID(const QString& text);
  // The load row's text.
  QString MakeLoadManagementDisplayLine() const;
  // Minutes of the delay of action (event 3, `action`), 0 without one.
  static int GetWarningTime(int action);
  // The number of load segments (the load segment page tells it).
  void SetSegmentCount(int n) { segments_ = n; }
  // Repaints the rows (the pages call it after their changes).
  void Redraw();

  // For tests and the drawing: the rows, a row's bar, the scale's last minute (n + 1) and the
  // rows painted last.
  const std::vector<TimeLineRow>& Rows() const { return rows_; }
  TimeLineBar BarOf(const TimeLineRow& row) const;
  int ScaleEnd() const;
  QListWidget* List() const { return list_; }
  TimeLineView* View() const { return view_; }
  bool HasLoadControl() const { return load_control_; }

 private:
  void Init();
  void BuildControls();
  void AddRow(const TimeLineRow& row);
  int RowOfClient(const QString& hostName) const;
  // The blocks' values, unset ones replaced by their defaults.
  struct Values {
    int total = kDefaultTotalMinutes;
    int start = kDefaultStartDelay;
    int os = kDefaultOsMinutes;
    int segment = 255;
    int downMinutes = 0;
    int adminWarn = 0;
    int userWarn = 0;
    bool userSupported = false;
  };
  Values ReadValues() const;

  QListWidget* list_ = nullptr;
  TimeLineView* view_ = nullptr;
  QLabel* left_label_ = nullptr;
  QLabel* right_label_ = nullptr;
  std::vector<TimeLineRow> rows_;
  bool load_control_ = false;
  int segments_ = 0;
  int widest_ = 0;
};

extern DialogPointer<CShutdownDlg> pShutdownDlg;
