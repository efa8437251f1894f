#include "dialogs/filesaver/file_saver_dlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <filesystem>
#include <memory>
#include <system_error>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/layout_fit.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "filesaver/macro_files.h"
#include "filesaver/msg_src.h"
#include "filesaver/program_lookup.h"

DialogPointer<FileSaverDlg> pFileSaverDlg;

TREM_REGISTER_DIALOG_WITH(FileSaverDlg, [](QWidget* parent, const QString&) -> QDialog* {
  return FileSaverDlg::Open(parent);
});

namespace {
enum : int {
  IDS_SELECT_SUFFIX = 3335,
  IDS_MACRO_EXISTS = 3336,
  IDS_NO_APPLICATION_HANDLE = 3337,
  IDS_START_RECORDING = 3338,
  IDS_NO_HOOK = 3339,
  IDS_SELECT_MACRO = 3340,
  IDS_CANNOT_REMOVE_MACRO = 3341,
  IDS_CANNOT_FREE_RECORD_HOOK = 3342,
  IDS_CANNOT_REMOVE_MARKER = 3343,
  IDS_REMOVE_MARKER_MANUALLY = 3344,
  IDS_NO_MATCHING_APPLICATION = 3345,
  IDS_START_APPLICATION = 3346,
  IDS_CANNOT_BUILD_RECORDING = 3347,
  IDS_SELECT_APPLICATION = 3348,
  IDS_DISPLAY_UNUSABLE = 3349,
};
}  // namespace

static const StringTableRegistrar kStrings{
    {IDS_SELECT_SUFFIX, " list box before continuing."},
    {IDS_MACRO_EXISTS, "A macro already exist for this application"},
    {IDS_NO_APPLICATION_HANDLE, "Unable to get the handle for this application"},
    {IDS_START_RECORDING, "To start recording press OK, press CANCEL to quit"},
    {IDS_NO_HOOK, "Unable to load DLL."},
    {IDS_SELECT_MACRO, "Please select a macro from the 'Macros Built"},
    {IDS_CANNOT_REMOVE_MACRO, "Unable to remove macro."},
    {IDS_CANNOT_FREE_RECORD_HOOK, "Unable to free hook for RECORD_NDX."},
    {IDS_CANNOT_REMOVE_MARKER, "Unable to remove 'INSERT11.NOW' file,"},
    {IDS_REMOVE_MARKER_MANUALLY, "please remove the file manually."},
    {IDS_NO_MATCHING_APPLICATION, "Unable to locate an application that matches the selected macro."},
    {IDS_START_APPLICATION, "\nPlease start the correct application."},
    {IDS_CANNOT_BUILD_RECORDING, "Unable to build MAA file."},
    {IDS_SELECT_APPLICATION, "Please select an application from the 'Applications Found'\n "},
    {IDS_DISPLAY_UNUSABLE,
     "The File Saver cannot record or replay here: %1.\nIt needs an X display with the RECORD and XTEST "
     "extensions."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, FileSaverDlg::kHelpContext, "File Saver",
    "The File Saver records, for each application on this computer's display, the keys that save "
    "its work. Before the operating system is shut down the File Saver program replays them, so "
    "that open work is saved.\n\n"
    "Applications Found lists the applications that have a window; Search looks again. To record "
    "a macro, select the application and press Build (or double-click it), confirm, then type in "
    "the application what saves its work. F11 marks where the File Saver is to type the name of the "
    "file to save to; F12 ends the recording. Stop lists the new macro.\n\n"
    "Macros Built lists the macros in the console's directory. Test replays the selected macro "
    "into its application (which must be running); Delete removes it.\n\n"
    "With Use Sequential File Names the saved files are named with the File Name Prefix (at most 4 "
    "characters), a four-digit number and the File Name Extension (at most 3 characters), in the "
    "folder FILES; without it they are NULL0000.TMP, NULL0001.TMP and so on.");

namespace {

// Prefix and extension become part of a file name: letters, digits, "_" and "-" only.
QRegularExpressionValidator* NamePartValidator(int maxChars, QObject* parent) {
  return new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[A-Za-z0-9_-]{0,%1}").arg(maxChars)), parent);
}

QLineEdit* SmallEdit(QWidget* parent, int id, int maxChars) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(ControlName(id));
  edit->setMaxLength(maxChars);
  edit->setValidator(NamePartValidator(maxChars, edit));
  const QFontMetrics fm(edit->font());
  edit->setFixedWidth(fm.horizontalAdvance(QString(maxChars + 2, QLatin1Char('W'))) + 12);
  return edit;
}

// The selected entry of a list, or "" when nothing is selected.
QString SelectedText(const QListWidget* list) {
  const QList<QListWidgetItem*> items = list->selectedItems();
  return items.isEmpty() ? QString() : items.front()->text();
}

}  // namespace

