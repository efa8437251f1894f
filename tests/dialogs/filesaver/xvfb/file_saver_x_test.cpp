// The File Saver dialog on a virtual X server, with the test application testpad: a macro is
// recorded from keys typed through XTEST (which the recorder sees as the user's), listed, and
// replayed into a fresh testpad, which then saves its text where the replay told it; and the
// refusals that come before any hook is set.
#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/filesaver/file_saver_dlg.h"
#include "filesaver/macro_files.h"
#include "filesaver/msg_src.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb_server.h"

// Xlib last: its macros would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

TREM_HARNESS_XVFB();

namespace {

namespace fs = std::filesystem;
using testing_support::XClient;

constexpr const char* kTitle = "Test Pad";
// testpad places its window here (left, top, width, height).
constexpr filesaver::WindowRect kPadRect{120, 140, 120 + 420, 140 + 130};
constexpr int kBoundMs = 30000;

// Keys typed as the user would, through XTEST on a connection of the test's own.
class Keyboard {
 public:
  explicit Keyboard(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
  ~Keyboard() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  bool open() const { return display_ != nullptr; }
  void Tap(KeySym key, KeySym modifier = NoSymbol) {
    const KeyCode mod = modifier == NoSymbol ? 0 : XKeysymToKeycode(display_, modifier);
    const KeyCode code = XKeysymToKeycode(display_, key);
    if (mod != 0) XTestFakeKeyEvent(display_, mod, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (mod != 0) XTestFakeKeyEvent(display_, mod, False, CurrentTime);
    XSync(display_, False);
    // The recorder stamps events with the server's time: let it move between keys.
    QTest::qWait(40);
  }
  void Type(const std::string& text) {
    for (char c : text) Tap(XStringToKeysym(std::string(1, c).c_str()));
  }
  // A top-level window with a title whose program cannot be told (no _NET_WM_PID).
  Window NamelessWindow(const char* title) {
    const Window root = DefaultRootWindow(display_);
    const Window w = XCreateSimpleWindow(display_, root, 600, 500, 200, 100, 0, 0, 0xFFFFFF);
    XStoreName(display_, w, title);
    XMapWindow(display_, w);
    XSync(display_, False);
    return w;
  }

 private:
  Display* display_;
};

class FileSaverXTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("filesaver"); }
  void SetUp() override {
    TremTest::SetUp();
    server_ = testing_support::ProcessXvfb(&why_);
    // The server stops at exit before the File Saver's own connections are closed; Xlib's
    // default handler would end the program with 1 there. Returning leaves the connection to
    // its exit handler (the File Saver's ignores it).
    XSetIOErrorHandler([](::Display*) { return 0; });
  }
  void TearDown() override {
    CloseAllWindows();
    pads_.clear();
    TremTest::TearDown();
  }
  const std::string& Display() const { return server_->display(); }

  // A testpad whose window is up and active.
  XClient* StartPad() {
    pads_.push_back(std::make_unique<XClient>(TESTPAD_PROGRAM, std::vector<std::string>{kTitle}, Display(),
                                              dir_->path().string()));
    XClient* pad = pads_.back().get();
    EXPECT_TRUE(pad->started()) << pad->error();
    EXPECT_TRUE(pad->WaitForLine("ACTIVE", kBoundMs));
    return pad;
  }
  // Polls (running the event loop) until `done` holds or the bound has passed.
  static bool WaitFor(const std::function<bool()>& done, int boundMs = kBoundMs) {
    for (int waited = 0; waited < boundMs; waited += 20) {
      if (done()) return true;
      QTest::qWait(20);
    }
    return done();
  }
  FileSaverDlg* Open() {
    FileSaverDlg* d = FileSaverDlg::Open(nullptr);
    link.PumpIdle();
    return d;
  }
  static void Click(FileSaverDlg* d, int id) {
    d->findChild<QPushButton*>(ControlName(id))->click();
    QCoreApplication::processEvents();
  }
  // Selects the entry of that text; false when the list has none.
  static bool Select(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> items = list->findItems(text, Qt::MatchExactly);
    if (items.isEmpty()) return false;
    list->setCurrentItem(items.front());
    return true;
  }
  static std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // A one-event macro of testpad, as Build would have left it.
  static void WritePadMacro(const std::string& path) {
    filesaver::MacroRecord r;
    r.subject = {kTitle, "TESTPAD.EXE", "NULL", "TMP", kPadRect};
    r.event = {filesaver::kKeyDown, 38, XK_a, 1000, 0};
    r.header = {1, 1000};
    const auto bytes = filesaver::EncodeMacroRecord(r);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  const testing_support::XvfbServer* server_ = nullptr;
  std::string why_;
  std::vector<std::unique_ptr<XClient>> pads_;
};

#define SKIP_WITHOUT_X()                                                     \
  do {                                                                       \
    if (server_ == nullptr) GTEST_SKIP() << "no virtual X server: " << why_; \
  } while (0)

TEST_F(FileSaverXTest, RecordsAMacroAndReplaysItIntoAFreshApplication) {
  SKIP_WITHOUT_X();
  XClient* pad = StartPad();
  Keyboard keys(Display());
  ASSERT_TRUE(keys.open());
  FileSaverDlg* d = Open();
  ASSERT_TRUE(d->DisplayUsable());
  EXPECT_EQ(boxes.Count(), 0);
  ASSERT_TRUE(Select(d->Applications(), kTitle));

  boxes.QueueAnswer(IDOK);
  Click(d, IDC_FS_BUILD);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, "To start recording press OK, press CANCEL to quit");
  ASSERT_TRUE(d->RecordHookSet());
  ASSERT_TRUE(WaitFor([] { return filesaver::MsgSrc.recording(); }));
  // The recorder's thread enables its RECORD context after SetHook has returned, and nothing
  // tells when that is done: keys typed at once may come before it.
  QTest::qWait(1000);
  keys.Type("hello");
  keys.Tap(XK_Tab);
  keys.Tap(XK_F11);
  keys.Tap(XK_s, XK_Control_L);
  EXPECT_TRUE(pad->WaitForLine("NOT SAVED", kBoundMs));  // no file name yet
  keys.Tap(XK_F12);

