#include "agent/protocols/harvan_decoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "tests/support/test_support.h"

using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

class HarvanDecoderTest : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  HarvanReplyDecoder dec_{scp_};

  int Process(const std::string& text) { return dec_.Process(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }
  bool Alarm(int a) { return scp_.upsStatus.IsAlarmSet(a) == 1; }
  std::vector<int32_t> Error() const { return {dec_.errorClass, dec_.function, dec_.code}; }
};

TEST_F(HarvanDecoderTest, RepliesAreCutIntoKeyValueLines) {
  // Empty lines are skipped, line feeds dropped, and a last line without its carriage return
  // (a reply cut short by the read) is left out.
  const std::string reply = "\r\rSTBO\r\n11\r\rSTBL\r00\rMOUL1\r23";
  const auto lines = HarvanLines(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  EXPECT_EQ(lines, (std::vector<std::string>{"STBO", "11", "STBL", "00", "MOUL1"}));
}

TEST_F(HarvanDecoderTest, StatusKeys) {
  // On battery with a good battery sets alarm 1, clears alarm 2 and sets variant 2.
  scp_.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  ASSERT_EQ(Process("STBO\r11\rSTBL\r00\r"), 1);
  EXPECT_TRUE(Alarm(ALARM_ON_BATTERY));
  EXPECT_FALSE(Alarm(ALARM_LOW_BATTERY));
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 2);

  ASSERT_EQ(Process("STUF\r00\rSTBP\r11\rSTLR\rSU\r"), 1);
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 0);
  EXPECT_TRUE(Alarm(ALARM_ON_BYPASS));
  EXPECT_TRUE(Alarm(ALARM_BOOSTING));
  ASSERT_EQ(Process("STLR\rSD\r"), 1);
  EXPECT_TRUE(Alarm(ALARM_BUCKING));
  EXPECT_FALSE(Alarm(ALARM_BOOSTING));
  ASSERT_EQ(Process("STLR\rN\r"), 1);
  EXPECT_FALSE(Alarm(ALARM_BUCKING));

  // "STOK" false clears the UPS alarms; true only reports an alarm condition.
  TraceCapture trace;
  ASSERT_EQ(Process("STOK\r11\r"), 1);
  EXPECT_TRUE(Alarm(ALARM_ON_BYPASS));
  EXPECT_TRUE(trace.Contains("Alarm Condition"));
  ASSERT_EQ(Process("STOK\r00\rSTBM\rD\r"), 1);
  EXPECT_FALSE(Alarm(ALARM_ON_BYPASS));
  EXPECT_TRUE(trace.Contains("Tremona: Battery Status: Discharging"));
  EXPECT_EQ(Process("STXX\r11\rAXYZ\r1\rZZZZ\r1\r"), 0);
}

TEST_F(HarvanDecoderTest, FaultCodesSetOneAlarmEach) {
  struct Case {
    const char* value;
    int alarm;  // -1 none
  };
  const Case cases[] = {
      {"BC", ALARM_UPS_MALFUNCTION}, {"BP", ALARM_UPS_MALFUNCTION}, {"BX", ALARM_BAD_BATTERY},
      {"GF", ALARM_INPUT_OUT_OF_RANGE}, {"CX", ALARM_BAD_BATTERY}, {"FX", ALARM_BAD_BATTERY},
      {"IV", -1}, {"IX", ALARM_BAD_BATTERY}, {"OF", ALARM_UPS_MALFUNCTION}, {"OL", ALARM_OVERLOAD},
      {"OK", -1}, {"UO", ALARM_INPUT_OUT_OF_RANGE}, {"US", ALARM_INPUT_OUT_OF_RANGE},
      {"UX", ALARM_UPS_MALFUNCTION}, {"RX", ALARM_UPS_MALFUNCTION}, {"ZZ", -1},
  };
  for (const Case& c : cases) {
    scp_.upsStatus.ClearAllAlarms();
    ASSERT_EQ(Process(std::string("STMF\r") + c.value + "\r"), 1) << c.value;
    for (int a = 0; a <= 6; ++a) EXPECT_EQ(Alarm(a), a == c.alarm) << c.value << " alarm " << a;
  }
}

