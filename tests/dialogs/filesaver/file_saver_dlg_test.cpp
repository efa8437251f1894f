// The File Saver dialog without an X display (offscreen): what it says then, the macros it
// still lists and deletes, its file-name controls, the buttons that need a selection, Stop
// without a recording, and its opening from the Software Programs page. Recording and
// replaying are tested under a virtual X server (xvfb/).
#include "dialogs/filesaver/file_saver_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/shutdown_programs_page.h"
#include "filesaver/msg_src.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

class FileSaverDlgTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("filesaver"); }
  void SetUp() override {
    TremTest::SetUp();
    // The dialog opens the display of $DISPLAY itself: none here, whatever the shell has.
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr) saved_display_ = display;
    ::unsetenv("DISPLAY");
  }
  void TearDown() override {
    CloseAllWindows();
    if (!saved_display_.empty()) ::setenv("DISPLAY", saved_display_.c_str(), 1);
    TremTest::TearDown();
  }
  FileSaverDlg* Open() {
    FileSaverDlg* d = FileSaverDlg::Open(nullptr);
    link.PumpIdle();
    return d;
  }
  template <class T>
  static T* Get(FileSaverDlg* d, int id) {
    return d->findChild<T*>(ControlName(id));
  }
  static void Click(FileSaverDlg* d, int id) {
    Get<QPushButton>(d, id)->click();
    QCoreApplication::processEvents();
  }
  // The four file-name controls, enabled or not.
  static std::vector<bool> FileNameControls(FileSaverDlg* d) {
    return {Get<QLabel>(d, IDC_FS_PREFIX_LABEL)->isEnabled(), Get<QLineEdit>(d, IDC_FS_PREFIX)->isEnabled(),
            Get<QLabel>(d, IDC_FS_EXTENSION_LABEL)->isEnabled(),
            Get<QLineEdit>(d, IDC_FS_EXTENSION)->isEnabled()};
  }
  static std::vector<std::string> Texts(const QListWidget* list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
    return texts;
  }
  std::string saved_display_;
};

// Without a display one box says why, no application is listed, and the macros on disk are
// (empty files are none): they can still be deleted.
TEST_F(FileSaverDlgTest, WithoutADisplayOnlyTheMacrosAreListedAndOneBoxSaysWhy) {
  for (const char* name : {"EDIT.MAC", "GEDIT.MAC", "TESTPAD.MAC"})
    std::ofstream(name) << std::string(324, '\0');
  std::ofstream("EMPTY.MAC").close();
  FileSaverDlg* d = Open();
  ASSERT_TRUE(DialogIsOpen(d));
  EXPECT_FALSE(d->DisplayUsable());
  EXPECT_EQ(d->Applications()->count(), 0);
  ASSERT_EQ(Texts(d->Macros()), (std::vector<std::string>{"EDIT.MAC", "GEDIT.MAC", "TESTPAD.MAC"}));
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text,
            "The File Saver cannot record or replay here: no X display.\nIt needs an X display with the "
            "RECORD and XTEST extensions.");
  // The output folder is there from the opening on.
  EXPECT_TRUE(std::filesystem::is_directory("FILES"));
  Screenshot(d, "no_display");

  Click(d, IDC_FS_SEARCH);
  EXPECT_EQ(boxes.Count(), 1);  // once only
  Click(d, ID_HELP);
  ASSERT_EQ(help.Count(), 1);
  EXPECT_EQ(help.Requests()[0].context, FileSaverDlg::kHelpContext);
  EXPECT_TRUE(HasHelpTopic(QString::fromLatin1(kPanelHelpFile), FileSaverDlg::kHelpContext));

  // Build, Test and Delete without a selection.
  const QString macro =
      QStringLiteral("Please select a macro from the 'Macros Built list box before continuing.");
  const std::vector<std::pair<int, QString>> refusals{
      {IDC_FS_BUILD,
       "Please select an application from the 'Applications Found'\n  list box before continuing."},
      {IDC_FS_TEST, macro},
      {IDC_FS_DELETE, macro}};
  for (const auto& [button, text] : refusals) {
    boxes.Clear();
    Click(d, button);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Boxes()[0].text, text);
  }

  // Test finds no application without a display; Delete removes the file and its entry.
  d->Macros()->setCurrentRow(1);
  boxes.Clear();
  Click(d, IDC_FS_TEST);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text,
            "Unable to locate an application that matches the selected macro.\nPlease start the correct "
            "application.");
  boxes.Clear();
  Click(d, IDC_FS_DELETE);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_FALSE(std::filesystem::exists("GEDIT.MAC"));
  EXPECT_EQ(Texts(d->Macros()), (std::vector<std::string>{"EDIT.MAC", "TESTPAD.MAC"}));
  Click(d, IDC_FS_SEARCH);
  EXPECT_EQ(Texts(d->Macros()), (std::vector<std::string>{"EDIT.MAC", "TESTPAD.MAC"}));
  EXPECT_TRUE(std::filesystem::exists("EMPTY.MAC"));  // no macro, left alone
  EXPECT_FALSE(filesaver::MsgSrc.recording() || filesaver::MsgSrc.playing());
}

