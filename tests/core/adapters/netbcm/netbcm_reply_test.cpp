// The adapter's reply parser and the driver's decoders fed with damaged or short data.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <cstring>

#include "core/adapters/bcm_block.h"
#include "core/adapters/netbcm.h"
#include "core/adapters/netbcm_reply.h"
#include "core/scp/scp.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One reply block: AB type length sequence data checksum.
Bytes Block(uint8_t type, int number, bool last, const Bytes& data) {
  Bytes b{kBcmStartByte, type, static_cast<uint8_t>(data.size()),
          static_cast<uint8_t>(number | (last ? kBcmLastBlockFlag : 0))};
  b.insert(b.end(), data.begin(), data.end());
  b.push_back(BcmChecksum(b.data(), b.size()));
  return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

int Parse(const Bytes& datagram, uint8_t type, Bytes& data, NetBcmParseCounters* counters = nullptr) {
  return ParseNetBcmReply(datagram.data(), datagram.size(), type, data, counters);
}

TEST(NetBcmReply, JoinsTheWantedBlocksAndStepsOverOthers) {
  NetBcmParseCounters counters;
  Bytes data;
  // Status in front, identification in two blocks, junk before and between.
  const Bytes datagram = Join({{0x00, 0x11}, Block(3, 1, true, {'P', 0x80}), {0x42},
                               Block(1, 1, false, {1, 2, 3}), Block(1, 2, true, {4, 5})});
  EXPECT_EQ(Parse(datagram, 1, data, &counters), NETBCM_REPLY_COMPLETE);
  EXPECT_EQ(data, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(Parse(datagram, 3, data, &counters), NETBCM_REPLY_COMPLETE);
  EXPECT_EQ(data, (Bytes{'P', 0x80}));
  EXPECT_EQ(counters.outcome[NETBCM_REPLY_COMPLETE], 2u);
  EXPECT_EQ(FirstNetBcmBlockType(datagram.data(), datagram.size()), 3);
}

TEST(NetBcmReply, ResultCodesForWhatIsWrong) {
  NetBcmParseCounters counters;
  Bytes data;
  EXPECT_EQ(Parse({}, 1, data, &counters), NETBCM_REPLY_NO_BLOCK);
  EXPECT_EQ(Parse({0x01, 0x02, 0x03}, 1, data, &counters), NETBCM_REPLY_NO_BLOCK);
  EXPECT_EQ(Parse(Block(6, 1, true, {9}), 1, data, &counters), NETBCM_REPLY_NOT_WANTED);
  // Blocks 1 and 3.
  EXPECT_EQ(Parse(Join({Block(4, 1, false, {1}), Block(4, 3, true, {2})}), 4, data, &counters), NETBCM_REPLY_SEQUENCE);
  Bytes bad = Block(4, 1, true, {1, 2});
  bad.back() ^= 0x01;
  EXPECT_EQ(Parse(bad, 4, data, &counters), NETBCM_REPLY_CHECKSUM);
  // A wanted block without bit 7 and nothing after it; a block cut by the end.
  EXPECT_EQ(Parse(Block(4, 1, false, {1}), 4, data, &counters), NETBCM_REPLY_INCOMPLETE);
  const Bytes whole = Join({Block(4, 1, false, {1}), Block(4, 2, true, {2, 3, 4})});
  EXPECT_EQ(Parse(Bytes(whole.begin(), whole.end() - 3), 4, data, &counters), NETBCM_REPLY_INCOMPLETE);
  EXPECT_TRUE(data.empty());
  for (int r : {1, 2, 3, 4}) EXPECT_GE(counters.outcome[r], 1u) << r;
  EXPECT_EQ(counters.outcome[NETBCM_REPLY_INCOMPLETE], 2u);
}

TEST(NetBcmReply, LongBlocksAreCounted) {
  NetBcmParseCounters counters;
  Bytes data;
  EXPECT_EQ(Parse(Block(4, 1, true, Bytes(200, 7)), 4, data, &counters), NETBCM_REPLY_COMPLETE);
  EXPECT_EQ(data.size(), 200u);
  EXPECT_EQ(counters.longBlocks, 1u);
}

// An identification reply: one version entry (minor, major), rating, phases, unused byte,
// name, meter map, alarm map, configuration size.
Bytes Identification(const std::string& name, const Bytes& rating, uint8_t phases, uint16_t configSize = 80) {
  Bytes d{1, 0x05, 0x02};
  d.insert(d.end(), rating.begin(), rating.end());
  d.push_back(phases);
  d.push_back(0);
  d.push_back(static_cast<uint8_t>(name.size()));
  d.insert(d.end(), name.begin(), name.end());
  d.push_back(4);  // meters 1..4: 2 and 4 reported
  d.insert(d.end(), {0, 1, 0, 230});
  d.push_back(2);  // alarms 0..15: 3 and 9
  d.insert(d.end(), {0x08, 0x02});
  d.push_back(static_cast<uint8_t>(configSize & 0xFF));
  d.push_back(static_cast<uint8_t>(configSize >> 8));
  return d;
}

class NetBcmDecodeTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir_;
  KT_SCP scp_;
  KT_NetBCM driver_{&scp_, 1};
};

TEST_F(NetBcmDecodeTest, IdentificationReadsMinorBeforeMajorAndTheMaps) {
  ASSERT_EQ(driver_.DecodeIdentification(Identification("PowerGuard", {0, 30, 0}, 1)), 1);
  EXPECT_EQ(scp_.upsInfo.GetVersionMajor(), 2);
  EXPECT_EQ(scp_.upsInfo.GetVersionMinor(), 5);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "1.50 kVA");
  EXPECT_EQ(driver_.Decoder().meterIds, (std::vector<uint16_t>{2, 4}));
  EXPECT_EQ(driver_.Decoder().meterFormats, (std::vector<uint16_t>{1, 230}));
  EXPECT_EQ(driver_.Decoder().alarmMap, (std::vector<uint16_t>{3, 9}));
  EXPECT_TRUE(driver_.Capabilities() & NETBCM_CAP_CONFIG_QUERY);
  ASSERT_EQ(driver_.DecodeIdentification(Identification("PowerGuard", {3}, 1, 0)), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 3000);
  EXPECT_FALSE(driver_.Capabilities() & NETBCM_CAP_CONFIG_QUERY);
}

