// UPS information and meter blocks: setters, the peer-version dependent field widths, and the
// load percentages.
#include <gtest/gtest.h>

#include <vector>

#include "core/scp/meter_block.h"
#include "core/base/peer_version.h"
#include "core/scp/scp_frame.h"
#include "core/base/setup_data.h"
#include "core/scp/ups_info_block.h"
#include "tests/core/block_messages.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;

using block_messages::Get;
using block_messages::Put;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class PeerVersionTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPeerSoftwareVersion(); }
  void TearDown() override { ResetPeerSoftwareVersion(); }
  TempDir dir;
};

using UpsInfo = PeerVersionTest;
using Meters = PeerVersionTest;

UpsInfoBlock RatedInfo(int second, int third) {
  UpsInfoBlock b;
  b.SetSoftwareVersion(second, third);
  b.SetVARating(1500);
  b.SetWattRating(1000);
  b.SetNominalInputVoltage(230);
  b.SetNominalInputFrequency(50);
  b.SetNominalOutputVoltage(230);
  b.SetNominalOutputFrequency(50);
  b.SetNumberOfPhases(1);
  return b;
}

TEST_F(UpsInfo, RatingWidthsFollowTheSoftwareVersionOfTheBlock) {
  const Bytes tail{0, 230, 0, 50, 0, 230, 0, 50, 1};
  struct Case {
    int second, third;
    bool wide;
  } cases[] = {{0, 36, false}, {0, 37, true}, {1, 0, true}, {1, 1, true}, {2, 5, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.second << "." << c.third);
    UpsInfoBlock b = RatedInfo(c.second, c.third);
    const Bytes ratings = c.wide ? Bytes{0, 0, 0, 30, 0, 0, 0, 20} : Bytes{0, 30, 0, 20};
    EXPECT_EQ(Get(b, {2, 5}), Cat({ratings, tail}));
    EXPECT_EQ(GetPeerSoftwareVersion().second, c.second);
    EXPECT_EQ(GetPeerSoftwareVersion().third, c.third);
  }
  // A narrow reader keeps the rating on 0xffff.
  UpsInfoBlock r = RatedInfo(0, 36);
  ASSERT_EQ(Put(r, {2, 5}, Cat({{0xFF, 0xFF, 0, 40}, tail})), 1);
  EXPECT_EQ(r.GetVARating(), 1500);
  EXPECT_EQ(r.GetWattRating(), 2000);
}

TEST_F(UpsInfo, WholeBlockCarriesTheVersionThatPicksItsWidths) {
  UpsInfoBlock old = RatedInfo(0, 36);
  old.SetModelText("Brenvale 1500");
  const Bytes bytes = Get(old, {2});
  SetPeerSoftwareVersion(2, 0);  // whatever the reader's process saw before
  UpsInfoBlock copy;
  ASSERT_EQ(Put(copy, {2}, bytes), 1);
  EXPECT_EQ(copy.GetVARating(), 1500);
  EXPECT_EQ(copy.GetNumberOfPhases(), 1);
  EXPECT_EQ(copy.GetModelText(), "Brenvale 1500");
  EXPECT_EQ(Get(copy, {2}), bytes);
}

TEST_F(UpsInfo, SettersAndTexts) {
  UpsInfoBlock b;
  b.SetVARating(1499);
  EXPECT_EQ(b.GetVARating(), 1450);
  b.SetVARating(-1);
  EXPECT_EQ(b.GetVARating(), -1);
  EXPECT_EQ(b.GetWattRating(), -1);
  b.SetOsType(19);
  EXPECT_EQ(b.GetOsType(), 255);
  EXPECT_EQ(b.GetOsName(), "Unknown Operating System");
  b.SetOsType(kOsTypeLinux);
  EXPECT_EQ(b.GetOsName(), "Linux");
  b.SetOsVersion(6, 1, 0);
  EXPECT_EQ(b.GetOsVersionText(), "6.1");
  b.SetOsVersion(5, 15, 3);
  EXPECT_EQ(b.GetOsVersionText(), "5.15.3");
  b.SetVariant(3);
  EXPECT_EQ(b.GetVariant(), 255);
  b.SetVersion(3, 5);
  EXPECT_EQ(b.GetVersionText(), "3.05");
  b.SetSoftwareVersion(0, 42);
  EXPECT_EQ(b.GetSoftwareVersionText(), "4.0.42");
  b.SetInterfaceType(5);
  EXPECT_EQ(b.GetSoftwareVersionText(), "0.42");
  EXPECT_EQ(b.SetSerialNumber(nullptr), -1);
  EXPECT_EQ(b.code, 1);
  EXPECT_FALSE(b.GetSerialNumber().has_value());
  EXPECT_EQ(b.Branches().GetFieldState(2, 3), FIELD_CHANGED);

  // The agent's own version: the built-in product version 4.1.4, or setup.dat's.
  b.SetSoftwareVersion();
  EXPECT_EQ(b.GetSoftwareVersionText(), "1.04");
  SetupData setup;
  setup.SetVersion(8, SetupData::Version{4, 2, 9});
  ASSERT_EQ(setup.WriteFile(SetupData::kFileName), 1);
  b.SetSoftwareVersion();
  EXPECT_EQ(b.GetSoftwareVersionSecond(), 2);
  EXPECT_EQ(b.GetSoftwareVersionThird(), 9);
  SetAgentVersionSource([] { return AgentSoftwareVersion{3, 7}; });
  b.SetSoftwareVersion();
  SetAgentVersionSource(nullptr);
  EXPECT_EQ(b.GetSoftwareVersionThird(), 7);
}

