// The injectable layers: scripted message boxes, the help window, dialog pointers, modal use.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "tests/dialogs/frame/probe_dialog.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class LayersTest : public TremTest {};

TEST_F(LayersTest, ScriptedBoxesAnswerInOrderThenByDefault) {
  boxes.QueueAnswer(IDNO);
  boxes.QueueAnswer(IDYES);  // not a button of an OK box: its first button answers
  struct Case {
    unsigned flags;
    int answer;
  } cases[] = {{MB_YESNO, IDNO},
               {MB_OK, IDOK},
               {MB_OKCANCEL, IDOK},
               {MB_YESNOCANCEL, IDYES},
               {MB_RETRYCANCEL, IDRETRY}};
  for (const Case& c : cases) EXPECT_EQ(TremMessageBox(nullptr, "text", c.flags), c.answer) << c.flags;
  boxes.SetDefaultAnswer(IDCANCEL);
  EXPECT_EQ(TremMessageBox(nullptr, "text", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(boxes.Count(), 6);
  EXPECT_EQ(boxes.Boxes()[0].caption, "Tremona");
  for (int answer : {IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, IDABORT, IDIGNORE}) {
    EXPECT_EQ(MessageBoxAnswerFromName(MessageBoxAnswerName(answer).toLower()), answer);
  }
  EXPECT_EQ(MessageBoxAnswerFromName("maybe"), 0);
}

TEST_F(LayersTest, HelpWindowShowsOurTopic) {
  SetHelpLayer(nullptr);  // the real window
  ShowHelpTopic(nullptr, kAlarmHelpFile, 3);
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "TremHelpWindow" && w->isVisible()) window = w;
  }
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->findChild<QLabel*>("helpTitle")->text(), "UPS On Battery");
  EXPECT_TRUE(window->findChild<QTextBrowser*>("helpText")->toPlainText().contains("batteries"));
  Screenshot(window, "help_window");
  ShowHelpTopic(nullptr, kPanelHelpFile, 123456);  // no topic of its own: the general one, same window
  EXPECT_EQ(window->findChild<QLabel*>("helpTitle")->text(), "Tremona Help");
}

TEST_F(LayersTest, ANewerDialogKeepsItsPointerWhenTheOldOneGoes) {
  QPointer<ProbeDialog> old = new ProbeDialog(0, DialogSlot::BatteryInfo);
  old->DestroyWindow();
  EXPECT_EQ(DialogInSlot(DialogSlot::BatteryInfo), nullptr);
  QPointer<ProbeDialog> fresh = new ProbeDialog(0, DialogSlot::BatteryInfo);
  link.PumpUntil([&] { return old.isNull(); }, 2000);  // the old one is deleted now
  EXPECT_TRUE(old.isNull());
  EXPECT_EQ(DialogInSlot(DialogSlot::BatteryInfo), fresh.data());
  EXPECT_EQ(RouteScpReply(4, PackScpKey(2, 26, 1, 0)), 1);
}

TEST_F(LayersTest, ModalDialogReturnsItsButtonAndStaysAlive) {
  for (int button : {IDOK, IDCANCEL}) {
    KTDialog d(nullptr, "localhost");
    QTimer::singleShot(0, &d, [&d, button] { d.Control<QPushButton>(button)->click(); });
    EXPECT_EQ(d.DoModal(), button);
    EXPECT_FALSE(d.isVisible());
  }
}

}  // namespace
