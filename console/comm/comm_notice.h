// How the communication worker tells the user-interface thread what happened.
//
// The worker never touches a window. It posts one CommNoticeEvent per happening to the
// CommNoticeRelay, a QObject that lives on the user-interface thread; the relay hands each
// notice, in order, to its current target (the console's status view, or the call console's
// hidden window) while that target exists, and drops it otherwise.
//
//   kNoticeReplyApplied (1025)  a reply was applied to gScp; a host timed out (key 1,1,0,0)
//   kNoticeHostChanged  (1026)  a host's own image changed (mode 4 status pushes and lost
//                               hosts, hosts found by IPX service answers, the built-in list)
//
// Each notice carries its own reply's SCP status and the index of the host it came from, so
// two replies for one block applied before the user-interface thread runs are handled each on
// its own terms, and whether the reply answered a SET, so that a program can tell a change the
// agent took from one it refused.
//
// The worker's message boxes travel the same way (CommBoxEvent) and are shown by the relay
// through the library's message box layer; a critical one then closes the main window.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>

inline constexpr int kNoticeReplyApplied = 1025;
inline constexpr int kNoticeHostChanged = 1026;

// The status a notice carries when no reply stands behind it (a lost host, a listed host):
// the image changed and is to be shown.
inline constexpr int kNoticeImageChanged = 4;

struct CommNotice {
  int message = 0;    // kNoticeReplyApplied or kNoticeHostChanged
  int wParam = 0;     // 0 for 1025; the host index (mode 5: the list position) for 1026
  uint32_t key = 0;   // packed key: length, block, branch, item, first byte lowest
  int status = 0;     // the reply's own SCP status
  int hostIndex = 0;  // the host the reply came from (0 when none)
  // The reply answered a SET (or command) of this console; its status says whether the agent
  // took the change (Set OK) or not.
  bool answeredSet = false;
};

inline constexpr QEvent::Type kCommNoticeEventType = static_cast<QEvent::Type>(QEvent::User + 0x101);
inline constexpr QEvent::Type kCommBoxEventType = static_cast<QEvent::Type>(QEvent::User + 0x102);

class CommNoticeEvent : public QEvent {
 public:
  explicit CommNoticeEvent(const CommNotice& notice) : QEvent(kCommNoticeEventType), notice_(notice) {}
  const CommNotice& notice() const { return notice_; }

 private:
  CommNotice notice_;
};

class CommBoxEvent : public QEvent {
 public:
  CommBoxEvent(QString text, QString caption, unsigned flags, bool closeMainWindow)
      : QEvent(kCommBoxEventType),
        text_(std::move(text)),
        caption_(std::move(caption)),
        flags_(flags),
        close_main_window_(closeMainWindow) {}
  const QString& text() const { return text_; }
  const QString& caption() const { return caption_; }
  unsigned flags() const { return flags_; }
  bool closeMainWindow() const { return close_main_window_; }

 private:
  QString text_;
  QString caption_;
  unsigned flags_;
  bool close_main_window_;
};

// Lives on the user-interface thread; build it there before the worker starts and keep it
// until the worker has ended.
class CommNoticeRelay : public QObject {
  Q_OBJECT
 public:
  explicit CommNoticeRelay(QObject* parent = nullptr);

  // The object that receives the notices (as a CommNoticeEvent through sendEvent); null: none.
  void SetTarget(QObject* target);
  QObject* Target() const { return target_.data(); }
  // Whether a target exists; safe to ask from the worker.
  bool HasTarget() const { return has_target_.load(); }
  // The owner of the worker's boxes, closed after a critical error.
  void SetMainWindow(QWidget* window) { main_window_ = window; }

  // From any thread: posts the notice or the box to the relay.
  void PostNotice(const CommNotice& notice);
  void PostBox(const QString& text, const QString& caption, unsigned flags, bool closeMainWindow);

 protected:
  void customEvent(QEvent* e) override;

 private:
  QPointer<QObject> target_;
  std::atomic<bool> has_target_{false};
  QPointer<QWidget> main_window_;
};