TEST_F(NetBcmDecodeTest, ModelNamesGiveModelAndPerPhaseRating) {
  ASSERT_EQ(driver_.DecodeIdentification(Identification("Keepwell 2", {2}, 1)), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 10);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 2);
  ASSERT_EQ(driver_.DecodeIdentification(Identification("KSL-20", {2}, 1)), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 16);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 0);
  // A model-13 code reports one phase's rating: three phases of 10 kVA.
  ASSERT_EQ(driver_.DecodeIdentification(Identification("TRH 30", {10}, 3)), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 13);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 30000);
  EXPECT_EQ(scp_.upsInfo.GetModelText(), "30.00 kVA");
  EXPECT_EQ(driver_.RatingMultiplier(), 3);
  // A phase count of 0 multiplies by 1, not to nothing.
  ASSERT_EQ(driver_.DecodeIdentification(Identification("TRH 30", {10}, 0)), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 10000);
}

TEST_F(NetBcmDecodeTest, ACutIdentificationChangesNothing) {
  ASSERT_EQ(driver_.DecodeIdentification(Identification("PowerGuard", {0, 30, 0}, 1)), 1);
  const Bytes whole = Identification("TRD 99", {7}, 3);
  // Every cut before the end of the alarm map is refused.
  for (size_t n = 0; n + 2 < whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
    EXPECT_EQ(driver_.DecodeIdentification(cut), -1) << n;
  }
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 255);
  // A version count whose entries are not there, a name longer than the reply.
  EXPECT_EQ(driver_.DecodeIdentification({200, 1, 2, 3}), -1);
  EXPECT_EQ(driver_.DecodeIdentification({0, 3, 1, 0, 250, 'a', 'b'}), -1);
  EXPECT_EQ(driver_.Decoder().alarmMap, (std::vector<uint16_t>{3, 9}));
}

TEST_F(NetBcmDecodeTest, ConfigurationFieldsAreReadOnlyWhereTheReplyReachesThem) {
  scp_.upsInfo.SetModelIndex(10);
  Bytes d(40, 0);
  d[0] = 80;
  d[8] = 0xE6;  // 230 V
  d[10] = 50;
  ASSERT_EQ(driver_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 1);
  EXPECT_EQ(driver_.Capabilities() & ~static_cast<uint32_t>(NETBCM_CAP_CONFIG_QUERY | NETBCM_CAP_IDENTIFIED), 0x1D98u);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputVoltage(), 230);
  EXPECT_EQ(scp_.upsInfo.GetAdapterVersionMajor(), 255);  // bytes 42, 43 are not there
  // 44 bytes: the adapter version, but not byte 47.
  d.resize(44);
  d[42] = 0x50;
  d[43] = 0x03;
  ASSERT_EQ(driver_.DecodeConfig(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetAdapterVersionText(), "3.50");
  EXPECT_FALSE(driver_.Capabilities() & NETBCM_CAP_TWO_BYTE_DELAY);
  EXPECT_TRUE(driver_.IsNewAdapter());
  // A CTO cut after 3 characters and a serial number that begins with a blank.
  d.resize(51, 0);
  d[47] = 1;
  d[48] = 'C';
  d[49] = 'T';
  d[50] = 'O';
  ASSERT_EQ(driver_.DecodeConfig(d), 1);
  EXPECT_TRUE(driver_.Capabilities() & NETBCM_CAP_TWO_BYTE_DELAY);
  EXPECT_EQ(scp_.upsInfo.GetCto(), "CTO");
  d.resize(70, ' ');
  ASSERT_EQ(driver_.DecodeConfig(d), 1);
  EXPECT_FALSE(scp_.upsInfo.GetSerialNumber().has_value());
  EXPECT_EQ(driver_.DecodeConfig(Bytes(11, 0)), -1);
}

