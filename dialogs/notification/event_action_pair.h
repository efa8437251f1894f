// One row of the configured actions of the event notification dialog: the texts it shows and
// the numbers they stand for, so that a row maps back to its record whatever a description's
// inserted text (a command, a file or a recipient name) contains.
#pragma once

#include <QString>

class CEventActionPair {
 public:
  CEventActionPair() = default;
  CEventActionPair(QString eventName, QString actionText, int eventNumber, int actionNumber)
      : event_name(std::move(eventName)),
        action_text(std::move(actionText)),
        event(eventNumber),
        action(actionNumber) {}

  QString event_name;
  QString action_text;
  int event = 0;
  int action = 0;
};