  // F12 ends the recording; the dialog turns it into testpad's macro.
  ASSERT_TRUE(WaitFor([] { return !filesaver::MsgSrc.recording() && fs::exists("TESTPAD.MAC"); }));
  const std::vector<uint8_t> macro = Bytes("TESTPAD.MAC");
  ASSERT_FALSE(macro.empty());
  ASSERT_EQ(macro.size() % filesaver::kMacroRecordBytes, 0u);
  const size_t n = macro.size() / filesaver::kMacroRecordBytes;
  // At least the key downs and ups of hello, Tab, F11, Ctrl+S.
  EXPECT_GE(n, 18u);
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    const filesaver::MacroRecord r =
        filesaver::DecodeMacroRecord(macro.data() + i * filesaver::kMacroRecordBytes);
    EXPECT_EQ(r.subject.title, kTitle);
    EXPECT_EQ(r.subject.program, "TESTPAD.EXE");
    EXPECT_EQ(r.subject.prefix, "NULL");
    EXPECT_EQ(r.subject.extension, "TMP");
    EXPECT_EQ(r.subject.rect, kPadRect);
  }

  boxes.Clear();
  Click(d, IDC_FS_STOP);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_FALSE(d->RecordHookSet());
  ASSERT_EQ(d->Macros()->findItems("TESTPAD.MAC", Qt::MatchExactly).size(), 1);
  EXPECT_GE(d->Applications()->count(), 1);
  Screenshot(d, "dialog_with_lists");
  const QString shots = trem_harness::ScreenshotDir(ScreenshotTopic());
  fs::copy_file("TESTPAD.MAC", (shots + "/TESTPAD.MAC").toStdString(), fs::copy_options::overwrite_existing);

  // Test against a new testpad: the replay types the text, then the saved file's path.
  pads_.clear();
  pad = StartPad();
  Click(d, IDC_FS_SEARCH);
  ASSERT_TRUE(Select(d->Macros(), "TESTPAD.MAC"));
  Click(d, IDC_FS_TEST);
  EXPECT_EQ(boxes.Count(), 0);
  std::string saved;
  ASSERT_TRUE(pad->WaitForLine("SAVED ", 60000, &saved));
  const std::string target = (fs::current_path() / "FILES" / "NULL0000.TMP").string();
  EXPECT_EQ(saved, "SAVED " + target);
  ASSERT_TRUE(WaitFor([] { return !filesaver::MsgSrc.playing(); }));
  const std::vector<uint8_t> text = Bytes(target);
  EXPECT_EQ(std::string(text.begin(), text.end()), "hello");
  QTest::qWait(200);  // testpad paints what it saved
  const QPixmap client = QGuiApplication::primaryScreen()->grabWindow(
      0, kPadRect.left, kPadRect.top, kPadRect.right - kPadRect.left, kPadRect.bottom - kPadRect.top);
  EXPECT_TRUE(client.save(shots + "/test_client.png"));

