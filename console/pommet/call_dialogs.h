// The dialogs the call console opens, by dialog index: 1 CEventLogDisplay ... 26 CManageAdapter.
// Each is built with no parent window and the host name, and lives in the library's exported
// pointer of its class (pMeters for CMeters, ...), which the dialog clears when its window is
// destroyed.
#pragma once

#include <QString>
#include <vector>

class DialogPointerBase;
class KTDialog;

struct CallDialog {
  int index;
  const char* className;
  // The library's pointer of the class.
  DialogPointerBase* pointer;
  // Sets the pointer to null.
  void (*clear)();
  // Builds and shows the dialog (no parent, the host name).
  KTDialog* (*open)(const QString& hostName);
};

inline constexpr int kFirstCallDialog = 1;
inline constexpr int kLastCallDialog = 26;

// The 26 entries, in index order.
const std::vector<CallDialog>& CallDialogs();
// The entry of an index; null for an index outside 1-26.
const CallDialog* FindCallDialog(int index);
