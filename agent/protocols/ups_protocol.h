// KT_UpsProtocol: the common interface of every serial UPS protocol (BCM, Varnis II, APC
// Smart-UPS, contact closure). A protocol object is an open serial port (it derives from
// KT_SerialPort) plus sixteen protocol operations that the agent's serial thread calls while
// it drains serial_queue, and the helpers every protocol shares: reading one reply, the cable
// test, the idle modem lines, the shutdown sequences built on LoadControl, and the battery-test
// bookkeeping.
//
// Operations, in slot order after the eight of the serial port (results of the update
// operations: > 0 success, 0 no data, < 0 failure):
//    8 Probe                  is this protocol's UPS answering on the open port? 1, 0, -1
//    9 SendRequest            bytes, count, authorize flag
//   10 ProcessBlock           decode one reply already read into the SCP blocks
//   11 UpdateInfo             identification -> UPS information block   (request type 2)
//   12 UpdateMeter            meters -> meter block                      (type 3)
//   13 UpdateConfig           read the UPS-side configuration            (type 4, read)
//   14 SetConfig              write the UPS-side configuration           (type 4, SET)
//   15 InitiateBatteryTest                                               (type 25)
//   16 UpdateBatteryTest      poll the battery-test result               (type 7)
//   17 UpdateStatus           state and alarms -> status block           (type 1)
//   18 UpdateAlarmQueue                                                  (type 8)
//   19 UpdateWaveform         kind 1..3, flag; default -1                (type 9)
//   20 SegmentOnNow           segment (255 none); default 0              (command 11)
//   21 LoadControl            kind, segment (255 whole UPS), seconds; default -1
//   22 RaiseInterfacePower    default -1
//   23 UpdateCapabilities     supported functions, events and actions   (type 2)
//
// LoadControl kinds: 0 output off after the delay, 1 output on after the delay, 2 output off
// after the operating-system shutdown time, 3 the same as 1, 4 store the restart delay of a
// load segment.
//
// Locking: the protocol reads and changes the SCP object's blocks only under scp.Lock(), and
// never holds that lock across serial I/O.
//
// Errors of the shared helpers are recorded with class 13 (ReadBlock: function 1).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/mail_paging/serial_port.h"
#include "core/base/error_status.h"

class KT_SCP;

// The running battery test of a protocol object.
struct KT_BatteryTestRun {
  std::string name;  // the test's name as the battery log shows it ("33.1.7.7.4", ...)
};

class KT_UpsProtocol : public KT_SerialPort {
 public:
  // A segment number that stands for the whole UPS (or for no segment).
  static constexpr int kAllSegments = 255;
  // Seconds that ReadBlock waits for a reply.
  static constexpr int kReplyWaitSeconds = 3;

  enum LoadControlKind : int {
    kOutputOffAfterDelay = 0,
    kOutputOnAfterDelay = 1,
    kOutputOffAfterOs = 2,
    kOutputOnAfterDelay2 = 3,
    kSegmentRestartDelay = 4,
  };

  // Writes one of the agent's record files (by block id: 25 batt_tst.dat, 7 the battery log).
  using RecordFileWriter = std::function<void(int blockId)>;

  explicit KT_UpsProtocol(KT_SCP& scp);
  ~KT_UpsProtocol() override;

  // ---- slots 8..23 ----
  virtual int Probe() = 0;
  virtual int SendRequest(const uint8_t* bytes, int count, int authorize) = 0;
  virtual int ProcessBlock(KT_ReadRecord& record) = 0;
  virtual int UpdateInfo() = 0;
  virtual int UpdateMeter() = 0;
  virtual int UpdateConfig() = 0;
  virtual int SetConfig() = 0;
  virtual int InitiateBatteryTest() = 0;
  virtual int UpdateBatteryTest() = 0;
  virtual int UpdateStatus() = 0;
  virtual int UpdateAlarmQueue() = 0;
  virtual int UpdateWaveform(int kind, int flag);
  virtual int SegmentOnNow(int segment);
  virtual int LoadControl(int kind, int segment, int seconds);
  virtual int RaiseInterfacePower();
  // The defaults every protocol starts from (see DefaultCapabilities).
  virtual int UpdateCapabilities();

  // ---- shared helpers ----
  // Takes the port name and the line bytes of the settings, opens the port and sets the idle
  // lines. 0, or -1 (the port is closed again when the idle lines cannot be set).
  int Configure(const KT_PortSettings& settings);
  // Convenience for callers that hold a name and a baud-rate code.
  int Configure(const std::string& portName, int baudCode);
  bool IsOpen() const { return IsDeviceOpen(); }
  // Waits (at most kReplyWaitSeconds) for one reply and reads it: 1 with the bytes in the
  // record (its length is the number of bytes actually read, also after an input overflow),
  // 0 nothing arrived, -1 the port failed (error 13, 1, 1 when the transmission could not
  // be finished).
  int ReadBlock(KT_ReadRecord& record);
  // 1 when the configuration turns the loopback test off; else CTS (which the cable loops
  // back from RTS): 1 on, 0 off, -1 error.
  int IsCableConnected();
  // Reads all lines, then DTR and RTS off, then RTS on (DTR stays off). 0 or -1.
  int SetIdleLines();
  // The shutdown sequences (serial thread, SCP command block commands 2, 4, 8 and 10).
  int ShutdownAndRestart(int segment);
  int ShutdownAfterOs(int segment);
  int SetSegmentRestartDelay(int segment);

