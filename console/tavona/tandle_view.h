// CTandleView: the central console's one view. Three pictures (computer, UPS, receptacle)
// stand above the list of the UPS states that are active, with their times, in the order of
// those times (the latest last, the newest state always in view). The view takes
// the communication worker's notices: a status reply rebuilds the list and, when the combined
// state changed, the pictures; a UPS-information reply with data rebuilds the title and the
// menu (the functions the UPS supports) and shows the main window. It also carries the dialog
// commands (dialog_commands.h), the agent start, the option toggles and the About box.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "dialogs/frame/scp_queue_mutex.h"

struct CommNotice;
class CConsoleApp;
class CTandleFrame;
class QTreeWidget;
class QTreeWidgetItem;

namespace console {
class ScreenshotWriter;
}

// One of the view's three pictures: a flat button that shows its image and opens the system
// information on a double click.
class PictureButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit PictureButton(int id, QWidget* parent = nullptr);
  void SetPicture(int pictureId);
  int PictureId() const { return picture_id_; }
  QSize sizeHint() const override;

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  int picture_id_ = 0;
  QImage image_;
};

class CTandleView : public QWidget {
  Q_OBJECT
 public:
  // The picture-state vector: computer, UPS, receptacle, each mode, sub-mode, level.
  using PictureVector = std::array<int, 9>;

  CTandleView(CConsoleApp* app, CTandleFrame* frame, QWidget* parent = nullptr);
  ~CTandleView() override;

  void OnInitialUpdate();
  void LayoutPanes();
  // One notice of the worker (a reply applied to gScp).
  void OnScpNotify(const CommNotice& notice);
  void RefreshStatus();
  void AddStateLine(int code);
  void ShowPictures(const PictureVector& vector);
  void UpdateTitle();
  void UpdateMenu();
  void OnStateListDoubleClick(QTreeWidgetItem* item);
  void OnManageAgentStartup();
  void OnAbout();
  void OnOptionToggle(int command);
  // Runs a command of the view; false when it is not one.
  bool OnCommand(int command);

  // The vector of one state code, and the element-wise maximum of several.
  static PictureVector VectorOfState(int code);
  static PictureVector CombinedVector(const std::vector<int>& codes);
  // The list image of a state code: 0 alarm, 1 warning, 2 information.
  static int ListImageOf(int code);
  // The title for an interface type ("Tremona® Tavona"); the About text is "&About " + it.
  static QString TitleFor(int interfaceType);
  // ctime's text with the year before the clock time ("Tue Dec 04 2001 14:05:09 ").
  static QString StateTimeText(int64_t time);

  const PictureVector& Vector() const { return shown_; }
  std::array<int, 3> PictureIds() const;
  QTreeWidget* List() const { return list_; }
  // The list's lines as "text|time|image".
  QStringList Lines() const;
  PictureButton* Picture(int index) const { return pictures_[index]; }
  // Writes the main window's picture now (VIGIL_SCREENSHOT_DIR).
  void SaveScreenshot();

 protected:
  bool event(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void QueueGet(int block, int branch, int item, int registerFlag);
  void ScheduleScreenshot();

  CConsoleApp* app_;
  CTandleFrame* frame_;
  std::array<PictureButton*, 3> pictures_{};
  QTreeWidget* list_ = nullptr;
  ScpQueueMutex scp_mutex_;
  PictureVector shown_;
  bool full_menu_ = false;
  bool first_refresh_ = true;
  bool prev_none_active_ = false;
  bool prev_lost_ups_ = false;
  bool prev_discovery_ = false;
  bool screenshot_pending_ = false;
  QString last_screenshot_key_;
  std::unique_ptr<console::ScreenshotWriter> screenshots_;
};