struct FileSaverDlg::Lookup {
  filesaver::ProgramLookup programs;
};

FileSaverDlg::FileSaverDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_FILE_SAVER, parent, hostName), lookup_(std::make_unique<Lookup>()) {
  BindDialogPointer(pFileSaverDlg);
  SetWaitCount(0);
  display_usable_ = lookup_->programs.usable();
  BuildControls();
  Create(IDD_FILE_SAVER);
}

FileSaverDlg::~FileSaverDlg() {
  ReleaseHooks();
}

FileSaverDlg* FileSaverDlg::Open(QWidget* parent) {
  if (DialogIsOpen(pFileSaverDlg.get())) {
    FileSaverDlg* open = pFileSaverDlg.get();
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  return new FileSaverDlg(parent);
}

void FileSaverDlg::BuildControls() {
  setWindowTitle(QStringLiteral("File Saver"));
  auto* layout = new QVBoxLayout(this);

  auto* lists = new QGridLayout;
  auto* appLabel = new QLabel(QStringLiteral("&Applications Found:"), this);
  applications_ = new QListWidget(this);
  applications_->setObjectName(ControlName(IDC_FS_APPLICATIONS));
  appLabel->setBuddy(applications_);
  auto* macroLabel = new QLabel(QStringLiteral("&Macros Built:"), this);
  macros_ = new QListWidget(this);
  macros_->setObjectName(ControlName(IDC_FS_MACROS));
  macroLabel->setBuddy(macros_);
  const QFontMetrics fm(font());
  applications_->setMinimumSize(fm.horizontalAdvance(QString(34, QLatin1Char('x'))), fm.height() * 10);
  macros_->setMinimumSize(fm.horizontalAdvance(QString(20, QLatin1Char('x'))), fm.height() * 10);

  QPushButton* search = MakeButton(IDC_FS_SEARCH, QStringLiteral("&Search"));
  QPushButton* build = MakeButton(IDC_FS_BUILD, QStringLiteral("&Build"));
  QPushButton* stop = MakeButton(IDC_FS_STOP, QStringLiteral("St&op"));
  QPushButton* test = MakeButton(IDC_FS_TEST, QStringLiteral("&Test"));
  QPushButton* deleteButton = MakeButton(IDC_FS_DELETE, QStringLiteral("&Delete"));
  auto* appButtons = new QHBoxLayout;
  appButtons->addWidget(search);
  appButtons->addWidget(build);
  appButtons->addWidget(stop);
  appButtons->addStretch(1);
  auto* macroButtons = new QHBoxLayout;
  macroButtons->addWidget(test);
  macroButtons->addWidget(deleteButton);
  macroButtons->addStretch(1);
  GiveStyleSpacing(appButtons, this);
  GiveStyleSpacing(macroButtons, this);
  lists->addWidget(appLabel, 0, 0);
  lists->addWidget(applications_, 1, 0);
  lists->addLayout(appButtons, 2, 0);
  lists->addWidget(macroLabel, 0, 1);
  lists->addWidget(macros_, 1, 1);
  lists->addLayout(macroButtons, 2, 1);
  lists->setColumnStretch(0, 3);
  lists->setColumnStretch(1, 2);
  lists->setHorizontalSpacing(16);
  layout->addLayout(lists, 1);
  layout->addSpacing(8);

  sequential_box_ = new QCheckBox(QStringLiteral("&Use Sequential File Names"), this);
  sequential_box_->setObjectName(ControlName(IDC_FS_SEQUENTIAL));
  layout->addWidget(sequential_box_);
  auto* names = new QHBoxLayout;
  prefix_label_ = new QLabel(QStringLiteral("File Name &Prefix:"), this);
  prefix_label_->setObjectName(ControlName(IDC_FS_PREFIX_LABEL));
  prefix_edit_ = SmallEdit(this, IDC_FS_PREFIX, static_cast<int>(filesaver::kMaxPrefixChars));
  prefix_label_->setBuddy(prefix_edit_);
  extension_label_ = new QLabel(QStringLiteral("File Name &Extension:"), this);
  extension_label_->setObjectName(ControlName(IDC_FS_EXTENSION_LABEL));
  extension_edit_ = SmallEdit(this, IDC_FS_EXTENSION, static_cast<int>(filesaver::kMaxExtensionChars));
  extension_label_->setBuddy(extension_edit_);
  names->addSpacing(20);
  names->addWidget(prefix_label_);
  names->addWidget(prefix_edit_);
  names->addSpacing(20);
  names->addWidget(extension_label_);
  names->addWidget(extension_edit_);
  names->addStretch(1);
  layout->addLayout(names);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));

  connect(search, &QPushButton::clicked, this, [this] { RefreshLists(); });
  connect(build, &QPushButton::clicked, this, [this] { OnBuild(); });
  connect(stop, &QPushButton::clicked, this, [this] { OnStop(); });
  connect(test, &QPushButton::clicked, this, [this] { OnTest(); });
  connect(deleteButton, &QPushButton::clicked, this, [this] { OnDelete(); });
  connect(applications_, &QListWidget::itemDoubleClicked, this, [this] { OnBuild(); });
  connect(macros_, &QListWidget::itemDoubleClicked, this, [this] { OnTest(); });
  connect(sequential_box_, &QCheckBox::toggled, this, [this] { OnSequentialNames(); });

  setTabOrder(applications_, search);
  setTabOrder(search, build);
  setTabOrder(build, stop);
  setTabOrder(stop, macros_);
  setTabOrder(macros_, test);
  setTabOrder(test, deleteButton);
  setTabOrder(deleteButton, sequential_box_);
  setTabOrder(sequential_box_, prefix_edit_);
  setTabOrder(prefix_edit_, extension_edit_);
}