  // Number of load segments of the UPS (1 until a protocol learns otherwise).
  int GetSegmentCount() const { return segment_count_; }
  void SetSegmentCount(int n) { segment_count_ = n; }

  // Battery-test state.
  uint8_t GetBatteryTestState() const { return battery_test_state_; }
  void SetBatteryTestState(uint8_t s) { battery_test_state_ = s; }
  const KT_BatteryTestRun* RunningBatteryTest() const { return battery_test_.get(); }
  int64_t GetBatteryTestStart() const { return battery_test_start_; }
  int64_t GetBatteryTestLastResult() const { return battery_test_last_; }

  // Who writes the record files after a battery-test result (none: nothing is written).
  void SetRecordFileWriter(RecordFileWriter writer) { file_writer_ = std::move(writer); }

  KT_SCP& Scp() { return scp_; }
  // The record of the protocol's own failures (class 13 here; each protocol its own class).
  const KT_ErrorStatus& ProtocolError() const { return protocol_error_; }

  // Waits `ms` milliseconds of the process clock (platform/clock.h), so that a test's manual
  // clock moves the wait on without real sleeping.
  static void Pause(int ms);

 protected:
  // Records a failure of the protocol and returns -1.
  int Fail(int32_t errorClass, int32_t function, int32_t code, int32_t systemError = 0);

  // Drops whatever the UPS sent unasked or too late (unsolicited alerts, the rest of an
  // earlier reply), without waiting, so that the next reply is read on its own.
  virtual void DiscardInput();

  // The default capability tables: the supported-function map of the UPS information block
  // (byte 0 bits 0-7, byte 1 bits 4-7, byte 2 bit 0, byte 3 bits 4 and 6), the supported
  // events (2, 3, 4, 5, 14-20, 22, 23) and actions (0-7 and 11) of the notification block,
  // manufacturer 0, and the operating system's share of the actions. Caller holds the lock.
  void DefaultCapabilitiesLocked();
  // Support-map shorthands (caller holds the lock). Events and actions are numbered by their
  // bit: number n is bit n % 8 of byte n / 8.
  void SetFunction(int byte, int bit);
  void ClearFunction(int byte, int bit);
  void SetEvent(int n);
  void ClearEvent(int n);
  void SetActionBit(int n);
  void ClearActionBit(int n);

  // Battery-test bookkeeping shared by the protocols.
  // Starts the record of a running test with its name; start and last-result times = now.
  void BeginBatteryTest(const char* name);
  // Adds the running test's result (result code = state) to the battery log and frees the
  // record: 1, or -1 when no test is running. `time` is the record's time; kind 1 is the
  // general systems test, anything else a battery test.
  int AddBatteryTestResult(int state, int64_t time, int kind);
  // After a result: battery-test block branches 0 and 1 marked updated, the battery-test
  // and battery-log files written, alarm 17 (battery test in progress) cleared.
  void FinishBatteryTest();
  // Writes one record file through the installed writer.
  void WriteRecordFile(int blockId);
  // Number of tests this object has started.
  int BatteryTestCount() const { return battery_test_count_; }

  KT_SCP& scp_;
  KT_ErrorStatus protocol_error_;

 private:
  int segment_count_ = 1;
  uint8_t battery_test_state_ = 0;
  std::unique_ptr<KT_BatteryTestRun> battery_test_;
  int64_t battery_test_start_ = 0;
  int64_t battery_test_last_ = 0;
  int battery_test_count_ = 0;
  RecordFileWriter file_writer_;
};

// A protocol object that only offers the port and the shared helpers: no UPS answers its probe
// and every protocol operation fails. The cable test of a detection step whose protocol is not
// built in runs on it.
class KT_PortOnlyProtocol : public KT_UpsProtocol {
 public:
  using KT_UpsProtocol::KT_UpsProtocol;
  int Probe() override { return 0; }
  int SendRequest(const uint8_t*, int, int) override { return -1; }
  int ProcessBlock(KT_ReadRecord&) override { return -1; }
  int UpdateInfo() override { return -1; }
  int UpdateMeter() override { return -1; }
  int UpdateConfig() override { return -1; }
  int SetConfig() override { return -1; }
  int InitiateBatteryTest() override { return -1; }
  int UpdateBatteryTest() override { return -1; }
  int UpdateStatus() override { return -1; }
  int UpdateAlarmQueue() override { return -1; }
};
