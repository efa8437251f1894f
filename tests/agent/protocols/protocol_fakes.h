// Test helpers for the UPS protocols: a protocol object whose line is a script instead of a
// port, and a pump that moves the manual clock while a test talks to the simulator.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent/protocols/ups_protocol.h"
#include "platform/clock.h"

namespace protocol_testing {

// A protocol of kind T on a scripted line: every write puts the next scripted reply on the
// line (an empty entry, or an empty script, is no answer); reads take at most their capacity
// of what the line holds and leave the rest; dropping the input empties the line. Everything
// written is kept.
template <class T>
class Scripted : public T {
 public:
  explicit Scripted(KT_SCP& scp) : T(scp) { this->state_ = KT_CommDevice::kOpen; }

  std::deque<std::string> replies;
  std::vector<std::string> writes;
  std::string line;  // bytes waiting to be read
  // ControlCheck answers these in turn (-1: the check fails), then `lines` for good.
  std::deque<int> line_script;
  int lines = KT_SerialPort::kCts | KT_SerialPort::kDcd;
  std::vector<int> line_sets;
  bool fail_writes = false;
  bool fail_reads = false;
  bool overflow = false;  // reads report an input overflow

  int Open() override {
    this->state_ = KT_CommDevice::kOpen;
    return 0;
  }
  int Close() override {
    this->state_ = KT_CommDevice::kClosed;
    return 0;
  }
  int Write(const void* bytes, int count) override {
    if (fail_writes) return -1;
    writes.emplace_back(static_cast<const char*>(bytes), static_cast<size_t>(count));
    if (!replies.empty()) {
      line += replies.front();
      replies.pop_front();
    }
    return 1;
  }
  int Read(KT_ReadRecord& record) override {
    record.data.clear();
    if (fail_reads) return -1;
    if (line.empty()) return 0;
    const size_t n = std::min(line.size(), static_cast<size_t>(record.EffectiveCapacity()));
    record.data.assign(line.begin(), line.begin() + static_cast<long>(n));
    line.erase(0, n);
    record.length = overflow ? -1 : static_cast<int>(n);
    return 1;
  }
  int Ready(int) override { return 1; }
  int ControlCheck(int mask) override {
    int l = lines;
    if (!line_script.empty()) {
      l = line_script.front();
      line_script.pop_front();
    }
    return l < 0 ? -1 : (l & mask);
  }
  int ControlSet(int l) override {
    line_sets.push_back(l);
    return 0;
  }
  int SetBaud(int) override { return 0; }

  // Everything written, joined.
  std::string Sent() const {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
  }

 protected:
  void DiscardInput() override { line.clear(); }
};

// A protocol whose probe and load control are given by the test; every other slot fails.
// It records every LoadControl call.
class ProbeOnly : public KT_PortOnlyProtocol {
 public:
  struct LoadCall {
    int kind, segment, seconds;
    bool operator==(const LoadCall&) const = default;
  };

  explicit ProbeOnly(KT_SCP& scp, std::function<int(int baud)> probe = nullptr)
      : KT_PortOnlyProtocol(scp), probe_(std::move(probe)) {}

  std::vector<LoadCall> load_calls;
  std::deque<int> load_results;  // results of LoadControl in turn, then 1

  int Probe() override {
    return probe_ ? probe_(Settings().GetBaudIndex()) : 0;
  }
  int LoadControl(int kind, int segment, int seconds) override {
    load_calls.push_back({kind, segment, seconds});
    if (load_results.empty()) return 1;
    const int r = load_results.front();
    load_results.pop_front();
    return r;
  }

 private:
  std::function<int(int)> probe_;
};

// Moves a manual clock forward by `step_ms` every `real_ms` of real time while it lives, so
// that the protocols' time-outs pass quickly while the simulator still answers in time.
class ClockPump {
 public:
  explicit ClockPump(platform::ManualClock& clock, uint64_t step_ms = 50, int real_ms = 10)
      : thread_([this, &clock, step_ms, real_ms] {
          while (!stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(real_ms));
            clock.AdvanceMs(step_ms);
          }
        }) {}
  ~ClockPump() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace protocol_testing
