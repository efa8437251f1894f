// Dialogs that can be opened by class name (tools/trem_show, the demo). A dialog's source unit
// registers its class at namespace scope:
//
//   TREM_REGISTER_DIALOG(CManageDiagTest);
//
// which needs a constructor (QWidget* parent, const QString& hostName). Opening builds the
// dialog as the consoles do (it sets its exported pointer and shows itself).
//
// A dialog that is not built that way (a plain QDialog that runs a search of its own, say)
// registers how it is opened and shown without a modal loop:
//
//   TREM_REGISTER_DIALOG_WITH(CDiscoverc, [](QWidget* parent, const QString&) -> QDialog* {...});
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

using DialogFactory = std::function<QDialog*(QWidget* parent, const QString& hostName)>;

class DialogRegistrar {
 public:
  DialogRegistrar(const char* className, DialogFactory factory);
};

// Builds and shows the registered dialog; null when the name is unknown.
QDialog* OpenRegisteredDialog(const QString& className, QWidget* parent, const QString& hostName);
// Registered class names, sorted.
QStringList RegisteredDialogs();

#define TREM_REGISTER_DIALOG_WITH(Class, factory) \
  static const DialogRegistrar kTremDialogRegistrar_##Class(#Class, factory)

#define TREM_REGISTER_DIALOG(Class) \
  TREM_REGISTER_DIALOG_WITH(        \
      Class, [](QWidget* parent, const QString& host) -> QDialog* { return new Class(parent, host); })
