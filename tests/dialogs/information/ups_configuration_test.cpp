// The UPS options dialog against the in-process agent.
#include "dialogs/information/ups_configuration.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "core/base/setup_data.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Sent;

class UpsConfigurationTest : public InfoTest {
 protected:
  void FillAgent(int alarm, int warning, int model, const char* modelText) {
    auto lock = agent.scp().Lock();
    agent.scp().config.SetAudibleAlarm(static_cast<uint8_t>(alarm));
    agent.scp().config.SetLowBatteryWarning(static_cast<uint8_t>(warning));
    agent.scp().upsInfo.SetModelIndex(model);
    if (modelText != nullptr) agent.scp().upsInfo.SetModelText(modelText);
  }
};

TEST_F(UpsConfigurationTest, AsksForOptionsThenIdentificationAndShowsMakeAndModel) {
  SetupData setup;
  setup.SetUpsModelName("", 3);  // a model index without a name
  setup.SetUpsModelName("Keystone", 4);
  ASSERT_EQ(setup.WriteFile(SetupData::kFileName), 1);
  const struct {
    int model;
    const char* text;
    const char* shown;
  } kCases[] = {{3, "X", "X"}, {4, nullptr, "Keystone, "}, {4, "Tower 1000", "Keystone, Tower 1000"}};
  for (const auto& c : kCases) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.Reset();
    }
    FillAgent(1, 2, c.model, c.text);
    const size_t before = link.Sent().size();
    QPointer<CUpsConfiguration> d = OpenIdle<CUpsConfiguration>(nullptr, "localhost");
    const std::vector<std::string> sent = Sent(link);
    EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(before), sent.end()),
              (std::vector<std::string>{"GET 4,3", "GET 2,2"}));
    EXPECT_EQ(d->Control<QLabel>(CUpsConfiguration::IDC_MODEL)->text(), c.shown);
    EXPECT_EQ(d->windowTitle(), "Configure UPS Options (localhost)");
    EXPECT_EQ(d->HelpContextId(), 24);
    if (c.text != nullptr && c.model == 4) Screenshot(d, "ups_configuration");
    delete d.data();
  }
  gnCommMode = 4;
  QPointer<CUpsConfiguration> all = new CUpsConfiguration(nullptr, "localhost");
  EXPECT_EQ(all->GetWaitCount(), 1);
}

TEST_F(UpsConfigurationTest, OptionsMapToTheRadioPairsAndOkSendsThem) {
  const struct {
    int alarm, warning;
    int alarmButton, warningButton;
    int sentAlarm, sentWarning;
  } kCases[] = {{1, 2, CUpsConfiguration::IDC_ALARM_ON, CUpsConfiguration::IDC_WARN_2, 1, 2},
                {0, 5, CUpsConfiguration::IDC_ALARM_OFF, CUpsConfiguration::IDC_WARN_5, 0, 5},
                {2, 0, CUpsConfiguration::IDC_ALARM_OFF, CUpsConfiguration::IDC_WARN_5, 0, 5}};
  for (const auto& c : kCases) {
    FillAgent(c.alarm, c.warning, 1, "T");
    QPointer<CUpsConfiguration> d = OpenIdle<CUpsConfiguration>(nullptr, "localhost");
    EXPECT_TRUE(d->Control<QRadioButton>(c.alarmButton)->isChecked()) << c.alarm;
    EXPECT_TRUE(d->Control<QRadioButton>(c.warningButton)->isChecked()) << c.warning;
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    ASSERT_TRUE(link.PumpIdle());
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(Sent(link).back(), "SET 4,3");
    auto lock = agent.scp().Lock();
    EXPECT_EQ(agent.scp().config.GetAudibleAlarm(), c.sentAlarm);
    EXPECT_EQ(agent.scp().config.GetLowBatteryWarning(), c.sentWarning);
  }
}

TEST_F(UpsConfigurationTest, OkWantsBothChoicesMadeUntilTheAgentHasAnswered) {
  FillAgent(255, 255, 1, "T");
  {
    auto lock = gScp.Lock();
    gScp.config.Branches().ClearTime(3);
  }
  // Before the configuration reply (OK itself waits for the replies; its handler is asked
  // directly): both choices are wanted.
  QPointer<CUpsConfiguration> d = new CUpsConfiguration(nullptr, "localhost");
  d->OnOK();
  EXPECT_TRUE(boxes.Saw("Horn status must be selected"));
  d->Control<QRadioButton>(CUpsConfiguration::IDC_ALARM_ON)->click();
  d->OnOK();
  EXPECT_TRUE(boxes.Saw("Invalid low battery warning specified"));
  ASSERT_FALSE(d.isNull());
  link.PumpIdle();
  EXPECT_NE(Sent(link).back(), "SET 4,3");
  delete d.data();
}

TEST_F(UpsConfigurationTest, SettingsTheUpsDoesNotReportAreUnknownOfferNoChoiceAndAreNotSent) {
  // 255 from the agent: the setting shows "Unknown", its buttons are disabled, the note says
  // why, and OK sends it as 255 (with both unknown, sends nothing).
  const struct {
    int alarm, warning;
    const char* screenshot;
  } kCases[] = {{255, 255, "ups_configuration_unknown"}, {1, 255, "ups_configuration_warning_unknown"},
                {255, 5, nullptr}};
  for (const auto& c : kCases) {
    FillAgent(c.alarm, c.warning, 1, "T");
    QPointer<CUpsConfiguration> d = OpenIdle<CUpsConfiguration>(nullptr, "localhost");
    const bool alarmUnknown = c.alarm == 255;
    const bool warningUnknown = c.warning == 255;
    EXPECT_EQ(d->AudibleUnknown(), alarmUnknown);
    EXPECT_EQ(d->WarningUnknown(), warningUnknown);
    for (int id : {CUpsConfiguration::IDC_ALARM_ON, CUpsConfiguration::IDC_ALARM_OFF}) {
      EXPECT_EQ(d->Control<QRadioButton>(id)->isEnabled(), !alarmUnknown) << id;
      if (alarmUnknown) {
        EXPECT_FALSE(d->Control<QRadioButton>(id)->isChecked()) << id;
      }
    }
    for (int id : {CUpsConfiguration::IDC_WARN_2, CUpsConfiguration::IDC_WARN_5}) {
      EXPECT_EQ(d->Control<QRadioButton>(id)->isEnabled(), !warningUnknown) << id;
      if (warningUnknown) {
        EXPECT_FALSE(d->Control<QRadioButton>(id)->isChecked()) << id;
      }
    }
    int unknownShown = 0;
    bool noteShown = false;
    for (QLabel* label : d->findChildren<QLabel*>()) {
      if (!label->isVisible()) continue;
      unknownShown += label->text() == "Unknown";
      noteShown = noteShown || label->text() == "This UPS cannot report or change the settings marked Unknown.";
    }
    EXPECT_EQ(unknownShown, int(alarmUnknown) + int(warningUnknown));
    EXPECT_TRUE(noteShown);
    if (c.screenshot != nullptr) Screenshot(d, c.screenshot);
    const size_t before = link.Sent().size();
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    ASSERT_TRUE(link.PumpIdle());
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(link.Sent().size(), before + (alarmUnknown && warningUnknown ? 0 : 1));
    EXPECT_EQ(boxes.Count(), 0);
    auto lock = agent.scp().Lock();
    EXPECT_EQ(agent.scp().config.GetAudibleAlarm(), c.alarm);
    EXPECT_EQ(agent.scp().config.GetLowBatteryWarning(), c.warning);
  }
}

}  // namespace