TEST_F(UpsInfo, SupportedFunctionMap) {
  UpsInfoBlock b;
  EXPECT_EQ(b.GetFunctionMap(), (Bytes{0x83, 0x10, 0x01, 0x10}));
  EXPECT_EQ(Get(b, {2, 1, 2}), (Bytes{4, 0x83, 0x10, 0x01, 0x10}));
  ASSERT_EQ(b.SetFunctionSupported(5, 3), 1);
  EXPECT_EQ(b.GetFunctionMap(), (Bytes{0x83, 0x10, 0x01, 0x10, 0, 8}));
  EXPECT_EQ(b.IsFunctionSupported(5, 3), 1);
  EXPECT_EQ(b.IsFunctionSupported(9, 0), 0);
  EXPECT_EQ(b.IsFunctionSupported(0, 8), -1);
  EXPECT_EQ(b.ClearFunctionSupported(0, 7), 1);
  EXPECT_EQ(b.IsFunctionSupported(0, 7), 0);
  EXPECT_EQ(b.ClearFunctionSupported(6, 0), -1);
  // The map's length travels in one byte: a map of 256 bytes could not be sent.
  EXPECT_EQ(b.SetFunctionSupported(255, 0), -1);
  ASSERT_EQ(b.SetFunctionSupported(254, 1), 1);
  EXPECT_EQ(Get(b, {2, 1, 2}).size(), 256u);
}

MeterBlock LoadedMeters() {
  MeterBlock m;
  m.SetLoadVARating(1400);
  m.SetOutputVA(700);
  m.SetLoadWattRating(1000);
  m.SetOutputWatts(600);
  m.GetPercentLoad(PERCENT_LOAD_COMPUTE);
  m.SetBatteryVoltage(0x0123);
  m.SetBatteryCapacity(90);
  m.SetBatteryTime(300);
  m.SetInputFrequency(60);
  m.SetOutputFrequency(50);
  m.SetTemperature(25);
  return m;
}

TEST_F(Meters, MainMeterWidthsByPeerVersion) {
  struct Case {
    int second, third;
    Bytes bytes;
  } cases[] = {
      {0, 36, {50, 0, 70, 60, 0x23, 90, 1, 44, 60, 50, 0, 60, 60, 25}},
      {0, 37, {50, 0, 0, 0, 70, 60, 0x23, 90, 1, 44, 0, 60, 0, 50, 0, 0, 0, 60, 60, 25}},
      {1, 0, {50, 0, 0, 0, 70, 60, 0x23, 90, 1, 44, 0, 60, 0, 50, 0, 0, 0, 60, 60, 25}},
      {1, 1, {50, 0, 0, 0, 70, 60, 0x01, 0x23, 90, 1, 44, 0, 60, 0, 50, 0, 0, 0, 60, 60, 25}},
      {2, 0, {50, 0, 0, 0, 70, 60, 0x01, 0x23, 90, 1, 44, 0, 60, 0, 50, 0, 0, 0, 60, 60, 25}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.second << "." << c.third);
    SetPeerSoftwareVersion(static_cast<uint8_t>(c.second), static_cast<uint8_t>(c.third));
    MeterBlock m = LoadedMeters();
    EXPECT_EQ(Get(m, {3, 1}), c.bytes);
    MeterBlock copy;
    ASSERT_EQ(Put(copy, {3, 1}, c.bytes), 1);
    EXPECT_EQ(Get(copy, {3, 1}), c.bytes);
  }
}

