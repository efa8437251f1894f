// Message boxes of the library, through a layer that tests and headless tools replace.
//
// Every box of the library goes through ShowMessageBox. The default layer shows a real
// QMessageBox (window-modal to its owner when there is one); once the program is stopping
// (console_stop_signals.h) it answers as LoggedMessageBoxes does, without waiting for anyone.
// ScriptedMessageBoxes logs each box and answers it from a queue of answers without showing
// anything: tests use it to read and answer boxes, and headless programs (the demo, trem_show)
// to run unattended.
//
// Flags and answers keep the classic values: MB_OK .. MB_YESNO for the buttons, MB_ICON* for
// the icon; the answer is IDOK, IDCANCEL, IDYES, IDNO, ... (control_ids.h).
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_TYPEMASK = 0xF;
inline constexpr unsigned MB_ICONHAND = 0x10;  // error
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONASTERISK = 0x40;  // information
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONMASK = 0xF0;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_SETFOREGROUND = 0x10000;

class MessageBoxLayer {
 public:
  virtual ~MessageBoxLayer() = default;
  // Shows the box and returns the button chosen (IDOK, IDCANCEL, IDYES, ...).
  virtual int Show(QWidget* owner, const QString& text, const QString& caption, unsigned flags) = 0;
};

// The box as a real QMessageBox.
class QtMessageBoxLayer : public MessageBoxLayer {
 public:
  int Show(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override;
};

// Logs and answers boxes without showing them. Thread-safe.
class ScriptedMessageBoxes : public MessageBoxLayer {
 public:
  struct Box {
    QString caption;
    QString text;
    unsigned flags = 0;
    int answer = 0;
  };

  int Show(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override;

  // The next boxes are answered with these, in order; when the queue is empty a box gets the
  // default answer (IDOK for boxes that have OK, else the first button of the box).
  void QueueAnswer(int answer);
  // The default answer for boxes with no queued answer; 0 means "the box's first button".
  void SetDefaultAnswer(int answer);
  // Called with each box after it was answered (trem_show prints them).
  void SetObserver(std::function<void(const Box&)> observer);

  std::vector<Box> Boxes() const;
  int Count() const;
  // True when a box whose text contains `needle` was shown.
  bool Saw(const QString& needle) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  int default_answer_ = 0;
  std::function<void(const Box&)> observer_;
};

// Logs each box to the message-box log (VIGIL_MESSAGE_LOG, platform/message_log.h) and answers
// it without showing it: Cancel when the box has it, else No, else OK. _InitTremDLL installs one
// when the variable names a file, so the consoles run unattended in the demo and in tests.
class LoggedMessageBoxes : public MessageBoxLayer {
 public:
  explicit LoggedMessageBoxes(std::string path) : path_(std::move(path)) {}
  int Show(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override;
  // The answer a logged box gets.
  static int AnswerFor(unsigned flags);

 private:
  std::string path_;
};

// The layer in use (a QtMessageBoxLayer unless one was installed). Not owned; nullptr
// restores the default.
MessageBoxLayer& GetMessageBoxLayer();
void SetMessageBoxLayer(MessageBoxLayer* layer);
// True while a layer other than the default is installed.
bool MessageBoxLayerInstalled();

// A box of the library: through the layer.
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags = MB_OK);
// A box titled with gcsMessageBoxTitle.
int TremMessageBox(QWidget* owner, const QString& text, unsigned flags = MB_OK);
// A box titled with the application's name (the print path's boxes).
int AppMessageBox(QWidget* owner, const QString& text, unsigned flags = MB_OK);

// The buttons of a box type, in order, as answers (MB_OKCANCEL: IDOK, IDCANCEL).
std::vector<int> MessageBoxButtons(unsigned flags);
// "OK", "Cancel", "Yes", ... for an answer; "" for an unknown one.
QString MessageBoxAnswerName(int answer);
// The answer for a name as MessageBoxAnswerName gives it (case-insensitive); 0 when unknown.
int MessageBoxAnswerFromName(const QString& name);
