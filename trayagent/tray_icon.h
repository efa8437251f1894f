// The agent's icon in the desktop's notification area, behind a small interface so that tests
// record what the agent asks of it. The system one is a QSystemTrayIcon: its double click and
// its context request reach the frame as the mouse messages the frame handles.
//
// A desktop's notification area (tray) often starts after the programs of the session, and may
// end and start again while they run: an icon that was added waits for a tray, docks as soon as
// one comes and goes when it goes.
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

// A tray that came or went since the last look.
enum class TrayChange { kNone, kCame, kWent };

class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  // Adds, modifies or deletes the one icon of the process; running chooses the running icon
  // (128) over the start-up icon (130). True when a tray shows the change (for a delete: when
  // one showed the icon); an icon added without a tray waits for one.
  virtual bool Apply(int operation, bool running, const QString& tip) = 0;
  // Whether a tray came or went since the last look (or since the icon was added); the agent
  // looks at every monitor pass (Qt says nothing of it).
  virtual TrayChange Watch() { return TrayChange::kNone; }
  // Where a popup menu for the icon goes (screen coordinates); the cursor when unknown.
  virtual QPoint MenuPosition() const;
};

class SystemTrayIcon : public QObject, public TrayIcon {
  Q_OBJECT

 public:
  explicit SystemTrayIcon(CAgentFrame* frame);
  ~SystemTrayIcon() override;

  bool Apply(int operation, bool running, const QString& tip) override;
  TrayChange Watch() override;
  QPoint MenuPosition() const override;

 private:
  CAgentFrame* frame_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  bool wanted_ = false;   // added, not deleted
  bool present_ = false;  // a tray was there at the last look
};