  // Deleted, then recorded again with sequential names and ended by Stop instead of F12.
  ASSERT_TRUE(Select(d->Macros(), "TESTPAD.MAC"));
  Click(d, IDC_FS_DELETE);
  EXPECT_TRUE(!fs::exists("TESTPAD.MAC") && d->Macros()->count() == 0);
  d->findChild<QCheckBox*>(ControlName(IDC_FS_SEQUENTIAL))->click();
  d->findChild<QLineEdit*>(ControlName(IDC_FS_PREFIX))->setText("SEQ");
  d->findChild<QLineEdit*>(ControlName(IDC_FS_EXTENSION))->setText("TXT");
  ASSERT_TRUE(Select(d->Applications(), kTitle));
  boxes.QueueAnswer(IDOK);
  Click(d, IDC_FS_BUILD);
  ASSERT_TRUE(d->RecordHookSet());
  QTest::qWait(1000);  // as above
  keys.Type("hi");
  keys.Tap(XK_F11);
  ASSERT_TRUE(WaitFor([] { return fs::exists("insert11.now"); }));
  Click(d, IDC_FS_STOP);
  EXPECT_FALSE(d->RecordHookSet() || filesaver::MsgSrc.recording());
  EXPECT_EQ(d->Macros()->findItems("TESTPAD.MAC", Qt::MatchExactly).size(), 1);
  EXPECT_FALSE(fs::exists("insert11.now"));
  ASSERT_TRUE(WaitFor([] { return fs::exists("TESTPAD.MAC"); }));
  const std::vector<uint8_t> again = Bytes("TESTPAD.MAC");
  ASSERT_GE(again.size(), 6 * filesaver::kMacroRecordBytes);  // h, i, F11 down and up
  ASSERT_EQ(again.size() % filesaver::kMacroRecordBytes, 0u);
  for (size_t at = 0; at < again.size(); at += filesaver::kMacroRecordBytes) {
    const filesaver::MacroRecord r = filesaver::DecodeMacroRecord(again.data() + at);
    EXPECT_EQ(r.subject.prefix + "." + r.subject.extension, "SEQ.TXT");
  }
}

// A recording that ends before anything was typed, by Stop or by F12, leaves no macro: none on
// disk, none listed, and the next Build for the program asks to record again. An empty macro
// left on disk counts as none.
TEST_F(FileSaverXTest, ARecordingWithNothingTypedLeavesNoMacro) {
  SKIP_WITHOUT_X();
  StartPad();
  Keyboard keys(Display());
  ASSERT_TRUE(keys.open());
  FileSaverDlg* d = Open();
  ASSERT_TRUE(d->DisplayUsable());
  const std::string question = "To start recording press OK, press CANCEL to quit";
  struct Case {
    const char* name;
    bool by_f12;
    bool empty_left_on_disk;
  };
  for (const Case& c : std::vector<Case>{{"ended by Stop", false, false},
                                         {"ended by F12", true, false},
                                         {"empty macro on disk", false, true}}) {
    SCOPED_TRACE(c.name);
    if (c.empty_left_on_disk) std::ofstream("TESTPAD.MAC").close();
    Click(d, IDC_FS_SEARCH);
    EXPECT_TRUE(d->Macros()->findItems("TESTPAD.MAC", Qt::MatchFixedString).isEmpty());
    ASSERT_TRUE(Select(d->Applications(), kTitle));
    boxes.Clear();
    boxes.QueueAnswer(IDOK);
    Click(d, IDC_FS_BUILD);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Boxes()[0].text.toStdString(), question);
    ASSERT_TRUE(d->RecordHookSet());
    ASSERT_TRUE(WaitFor([] { return filesaver::MsgSrc.recording(); }));
    if (c.by_f12) {
      QTest::qWait(1000);  // until the recorder's RECORD context is enabled
      keys.Tap(XK_F12);
      ASSERT_TRUE(WaitFor([] { return !filesaver::MsgSrc.recording(); }));
    }
    Click(d, IDC_FS_STOP);
    EXPECT_FALSE(d->RecordHookSet() || filesaver::MsgSrc.recording());
    // The recording's end reaches the dialog as a posted notice.
    EXPECT_TRUE(
        WaitFor([d] { return d->Macros()->findItems("TESTPAD.MAC", Qt::MatchFixedString).isEmpty(); }));
    if (c.empty_left_on_disk) {
      EXPECT_EQ(fs::file_size("TESTPAD.MAC"), 0u);  // left alone, and still no macro
    } else {
      EXPECT_FALSE(fs::exists("TESTPAD.MAC"));
    }

    // The next Build is not refused: it asks again.
    Click(d, IDC_FS_SEARCH);
    ASSERT_TRUE(Select(d->Applications(), kTitle));
    boxes.Clear();
    boxes.QueueAnswer(IDCANCEL);
    Click(d, IDC_FS_BUILD);
    std::vector<std::string> texts;
    for (const auto& b : boxes.Boxes()) texts.push_back(b.text.toStdString());
    EXPECT_EQ(texts, std::vector<std::string>{question});
    EXPECT_FALSE(d->RecordHookSet());
    fs::remove("TESTPAD.MAC");
  }
  Screenshot(d, "after_empty_recording");
}

