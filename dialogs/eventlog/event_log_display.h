// CEventLogDisplay: "View Event Log Information". The agent's event log (block 6), newest
// first; a double-click opens the event's help topic, Print... writes "eventlog.txt" (every
// record, newest first, CR LF line ends) and prints it, Configure... opens the log settings.
#pragma once

#include <QPoint>
#include <string>
#include <vector>

#include "dialogs/frame/kt_dialog.h"

class QTreeWidget;
class QTreeWidgetItem;

class CEventLogDisplay : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3025;
  static constexpr int kHelpContext = 30;
  static constexpr int IDC_EVENT_LOG = 1270;
  static constexpr int IDC_CONFIGURE = 1260;
  static constexpr int kMaxRows = 1000;
  static constexpr const char* kPrintFile = "eventlog.txt";

  explicit CEventLogDisplay(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CEventLogDisplay() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void UpdateEvents();
  void OnDblclkEventLog();
  int OnPrint();
  // The Print... button: writes the print file first.
  int PrintTextFile() override { return OnPrint(); }
  int write_text_file();
  void OnConfigure();

  // Every record of gScp's event log as (time text, event name, event number), read once
  // under the lock, in the block's order.
  struct Line {
    std::string time;
    std::string name;
    int event = 0;
  };
  static std::vector<Line> ReadEventLog();
  // Writes the lines to a text file with the heading: true on success. `newestFirst` picks the
  // order (the viewer's) or the block's order (the problem report's attachment).
  static bool WriteEventLogFile(const QString& path, const std::vector<Line>& lines, bool newestFirst);

  QTreeWidget* List() const { return list_; }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void BuildControls();
  void SetColumnWidths();

  QTreeWidget* list_ = nullptr;
  QPoint last_release_;
};

extern DialogPointer<CEventLogDisplay> pEventLogDisplay;
