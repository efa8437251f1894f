// The consoles' shared start-up pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "console/common/command_line.h"
#include "console/common/console_start.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/paging/pager_config.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using console::CommandLine;
using console::ParseCommandLine;

class ConsoleCommonTest : public trem_harness::TremTest {};

struct ParseRow {
  std::vector<std::string> args;
  bool empty;
  bool noSplash;
  std::optional<std::string> c, e, h, m;
  size_t problems;
};

TEST_F(ConsoleCommonTest, CommandLineTakesLetterSeparatorValueAndNeverReadsPastAnArgument) {
  const std::string twenty = "12345678901234567890";
  const std::vector<ParseRow> rows = {
      {{}, true, false, {}, {}, {}, {}, 0},
      {{"c:4", "h:ups1"}, false, false, "4", {}, "ups1", {}, 0},
      {{"-C=2", "/e:14"}, false, false, "2", "14", {}, {}, 0},  // dash, slash, any separator, case
      {{"n"}, false, true, {}, {}, {}, {}, 0},
      {{"x:1"}, false, false, {}, {}, {}, {}, 1},  // unknown letter: ignored, still an argument
      {{"e"}, false, false, {}, "", {}, {}, 1},    // a letter alone has an empty value
      {{"e:"}, false, false, {}, "", {}, {}, 1},
      {{"c:" + twenty}, false, false, twenty.substr(0, 19), {}, {}, {}, 2},      // cut, and not a mode
      {{"h:" + twenty + twenty}, false, false, {}, {}, twenty + twenty, {}, 0},  // texts kept whole
      {{"m:0011223344AA"}, false, false, {}, {}, {}, "0011223344AA", 0},
      {{"m:0011223344A"}, false, false, {}, {}, {}, "0011223344A", 1},
      {{"-"}, false, false, {}, {}, {}, {}, 1},
      {{""}, false, false, {}, {}, {}, {}, 1},
  };
  for (const ParseRow& row : rows) {
    SCOPED_TRACE(row.args.empty() ? std::string("(none)") : row.args.front());
    const CommandLine line = ParseCommandLine(row.args);
    EXPECT_EQ(line.empty, row.empty);
    EXPECT_EQ(line.noSplash, row.noSplash);
    EXPECT_EQ(line.c, row.c);
    EXPECT_EQ(line.e, row.e);
    EXPECT_EQ(line.h, row.h);
    EXPECT_EQ(line.m, row.m);
    EXPECT_EQ(line.problems.size(), row.problems);
  }
}

TEST_F(ConsoleCommonTest, ValueReadersFollowTheirSwitchesRules) {
  EXPECT_EQ(console::CommModeOf(std::nullopt, 1), 1);
  for (const auto& [text, mode] : std::vector<std::pair<std::string, int>>{
           {"0", 0}, {"5", 5}, {"6", 3}, {"9", 3}, {"", 3}, {"x", 3}, {"-1", 3}, {"99999999999", 3}}) {
    EXPECT_EQ(console::CommModeOf(text, 0), mode) << text;
  }
  EXPECT_EQ(console::DecimalOf(std::string("4294967295")), 4294967295u);
  EXPECT_FALSE(console::DecimalOf(std::string("4294967296")));
  EXPECT_FALSE(console::DecimalOf(std::string("12a")));
  const auto node = console::NodeOf(std::string("00a0C9fF1e02"));
  ASSERT_TRUE(node);
  EXPECT_EQ(*node, (std::array<uint8_t, 6>{0x00, 0xA0, 0xC9, 0xFF, 0x1E, 0x02}));
  for (const char* bad : {"00a0C9fF1e0", "00a0C9fF1e023", "00a0C9fF1e0g"})
    EXPECT_FALSE(console::NodeOf(std::string(bad))) << bad;
}

