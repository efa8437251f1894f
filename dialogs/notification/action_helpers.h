// Pieces the action dialogs of the event notification share: the minutes / seconds combos of
// their timing, the add-or-replace of an action record, the text limit of a record text and
// the construction every action dialog goes through.
#pragma once

#include <QString>

#include "core/scp/action_entry.h"
#include "core/scp/notify_block.h"

class QComboBox;
class QPlainTextEdit;
class QWidget;

// Fills a time combo with the items "0" .. "last" (editable, so the user may also type).
void FillTimeCombo(QComboBox* combo, int last);
// Selects the item of a value (typing it when no item has that text).
void SelectTimeValue(QComboBox* combo, int value);

// The number in a time combo: its text read as a decimal number, a text that is not one
// reading 0; empty tells whether the text was empty.
int ComboNumber(const QComboBox* combo, bool* empty = nullptr);

// The messages of one minutes / seconds pair, in the order they are checked.
struct TimeCheckTexts {
  const char* minutesRange;  // "... minutes must be between 0 and 20"
  const char* secondsEmpty;  // "Must select ... seconds"
  const char* secondsRange;  // "... seconds must be between 0 and 59"
};
inline constexpr TimeCheckTexts kDelayTexts{"Delay minutes must be between 0 and 20",
                                            "Must select delay seconds",
                                            "Delay seconds must be between 0 and 59"};
inline constexpr TimeCheckTexts kIntervalTexts{"Interval minutes must be between 0 and 20",
                                               "Must select interval seconds",
                                               "Interval seconds must be between 0 and 59"};

// Reads a time of minutes (0..20, empty = 0) and seconds (0..59; empty only with minutes not
// 0); seconds null: minutes alone. The time in seconds, or -1 after the message of the first
// rule broken (a box owned by `owner`).
int ReadTime(QWidget* owner, const QComboBox* minutes, const QComboBox* seconds, const TimeCheckTexts& texts);

// Adds the record to the block, replacing the block's record of the same event and action:
// add; when refused, take the old record out and add again; when that is refused too, the
// old record goes back. False then. Call it under gScp's lock.
bool AddOrReplaceAction(NotifyBlock& block, const KT_ActionEntry& entry);

// Keeps a multi-line text within one record text (kRecordMaxText bytes as UTF-8): what goes
// beyond is cut as it is typed or pasted.
void LimitToRecordText(QPlainTextEdit* edit, int maxCharacters);

// The event of the selection when exactly one event is selected, else 0.
int SingleSelectedEvent();
