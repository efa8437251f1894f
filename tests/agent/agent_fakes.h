// Fakes for the agent's tests: OS services that record instead of acting, and drivers whose
// answers a test sets.
#pragma once

#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/engine/worker_drivers.h"
#include "core/scp/scp.h"

struct Popup {
  std::string text;
  std::string caption;
  uint32_t flags;
};

class FakeServices : public KT_OSServices {
 public:
  explicit FakeServices(KT_SCP& scp) : KT_OSServices(scp) {
    SetPauseHook([this](int ms) { paused_ms += ms; });
  }
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    std::lock_guard<std::mutex> lock(mutex);
    popups.push_back({text, caption ? caption : "", flags});
    return 1;
  }
  int StopAgent(int quick) override {
    stops.push_back(quick);
    return KT_OSServices::StopAgent(quick);
  }
  int SendPage(const KT_ActionEntry& action) override {
    pages.push_back(action.event);
    return 1;
  }
  int SetOsInfo() override {
    ++os_info_calls;
    return 1;
  }
  std::vector<std::string> PopupTexts() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (auto& p : popups) out.push_back(p.text);
    return out;
  }
  std::mutex mutex;
  std::vector<Popup> popups;
  std::vector<int> stops;
  std::vector<int> pages;
  std::atomic<long> paused_ms{0};
  int os_info_calls = 0;
};

// Answers of a fake driver: each operation returns its configured value and counts calls.
class FakeDriverState {
 public:
  std::map<std::string, int> results;
  std::map<std::string, int> calls;
  // The stop check an adapter thread gave its client (SetStopCheck).
  std::function<bool()> stopCheck;
  int Call(const std::string& op, int fallback = 1) {
    ++calls[op];
    auto it = results.find(op);
    return it == results.end() ? fallback : it->second;
  }
};

// The polling operations every driver has, answered from a fake state.
template <typename Interface>
class FakeOperations : public Interface {
 public:
  explicit FakeOperations(FakeDriverState& s) : s_(s) {}
  int UpdateStatus() override { return s_.Call("UpdateStatus"); }
  int UpdateInfo() override { return s_.Call("UpdateInfo"); }
  int UpdateCapabilities() override { return s_.Call("UpdateCapabilities"); }
  int UpdateMeter() override { return s_.Call("UpdateMeter"); }
  int UpdateConfig() override { return s_.Call("UpdateConfig"); }
  int SetConfig() override { return s_.Call("SetConfig"); }
  int UpdateBatteryTest() override { return s_.Call("UpdateBatteryTest"); }
  int InitiateBatteryTest() override { return s_.Call("InitiateBatteryTest"); }

 protected:
  FakeDriverState& s_;
};

using FakeDriver = FakeOperations<UpsWorkerDriver>;

class FakeProtocol : public FakeOperations<SerialUpsProtocol> {
 public:
  using FakeOperations<SerialUpsProtocol>::FakeOperations;
  int Configure(const std::string& port, int baud) override {
    port_ = port;
    baud_ = baud;
    return s_.Call("Configure", 0);
  }
  int Close() override { return s_.Call("Close", 0); }
  int IsCableConnected() override { return s_.Call("IsCableConnected"); }
  int UpdateAlarmQueue() override { return s_.Call("UpdateAlarmQueue"); }
  int UpdateWaveform(int, int) override { return s_.Call("UpdateWaveform"); }
  int ShutdownAndRestart(int segment) override { return s_.Call("ShutdownAndRestart." + std::to_string(segment)); }
  int ShutdownAfterOs(int segment) override { return s_.Call("ShutdownAfterOs." + std::to_string(segment)); }
  int SetSegmentRestartDelay(int segment) override {
    return s_.Call("SetSegmentRestartDelay." + std::to_string(segment));
  }
  int SegmentOnNow(int segment) override { return s_.Call("SegmentOnNow." + std::to_string(segment)); }
  int SegmentCount() override { return s_.Call("SegmentCount", 1); }
  std::string port_;
  int baud_ = -1;
};

// A detection whose result a test sets; its protocols share one fake state.
class FakeLink : public SerialUpsLink {
 public:
  FakeLink(FakeDriverState& s, KT_SCP& scp) : s_(s), scp_(scp) {}
  int Connect() override {
    const int r = s_.Call("Connect", 1);
    if (r > 0) {
      auto lock = scp_.Lock();
      scp_.upsInfo.SetProtocol(PROTOCOL_APC);
    }
    error_ = KT_ErrorStatus{};
    if (r < 0) {
      error_.errorClass = ERR_LINK_SETUP;
      error_.code = s_.Call("ConnectErrorCode", 1);
    }
    return r;
  }
  const KT_ErrorStatus& LastError() const override { return error_; }
  std::unique_ptr<SerialUpsProtocol> CreateProtocol(int) override { return std::make_unique<FakeProtocol>(s_); }

 private:
  FakeDriverState& s_;
  KT_SCP& scp_;
  KT_ErrorStatus error_;
};

// A pseudo-terminal: its slave is a serial device name the agent accepts.
class TestPty {
 public:
  TestPty() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~TestPty() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};