bool FileSaverDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RefreshLists();
  FillMacroList();
  EnableControls(0);
  filesaver::EnsureFilesFolder(filesaver::kFilesFolder);
  // The recorder's notice comes on its own thread: posted to this dialog's.
  const filesaver::WindowId self =
      QGuiApplication::platformName() == QLatin1String("xcb") ? static_cast<filesaver::WindowId>(winId()) : 0;
  const filesaver::DisplayState state = filesaver::MsgSrc.InitHook(self, [this](unsigned message) {
    if (message == filesaver::kRecordingEndedMessage)
      QCoreApplication::postEvent(this, new QEvent(kRecordingEndedEventType));
  });
  notifier_set_ = true;
  if (!display_usable_ || state != filesaver::DisplayState::kUsable) {
    display_usable_ = false;
    const filesaver::DisplayState why = lookup_->programs.usable() ? state : lookup_->programs.state();
    const QString text =
        LoadString(IDS_DISPLAY_UNUSABLE).arg(QString::fromLatin1(filesaver::DisplayStateText(why)));
    // Once the dialog is on the screen.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
          if (WindowExists()) TremMessageBox(this, text, MB_OK | MB_ICONINFORMATION);
        },
        Qt::QueuedConnection);
  }
  applications_->setFocus();
  return true;
}

