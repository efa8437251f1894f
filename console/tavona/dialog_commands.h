// The console's dialog commands: one table of (command, dialog class). Each command opens its
// dialog of the library, one at a time: while the class's exported pointer is set, the
// command brings that dialog forward instead; once it is closed, the next command builds a new
// one. The view never deletes a dialog (it closes and deletes itself).
#pragma once

#include <QString>
#include <vector>

class QDialog;

namespace tavona {

struct DialogCommand {
  int command;
  const char* className;
};

// Every row, in menu order.
const std::vector<DialogCommand>& DialogCommands();
// Commands whose dialog the library does not have: deleted from the menu and hidden from the
// toolbar like a function the UPS does not support. Empty: every dialog is there.
const std::vector<int>& MissingDialogCommands();
// Whether the command is a dialog command.
bool IsDialogCommand(int command);
// The class name of a command's dialog; empty when none.
QString DialogClassOf(int command);

// Opens or raises the command's dialog; the dialog, or null for a command without one.
QDialog* OpenDialogCommand(int command);
// The command's dialog while it is open; null otherwise.
QDialog* OpenDialogOf(int command);

}  // namespace tavona