TEST_F(HarvanDecoderTest, MeterKeys) {
  scp_.upsInfo.SetNumberOfPhases(1);
  scp_.meters.SetLoadWattRating(1000);
  ASSERT_EQ(Process("MIUL1\r231.0\rMOUL2\r229.5\rMOIL1\r2.3\rMOPL1\r0.45\rMOSL1\r1.50\rMOFFF\r50.0\r"
                    "BTIME\r45.0\rMBCH1\r98.0\rMUTE1\r31.0\rMBIII\r-3.0\rMPUL1\r230.0\rMXXXX\r1.0\r"),
            1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 231);
  EXPECT_EQ(scp_.meters.GetOutputVoltage(1), 229);
  EXPECT_EQ(scp_.meters.GetOutputCurrent(0), 20);
  EXPECT_EQ(scp_.meters.GetOutputWatts(), 450);
  EXPECT_EQ(scp_.meters.GetOutputVA(), 1500);
  EXPECT_EQ(scp_.meters.GetBatteryTime(), 45);
  EXPECT_EQ(scp_.meters.GetBatteryCapacity(), 98);
  EXPECT_EQ(scp_.meters.GetBatteryCurrent(), -3);
  EXPECT_EQ(scp_.meters.GetBypassVoltage(), 230);
  // On line power the input frequency follows the output's; on battery it is 0.
  EXPECT_EQ(scp_.meters.GetInputFrequency(), 50);
  scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  ASSERT_EQ(Process("BTIME\r44.0\r"), 1);
  EXPECT_EQ(scp_.meters.GetInputFrequency(), 0);
}

TEST_F(HarvanDecoderTest, OutputVoltagesRaiseThePhaseCountOnly) {
  scp_.upsInfo.SetNumberOfPhases(1);
  ASSERT_EQ(Process("MOUL2\r230.0\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNumberOfPhases(), 2);
  scp_.upsInfo.SetNumberOfPhases(3);
  ASSERT_EQ(Process("MOUL1\r230.0\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNumberOfPhases(), 3);
}

TEST_F(HarvanDecoderTest, ValuesThatDoNotParseAreFailuresWithTheKeysPosition) {
  const struct {
    const char* reply;
    int32_t function;
    int32_t code;
  } cases[] = {
      {"BTIME\r45\r", HARVAN_FN_METER, 1},
      {"MOUL1\r.5\r", HARVAN_FN_METER, 11},
      {"MPUL1\r230.\r", HARVAN_FN_METER, 27},
      {"MOPL1\r99999999999.0\r", HARVAN_FN_METER, 17},
      {"NOUHH\rabc\r", HARVAN_FN_NOMINAL, 2},
      {"NOFHH\r60\r", HARVAN_FN_NOMINAL, 10},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Process(c.reply), -1) << c.reply;
    EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_HARVAN, c.function, c.code})) << c.reply;
  }
  // One failure among good keys still fails the reply, and the good keys are kept.
  EXPECT_EQ(Process("MIUL1\r1.0\rBTIME\rx\rMOUL1\r2.0\r"), -1);
  EXPECT_EQ(scp_.meters.GetOutputVoltage(0), 2);
  EXPECT_EQ(dec_.Process(nullptr, 0), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_HARVAN, HARVAN_FN_PROCESS, 1}));
}