void FileSaverDlg::OnOK() {
  ReleaseHooks();
  KTDialog::OnOK();
}

void FileSaverDlg::OnCancel() {
  ReleaseHooks();
  KTDialog::OnCancel();
}

void FileSaverDlg::ReleaseHooks() {
  if (record_hook_) {
    filesaver::MsgSrc.FreeHook(filesaver::kRecordHook);
    filesaver::MsgSrc.FreeHook(filesaver::kPlaybackHook);
    record_hook_ = false;
    recording_ = false;
  }
  // No notice may reach this dialog once it goes.
  if (notifier_set_) {
    filesaver::MsgSrc.ClearNotifier();
    notifier_set_ = false;
  }
}

bool FileSaverDlg::event(QEvent* event) {
  if (event->type() == kRecordingEndedEventType) {
    OnRecordingEnded();
    return true;
  }
  return KTDialog::event(event);
}

void FileSaverDlg::EnableControls(int enable) {
  const bool on = enable != 0;
  prefix_edit_->setEnabled(on);
  prefix_label_->setEnabled(on);
  extension_edit_->setEnabled(on);
  extension_label_->setEnabled(on);
}

void FileSaverDlg::UpdateData() {
  sequential_ = sequential_box_->isChecked() ? 1 : 0;
  prefix_ = prefix_edit_->text();
  extension_ = extension_edit_->text();
  selected_application_ = SelectedText(applications_);
  selected_macro_ = SelectedText(macros_);
}

void FileSaverDlg::UpdateControls() {
  prefix_edit_->setText(prefix_);
  extension_edit_->setText(extension_);
  sequential_box_->setChecked(sequential_ != 0);
}

void FileSaverDlg::Say(int stringId) {
  TremMessageBox(this, LoadString(stringId), MB_OK);
}

void FileSaverDlg::Say(int firstId, int secondId) {
  TremMessageBox(this, LoadString(firstId) + LoadString(secondId), MB_OK);
}

void FileSaverDlg::FillWindowList() {
  applications_->clear();
  if (!display_usable_) return;
  for (const filesaver::AppWindow& w : lookup_->programs.ListAppWindows())
    applications_->addItem(QString::fromStdString(w.title));
}

void FileSaverDlg::FillMacroList() {
  // The files alone, display or not: without one the macros can still be seen and deleted.
  macros_->clear();
  for (const std::string& name : filesaver::ListMacroFiles()) macros_->addItem(QString::fromStdString(name));
}

void FileSaverDlg::RefreshLists() {
  FillWindowList();
  FillMacroList();
}

void FileSaverDlg::OnSequentialNames() {
  UpdateData();
  EnableControls(sequential_);
}

void FileSaverDlg::OnBuild() {
  UpdateData();
  if (selected_application_.isEmpty()) {
    Say(IDS_SELECT_APPLICATION, IDS_SELECT_SUFFIX);
    return;
  }
  const std::string title = selected_application_.toStdString();
  if (lookup_->programs.MacroExistsForWindow(title) != 0) {
    Say(IDS_MACRO_EXISTS);
    return;
  }
  if (sequential_ == 0) {
    prefix_ = QString::fromLatin1(filesaver::kDefaultPrefix);
    extension_ = QString::fromLatin1(filesaver::kDefaultExtension);
  }
  const filesaver::WindowId window = lookup_->programs.FindAppWindow(0, title);
  // A window whose program has no name would give a macro file named ".MAC" that no replay
  // could ever match: refused as a window that cannot be found.
  const std::string program = window != 0 ? lookup_->programs.GetWindowProgramName(window) : std::string();
  if (window == 0 || program.empty()) {
    Say(IDS_NO_APPLICATION_HANDLE);
    return;
  }
  if (TremMessageBox(this, LoadString(IDS_START_RECORDING), MB_OKCANCEL) != IDOK) {
    recording_accepted_ = false;
    return;
  }
  recording_accepted_ = true;
  lookup_->programs.ActivateWindow(window);
  // What the macro's records carry, fixed now: the prefix and extension the controls show
  // later do not change a recording under way, nor does a Build the recorder refuses.
  const filesaver::MacroSubject subject{title, program, prefix_.toStdString(), extension_.toStdString(),
                                        lookup_->programs.GetWindowRect(window)};
  if (filesaver::MsgSrc.SetHook(filesaver::kRecordHook) != 0) {
    recorded_ = subject;
    record_hook_ = true;
    recording_ = true;
    lookup_->programs.ActivateWindow(window);
  } else {
    recording_accepted_ = false;
    Say(IDS_NO_HOOK);
  }
}

