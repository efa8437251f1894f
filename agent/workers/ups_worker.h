// KT_UpsWorker: the request handling that the three UPS-side worker threads share. One request
// of serial_queue (block id, set flag, branch) becomes a call of the thread's driver; a
// success stamps the refreshed branches and removes the request ("done": a held request stays
// queued), a failure counts a pass and leaves the request for the next round.
//
//   1 status, read        UpdateStatus                stamp status 1, 0
//   1, 3, 7 SET           nothing (the request stays)
//   2 information, read   software version and the operating system first; UpdateInfo; a
//                         success sets the default actions when the notification block was
//                         never loaded, then UpdateCapabilities (over the default maps), writes
//                         those defaults to notify.dat, stamps
//                         information 5, 2 and configuration 3 and clears alarm 22; both ways
//                         information 0, 1, 3, 4 are stamped
//   3 meters, read        UpdateMeter                 stamp meters 0..4
//   4 configuration       SET: SetConfig (a failure raises alarm 8 and drops the request);
//                         read: UpdateConfig, stamp configuration 3
//   7 battery test result UpdateBatteryTest (see Serve)
//   25 battery test       InitiateBatteryTest; a start polls the result (7, held); a failed
//                         start logs result code 3 in the battery log; the request is dropped
//   27 UPS command, SET   the thread's command (RunCommand)
//   anything else         alarm 8; the request stays
//
// Locking: the driver calls run without the SCP object's lock (drivers take it for their
// block updates); the stamps and alarms are made under it.
#pragma once

#include "agent/engine/worker_drivers.h"

class KT_Agent;

// UPS commands of serial_queue (block 27 branches) beside the command block's own restart (2),
// load-off (8) and segment-restart (10): the UPS off after the system's shutdown, and the
// non-critical segment on again.
inline constexpr int kUpsOffCommand = 4;
inline constexpr int kSegmentOnCommand = 11;

enum UpsWorkerKind : int {
  WORKER_SERIAL = 0,
  WORKER_SNMP = 1,
  WORKER_NETBCM = 2,
};

// What became of one request.
enum UpsRequestOutcome : int {
  REQUEST_DONE = 1,    // served (removed unless held)
  REQUEST_FAILED = 0,  // counted, stays queued
  REQUEST_KEPT = 2,    // nothing done, stays queued
};

class KT_UpsWorker {
 public:
  KT_UpsWorker(KT_Agent& agent, UpsWorkerDriver& driver, UpsWorkerKind kind);
  virtual ~KT_UpsWorker() = default;

  UpsRequestOutcome Serve(int type, int set, int branch);

  // A UPS command (block 27 branch) through the thread's driver: > 0 done.
  virtual int RunCommand(int command) = 0;

 protected:
  // The load segments the commands act on, from the receptacle block.
  struct Segments {
    int nonCritical;
    int scheduled;
    int count;
  };
  Segments ReadSegments();
  // A served request leaves the queue; a failed one is counted and stays.
  UpsRequestOutcome Done(int type, int branch);
  UpsRequestOutcome Failed(int type, int branch);

  KT_Agent& agent_;
  UpsWorkerDriver& driver_;
  UpsWorkerKind kind_;

 private:
  void RaiseSoftwareError();
};
