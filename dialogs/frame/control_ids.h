// Control ids, command ids and dialog template ids shared by the dialogs of the library.
//
// Every control of a dialog carries its id as its object name, "ctl<id>" (ControlName), so
// that tests and tools find it; a dialog's own control ids live in its header, next to it.
#pragma once

#include <QString>

// Buttons and commands every dialog may have.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDC_PRINT = 1710;  // the "Print..." button
inline constexpr int ID_HELP = 57670;   // the "Help" button / command

// Dialog templates of the frame and its first dialogs.
inline constexpr int IDD_KTDIALOG = 3000;  // the base's own template, caption "Dialog"
inline constexpr int IDD_MANAGE_DIAG_TEST = 10;
inline constexpr int IDD_TECH_SUPPORT = 3006;

// Static controls of the technical support page.
inline constexpr int IDC_TECH_SUPPORT_ICON = 128;

// "ctl<id>".
inline QString ControlName(int id) {
  return QStringLiteral("ctl%1").arg(id);
}
