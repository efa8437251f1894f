#include "core/adapters/bcm_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "core/base/ups_identification.h"
#include "tests/support/test_support.h"

using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

// An identification reply, field by field.
struct Ident {
  std::vector<uint8_t> versions = {0x02, 0x05};  // one version word: 2.05
  std::vector<uint8_t> rating = {0, 30, 0};      // 30 steps of 50 VA
  uint8_t phases = 1;
  std::string name = "Aurora 1500";
  std::vector<uint8_t> meters = {0, 0, 0, 1};    // meter 4
  std::vector<uint8_t> alarms = {0x40};          // alarm 6
  std::vector<uint8_t> tail = {80, 0, 1, 2};     // configuration size 80, statistics

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> d = {static_cast<uint8_t>(versions.size() / 2)};
    d.insert(d.end(), versions.begin(), versions.end());
    d.insert(d.end(), rating.begin(), rating.end());
    d.push_back(phases);
    d.push_back(0);
    d.push_back(static_cast<uint8_t>(name.size()));
    d.insert(d.end(), name.begin(), name.end());
    d.push_back(static_cast<uint8_t>(meters.size()));
    d.insert(d.end(), meters.begin(), meters.end());
    d.push_back(static_cast<uint8_t>(alarms.size()));
    d.insert(d.end(), alarms.begin(), alarms.end());
    d.insert(d.end(), tail.begin(), tail.end());
    return d;
  }
};

void PutFloat(std::vector<uint8_t>& d, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

void PutInt(std::vector<uint8_t>& d, int32_t v) {
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

class BcmDecoderTest : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  BcmReplyDecoder dec_{scp_};

  bool Alarm(int a) { return scp_.upsStatus.IsAlarmSet(a) == 1; }
  // The decoder's error record.
  std::vector<int32_t> Error() const { return {dec_.errorClass, dec_.function, dec_.code}; }
};

TEST_F(BcmDecoderTest, IdentificationWithARatingInFiftyVaSteps) {
  ASSERT_EQ(dec_.DecodeIdentification(Ident().Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "1.50 kVA");
  EXPECT_EQ(scp_.meters.GetLoadVARating(), 150u);
  EXPECT_EQ(scp_.upsInfo.GetVersionMajor(), 2);
  EXPECT_EQ(scp_.upsInfo.GetVersionMinor(), 5);
  EXPECT_EQ(scp_.upsInfo.GetNumberOfPhases(), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 1);
  EXPECT_EQ(dec_.modelName, "Aurora 1500");
  EXPECT_EQ(dec_.meterIds, (std::vector<uint16_t>{4}));
  EXPECT_EQ(dec_.meterFormats, (std::vector<uint16_t>{1}));
  EXPECT_EQ(dec_.alarmMap, (std::vector<uint16_t>{6}));
  EXPECT_TRUE(dec_.HasCapability(BCM_CAP_CONFIG_BLOCK));
  EXPECT_TRUE(dec_.HasCapability(BCM_CAP_STATISTICS));
  EXPECT_EQ(scp_.notify.TestSupportBit(SUPPORT_EVENTS, 1, 0), 1);  // event 8
  EXPECT_EQ(scp_.notify.TestSupportBit(SUPPORT_EVENTS, 1, 1), 1);  // event 9
}

TEST_F(BcmDecoderTest, IdentificationVariants) {
  // A whole-kVA rating byte, no version words, an alarm bitmap over two bytes, and a reply
  // that ends right after the maps.
  Ident id;
  id.versions = {};
  id.rating = {3};
  id.alarms = {0x01, 0x82};
  id.tail = {};
  TraceCapture trace;
  ASSERT_EQ(dec_.DecodeIdentification(id.Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 3000);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "3.00 kVA");
  EXPECT_EQ(scp_.upsInfo.GetVersionMajor(), 255);
  EXPECT_EQ(dec_.alarmMap, (std::vector<uint16_t>{0, 9, 15}));
  EXPECT_FALSE(dec_.HasCapability(BCM_CAP_CONFIG_BLOCK));
  EXPECT_FALSE(dec_.HasCapability(BCM_CAP_STATISTICS));
  EXPECT_TRUE(trace.Contains("No Config or statistic block"));
  EXPECT_TRUE(trace.Contains("bcm_alarm_map[2] = 15"));

  // Below 1000 VA the model text counts volt-amperes.
  id.rating = {0, 14, 0};
  ASSERT_EQ(dec_.DecodeIdentification(id.Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "700 VA");
}

TEST_F(BcmDecoderTest, ModelNamesOfTheMaker) {
  // The North American build counts only while no model is known, and brings 120 V / 60 Hz.
  Ident id;
  id.name = std::string(kModelSubstrings[kBcmModelNames[kBcmNorthAmericanModel].substring]) + " 1000";
  ASSERT_EQ(dec_.DecodeIdentification(id.Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 2);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputVoltage(), 120);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputFrequency(), 60);
  EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(2, 5), 1);

  scp_.upsInfo.SetModelIndex(17);
  ASSERT_EQ(dec_.DecodeIdentification(id.Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 17);

  // The OEM model sets variant 2.
  id.name = std::string("X ") + kModelSubstrings[kBcmModelNames[kBcmOemModel].substring];
  ASSERT_EQ(dec_.DecodeIdentification(id.Bytes()), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 10);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 2);
}

TEST_F(BcmDecoderTest, TruncatedIdentificationChangesNothing) {
  const std::vector<uint8_t> good = Ident().Bytes();
  ASSERT_EQ(dec_.DecodeIdentification(good), 1);
  // Cut at every length that ends inside the name or the maps, and counts that run past the end.
  Ident longName;
  longName.name = "Aurora";
  std::vector<uint8_t> overlong = longName.Bytes();
  overlong[2 * 1 + 1 + 3 + 2] = 200;  // name length beyond the reply
  const size_t mapsEnd = good.size() - Ident().tail.size();
  for (size_t n = 0; n < mapsEnd; ++n) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
    EXPECT_EQ(dec_.DecodeIdentification(cut), -1) << n;
  }
  EXPECT_EQ(dec_.DecodeIdentification(overlong), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_IDENTIFICATION, kBcmCodeTooShort}));
  EXPECT_EQ(dec_.meterIds, (std::vector<uint16_t>{4}));
  EXPECT_EQ(dec_.alarmMap, (std::vector<uint16_t>{6}));
  EXPECT_EQ(dec_.modelName, "Aurora 1500");
}

