#include "dialogs/notification/action_helpers.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "dialogs/frame/message_box.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/event_notification.h"

void FillTimeCombo(QComboBox* combo, int last) {
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  for (int i = 0; i <= last; ++i) combo->addItem(QString::number(i));
  combo->setCurrentIndex(0);
}

void SelectTimeValue(QComboBox* combo, int value) {
  const int index = combo->findText(QString::number(value));
  if (index >= 0) {
    combo->setCurrentIndex(index);
  } else {
    combo->setCurrentIndex(-1);
    combo->setEditText(QString::number(value));
  }
}

int ComboNumber(const QComboBox* combo, bool* empty) {
  const QString text = combo->currentText().trimmed();
  if (empty != nullptr) *empty = text.isEmpty();
  // The leading decimal digits, as a C library reads a number; anything else reads 0.
  int value = 0;
  for (QChar c : text) {
    if (!c.isDigit() || value > 100000) break;
    value = value * 10 + c.digitValue();
  }
  return value;
}

int ReadTime(QWidget* owner, const QComboBox* minutes, const QComboBox* seconds,
             const TimeCheckTexts& texts) {
  const int m = ComboNumber(minutes);
  if (m < 0 || m > 20) {
    TremMessageBox(owner, QString::fromUtf8(texts.minutesRange), MB_OK);
    return -1;
  }
  if (seconds == nullptr) return m * 60;
  bool empty = false;
  const int s = ComboNumber(seconds, &empty);
  if (empty) {
    if (m * 60 == 0) {
      TremMessageBox(owner, QString::fromUtf8(texts.secondsEmpty), MB_OK);
      return -1;
    }
    return m * 60;
  }
  if (s < 0 || s > 59) {
    TremMessageBox(owner, QString::fromUtf8(texts.secondsRange), MB_OK);
    return -1;
  }
  return m * 60 + s;
}

bool AddOrReplaceAction(NotifyBlock& block, const KT_ActionEntry& entry) {
  if (block.AddAction(entry) == 0) return true;
  KT_ActionEntry old;
  const bool had = block.FindAction(entry.event, entry.action, old);
  block.RemoveAction(entry);
  if (block.AddAction(entry) == 0) return true;
  if (had) block.AddAction(old);
  return false;
}

void LimitToRecordText(QPlainTextEdit* edit, int maxCharacters) {
  QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, maxCharacters] {
    QString text = edit->toPlainText();
    if (text.size() <= maxCharacters && RecordTextValidator::Fits(text)) return;
    while (!text.isEmpty() && (text.size() > maxCharacters || !RecordTextValidator::Fits(text))) text.chop(1);
    edit->setPlainText(text);
    edit->moveCursor(QTextCursor::End);
  });
}

int SingleSelectedEvent() {
  return gnSelectedEventCount == 1 && !gpSelectedEvents.empty() ? gpSelectedEvents.front() : 0;
}
