// The NetBCM thread's driver: the network BCM driver KT_NetBCM working on the agent's own SCP
// object (agent side). The UPS-side settings of the configuration block are the audible alarm
// and the low-battery warning (read with the configuration, written with SendConfigSettings).
// The adapter name may carry a port ("host:port"); without one the adapter's port 7010 is
// used. The adapter password is the configuration's write community.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "core/adapters/adapter_name.h"
#include "agent/engine/worker_drivers.h"
#include "core/adapters/netbcm.h"

class KT_NetBcmAdapterDriver : public NetBcmAdapterClient {
 public:
  explicit KT_NetBcmAdapterDriver(KT_SCP& scp) : driver_(&scp, 1) {}

  int UpdateStatus() override { return driver_.UpdateStatus(); }
  int UpdateInfo() override { return driver_.UpdateInfo(); }
  int UpdateCapabilities() override { return driver_.UpdateCapabilities(); }
  int UpdateMeter() override { return driver_.UpdateMeter(); }
  int UpdateConfig() override { return driver_.UpdateConfig(); }
  int SetConfig() override { return driver_.SendConfigSettings(); }
  int UpdateBatteryTest() override { return driver_.UpdateBatteryTest(); }
  int InitiateBatteryTest() override { return driver_.InitiateBatteryTest(); }

  int SetTarget(const std::string& adapter, const std::string& password) override {
    const AdapterName name = SplitAdapterName(adapter);
    return driver_.SetAdapter(name.host.c_str(), password.c_str(), name.port);
  }
  int Open() override { return driver_.Open() == 0 ? 1 : -1; }
  int ProbeAdapter() override { return driver_.ProbeAdapter().has_value() ? 1 : 0; }
  int StartSleepMode(int segment) override { return driver_.StartSleepMode(segment); }
  int SegmentDelayedOn(int segment) override { return driver_.SegmentDelayedOn(segment); }
  int SegmentDelayedOff(int segment) override { return driver_.SegmentDelayedOff(segment); }
  int UpdateSegmentState(int segment) override { return driver_.UpdateSegmentState(segment); }
  int SegmentSleep(int segment) override { return driver_.SegmentSleep(segment); }
  void SetStopCheck(std::function<bool()> stop) override { driver_.SetStopCheck(std::move(stop)); }

  KT_NetBCM& Driver() { return driver_; }

 private:
  KT_NetBCM driver_;
};