TEST_F(BcmDecoderTest, StatusBytes) {
  struct Case {
    std::vector<uint8_t> data;
    std::vector<int> set;
    std::vector<int> clear;
  };
  const Case cases[] = {
      {{'N', 0x20}, {ALARM_ON_BATTERY, ALARM_LOW_BATTERY}, {ALARM_BUCKING, ALARM_BOOSTING}},
      {{'b', 0x84}, {ALARM_BOOSTING, ALARM_ON_BYPASS}, {ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_BUCKING}},
      {{'c', 0x80}, {ALARM_BUCKING}, {ALARM_ON_BYPASS, ALARM_BOOSTING, ALARM_ON_BATTERY}},
      {{'P'}, {}, {ALARM_ON_BATTERY, ALARM_BUCKING, ALARM_OVERLOAD, ALARM_BAD_BATTERY}},
  };
  scp_.upsStatus.SetAlarm(ALARM_OVERLOAD);
  scp_.upsStatus.SetAlarm(ALARM_BAD_BATTERY);
  for (const Case& c : cases) {
    ASSERT_EQ(dec_.DecodeStatus(c.data), 1);
    for (int a : c.set) EXPECT_TRUE(Alarm(a)) << a;
    for (int a : c.clear) EXPECT_FALSE(Alarm(a)) << a;
  }
  // On battery clears input out of range; variant 2 keeps the bypass alarm as it is.
  scp_.upsStatus.SetAlarm(ALARM_INPUT_OUT_OF_RANGE);
  scp_.upsInfo.SetVariant(2);
  ASSERT_EQ(dec_.DecodeStatus({'N', 0x04}), 1);
  EXPECT_FALSE(Alarm(ALARM_INPUT_OUT_OF_RANGE));
  EXPECT_FALSE(Alarm(ALARM_ON_BYPASS));
  // A status without its flag byte is refused.
  EXPECT_EQ(dec_.DecodeStatus({'N'}), -1);
  EXPECT_EQ(dec_.DecodeStatus({}), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_STATUS, kBcmCodeNoData}));
  EXPECT_TRUE(Alarm(ALARM_ON_BATTERY));
}