TEST_F(HarvanDecoderTest, NominalKeys) {
  // After the limits 240 and 200 an unknown nominal output voltage becomes 220.
  ASSERT_EQ(Process("NOUHH\r240.0\rNOULL\r200.0\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputVoltage(), 220);
  ASSERT_EQ(Process("NIUNN\r230.0\rNIUHH\r260.0\rNIULL\r180.0\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNominalInputVoltage(), 230);  // known: kept
  ASSERT_EQ(Process("NOFHH\r59.9\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputFrequency(), 50);
  ASSERT_EQ(Process("NOFHH\r60.0\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetNominalInputFrequency(), 60);
  ASSERT_EQ(Process("NOPNN\r1.05\rNOSNN\r1.50\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetWattRating(), 1050);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "1.50 kVA");
  EXPECT_EQ(scp_.meters.GetLoadVARating(), 150u);
  // The three-phase model counts its ratings per phase.
  scp_.upsInfo.SetModelIndex(13);
  scp_.upsInfo.SetNumberOfPhases(3);
  ASSERT_EQ(Process("NOSNN\r0.50\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "1.50 kVA");
  ASSERT_EQ(Process("NOSNN\r0.30\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "900 VA");
}

TEST_F(HarvanDecoderTest, NameTexts) {
  struct Case {
    std::string name;
    int model;
    int variant;
    std::optional<std::string> text;
    int major;
    int minor;
  };
  const std::string code12 = kVarnisModelGroups[0].codes[1];
  const std::string code16 = kVarnisModelGroups[2].codes[0];
  const Case cases[] = {
      {code12 + "-2000 UPS SW2.10", 12, 0, code12 + "-2000", 2, 10},
      {"Big " + code16 + "3 sw1B", 16, 0, code16 + "3", 1, 2},
      {"VARNIS UPS  1500 FW-12", 3, 2, "1500", 12, 0},
      {"VARNIS UPS 700FW-3", 3, 2, "700", 3, 0},
      {"Mystery box", 14, 255, "Mystery box", 255, 255},
      {"Mystery box SW3.1", 14, 255, std::nullopt, 3, 1},
  };
  for (const Case& c : cases) {
    KT_SCP scp;
    HarvanReplyDecoder dec(scp);
    const std::string reply = "NNAME\r" + c.name + "\r";
    ASSERT_EQ(dec.Process(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()), 1) << c.name;
    EXPECT_EQ(scp.upsInfo.GetModelIndex(), c.model) << c.name;
    EXPECT_EQ(scp.upsInfo.GetVariant(), c.variant) << c.name;
    EXPECT_EQ(scp.upsInfo.GetModelText(), c.text) << c.name;
    EXPECT_EQ(scp.upsInfo.GetVersionMajor(), c.major) << c.name;
    EXPECT_EQ(scp.upsInfo.GetVersionMinor(), c.minor) << c.name;
  }
}

TEST_F(HarvanDecoderTest, SerialNumber) {
  ASSERT_EQ(Process("ACSN\r000123450\rACXX\r1\r"), 1);
  EXPECT_EQ(scp_.upsInfo.GetSerialNumber(), "123450");
}

TEST_F(HarvanDecoderTest, CapabilityLinesMarkTheFirstCommandContainingThem) {
  const std::string reply = "UPBT\rUPSD\rUPPC\rUP??\rUPPM\rNOPE\r\r";
  const auto marks = HarvanReplyDecoder::MarkCapabilities(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  std::vector<int> set;
  for (int i = 0; i < kHarvanCommandCount; ++i) {
    if (marks[static_cast<size_t>(i)]) set.push_back(i);
  }
  EXPECT_EQ(set, (std::vector<int>{HARVAN_UPBT, HARVAN_UPPC, HARVAN_UPSD, HARVAN_UPPM, HARVAN_BINARY}));
}

TEST_F(HarvanDecoderTest, DecimalsAndLoadFrames) {
  int a = 0;
  int b = 0;
  EXPECT_TRUE(ParseHarvanDecimal("59.9", &a, &b));
  EXPECT_EQ(a, 59);
  EXPECT_EQ(b, 9);
  EXPECT_TRUE(ParseHarvanDecimal(" -12.05", &a, &b));
  EXPECT_EQ(a, -12);
  EXPECT_EQ(b, 5);
  for (const char* bad : {"60", "", ".5", "5.", "abc", "1234567.0", "1.1234567"}) {
    EXPECT_FALSE(ParseHarvanDecimal(bad, &a, &b)) << bad;
  }
  const uint8_t data[] = {1, 0x02, 0x58};
  EXPECT_EQ(BuildHarvanLoadFrame(HARVAN_LOAD_OFF_ON_FAIL, data, 3),
            (std::vector<uint8_t>{0x80, 4, 3, 1, 0x02, 0x58, 0xE2}));
  EXPECT_EQ(BuildHarvanLoadFrame(HARVAN_LOAD_QUERY, nullptr, 0), (std::vector<uint8_t>{0x80, 0, 0, 0x80}));
}

}  // namespace
