#include "dialogs/notification/action_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include "dialogs/frame/message_box.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

ActionDialog::ActionDialog(int templateId, QWidget* parent, const QString& hostName)
    : KTDialog(templateId, parent, hostName) {}

ActionDialog::ActionDialog(int templateId, QWidget* parent, const QString& selectionLabel,
                           const QString& hostName, const QStringList& hostNames)
    : KTDialog(templateId, parent, selectionLabel, hostName, hostNames) {}

QComboBox* ActionDialog::MakeTimeCombo(int id, int last) {
  auto* combo = new QComboBox(this);
  combo->setObjectName(ControlName(id));
  FillTimeCombo(combo, last);
  combo->setMinimumContentsLength(3);
  return combo;
}

void ActionDialog::AddTimeRow(QGridLayout* grid, int row, QLabel* label, QComboBox* minutes,
                              QComboBox* seconds) {
  label->setBuddy(minutes);
  grid->addWidget(label, row * 2, 0, 1, 5);
  grid->addWidget(minutes, row * 2 + 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Minutes"), this), row * 2 + 1, 1);
  if (seconds != nullptr) {
    grid->addWidget(seconds, row * 2 + 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Seconds"), this), row * 2 + 1, 3);
  }
  grid->setColumnStretch(4, 1);
}

void ActionDialog::ReloadNotificationList() {
  if (DialogIsOpen(pEventNotification.get())) pEventNotification->LoadConfiguredActions();
}

void ActionDialog::ReportAddRefused() {
  TremMessageBox(this, QStringLiteral("Unable to add action!"), MB_OK);
}
