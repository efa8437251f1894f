// The whole SCP object: KT_SCPBase (status, UPS information, the request queues and table)
// with every other block of the image. One per process serves as the agent's authoritative
// state (GetProcessScp); adapter clients and consoles keep their own.
//
// Adding a block: declare it as a member below (in the construction order of the list) and
// register it with its id in the constructor (scp.cpp). ExecuteCommand, QueueRequest and
// GetBlock find it from then on; an id without a block is answered "Not Available".
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/alarm_queue_block.h"
#include "core/scp/battery_info_block.h"
#include "core/scp/battery_log_block.h"
#include "core/scp/battery_test_block.h"
#include "core/scp/command_block.h"
#include "core/scp/config_block.h"
#include "core/scp/event_log_block.h"
#include "core/scp/meter_block.h"
#include "core/scp/notify_block.h"
#include "core/scp/recptinf.h"
#include "core/scp/sched_shutdown_block.h"
#include "core/scp/scp_base.h"
#include "core/scp/waveform_block.h"

class KT_SCP : public KT_SCPBase {
 public:
  KT_SCP();

  // Serves a message for any block of the object (see KT_SCPBase), with these rules of the
  // configuration block:
  //   - a SET of the UPS options (block 4, branch 3) while the attached UPS does not carry them
  //     (SetUpsOptionsCarried), or while both are unknown, is answered "Not Available" and
  //     changes nothing: the UPS neither reports nor takes them; a SET of the whole block then
  //     applies everything else and leaves the options unknown;
  //   - a message of the timing branch alone (block 4, branch 12) carries its values whenever
  //     the UPS information names an agent of the first data format (ConfigBlock::
  //     SetTimingAddressed); a SET of it that cannot carry them is answered "Set Failed".
  int ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply) override;
  using KT_SCPBase::ExecuteCommand;

  // Whether the attached UPS reports and takes the UPS options (true until a driver says
  // otherwise). Set to false, the options become unknown and stay so; true when it changed
  // anything, so that the caller keeps the configuration.
  bool SetUpsOptionsCarried(bool carried);

  // Blocks 2 and 3 back to their unknown values.
  void ResetUpsData();

  // The communication mode of the configuration block.
  int GetCommMode() const;

  // Blocks in construction order (destroyed in reverse).
  MeterBlock meters;              // 3
  ConfigBlock config;             // 4
  NotifyBlock notify;             // 5
  EventLogBlock eventLog;         // 6
  BatteryLogBlock batteryLog;     // 7
  SchedShutdownBlock schedShutdown;  // 24
  BatteryTestBlock batteryTest;   // 25
  BatteryInfoBlock batteryInfo;   // 26
  CommandBlock commandBlock;      // 27
  AlarmQueueBlock alarmQueue;     // 8
  WaveformBlock waveforms;        // 9
  Recptinf receptacles;           // 28

 private:
  // Both UPS options unknown; true when either was known.
  bool ForgetUpsOptions();

  bool ups_options_carried_ = true;
};

// The process-wide SCP object, built on first use.
KT_SCP& GetProcessScp();
// The communication mode of the process-wide object, read under its lock.
int GetProcessCommMode();