TEST_F(BcmDecoderTest, ActiveAlarms) {
  dec_.alarmMap = {6, 25, 40, 57, 93, 191};
  // Line power: an alarm with no meaning of its own raises no malfunction; 93 has no standard
  // meaning at all; 6 is an input out of range.
  ASSERT_EQ(dec_.DecodeAlarms({1, 0, 1, 0, 1, 0}), 1);
  EXPECT_TRUE(Alarm(ALARM_INPUT_OUT_OF_RANGE));
  EXPECT_FALSE(Alarm(ALARM_UPS_MALFUNCTION));
  // On battery the same alarm is a malfunction; 57 is not; the input is not out of range.
  scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  ASSERT_EQ(dec_.DecodeAlarms({1, 1, 1, 1, 0, 1}), 1);
  EXPECT_TRUE(Alarm(ALARM_UPS_MALFUNCTION));
  EXPECT_EQ(dec_.nonStandardAlarms, (std::vector<uint16_t>{40}));
  EXPECT_FALSE(Alarm(ALARM_INPUT_OUT_OF_RANGE));
  EXPECT_TRUE(Alarm(ALARM_OVERLOAD));
  EXPECT_TRUE(Alarm(ALARM_BAD_BATTERY));
  // Only non-standard numbers: everything clears.
  ASSERT_EQ(dec_.DecodeAlarms({0, 0, 0, 0, 1, 0}), 1);
  EXPECT_FALSE(Alarm(ALARM_UPS_MALFUNCTION));
  EXPECT_FALSE(Alarm(ALARM_OVERLOAD));
  EXPECT_FALSE(Alarm(ALARM_BAD_BATTERY));
  EXPECT_TRUE(dec_.nonStandardAlarms.empty());
  // An active position past the map is refused and changes nothing.
  scp_.upsStatus.SetAlarm(ALARM_OVERLOAD);
  EXPECT_EQ(dec_.DecodeAlarms({0, 0, 0, 0, 0, 0, 1}), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_ALARMS, 3}));
  EXPECT_TRUE(Alarm(ALARM_OVERLOAD));
  // At most ten non-standard alarms are kept.
  dec_.alarmMap.clear();
  for (int n = 60; n < 75; ++n) dec_.alarmMap.push_back(static_cast<uint16_t>(n));
  ASSERT_EQ(dec_.DecodeAlarms(std::vector<uint8_t>(15, 1)), 1);
  EXPECT_EQ(dec_.nonStandardAlarms.size(), 10u);
}

TEST_F(BcmDecoderTest, MetersInMapOrder) {
  dec_.meterIds = {4, 16, 22, 29, 36, 60, 72, 99};
  dec_.meterFormats = {1, 1, 224, 1, 1, 1, 224, 1};
  std::vector<uint8_t> d;
  PutFloat(d, 231.7f);   // input voltage
  PutFloat(d, 2.37f);    // output current x 10
  PutInt(d, 455);        // output watts
  PutFloat(d, 7.0f);     // input frequency below the noise floor
  PutFloat(d, 45.0f);    // battery time
  PutFloat(d, 229.0f);   // output voltage
  PutInt(d, 2000);       // VA rating
  PutFloat(d, 1.0f);     // an id nobody reads
  scp_.meters.SetLoadWattRating(1000);
  ASSERT_EQ(dec_.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 231);
  EXPECT_EQ(scp_.meters.GetOutputCurrent(0), 23);
  EXPECT_EQ(scp_.meters.GetOutputWatts(), 450);
  EXPECT_EQ(scp_.meters.GetInputFrequency(), 0);
  EXPECT_EQ(scp_.meters.GetBatteryTime(), 45);
  EXPECT_EQ(scp_.meters.GetOutputVoltage(0), 229);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 2000);
  EXPECT_EQ(scp_.meters.GetLoadVARating(), 200u);

  // Models that report currents in tenths once more.
  scp_.upsInfo.SetModelIndex(12);
  ASSERT_EQ(dec_.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.meters.GetOutputCurrent(0), 230);
}

