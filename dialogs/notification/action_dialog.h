// ActionDialog: the base of the event notification's action dialogs. Each edits gScp's copy of
// the notification block for the events selected in the event notification dialog
// (gpSelectedEvents) and reloads that dialog's list after OK; none waits for a reply.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QComboBox;
class QGridLayout;
class QLabel;

class ActionDialog : public KTDialog {
  Q_OBJECT

 public:
  ActionDialog(int templateId, QWidget* parent, const QString& hostName);
  ActionDialog(int templateId, QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);

 protected:
  // A combo of items "0" .. last with the id, and its label to the right.
  QComboBox* MakeTimeCombo(int id, int last);
  // One row of a "Time" group: the label on its own line, then the minutes combo with
  // "Minutes" and the seconds combo (may be null) with "Seconds".
  void AddTimeRow(QGridLayout* grid, int row, QLabel* label, QComboBox* minutes, QComboBox* seconds);
  // The event notification dialog reloads its list of configured actions.
  static void ReloadNotificationList();
  // "Unable to add action!"
  void ReportAddRefused();
};