int FileSaverDlg::OnRecordingEnded() {
  filesaver::ConvertRecording(recorded_);
  recording_ = false;
  // A recording that left no macro (nothing typed before it ended) lists none: neither the
  // entry a Stop that ended it has just added, nor one from a Stop still to come.
  const std::string macro = filesaver::MacroNameFromProgram(recorded_.program);
  if (filesaver::FindMacroFile(macro).empty()) {
    recording_accepted_ = false;
    qDeleteAll(macros_->findItems(QString::fromStdString(macro), Qt::MatchFixedString));
  }
  return 0;
}

void FileSaverDlg::OnStop() {
  UpdateData();
  if (recording_accepted_) {
    const QString macro = QString::fromStdString(filesaver::MacroNameFromProgram(recorded_.program));
    if (macros_->findItems(macro, Qt::MatchFixedString).isEmpty()) macros_->addItem(macro);
    recording_accepted_ = false;
  }
  if (record_hook_) {
    if (filesaver::MsgSrc.FreeHook(filesaver::kRecordHook) == 0) {
      Say(IDS_CANNOT_FREE_RECORD_HOOK);
      return;
    }
    record_hook_ = false;
  }
  if (sequential_ == 0) {
    FillWindowList();
    return;
  }
  if (filesaver::RemoveMarkerFile()) {
    extension_.clear();
    prefix_.clear();
    sequential_ = 0;
    UpdateControls();
    EnableControls(0);
    FillWindowList();
  } else {
    Say(IDS_CANNOT_REMOVE_MARKER, IDS_REMOVE_MARKER_MANUALLY);
  }
}

void FileSaverDlg::OnTest() {
  UpdateData();
  if (selected_macro_.isEmpty()) {
    Say(IDS_SELECT_MACRO, IDS_SELECT_SUFFIX);
    return;
  }
  const std::string macro = selected_macro_.toStdString();
  const std::string program = filesaver::ProgramNameFromMacro(macro);
  const filesaver::WindowId window = lookup_->programs.FindAppWindow(1, program);
  if (window == 0) {
    test_window_ = false;
    Say(IDS_NO_MATCHING_APPLICATION, IDS_START_APPLICATION);
    return;
  }
  lookup_->programs.PlaceAppWindow(window, filesaver::ReadMacroWindowRect(macro));
  test_window_ = true;
  if (lookup_->programs.BuildPlaybackFile(window) < 1) {
    Say(IDS_CANNOT_BUILD_RECORDING);
  } else if (filesaver::MsgSrc.SetHook(filesaver::kPlaybackHook) == 0) {
    Say(IDS_NO_HOOK);
  }
}

void FileSaverDlg::OnDelete() {
  UpdateData();
  if (selected_macro_.isEmpty()) {
    Say(IDS_SELECT_MACRO, IDS_SELECT_SUFFIX);
    return;
  }
  const std::string path = filesaver::FindMacroFile(selected_macro_.toStdString());
  const QList<QListWidgetItem*> entries = macros_->findItems(selected_macro_, Qt::MatchExactly);
  std::error_code error;
  if (path.empty() || entries.isEmpty() || !std::filesystem::remove(path, error)) {
    Say(IDS_CANNOT_REMOVE_MACRO);
    return;
  }
  delete entries.front();
}