TEST_F(BcmDecoderTest, DamagedMeterRepliesAreBounded) {
  EXPECT_EQ(dec_.DecodeMeters({1, 2, 3, 4}), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_METERS, 1}));
  dec_.meterIds = {4, 60};
  dec_.meterFormats = {1, 1};
  EXPECT_EQ(dec_.DecodeMeters({}), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_METERS, 2}));
  // Fewer bytes than the map: the meters present are read, nothing beyond.
  std::vector<uint8_t> d;
  PutFloat(d, 230.0f);
  d.push_back(0x43);
  ASSERT_EQ(dec_.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 230);
  EXPECT_EQ(scp_.meters.GetOutputVoltage(0), 0xFFFF);
  // Values that are no number, or too large for an integer, read as unknown.
  d.clear();
  PutFloat(d, std::nanf(""));
  PutFloat(d, 1e30f);
  ASSERT_EQ(dec_.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 0xFFFF);
  EXPECT_EQ(scp_.meters.GetOutputVoltage(0), 0xFFFF);
}

TEST_F(BcmDecoderTest, ConfigurationBlock) {
  std::vector<uint8_t> d(80, 0);
  d[0] = 80;  // type code 80
  d[8] = 230;
  d[10] = 50;
  d[47] = 1;
  std::memcpy(&d[48], "CTO-4711", 8);
  std::memcpy(&d[64], "  00098765", 10);
  ASSERT_EQ(dec_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 1);
  EXPECT_EQ(dec_.capabilities, kBcmFullCapabilities | BCM_CAP_RATING_BLOCK);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputVoltage(), 230);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputFrequency(), 50);
  EXPECT_EQ(scp_.upsInfo.GetCto(), "CTO-4711");
  EXPECT_EQ(scp_.upsInfo.GetSerialNumber(), "98765");

  // Type code 230 on a UPS already known as model 10 changes neither model nor capabilities.
  scp_.upsInfo.SetModelIndex(10);
  scp_.upsInfo.SetVariant(2);
  dec_.capabilities = 0x0282;
  d[0] = 230;
  ASSERT_EQ(dec_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 10);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 2);
  EXPECT_EQ(dec_.capabilities, 0x0282u | BCM_CAP_RATING_BLOCK);
  // An unknown code: model unknown, capabilities kept.
  d[0] = 1;
  ASSERT_EQ(dec_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 255);
  EXPECT_EQ(dec_.capabilities, 0x0282u | BCM_CAP_RATING_BLOCK);
}

TEST_F(BcmDecoderTest, ShortConfigurationBlocksStayInsideTheReply) {
  EXPECT_EQ(dec_.DecodeConfig({80, 0, 0}), -1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_CONFIG, kBcmCodeTooShort}));
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 255);
  // 40 bytes: more than 36, but byte 47 is not there; the texts are not there either.
  std::vector<uint8_t> d(40, 0xFF);
  d[0] = 90;
  d[1] = 0;
  ASSERT_EQ(dec_.DecodeConfig(d), 1);
  EXPECT_EQ(dec_.capabilities, 0x0040u);
  // 52 bytes: the CTO text is cut at the end of the reply.
  d.assign(52, 0);
  d[0] = 90;
  std::memcpy(&d[48], "ABCD", 4);
  ASSERT_EQ(dec_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetCto(), "ABCD");
  EXPECT_FALSE(scp_.upsInfo.GetSerialNumber().has_value());
}

