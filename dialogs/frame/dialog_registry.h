// Dialogs that can be opened by class name (tools/trem_show, the demo). A dialog's source unit
// registers its class at namespace scope:
//
//   TREM_REGISTER_DIALOG(CManageDiagTest);
//
// which needs a constructor (QWidget* parent, const QString& hostName). Opening builds the
// dialog as the consoles do (it sets its exported pointer and shows itself).
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class KTDialog;
class QWidget;

using DialogFactory = std::function<KTDialog*(QWidget* parent, const QString& hostName)>;

class DialogRegistrar {
 public:
  DialogRegistrar(const char* className, DialogFactory factory);
};

// Builds the registered dialog; null when the name is unknown.
KTDialog* OpenRegisteredDialog(const QString& className, QWidget* parent, const QString& hostName);
// Registered class names, sorted.
QStringList RegisteredDialogs();

#define TREM_REGISTER_DIALOG(Class)                          \
  static const DialogRegistrar kTremDialogRegistrar_##Class( \
      #Class, [](QWidget* parent, const QString& host) -> KTDialog* { return new Class(parent, host); })