TEST_F(ConsoleCommonTest, WorkingDirectoryIsMadeUnderXdgDataHomeAndEntered) {
  const std::string data = File("data");
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  std::string error;
  ASSERT_TRUE(console::EnterWorkingDirectory(&error)) << error;
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), data + "/Brenvale/Tavona");
  EXPECT_EQ(console::MibFilePath(), "/var/lib/vigil/mib.txt");
  std::ofstream("mib.txt") << "x";
  EXPECT_EQ(console::MibFilePath(), "mib.txt");
  // A data folder that cannot be made: an error that says why, and the directory unchanged.
  std::ofstream(File("plain")) << "x";
  ::setenv("XDG_DATA_HOME", File("plain").c_str(), 1);
  EXPECT_FALSE(console::EnterWorkingDirectory(&error));
  EXPECT_NE(error.find("plain"), std::string::npos) << error;
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), data + "/Brenvale/Tavona");
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(ConsoleCommonTest, OnlyOneConsoleHoldsTheLocalChannelsMapping) {
  console::GuiRunningMapping first, second;
  ASSERT_TRUE(first.Take());
  EXPECT_FALSE(second.Take());
  EXPECT_FALSE(second.Held());
  EXPECT_TRUE(first.Held());  // the refused one did not take the holder's mapping away
  EXPECT_FALSE(second.Take());
  first.Release();
  EXPECT_TRUE(second.Take());
}

TEST_F(ConsoleCommonTest, LoggedBoxesAreAnsweredCancelElseNoElseOk) {
  const std::string log = File("boxes.log");
  LoggedMessageBoxes logged(log);
  EXPECT_EQ(logged.Show(nullptr, "a\nb", "Tavona", MB_OK), IDOK);
  EXPECT_EQ(logged.Show(nullptr, "q", "Tavona", MB_YESNO), IDNO);
  EXPECT_EQ(logged.Show(nullptr, "q", "Tavona", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(logged.Show(nullptr, "r", "Tavona", MB_ABORTRETRYIGNORE), IDABORT);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "Tavona | a\\nb | OK\nTavona | q | No\nTavona | q | Cancel\nTavona | r | Abort\n");
}

// The modems a console ships reach a fresh folder and fill the pager recipient dialog, which
// then says nothing; a name already in the folder is never replaced, and a folder the shipped
// file is missing from copies nothing.
TEST_F(ConsoleCommonTest, ShippedModemListFillsThePagerRecipientDialogOfAFreshFolder) {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string shipped = std::string(build) + "/share/vigil";
  std::ifstream list(shipped + "/modems.txt");
  ASSERT_TRUE(list.good()) << shipped;
  QStringList expected{"<Default Modem Settings>"};
  for (std::string line; std::getline(list, line);) {
    ASSERT_NE(line.find('-'), std::string::npos) << line;
    ASSERT_LE(line.find('-'), 40u) << line;  // what a recipient's modem name holds
    expected << QString::fromStdString(line.substr(0, line.find('-')));
  }
  ASSERT_GE(expected.size(), 5);

  // A name that is there already (here a link to nowhere) stays as it is; a shipped folder
  // without the file leaves the folder as it was.
  ASSERT_EQ(::symlink("nowhere", "modems.txt"), 0);
  EXPECT_TRUE(console::ProvideShippedFiles(shipped));
  char target[64] = {};
  EXPECT_EQ(::readlink("modems.txt", target, sizeof target - 1), 7);
  ASSERT_EQ(::unlink("modems.txt"), 0);
  EXPECT_TRUE(console::ProvideShippedFiles(File("no-such-folder")));
  EXPECT_NE(::access("modems.txt", F_OK), 0);

  EXPECT_TRUE(console::ProvideShippedFiles(shipped));
  agent.MarkAllFresh();
  QPointer<CPagerConfig> dialog = new CPagerConfig(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !dialog->IsBusy(); }));
  EXPECT_EQ(boxes.Count(), 0);
  QStringList modems;
  for (int i = 0; i < dialog->Modems()->count(); ++i) modems << dialog->Modems()->itemText(i);
  modems.sort();
  expected.sort();
  EXPECT_EQ(modems, expected);
  // The user picks a modem: its initialisation string fills the field.
  const int generic = dialog->Modems()->findText("Generic Hayes Compatible");
  dialog->Modems()->setCurrentIndex(generic);
  emit dialog->Modems()->activated(generic);
  EXPECT_EQ(dialog->findChild<QLineEdit*>(ControlName(CPagerConfig::IDC_INIT))->text(), "AT&F E0 V1 Q0 &C1 &D2");
  Screenshot(dialog, "pager_recipients_fresh_folder");
  // The list the user opens.
  dialog->Modems()->showPopup();
  QCoreApplication::processEvents();
  Screenshot(dialog->Modems()->view()->window(), "pager_recipients_fresh_folder_modems");
  dialog->Modems()->hidePopup();
}

}  // namespace
