// The SNMP thread's driver: the SNMP adapter client KT_SNMP working on the agent's own SCP
// object (agent side). The configuration block's texts of the adapter stand for the
// UPS-side settings (read and written with ReadDevicesAndLocation and
// WriteDevicesAndLocation). An adapter name "host:port" names a port other than the default
// (the SNMP port of the services database, else 161).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "core/adapters/adapter_name.h"
#include "agent/engine/worker_drivers.h"
#include "core/adapters/snmp.h"

class KT_SnmpAdapterDriver : public SnmpAdapterClient {
 public:
  explicit KT_SnmpAdapterDriver(KT_SCP& scp) : client_(&scp, 1) {}

  int UpdateStatus() override { return client_.UpdateStatus(); }
  int UpdateInfo() override { return client_.UpdateInfo(); }
  int UpdateCapabilities() override { return client_.UpdateCapabilities(); }
  int UpdateMeter() override { return client_.UpdateMeters(); }
  int UpdateConfig() override { return client_.ReadDevicesAndLocation(); }
  int SetConfig() override { return client_.WriteDevicesAndLocation(); }
  int UpdateBatteryTest() override { return client_.UpdateBatteryTest(); }
  int InitiateBatteryTest() override { return client_.InitiateBatteryTest(); }
  int Open(const std::string& adapter, const std::string& readCommunity, const std::string& writeCommunity) override {
    const AdapterName name = SplitAdapterName(adapter);
    client_.SetSession(name.host.c_str(), readCommunity.c_str(), writeCommunity.c_str(), name.port);
    return client_.OpenSession() == 0 ? 1 : -1;
  }
  int ProbeAdapter() override { return client_.ProbeAdapter().has_value() ? 1 : 0; }
  int StartSleepMode() override { return client_.StartSleepMode(); }
  int DelayedOff(int flag) override { return client_.DelayedOff(flag); }
  void SetStopCheck(std::function<bool()> stop) override { client_.SetStopCheck(std::move(stop)); }

 private:
  KT_SNMP client_;
};
