// The SNMP thread's driver: the SNMP adapter client KT_SNMP working on the agent's own SCP
// object (agent side). The configuration block's texts of the adapter stand for the
// UPS-side settings (read and written with ReadDevicesAndLocation and
// WriteDevicesAndLocation). An adapter name "host:port" names a port other than the default
// (the SNMP port of the services database, else 161).
#pragma once

#include <memory>
#include <string>

#include "agent/worker_drivers.h"
#include "core/snmp.h"

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
    std::string host = adapter;
    int port = 0;
    const size_t colon = adapter.rfind(':');
    if (colon != std::string::npos && colon + 1 < adapter.size() && colon + 6 >= adapter.size() &&
        adapter.find(':') == colon && adapter.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
      port = std::stoi(adapter.substr(colon + 1));
      if (port > 0 && port <= 65535) {
        host = adapter.substr(0, colon);
      } else {
        port = 0;
      }
    }
    client_.SetSession(host.c_str(), readCommunity.c_str(), writeCommunity.c_str(), port);
    return client_.OpenSession() == 0 ? 1 : -1;
  }
  int ProbeAdapter() override { return client_.ProbeAdapter().has_value() ? 1 : 0; }
  int StartSleepMode() override { return client_.StartSleepMode(); }
  int DelayedOff(int flag) override { return client_.DelayedOff(flag); }

 private:
  KT_SNMP client_;
};