TEST_F(NetBcmDecodeTest, ModelCodeTable) {
  struct Case {
    int code;
    int before;
    int model;
    int variant;
    uint32_t word;
  };
  const Case cases[] = {
      {30, 255, 7, 0, 642},    {90, 255, 5, 0, 64},     {230, 255, 3, 2, 7576}, {230, 13, 13, 0, 0},
      {260, 255, 15, 2, 7576}, {292, 255, 21, 2, 7576}, {330, 255, 24, 0, 7576}, {999, 255, 255, 0, 0},
  };
  for (const Case& c : cases) {
    scp_.upsInfo.SetModelIndex(c.before);
    scp_.upsInfo.SetVariant(0);
    driver_.SetCapabilities(0);
    Bytes d(12, 0);
    d[0] = static_cast<uint8_t>(c.code & 0xFF);
    d[1] = static_cast<uint8_t>(c.code >> 8);
    ASSERT_EQ(driver_.DecodeConfig(d), 1);
    EXPECT_EQ(scp_.upsInfo.GetModelIndex(), c.model) << c.code;
    EXPECT_EQ(scp_.upsInfo.GetVariant(), c.variant) << c.code;
    EXPECT_EQ(driver_.Capabilities(), c.word) << c.code;
  }
}

TEST_F(NetBcmDecodeTest, TheModelCodeKeepsWhatTheIdentificationFound) {
  driver_.SetCapabilities(NETBCM_CAP_CONFIG_QUERY | NETBCM_CAP_IDENTIFIED | 0x40);
  Bytes d(12, 0);
  d[0] = 80;
  ASSERT_EQ(driver_.DecodeConfig(d), 1);
  EXPECT_EQ(driver_.Capabilities(), 0x1D98u | NETBCM_CAP_CONFIG_QUERY | NETBCM_CAP_IDENTIFIED);
}

TEST_F(NetBcmDecodeTest, CapabilitiesByModelChooseTheDelayedOffForm) {
  // No adapter is open: the table queries fail and leave one output.
  struct Case {
    int model;
    int va;
    int major;
    bool function33;
    bool function10;
    uint32_t bit;  // the delayed-off capability the model gets, 0 for none
  };
  const Case cases[] = {
      {1, 1500, 2, false, true, NETBCM_CAP_DELAYED_OFF},           // small: whole-UPS delayed off
      {1, 5000, 2, true, false, NETBCM_CAP_DELAYED_OFF_SEGMENTS},  // large and new enough
      {1, 5000, 1, false, true, NETBCM_CAP_DELAYED_OFF},           // large but version 1.00
      {3, 10000, 1, true, false, NETBCM_CAP_DELAYED_OFF_SEGMENTS},
      {7, 700, 1, false, true, NETBCM_CAP_DELAYED_OFF},
      {5, 700, 1, false, false, 0},
  };
  for (const Case& c : cases) {
    KT_SCP scp;
    KT_NetBCM driver(&scp, 1);
    scp.upsInfo.SetModelIndex(c.model);
    scp.upsInfo.SetVARating(c.va);
    scp.upsInfo.SetVersion(c.major, 0);
    ASSERT_EQ(driver.UpdateCapabilities(), 1);
    EXPECT_EQ(scp.upsInfo.IsFunctionSupported(3, 3) == 1, c.function33) << c.model << "/" << c.va;
    EXPECT_EQ(scp.upsInfo.IsFunctionSupported(1, 0) == 1, c.function10) << c.model << "/" << c.va;
    EXPECT_EQ(driver.Capabilities() & (NETBCM_CAP_DELAYED_OFF | NETBCM_CAP_DELAYED_OFF_SEGMENTS), c.bit) << c.model;
    EXPECT_EQ(driver.IsCommandSupported(BCM_CMD_DELAYED_OFF), c.bit != 0) << c.model;
    EXPECT_EQ(scp.receptacles.GetCount(), 1);
    if (c.model == 3) {
      // Three-phase frames trade the input events for their own.
      EXPECT_EQ(scp.notify.TestSupportBit(SUPPORT_EVENTS, 1, 0), 0);
      EXPECT_EQ(scp.notify.TestSupportBit(SUPPORT_EVENTS, 3, 5), 1);
      EXPECT_EQ(scp.notify.TestSupportBit(SUPPORT_EVENTS, 4, 0), 1);
    } else {
      EXPECT_EQ(scp.notify.TestSupportBit(SUPPORT_EVENTS, 1, 0), 1);
    }
  }
}

