// A serial protocol (BCM or Varnis II) on the line to its simulated UPS: the simulator started
// with the test's control commands, the protocol configured on its pseudo-terminal at 1200 baud,
// and the record files it asks to be written collected.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/scp/scp.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

template <typename Protocol>
class ProtocolOnTheLine : public ::testing::Test {
 protected:
  static constexpr int k1200Baud = 2;

  void StartSimulator(const char* mode, const std::vector<std::string>& controls) {
    ups_ = std::make_unique<testing_support::SimulatedUps>(mode);
    ASSERT_TRUE(ups_->ok()) << ups_->error();
    for (const std::string& c : controls) ASSERT_TRUE(ups_->Do(c)) << c;
    protocol_ = std::make_unique<Protocol>(scp_);
    protocol_->SetRecordFileWriter([this](int block) { written_.push_back(block); });
    ASSERT_EQ(protocol_->Configure(ups_->device(), k1200Baud), 0);
  }

  // The serial thread's answer to the UPS-information request.
  void Identify() {
    ASSERT_EQ(protocol_->UpdateInfo(), 1);
    ASSERT_EQ(protocol_->UpdateCapabilities(), 1);
  }

  bool Alarm(int a) {
    auto lock = scp_.Lock();
    return scp_.upsStatus.IsAlarmSet(a) == 1;
  }

  // After a battery test has ended: the pending battery-log request answered, the test and log
  // files written, the test alarm cleared and one record of `result` in the log.
  void ExpectBatteryTestLogged(uint8_t result, const std::string& status) {
    EXPECT_EQ(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), -1);
    EXPECT_EQ(written_, (std::vector<int>{BLOCK_BATTERY_TEST, BLOCK_BATTERY_LOG}));
    EXPECT_FALSE(Alarm(ALARM_BATTERY_TEST));
    auto lock = scp_.Lock();
    ASSERT_EQ(scp_.batteryLog.GetRecordCount(), 1);
    EXPECT_EQ(scp_.batteryLog.Records()[0].data, (std::vector<uint8_t>{result}));
    EXPECT_EQ(scp_.batteryLog.GetStatusText(), status);
  }

  std::vector<std::string> Requests(size_t from) { return ups_->Entries("REQ", from); }
  std::vector<std::string> Actions(size_t from) { return ups_->Entries("ACTION", from); }

  static bool Has(const std::vector<std::string>& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
  }

  std::vector<int32_t> ProtocolError() const {
    const KT_ErrorStatus& e = protocol_->ProtocolError();
    return {e.errorClass, e.function, e.code};
  }

  testing_support::TempDir dir_;
  KT_SCP scp_;
  std::unique_ptr<testing_support::SimulatedUps> ups_;
  std::unique_ptr<Protocol> protocol_;
  std::vector<int> written_;
};
