// FileSaverDlg: "File Saver", where the user prepares what the `saver` program replays before
// the system shuts down. It lists the applications that have a window on this computer's X
// display and the macros already built (the *.MAC files of the current directory), records a
// macro for a chosen application (Build ... Stop), replays one as a test (Test) and deletes
// macros (Delete). Recording and replaying are the File Saver library's (filesaver/): the
// recorder tells this dialog that a recording has ended with a posted
// kRecordingEndedEventType event, on which the recording becomes the application's macro file.
//
//   Build  the selected application: refused when its program already has a macro (3336) or
//          its window or program cannot be found (3337); after the question 3338 the recorder
//          starts and the application gets the focus; F12 in the application ends the
//          recording, F11 marks where a replay types the path of the file to save to
//   Stop   ends a recording still running, lists the new macro and refreshes the application
//          list; with sequential file names it also removes the F11 marker and resets the
//          prefix and extension
//   Test   places the macro's application where it was recorded and replays the macro into it
//
// A recording that ends before anything was typed leaves no macro.
//
// One dialog per process (pFileSaverDlg; Open raises the open one). Without a usable X display
// (none, or one without the RECORD or XTEST extension) the opening says so once and the
// application list stays empty; the macros are still listed, and can be deleted.
#pragma once

#include <QEvent>
#include <QString>
#include <memory>

#include "dialogs/frame/kt_dialog.h"
#include "filesaver/macro_files.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

inline constexpr int IDD_FILE_SAVER = 215;
inline constexpr int IDC_FS_APPLICATIONS = 1837;
inline constexpr int IDC_FS_MACROS = 1839;
inline constexpr int IDC_FS_SEARCH = 1850;
inline constexpr int IDC_FS_DELETE = 1183;
inline constexpr int IDC_FS_BUILD = 1849;
inline constexpr int IDC_FS_TEST = 1727;
inline constexpr int IDC_FS_STOP = 1852;
inline constexpr int IDC_FS_SEQUENTIAL = 1842;
inline constexpr int IDC_FS_PREFIX_LABEL = 1843;
inline constexpr int IDC_FS_PREFIX = 1844;
inline constexpr int IDC_FS_EXTENSION_LABEL = 1845;
inline constexpr int IDC_FS_EXTENSION = 1846;

// The recorder's notice that a recording has ended and its file is complete (WM_USER + 1200).
inline constexpr QEvent::Type kRecordingEndedEventType = static_cast<QEvent::Type>(QEvent::User + 1200);

class FileSaverDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 10;

  explicit FileSaverDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  ~FileSaverDlg() override;

  // Raises the open dialog, or creates one with this parent.
  static FileSaverDlg* Open(QWidget* parent);

  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  // Enables (nonzero) or disables (0) the prefix and extension edits and their labels.
  void EnableControls(int enable);
  void FillWindowList();
  void FillMacroList();
  // "Search": the application list, then the macro list.
  void RefreshLists();
  void OnBuild();
  void OnStop();
  void OnTest();
  void OnDelete();
  void OnSequentialNames();
  // The recorder's notice: the recording becomes the macro file of the recorded program.
  int OnRecordingEnded();

  // True when the display offers what recording and replaying need.
  bool DisplayUsable() const { return display_usable_; }
  // True while the recorder's hook is installed (Build confirmed, not yet stopped).
  bool RecordHookSet() const { return record_hook_; }
  QListWidget* Applications() const { return applications_; }
  QListWidget* Macros() const { return macros_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void BuildControls();
  // Reads the controls into the members (the dialog's data exchange).
  void UpdateData();
  // Writes the prefix, extension and check box from the members.
  void UpdateControls();
  // Hooks 0 and 1 freed when a recording was never stopped.
  void ReleaseHooks();
  void Say(int stringId);
  void Say(int firstId, int secondId);

  QListWidget* applications_ = nullptr;
  QListWidget* macros_ = nullptr;
  QCheckBox* sequential_box_ = nullptr;
  QLabel* prefix_label_ = nullptr;
  QLineEdit* prefix_edit_ = nullptr;
  QLabel* extension_label_ = nullptr;
  QLineEdit* extension_edit_ = nullptr;

  QString extension_;
  QString prefix_;
  QString selected_application_;
  QString selected_macro_;
  int sequential_ = 0;
  // The applications on the display (a connection of its own).
  struct Lookup;
  std::unique_ptr<Lookup> lookup_;
  // The application being recorded: title, program, prefix, extension and its window's
  // rectangle when the recording started.
  filesaver::MacroSubject recorded_;
  // A macro is to be listed when the recording stops.
  bool recording_accepted_ = false;
  // Hook 0 (the recorder) is installed.
  bool record_hook_ = false;
  bool recording_ = false;
  bool test_window_ = false;
  bool display_usable_ = false;
  // The recorder's notifier points to this dialog.
  bool notifier_set_ = false;
};

extern DialogPointer<FileSaverDlg> pFileSaverDlg;