TEST_F(NetBcmDecodeTest, RatingsNeedEighteenBytes) {
  EXPECT_EQ(driver_.DecodeRatings(Bytes(17, 1)), 0);
  EXPECT_EQ(scp_.upsInfo.GetWattRating(), -1);
  Bytes d(18, 0);
  d[0] = 0xE6;
  d[2] = 50;
  d[4] = 21;  // 1050 W
  d[16] = 3;
  d[17] = 0;
  ASSERT_EQ(driver_.DecodeRatings(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetWattRating(), 1050);
  EXPECT_EQ(scp_.upsInfo.GetNominalInputVoltage(), 230);
  EXPECT_EQ(scp_.config.GetLowBatteryWarning(), 3);
  EXPECT_EQ(scp_.config.GetAudibleAlarm(), 0);
}

TEST_F(NetBcmDecodeTest, TablesAreBoundedByTheirReplies) {
  // Entries of 2 bytes; code 255 and 0 name no command.
  ASSERT_EQ(driver_.DecodeSupportedCommands({4, 2, 65, 0, 255, 0, 0, 0, 138, 0}), 1);
  EXPECT_TRUE(driver_.IsListedCommand(65));
  EXPECT_TRUE(driver_.IsListedCommand(138));
  EXPECT_FALSE(driver_.IsListedCommand(255));
  EXPECT_FALSE(driver_.IsListedCommand(0));
  EXPECT_EQ(driver_.DecodeSupportedCommands({5, 2, 65, 0}), -1);   // more entries than bytes
  EXPECT_EQ(driver_.DecodeSupportedCommands({255, 2, 65, 0}), -1);  // the query failed
  EXPECT_EQ(driver_.DecodeSupportedCommands({1, 0, 65}), -1);
  EXPECT_TRUE(driver_.IsListedCommand(138));  // refused replies leave the table

  ASSERT_EQ(driver_.DecodeLoadSegments({2, 2, 7, 2, 8, 1}), 1);
  EXPECT_EQ(driver_.SegmentCount(), 2);
  EXPECT_EQ(driver_.FirstSegment(), 7);
  EXPECT_EQ(driver_.DecodeLoadSegments({3, 2, 7, 2, 8, 1}), -1);
  EXPECT_EQ(driver_.DecodeLoadSegments({2, 1, 7, 2}), -1);
  EXPECT_EQ(driver_.DecodeLoadSegments({9}), -1);
  EXPECT_EQ(driver_.SegmentCount(), 2);
}

TEST_F(NetBcmDecodeTest, StatusDatagramNeedsBothPartsAndReadsOnlyTheMappedAlarms) {
  ASSERT_EQ(driver_.DecodeIdentification(Identification("PowerGuard", {1}, 1)), 1);  // alarms 3 and 9
  // Mains failure; the alarm bytes beyond the two mapped entries are ignored.
  Bytes datagram = Join({Block(3, 1, true, {'B', 0x00}), Block(5, 1, true, {0, 0, 1, 1, 1})});
  ASSERT_EQ(driver_.DecodeStatusDatagram(datagram.data(), datagram.size()), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_UPS_MALFUNCTION), 0);
  // Alarm 9 on battery: a non-standard finding.
  datagram = Join({Block(3, 1, true, {'B', 0x00}), Block(5, 1, true, {0, 1})});
  ASSERT_EQ(driver_.DecodeStatusDatagram(datagram.data(), datagram.size()), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_UPS_MALFUNCTION), 1);
  // Without the alarm part the datagram is refused and nothing changes.
  datagram = Block(3, 1, true, {'P', 0x80});
  EXPECT_EQ(driver_.DecodeStatusDatagram(datagram.data(), datagram.size()), -1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
}

TEST_F(NetBcmDecodeTest, MeterFloatsOutOfRangeAreClamped) {
  // Meter 72 (the VA rating) as a float: 1e20 is clamped to the largest int, not converted
  // undefined; a NaN changes nothing; a reading the meter block cannot hold reads unknown.
  BcmReplyDecoder& decoder = driver_.Decoder();
  decoder.meterIds = {72, 35};
  decoder.meterFormats = {1, 1};
  const float huge = 1e20f;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Bytes d(8);
  std::memcpy(&d[0], &huge, 4);
  std::memcpy(&d[4], &huge, 4);
  ASSERT_EQ(decoder.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), INT_MAX / 50 * 50);
  EXPECT_EQ(scp_.meters.GetBatteryCapacity(), 255);
  std::memcpy(&d[0], &nan, 4);
  ASSERT_EQ(decoder.DecodeMeters(d), 1);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), INT_MAX / 50 * 50);
}

}  // namespace