TEST_F(FileSaverDlgTest, SequentialNamesSwitchTheFileNameControls) {
  FileSaverDlg* d = Open();
  auto* box = Get<QCheckBox>(d, IDC_FS_SEQUENTIAL);
  const std::vector<bool> off(4, false), on(4, true);
  EXPECT_EQ(FileNameControls(d), off);
  // Clicks switch them; an opening disables them whatever the box says.
  box->click();
  EXPECT_EQ(FileNameControls(d), on);
  box->click();
  EXPECT_EQ(FileNameControls(d), off);
  box->click();
  d->OnInitDialog();
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(FileNameControls(d), off);
  box->click();
  box->click();
  EXPECT_EQ(FileNameControls(d), on);

  // At most 4 and 3 characters, and only what a file name may carry.
  struct Case {
    int id;
    const char* typed;
    const char* kept;
  };
  const std::vector<Case> cases{{IDC_FS_PREFIX, "SEQUENCE", "SEQU"}, {IDC_FS_EXTENSION, "TEXT", "TEX"},
                                {IDC_FS_PREFIX, "a_-9z", "a_-9"},    {IDC_FS_PREFIX, "../x", "x"},
                                {IDC_FS_EXTENSION, "t/x\\t", "txt"}, {IDC_FS_EXTENSION, "*.TX", "TX"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    auto* edit = Get<QLineEdit>(d, c.id);
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, QString::fromUtf8(c.typed));
    EXPECT_EQ(edit->text(), QString::fromUtf8(c.kept));
  }
}

TEST_F(FileSaverDlgTest, StopWithoutARecordingOnlyRefreshes) {
  FileSaverDlg* d = Open();
  boxes.Clear();
  Click(d, IDC_FS_STOP);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_EQ(d->Macros()->count(), 0);
  // With sequential names a marker that is not there counts as removed: the names are reset.
  Get<QCheckBox>(d, IDC_FS_SEQUENTIAL)->click();
  Get<QLineEdit>(d, IDC_FS_PREFIX)->setText("SEQ");
  Get<QLineEdit>(d, IDC_FS_EXTENSION)->setText("TXT");
  std::ofstream("insert11.now") << "";
  Click(d, IDC_FS_STOP);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_FALSE(std::filesystem::exists("insert11.now"));
  EXPECT_FALSE(Get<QCheckBox>(d, IDC_FS_SEQUENTIAL)->isChecked());
  EXPECT_EQ(Get<QLineEdit>(d, IDC_FS_PREFIX)->text(), "");
  EXPECT_EQ(Get<QLineEdit>(d, IDC_FS_EXTENSION)->text(), "");
  EXPECT_EQ(FileNameControls(d), std::vector<bool>(4, false));
}

TEST_F(FileSaverDlgTest, SoftwareProgramsPageOpensOrRaisesTheDialog) {
  gnCommMode = 3;
  {
    auto lock = gScp.Lock();
    gScp.config.SetRunFileSaver();
  }
  QPointer<ShutdownProgramsPage> page = new ShutdownProgramsPage(nullptr, QStringLiteral("localhost"));
  link.PumpIdle();
  auto* setup = page->findChild<QPushButton*>(ControlName(IDC_PROG_SETUP_SAVER));
  ASSERT_NE(setup, nullptr);
  EXPECT_TRUE(setup->isVisible() && setup->isEnabled());
  setup->click();
  link.PumpIdle();
  QPointer<FileSaverDlg> first = pFileSaverDlg.get();
  ASSERT_TRUE(DialogIsOpen(first));
  EXPECT_EQ(first->parentWidget(), page.data());
  setup->click();
  link.PumpIdle();
  EXPECT_EQ(pFileSaverDlg.get(), first.data());
  EXPECT_EQ(page->findChildren<FileSaverDlg*>().size(), 1);
  gnCommMode = 0;
}

}  // namespace
