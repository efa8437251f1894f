// A network BCM driver on the agent's side of a fresh SCP object, talking to the simulated
// adapter on a loopback port of the system's choice. One driver second lasts 100 ms, so that a
// busy machine still answers within a wait; a test that waits for silence shortens it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/adapters/netbcm.h"
#include "core/scp/scp.h"
#include "tests/support/test_support.h"
#include "tools/netbcm_adapter.h"

class NetBcmFixture : public ::testing::Test {
 protected:
  // Driver seconds (ms) while the adapter answers, and while it is silent.
  static constexpr int kAnswerSecond = 100;
  static constexpr int kSilentSecond = 10;

  void SetUp() override {
    netbcmsim::AdapterOptions options;
    options.bind = "127.0.0.1";
    options.port = 0;
    sim_ = std::make_unique<netbcmsim::NetBcmAdapter>(options);
    std::string error;
    ASSERT_EQ(sim_->Start(&error), 0) << error;
    driver_ = std::make_unique<KT_NetBCM>(&scp_, 1);
    driver_->SetSecondLength(kAnswerSecond);
    driver_->SetAdapter("127.0.0.1", "KelpR3", sim_->port());
    ASSERT_EQ(driver_->Open(), 0);
    auto lock = scp_.Lock();
    scp_.config.SetPollingInterval(1);
    scp_.config.SetCommTimeout(1);
  }
  void TearDown() override {
    KT_NetBCM::SetMessageHandler(nullptr);
    if (sim_) sim_->Stop();
  }

  // Identification, configuration, capabilities and tables, as the worker thread asks.
  void Identify() {
    ASSERT_EQ(driver_->UpdateInfo(), 1);
    sim_->ClearLog();
    trace_.Clear();
  }

  // Installs a manual clock for the rest of the test. It stays installed until the fixture
  // ends, after the simulated adapter, whose thread reads the clock, has stopped: a clock of
  // the test body would be gone while that thread still reads it.
  platform::ManualClock* UseManualClock(int64_t now = 1000000000) {
    clock_.emplace(now);
    return &**clock_;
  }

  // The request datagrams received since the log was cleared.
  std::vector<std::vector<uint8_t>> Requests() const { return sim_->Received(); }

  std::optional<testing_support::ScopedManualClock> clock_;
  testing_support::TempDir dir_;
  testing_support::TraceCapture trace_;
  KT_SCP scp_;
  std::unique_ptr<netbcmsim::NetBcmAdapter> sim_;
  std::unique_ptr<KT_NetBCM> driver_;
};

// Bytes of the blocks a request is made of.
inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Select block for the UPS (1) and the access block of "KelpR3".
inline const std::vector<uint8_t> kSelectUps{0xAB, 0x02, 0xCE, 0x01, 0x84};
inline const std::vector<uint8_t> kAccess{0xAB, 0x07, 0xCF, 'K', 'e', 'l', 'p', 'R', '3', 0x6E};