TEST_F(FileSaverXTest, RefusalsComeBeforeAnyHook) {
  SKIP_WITHOUT_X();
  Keyboard keys(Display());
  ASSERT_TRUE(keys.open());
  StartPad();
  keys.NamelessWindow("Nameless Program");
  WritePadMacro("TESTPAD.MAC");
  FileSaverDlg* d = Open();
  ASSERT_TRUE(d->DisplayUsable());
  struct Case {
    const char* name;
    const char* application;  // selected in the application list, or none
    const char* macro;        // selected in the macro list, or none
    int button;
    int answer;  // to the question, 0 when none is expected
    std::vector<QString> texts;
    std::function<void()> before;
  };
  const std::vector<Case> cases{
      {"a macro exists already",
       kTitle,
       nullptr,
       IDC_FS_BUILD,
       0,
       {"A macro already exist for this application"},
       {}},
      {"cancelled",
       kTitle,
       nullptr,
       IDC_FS_BUILD,
       IDCANCEL,
       {"To start recording press OK, press CANCEL to quit"},
       [] { fs::remove("TESTPAD.MAC"); }},
      {"program without a name",
       "Nameless Program",
       nullptr,
       IDC_FS_BUILD,
       0,
       {"Unable to get the handle for this application"},
       {}},
      {"application not running",
       nullptr,
       "TESTPAD.MAC",
       IDC_FS_TEST,
       0,
       {"Unable to locate an application that matches the selected macro.\nPlease start the correct "
        "application."},
       [this] {
         pads_.clear();
         WritePadMacro("TESTPAD.MAC");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.before) c.before();
    Click(d, IDC_FS_SEARCH);
    boxes.Clear();
    if (c.application != nullptr) {
      ASSERT_TRUE(Select(d->Applications(), c.application));
    }
    if (c.macro != nullptr) {
      ASSERT_TRUE(Select(d->Macros(), c.macro));
    }
    if (c.answer != 0) boxes.QueueAnswer(c.answer);
    Click(d, c.button);
    std::vector<QString> texts;
    for (const auto& b : boxes.Boxes()) texts.push_back(b.text);
    EXPECT_EQ(texts, c.texts);
    EXPECT_FALSE(d->RecordHookSet());
    EXPECT_FALSE(filesaver::MsgSrc.recording());
    EXPECT_FALSE(filesaver::MsgSrc.playing());
    // Stop after a refusal lists nothing new.
    const int macros = d->Macros()->count();
    Click(d, IDC_FS_STOP);
    EXPECT_EQ(d->Macros()->count(), macros);
  }
  EXPECT_FALSE(fs::exists(".MAC"));
}

TEST_F(FileSaverXTest, APlaybackFileThatCannotBeBuiltIsReported) {
  SKIP_WITHOUT_X();
  // A directory so deep that the saved file's path does not fit PREFIX.TMP.
  fs::path deep = fs::current_path();
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  testing_support::InDirectory in(deep.string());
  WritePadMacro("TESTPAD.MAC");
  StartPad();
  FileSaverDlg* d = Open();
  ASSERT_TRUE(d->DisplayUsable());
  ASSERT_TRUE(Select(d->Macros(), "TESTPAD.MAC"));
  boxes.Clear();
  Click(d, IDC_FS_TEST);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, "Unable to build MAA file.");
  EXPECT_FALSE(filesaver::MsgSrc.playing());
  EXPECT_FALSE(fs::exists("PREFIX.TMP"));
  CloseAllWindows();
}

TEST_F(FileSaverXTest, ADisplayWithoutRecordIsNotUsed) {
  SKIP_WITHOUT_X();
  StartPad();
  WritePadMacro("TESTPAD.MAC");
  // (Xvfb without XTEST has no RECORD either.)
  testing_support::XvfbServer lacking({"-extension", "RECORD"});
  ASSERT_TRUE(lacking.running()) << lacking.error();
  // The dialog looks for applications on $DISPLAY.
  ::setenv("DISPLAY", lacking.display().c_str(), 1);
  FileSaverDlg* d = Open();
  ::setenv("DISPLAY", Display().c_str(), 1);
  EXPECT_FALSE(d->DisplayUsable());
  EXPECT_EQ(d->Applications()->count(), 0);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(
      boxes.Boxes()[0].text.toStdString(),
      "The File Saver cannot record or replay here: the X display has no RECORD extension.\nIt needs an X "
      "display with the RECORD and XTEST extensions.");
  // The macros are listed from the files all the same.
  ASSERT_EQ(d->Macros()->count(), 1);
  EXPECT_EQ(d->Macros()->item(0)->text(), "TESTPAD.MAC");
  Screenshot(d, "display_without_record");
  CloseAllWindows();
}

}  // namespace
