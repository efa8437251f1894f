// The battery of a simulated UPS: the charge it holds (percent) and the run time that charge
// gives at the present load. On battery it runs down, one second of run time each second; on
// mains the charger fills it again ten times more slowly, as real chargers do. A low battery
// forced through the control channel shows at most the low-battery figures (10 %, 2 minutes).
// Each kind reports the figures in its protocol's own unit (the Smart-UPS in minutes, the
// BCM and Varnis UPSes and the network adapter in seconds).
//
// Time comes from the steady clock unless the caller passes it, so that tests can step it.
#pragma once

#include <chrono>

namespace upssim {

class SimBattery {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kLowPercent = 10;
  static constexpr int kLowRuntimeSeconds = 120;
  // How much slower charging is than running down.
  static constexpr int kChargeSlowdown = 10;

  explicit SimBattery(int full_runtime_seconds, Clock::time_point now = Clock::now());

  // Brings the charge to `now`: the time since the last call was spent on battery or on mains.
  void Advance(bool on_battery, Clock::time_point now = Clock::now());

  // Percent of charge (0..100), at most kLowPercent while the battery is low.
  double Percent(bool low) const;
  // Run time left at the present load, in seconds, at most kLowRuntimeSeconds while low.
  double RuntimeSeconds(bool low) const;

  // The run time of a full battery (at least 1 s) and the charge now (clamped to 0..100).
  void SetFullRuntime(int seconds);
  int FullRuntime() const { return full_runtime_; }
  void SetPercent(double percent);

 private:
  int full_runtime_;
  double percent_ = 100.0;
  Clock::time_point last_;
};

}  // namespace upssim
