// The library's globals, string table and help topic maps.
#include <gtest/gtest.h>

#include "dialogs/frame/help.h"
#include "dialogs/frame/help_topics.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/monitoring/manage_diag_test.h"
#include "dialogs/support/tech_support_dlg.h"

namespace {

TEST(LibraryTest, GlobalsBeforeAnyDialog) {
  EXPECT_EQ(GetSCPObject(), &gScp);
  EXPECT_EQ(prunScp, nullptr);
  _InitTremDLL();
  _InitTremDLL();
  EXPECT_TRUE(TremInitialized());
  for (int i = 0; i < kDialogSlotCount; ++i) EXPECT_EQ(DialogInSlot(static_cast<DialogSlot>(i)), nullptr);
  EXPECT_EQ(pManageDiagTest.get(), nullptr);
  EXPECT_EQ(pTechSupportDlg.get(), nullptr);
}

TEST(LibraryTest, StringTableHoldsTheTextsOnce) {
  EXPECT_TRUE(StringTableConflicts().empty());
  EXPECT_EQ(LoadString(3330), "Unable to retrieve data from the Agent");
  EXPECT_EQ(LoadString(3331), "Unable to complete the print job.");
  EXPECT_EQ(LoadString(3198), "Manage Diagnostic Test");
  EXPECT_EQ(LoadString(3233), "Unable to locate <mib.txt> file.\nSNMP disabled.");
  EXPECT_TRUE(LoadString(1).isEmpty());
  static const StringTableRegistrar extra{{64001, "first"}};
  static const StringTableRegistrar clash{{64001, "second"}};
  EXPECT_EQ(LoadString(64001), "first");
  EXPECT_EQ(StringTableConflicts(), std::vector<int>{64001});
}

TEST(LibraryTest, HelpTopicsOfStatesAndEvents) {
  // Each alarm event opens its state's topic; its clearing event a topic of its own.
  const unsigned alarmPairs[][3] = {{1, 0, 2},  {3, 1, 3},  {5, 2, 4},  {7, 3, 5},  {9, 4, 6},
                                    {11, 5, 7}, {13, 6, 8}, {15, 7, 9}, {17, 8, 10}};
  for (const auto& p : alarmPairs) {
    EXPECT_EQ(GetAlarmHelpContext(p[0]), p[2]) << p[0];
    EXPECT_EQ(GetStateHelpContext(p[1]), p[2]) << p[1];
    EXPECT_EQ(GetAlarmHelpContext(p[0] + 1), 14 + (p[0] - 1) / 2) << p[0] + 1;
  }
  const unsigned events[][2] = {{19, 23}, {22, 26}, {23, 28}, {24, 28}, {25, 29},  {26, 9},
                                {27, 21}, {28, 11}, {29, 30}, {30, 12}, {33, 32},  {34, 33},
                                {35, 33}, {36, 40}, {0, 40},  {37, 40}, {1000, 40}};
  for (const auto& e : events) EXPECT_EQ(GetAlarmHelpContext(e[0]), e[1]) << e[0];
  const unsigned states[][2] = {{16, 9},  {12, 28}, {13, 26}, {15, 29}, {17, 11}, {19, 13},
                                {21, 39}, {22, 34}, {23, 40}, {24, 40}, {255, 40}};
  for (const auto& s : states) EXPECT_EQ(GetStateHelpContext(s[0]), s[1]) << s[0];
  // Every topic the maps can name has a text of its own.
  for (unsigned code = 0; code < 40; ++code) {
    EXPECT_TRUE(HasHelpTopic(kAlarmHelpFile, static_cast<int>(GetStateHelpContext(code)))) << code;
    EXPECT_TRUE(HasHelpTopic(kAlarmHelpFile, static_cast<int>(GetAlarmHelpContext(code)))) << code;
  }
  EXPECT_EQ(FindHelpTopic("ALARM.HLP", 9999).title, FindHelpTopic(kAlarmHelpFile, 40).title);
}

}  // namespace