TEST_F(BcmDecoderTest, RatingBlock) {
  std::vector<uint8_t> d(18, 0);
  d[0] = 230;
  d[2] = 50;
  d[4] = 21;  // 21 x 50 W
  d[16] = 1;
  d[17] = 2;
  ASSERT_EQ(dec_.DecodeRatings(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetWattRating(), 1050);
  EXPECT_EQ(scp_.meters.GetLoadWattRating(), 105u);
  EXPECT_EQ(scp_.upsInfo.GetNominalInputVoltage(), 230);
  EXPECT_EQ(scp_.config.GetAudibleAlarm(), 1);
  EXPECT_EQ(scp_.config.GetLowBatteryWarning(), 2);
  // The three-phase frame reports one phase's watts.
  dec_.modelName = std::string("Aurora ") + kBcmTripleWattCode;
  ASSERT_EQ(dec_.DecodeRatings(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetWattRating(), 3150);
  EXPECT_EQ(dec_.DecodeRatings(std::vector<uint8_t>(17, 0)), 0);
  EXPECT_EQ(dec_.DecodeRatings({}), -1);
}

TEST_F(BcmDecoderTest, AlarmHistoryRecords) {
  // Alarm 57 raised on 14 March (20)26 at 10:20:30, cleared the same minute; a record with a
  // damaged date; a number the queue cannot hold; a remainder shorter than a record.
  const std::vector<uint8_t> d = {
      114, 0, 0x03, 0x14, 0x26, 0x10, 0x20, 0x30, 0,
      115, 0, 0x03, 0x14, 0x26, 0x10, 0x20, 0x45, 0,
      114, 0, 0x13, 0x14, 0x26, 0x10, 0x20, 0x30, 0,
      0x58, 0x02, 0x03, 0x14, 0x26, 0x10, 0x20, 0x30, 0,
      1, 2, 3};
  ASSERT_EQ(dec_.DecodeAlarmHistory(d), 1);
  ASSERT_EQ(scp_.alarmQueue.GetCount(), 2);
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 2;
  tm.tm_mday = 14;
  tm.tm_hour = 10;
  tm.tm_min = 20;
  tm.tm_sec = 30;
  tm.tm_isdst = -1;
  const uint32_t t = static_cast<uint32_t>(std::mktime(&tm));
  uint8_t code;
  uint32_t time;
  uint8_t flag;
  scp_.alarmQueue.ResetCursor();
  ASSERT_TRUE(scp_.alarmQueue.GetNextEntry(code, time, flag));
  EXPECT_EQ(code, 57);
  EXPECT_EQ(time, t);
  EXPECT_EQ(flag, 0);  // raised
  ASSERT_TRUE(scp_.alarmQueue.GetNextEntry(code, time, flag));
  EXPECT_EQ(time, t + 15);
  EXPECT_EQ(flag, 1);  // cleared
  // The UPS reports its whole history again: nothing is listed twice.
  ASSERT_EQ(dec_.DecodeAlarmHistory(d), 1);
  EXPECT_EQ(scp_.alarmQueue.GetCount(), 2);
  EXPECT_EQ(dec_.DecodeAlarmHistory({}), 1);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_HISTORY, kBcmCodeNoData}));
}

TEST_F(BcmDecoderTest, WaveformSamplesStayInsideTheReply) {
  std::vector<uint8_t> d = {1, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F, 8, 64, 0};
  for (int i = 0; i < 64; ++i) d.push_back(static_cast<uint8_t>(125 + i % 7));
  ASSERT_EQ(dec_.DecodeWaveform(d), 1);
  KT_Waveform* out = scp_.waveforms.Wave(WAVE_OUTPUT_VOLTAGE);
  EXPECT_EQ(out->GetSampleCount(), 64);
  EXPECT_EQ(out->Raw()[6], 131u);
  EXPECT_NE(scp_.waveforms.Branches().GetTime(WAVE_OUTPUT_VOLTAGE), 0);
  // Announces 64 two-byte samples (sizes above 31 bits travel in two bytes), carries five bytes.
  std::vector<uint8_t> cut = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 64, 0, 1, 2, 3, 4, 5};
  ASSERT_EQ(dec_.DecodeWaveform(cut), 1);
  KT_Waveform* current = scp_.waveforms.Wave(WAVE_OUTPUT_CURRENT);
  EXPECT_EQ(current->GetSampleCount(), 2);
  EXPECT_EQ(current->Raw(), (std::vector<uint32_t>{0x0201, 0x0403}));
  EXPECT_EQ(dec_.DecodeWaveform({2, 0, 0}), -1);
}

