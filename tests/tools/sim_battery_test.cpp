// The simulated UPSes' battery: it runs down on battery, charges ten times more slowly on
// mains, keeps within 0..100 %, and a low battery shows at most the low-battery figures.
#include "tools/sim_battery.h"

#include <gtest/gtest.h>

using upssim::SimBattery;

namespace {

TEST(SimBattery, RunsDownOnBatteryAndChargesSlowlyOnMains) {
  const SimBattery::Clock::time_point start{};
  SimBattery battery(2700, start);  // 45 minutes when full
  struct Step {
    int atSeconds;   // the time of the step, from the start
    bool onBattery;  // where the time since the previous step was spent
    bool low;
    double percent;
    double runtime;
  } const steps[] = {
      {600, false, false, 100.0, 2700},            // full stays full on mains
      {1500, true, false, 66.667, 1800},           // 15 minutes on battery
      {1500, true, true, 10.0, 120},               // low: at most 10 % and 2 minutes
      {4200, false, false, 76.667, 2070},          // 45 minutes of charging give 4.5 minutes back
      {7000, true, false, 0.0, 0},                 // run flat: no lower than empty
      {7000 + 270000, false, false, 100.0, 2700},  // and no fuller than full
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.atSeconds);
    battery.Advance(s.onBattery, start + std::chrono::seconds(s.atSeconds));
    EXPECT_NEAR(battery.Percent(s.low), s.percent, 0.01);
    EXPECT_NEAR(battery.RuntimeSeconds(s.low), s.runtime, 0.5);
  }
  battery.SetFullRuntime(600);
  battery.SetPercent(50);
  EXPECT_NEAR(battery.RuntimeSeconds(false), 300, 0.5);
}

}  // namespace
