// The drivers behind the agent's UPS-side worker threads, as those threads use them.
//
// Each worker thread (serial, SNMP, NetBCM) turns the requests of serial_queue into calls of
// its driver: the serial UPS protocols (with UPS type detection), the SNMP client of a UPS
// network adapter, or the network BCM driver. The interfaces below name exactly the
// operations the threads call; the protocol, SNMP and NetBCM layers are attached to them by
// small adapters (agent/service/agent_threads.cpp installs the factories).
//
// Results of the update operations: > 0 success, 0 no data, < 0 failure.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/base/error_status.h"

class KT_SCP;

// The operations every UPS-side driver offers to the request table of serial_queue.
class UpsWorkerDriver {
 public:
  virtual ~UpsWorkerDriver() = default;
  virtual int UpdateStatus() = 0;
  virtual int UpdateInfo() = 0;
  virtual int UpdateCapabilities() = 0;
  virtual int UpdateMeter() = 0;
  // Reads the UPS-side settings (type 4, read) / writes them (type 4, SET).
  virtual int UpdateConfig() = 0;
  virtual int SetConfig() = 0;
  virtual int UpdateBatteryTest() = 0;
  virtual int InitiateBatteryTest() = 0;
};

// One serial UPS protocol (BCM, Varnis II, APC, contact closure) on an open port.
class SerialUpsProtocol : public UpsWorkerDriver {
 public:
  // Opens the port with the settings: 0, or -1.
  virtual int Configure(const std::string& portName, int baudCode) = 0;
  virtual int Close() = 0;
  // 1 cable present, 0 absent, -1 error.
  virtual int IsCableConnected() = 0;
  virtual int UpdateAlarmQueue() = 0;
  virtual int UpdateWaveform(int kind, int flag) = 0;
  // The shutdown helpers of the UPS commands (segment 255 = the whole UPS).
  virtual int ShutdownAndRestart(int segment) = 0;
  virtual int ShutdownAfterOs(int segment) = 0;
  virtual int SetSegmentRestartDelay(int segment) = 0;
  virtual int SegmentOnNow(int segment) = 0;
  // Number of load segments of the UPS.
  virtual int SegmentCount() = 0;
};

// Detection of the UPS on the configured serial port, and the protocol objects of the kinds
// it finds.
class SerialUpsLink {
 public:
  virtual ~SerialUpsLink() = default;
  // Detects the UPS type: 1 found (the SCP object's blocks name the protocol), 0 a cable but
  // no UPS, -1 failed; the link's error record tells why (class 23: code 2 the cable test
  // failed, code 3 a device that is not a UPS, anything else: the port could not be used).
  virtual int Connect() = 0;
  virtual const KT_ErrorStatus& LastError() const = 0;
  // A protocol object for a protocol byte of the UPS information block (0 BCM, 1 Varnis II,
  // 2 contact closure, 3 APC); null for any other value.
  virtual std::unique_ptr<SerialUpsProtocol> CreateProtocol(int protocol) = 0;
};
using SerialLinkFactory = std::function<std::unique_ptr<SerialUpsLink>(KT_SCP&)>;

// What the adapter drivers share: a thread that is told to stop ends the driver's waits for
// its adapter at once (the check answers true from then on); without one every wait runs its
// course.
class NetworkAdapterClient : public UpsWorkerDriver {
 public:
  virtual void SetStopCheck(std::function<bool()> /*stop*/) {}
};

// A UPS network adapter reached by SNMP.
class SnmpAdapterClient : public NetworkAdapterClient {
 public:
  // Opens the session to the adapter with the configured name and communities: 1, or -1.
  // UpdateConfig and SetConfig read and write the adapter's location and powered-devices
  // texts.
  virtual int Open(const std::string& adapter, const std::string& readCommunity, const std::string& writeCommunity) = 0;
  // 1 when a UPS adapter answers.
  virtual int ProbeAdapter() = 0;
  virtual int StartSleepMode() = 0;
  // Flag 0xFF: off after the configuration's operating-system shutdown time; else at once.
  virtual int DelayedOff(int flag) = 0;
};
using SnmpClientFactory = std::function<std::unique_ptr<SnmpAdapterClient>(KT_SCP&)>;

// A UPS network adapter reached by the BCM protocol over UDP.
class NetBcmAdapterClient : public NetworkAdapterClient {
 public:
  // Sets the adapter and its password: 1, or -1.
  virtual int SetTarget(const std::string& adapter, const std::string& password) = 0;
  // Opens the channel: 1, or -1.
  virtual int Open() = 0;
  virtual int ProbeAdapter() = 0;
  virtual int StartSleepMode(int segment) = 0;
  virtual int SegmentDelayedOn(int segment) = 0;
  virtual int SegmentDelayedOff(int segment) = 0;
  virtual int UpdateSegmentState(int segment) = 0;
  virtual int SegmentSleep(int segment) = 0;
};
using NetBcmClientFactory = std::function<std::unique_ptr<NetBcmAdapterClient>(KT_SCP&)>;