TEST_F(Meters, ExtendedMetersOnlyForPeersOfSecondNumberOne) {
  MeterBlock m;
  m.SetBatteryVoltagePositive(270);
  m.SetBatteryCurrent(-5);
  m.SetBypassFrequency(50);
  const Bytes ext{1, 14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF,
                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 50, 0xFF, 0xFF, 0xFF, 0xFF};
  for (auto [second, third] : {std::pair{0, 36}, {0, 37}, {2, 0}}) {
    SetPeerSoftwareVersion(static_cast<uint8_t>(second), static_cast<uint8_t>(third));
    EXPECT_TRUE(Get(m, {3, 5}).empty());
    MeterBlock other;
    ASSERT_EQ(Put(other, {3, 5}, ext), 1);
    EXPECT_EQ(other.GetBatteryVoltagePositive(), 0xFFFF);
  }
  for (auto [second, third] : {std::pair{1, 0}, {1, 5}}) {
    SetPeerSoftwareVersion(static_cast<uint8_t>(second), static_cast<uint8_t>(third));
    EXPECT_EQ(Get(m, {3, 5}), ext);
    MeterBlock other;
    ASSERT_EQ(Put(other, {3, 5}, ext), 1);
    EXPECT_EQ(other.GetBatteryCurrent(), -5);
    EXPECT_EQ(other.GetBypassFrequency(), 50);
  }
}

TEST_F(Meters, NarrowReadersKeepTheValueOnAllOnes) {
  SetPeerSoftwareVersion(0, 36);
  MeterBlock m = LoadedMeters();
  ASSERT_EQ(Put(m, {3, 1}, {50, 0xFF, 0xFF, 60, 0xFF, 90, 1, 44, 0xFF, 0xFF, 0xFF, 0xFF, 60, 25}), 1);
  EXPECT_EQ(m.GetOutputVA(), 700);
  EXPECT_EQ(m.GetBatteryVoltage(), 0x0123);
  EXPECT_EQ(m.GetInputFrequency(), 60);
  EXPECT_EQ(m.GetOutputWatts(), 600);
}

TEST_F(Meters, LoadPercentages) {
  MeterBlock m;
  m.SetLoadVARating(1400);
  m.SetOutputVA(700);
  EXPECT_EQ(m.GetVAPercentLoad(), 50);
  EXPECT_EQ(m.GetOutputVA(), 700);
  m.SetOutputVA(30);  // 3 % of the rating, not truncated to 0
  EXPECT_EQ(m.GetVAPercentLoad(), 2);
  m.SetOutputVA(0);
  EXPECT_EQ(m.GetVAPercentLoad(), 0);
  m.SetOutputVA(14000);  // 1000 %: stored as 254, never wrapped
  EXPECT_EQ(m.GetVAPercentLoad(), 254);
  m.SetOutputVA(-1);
  EXPECT_EQ(m.GetOutputVA(), -1);
  EXPECT_EQ(m.GetVAPercentLoad(), 255);

  MeterBlock unrated;
  unrated.SetOutputVA(700);
  EXPECT_EQ(unrated.GetOutputVA(), 700);
  EXPECT_EQ(unrated.GetVAPercentLoad(), 255);
  unrated.SetLoadVARating(-1);
  EXPECT_EQ(unrated.GetLoadVARating(), 0xFFFFFFFFu);

  MeterBlock both;
  both.SetLoadWattRating(1000);
  both.SetOutputWatts(400);
  EXPECT_EQ(both.GetVAPercentLoad(), 255);
  EXPECT_EQ(both.GetPercentLoad(PERCENT_LOAD_COMPUTE), 40);  // the unknown VA percent does not win
  both.SetLoadVARating(1000);
  both.SetOutputVA(550);
  EXPECT_EQ(both.GetPercentLoad(PERCENT_LOAD_COMPUTE), 55);
  EXPECT_EQ(both.GetPercentLoad(PERCENT_LOAD_WATTS), 40);
  EXPECT_EQ(both.GetPercentLoad(PERCENT_LOAD_VA), 55);
  EXPECT_EQ(both.GetPercentLoad(7), 55);
}

TEST_F(Meters, RangeRulesAndReset) {
  MeterBlock m;
  m.SetBatteryTime(70000);
  EXPECT_EQ(m.GetBatteryTime(), 0xFFFF);
  m.SetBatteryTime(-1);
  EXPECT_EQ(m.GetBatteryTime(), 0xFFFF);
  m.SetTemperature(256);
  EXPECT_EQ(m.GetTemperature(), 255);
  m.SetInputVoltage(2, 231);
  m.SetInputVoltage(3, 100);  // no such phase
  EXPECT_EQ(m.GetInputVoltage(2), 231);
  EXPECT_EQ(m.Branches().GetFieldState(4, 1), FIELD_CHANGED);
  EXPECT_EQ(Get(m, {3, 4}), (Bytes{0, 231, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  m.SetLoadVARating(1000);
  m.Reset();
  EXPECT_EQ(m.GetInputVoltage(2), 0xFFFF);
  EXPECT_EQ(m.GetLoadVARating(), 100u);  // ratings are not reset
  EXPECT_EQ(m.Branches().GetFieldState(4, 1), FIELD_UNCHANGED);
  EXPECT_EQ(m.ConvertField(6, 1, CONVERT_ENCODE, nullptr, nullptr), -1);
}

}  // namespace
