#include "dialogs/frame/quiet_qt_messages.h"

#include <QString>
#include <QtGlobal>

namespace {

QtMessageHandler g_previous = nullptr;

void Filter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.contains(QLatin1String("does not support propagateSizeHints")) ||
                               message.contains(QLatin1String("XDG_RUNTIME_DIR")))) {
    return;
  }
  if (g_previous != nullptr) g_previous(type, context, message);
}

}  // namespace

void InstallQuietQtMessages() {
  QtMessageHandler previous = qInstallMessageHandler(Filter);
  if (previous != Filter) g_previous = previous;
}
