#include "dialogs/frame/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>

#include "dialogs/frame/console_stop_signals.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/message_log.h"

namespace {

std::atomic<MessageBoxLayer*> g_layer{nullptr};

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButton ButtonOf(int answer) {
  switch (answer) {
    case IDOK:
      return QMessageBox::Ok;
    case IDCANCEL:
      return QMessageBox::Cancel;
    case IDABORT:
      return QMessageBox::Abort;
    case IDRETRY:
      return QMessageBox::Retry;
    case IDIGNORE:
      return QMessageBox::Ignore;
    case IDYES:
      return QMessageBox::Yes;
    case IDNO:
      return QMessageBox::No;
    default:
      return QMessageBox::NoButton;
  }
}

}  // namespace

std::vector<int> MessageBoxButtons(unsigned flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

QString MessageBoxAnswerName(int answer) {
  switch (answer) {
    case IDOK:
      return QStringLiteral("OK");
    case IDCANCEL:
      return QStringLiteral("Cancel");
    case IDABORT:
      return QStringLiteral("Abort");
    case IDRETRY:
      return QStringLiteral("Retry");
    case IDIGNORE:
      return QStringLiteral("Ignore");
    case IDYES:
      return QStringLiteral("Yes");
    case IDNO:
      return QStringLiteral("No");
    default:
      return QString();
  }
}

int MessageBoxAnswerFromName(const QString& name) {
  for (int answer : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    if (MessageBoxAnswerName(answer).compare(name, Qt::CaseInsensitive) == 0) return answer;
  }
  return 0;
}

int QtMessageBoxLayer::Show(QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
  // The program is stopping: no one is left to answer.
  if (StopRequested()) return LoggedMessageBoxes::AnswerFor(flags);
  QMessageBox box(IconOf(flags), caption, text, QMessageBox::NoButton, owner);
  const std::vector<int> buttons = MessageBoxButtons(flags);
  for (size_t i = 0; i < buttons.size(); ++i) {
    QAbstractButton* b = box.addButton(ButtonOf(buttons[i]));
    b->setObjectName(ControlName(buttons[i]));
    const size_t defaultIndex = (flags & MB_DEFBUTTON2) != 0 ? 1 : 0;
    if (i == defaultIndex) box.setDefaultButton(static_cast<QPushButton*>(b));
  }
  if ((flags & MB_SETFOREGROUND) != 0) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr && StopRequested()) return LoggedMessageBoxes::AnswerFor(flags);
  if (clicked == nullptr) {
    // Closed without a button (Escape): Cancel where the box has it, else its only button.
    for (int b : buttons) {
      if (b == IDCANCEL) return IDCANCEL;
    }
    return buttons.size() == 1 ? buttons[0] : IDCANCEL;
  }
  const QMessageBox::StandardButton standard = box.standardButton(clicked);
  for (int b : buttons) {
    if (ButtonOf(b) == standard) return b;
  }
  return IDCANCEL;
}

int ScriptedMessageBoxes::Show(QWidget*, const QString& text, const QString& caption, unsigned flags) {
  Box box{caption, text, flags, 0};
  std::function<void(const Box&)> observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<int> buttons = MessageBoxButtons(flags);
    int answer = 0;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    } else if (default_answer_ != 0) {
      answer = default_answer_;
    }
    // An answer the box cannot give falls back to its first button.
    bool valid = false;
    for (int b : buttons) valid = valid || b == answer;
    box.answer = valid ? answer : buttons.front();
    boxes_.push_back(box);
    observer = observer_;
  }
  if (observer) observer(box);
  return box.answer;
}

void ScriptedMessageBoxes::QueueAnswer(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(answer);
}

void ScriptedMessageBoxes::SetDefaultAnswer(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_answer_ = answer;
}

void ScriptedMessageBoxes::SetObserver(std::function<void(const Box&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<ScriptedMessageBoxes::Box> ScriptedMessageBoxes::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

int ScriptedMessageBoxes::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(boxes_.size());
}

bool ScriptedMessageBoxes::Saw(const QString& needle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Box& b : boxes_) {
    if (b.text.contains(needle)) return true;
  }
  return false;
}

void ScriptedMessageBoxes::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
  answers_.clear();
}

int LoggedMessageBoxes::AnswerFor(unsigned flags) {
  const std::vector<int> buttons = MessageBoxButtons(flags);
  for (int wanted : {IDCANCEL, IDNO, IDOK}) {
    for (int b : buttons) {
      if (b == wanted) return b;
    }
  }
  return buttons.front();
}

int LoggedMessageBoxes::Show(QWidget*, const QString& text, const QString& caption, unsigned flags) {
  const int answer = AnswerFor(flags);
  // A log that cannot be written loses only the record; the box is still answered.
  platform::AppendMessageLog(path_, caption.toStdString(), text.toStdString(),
                             MessageBoxAnswerName(answer).toStdString());
  return answer;
}

MessageBoxLayer& GetMessageBoxLayer() {
  static QtMessageBoxLayer qtLayer;
  MessageBoxLayer* layer = g_layer.load();
  return layer != nullptr ? *layer : qtLayer;
}

void SetMessageBoxLayer(MessageBoxLayer* layer) {
  g_layer.store(layer);
}

bool MessageBoxLayerInstalled() {
  return g_layer.load() != nullptr;
}

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
  return GetMessageBoxLayer().Show(owner, text, caption, flags);
}

int TremMessageBox(QWidget* owner, const QString& text, unsigned flags) {
  return ShowMessageBox(owner, text, gcsMessageBoxTitle, flags);
}

int AppMessageBox(QWidget* owner, const QString& text, unsigned flags) {
  return ShowMessageBox(owner, text, QCoreApplication::applicationName(), flags);
}
