#include "tools/sim_battery.h"

#include <algorithm>

namespace upssim {

SimBattery::SimBattery(int full_runtime_seconds, Clock::time_point now) : last_(now) {
  SetFullRuntime(full_runtime_seconds);
}

void SimBattery::Advance(bool on_battery, Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  if (seconds <= 0) return;
  const double per_second = 100.0 / full_runtime_;
  percent_ += on_battery ? -seconds * per_second : seconds * per_second / kChargeSlowdown;
  percent_ = std::clamp(percent_, 0.0, 100.0);
}

double SimBattery::Percent(bool low) const {
  return low ? std::min(percent_, double{kLowPercent}) : percent_;
}

double SimBattery::RuntimeSeconds(bool low) const {
  const double left = percent_ / 100.0 * full_runtime_;
  return low ? std::min(left, double{kLowRuntimeSeconds}) : left;
}

void SimBattery::SetFullRuntime(int seconds) {
  full_runtime_ = std::max(seconds, 1);
}

void SimBattery::SetPercent(double percent) {
  percent_ = std::clamp(percent, 0.0, 100.0);
}

}  // namespace upssim
