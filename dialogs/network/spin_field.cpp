#include "dialogs/network/spin_field.h"

#include <QLineEdit>
#include <QSpinBox>

#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/message_box.h"

QSpinBox* MakeSpinField(QWidget* parent, int id, int lo, int hi, int value) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(ControlName(id));
  spin->setRange(lo, hi);
  spin->setValue(value);
  spin->setAccelerated(true);
  spin->setMinimumWidth(spin->fontMetrics().averageCharWidth() * 10);
  return spin;
}

bool ReadSpinField(QWidget* owner, QSpinBox* spin, int& out) {
  // The text as typed: a spin box keeps its last valid value while the text is out of range.
  bool ok = false;
  const int v = spin->cleanText().trimmed().toInt(&ok);
  if (ok && v >= spin->minimum() && v <= spin->maximum()) {
    out = v;
    return true;
  }
  TremMessageBox(
      owner,
      QStringLiteral("Please enter an integer between %1 and %2.").arg(spin->minimum()).arg(spin->maximum()),
      MB_OK | MB_ICONEXCLAMATION);
  spin->setFocus();
  spin->selectAll();
  return false;
}
