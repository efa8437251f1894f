#include "dialogs/network/adapter_exchange.h"

#include <QAbstractButton>

void AdapterExchange::Started() {
  owner_->setProperty("working", true);
  owner_->setCursor(Qt::WaitCursor);
  for (QAbstractButton* b : owner_->findChildren<QAbstractButton*>()) {
    if (b->isEnabled()) {
      b->setEnabled(false);
      b->setProperty("enableAfterExchange", true);
    }
  }
}

void AdapterExchange::Finished() {
  for (QAbstractButton* b : owner_->findChildren<QAbstractButton*>()) {
    if (b->property("enableAfterExchange").toBool()) {
      b->setEnabled(true);
      b->setProperty("enableAfterExchange", QVariant());
    }
  }
  owner_->unsetCursor();
  owner_->setProperty("working", false);
}
