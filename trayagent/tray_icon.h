// The agent's icon in the desktop's notification area, behind a small interface so that tests
// record what the agent asks of it. The system one is a QSystemTrayIcon: its double click and
// its context request reach the frame as the mouse messages the frame handles.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSystemTrayIcon;
class CAgentFrame;

// Operations on the icon.
inline constexpr int kTrayAdd = 0;
inline constexpr int kTrayModify = 1;
inline constexpr int kTrayDelete = 2;
// The mouse messages the frame's tray handler takes.
inline constexpr int kMouseLeftDoubleClick = 0x203;
inline constexpr int kMouseRightDown = 0x204;
inline constexpr int kMouseRightDoubleClick = 0x206;
// The longest tip the icon carries.
inline constexpr int kMaxTrayTip = 63;

class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  // Adds, modifies or deletes the one icon of the process; running chooses the running icon
  // (128) over the start-up icon (130).
  virtual void Apply(int operation, bool running, const QString& tip) = 0;
  // Where a popup menu for the icon goes (screen coordinates); the cursor when unknown.
  virtual QPoint MenuPosition() const;
};

class SystemTrayIcon : public QObject, public TrayIcon {
  Q_OBJECT

 public:
  explicit SystemTrayIcon(CAgentFrame* frame);
  ~SystemTrayIcon() override;

  void Apply(int operation, bool running, const QString& tip) override;
  QPoint MenuPosition() const override;

 private:
  CAgentFrame* frame_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  bool unavailable_traced_ = false;
};