TEST_F(BcmDecoderTest, WaveformCalibrationGivesVoltsAndMilliamperes) {
  // (sample - offset) x scale; output waves about 125 (below 0 in two's complement), the
  // rectified input never below 0; offset 0 on an output wave: already centred on 125.
  struct Case {
    uint8_t code;
    uint16_t offset;
    float scale;
    uint8_t sample;
    int32_t stored;
  } cases[] = {
      {1, 128, 2.75f, 248, 125 + 330},     {1, 128, 2.75f, 8, 125 - 330},  {8, 128, 40.0f, 40, 125 - 3520},
      {2, 0, 1.5f, 200, 300},              {2, 10, 1.5f, 4, 0},            {1, 0, 1.0f, 131, 131},
      {1, 128, std::nanf(""), 130, 127},   {8, 128, -3.0f, 126, 123},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> d = {c.code, 0, 0, 0, static_cast<uint8_t>(c.offset & 0xFF),
                              static_cast<uint8_t>(c.offset >> 8)};
    uint32_t bits;
    std::memcpy(&bits, &c.scale, sizeof bits);
    for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    d.insert(d.end(), {8, 4, 0});
    d.insert(d.end(), 4, c.sample);
    ASSERT_EQ(dec_.DecodeWaveform(d), 1);
    const int branch = c.code == 2 ? WAVE_INPUT_VOLTAGE : c.code == 1 ? WAVE_OUTPUT_VOLTAGE : WAVE_OUTPUT_CURRENT;
    EXPECT_EQ(static_cast<int32_t>(scp_.waveforms.Wave(branch)->Raw()[3]), c.stored)
        << int(c.code) << " " << c.offset << " " << c.scale << " " << int(c.sample);
  }
}

TEST_F(BcmDecoderTest, SupportedCommandsAcknowledgementsAndSegments) {
  ASSERT_EQ(dec_.DecodeSupportedCommands({3, 2, 138, 0, 65, 0, 177, 0}), 1);
  EXPECT_TRUE(dec_.IsCommandSupported(138));
  EXPECT_TRUE(dec_.IsCommandSupported(65));
  EXPECT_FALSE(dec_.IsCommandSupported(145));
  // A count of 0 or 255, or more entries than bytes, is refused and keeps the table.
  EXPECT_EQ(dec_.DecodeSupportedCommands({0, 1}), -1);
  EXPECT_EQ(dec_.DecodeSupportedCommands({255, 1, 1}), -1);
  EXPECT_EQ(dec_.DecodeSupportedCommands({4, 1, 1, 2, 3}), -1);
  EXPECT_EQ(dec_.DecodeSupportedCommands({1, 0, 5}), -1);
  EXPECT_TRUE(dec_.IsCommandSupported(177));

  ASSERT_EQ(dec_.DecodeAck({'7', 149}), 1);
  EXPECT_EQ(dec_.ackResult, '7');
  EXPECT_EQ(dec_.ackCommand, 149);
  EXPECT_EQ(dec_.DecodeAck({'1'}), -1);

  ASSERT_EQ(dec_.DecodeLoadSegments({4}), 1);
  EXPECT_EQ(dec_.segments, 4);
  EXPECT_EQ(dec_.DecodeLoadSegments({}), -1);

  EXPECT_EQ(dec_.Decode(42, {1, 2}), 0);
  EXPECT_EQ(Error(), (std::vector<int32_t>{ERR_BCM, BCM_FN_REPLY_TYPE, 1}));
}

TEST_F(BcmDecoderTest, BatteryTestStateGoesToTheProtocol) {
  std::vector<int> seen;
  dec_.onBatteryTestState = [&](uint8_t s) {
    seen.push_back(s);
    return 1;
  };
  ASSERT_EQ(dec_.DecodeBatteryTest({1}), 1);
  ASSERT_EQ(dec_.DecodeBatteryTest({4, 9}), 1);
  EXPECT_EQ(seen, (std::vector<int>{1, 4}));
  EXPECT_EQ(dec_.batteryTestState, 4);
  EXPECT_EQ(dec_.DecodeBatteryTest({}), -1);
}

}  // namespace
