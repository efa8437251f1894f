// KT_Action: the agent's action engine. It turns changes of the UPS state (the alarms of the
// status block) into the actions configured in the notification block -- message boxes,
// broadcasts, sounds, mail, pages, SNMP traps, commands, notices to other agents, log entries --
// decides when the computer must go down, and runs the shutdown sequence.
//
// The monitor loop calls TakeAction once per pass, then IsShutdownRequired, and runs
// ShutdownSequence when a shutdown is due. The effects go through the OS-services object; traps
// through a KT_SNMP of the engine's own; notices to other agents through a UDP (or IPX) channel.
// Traps and notices are sent by worker threads of the engine (agent/actions/network_actions.h):
// the monitor thread takes their data and queues them, so that a host name the name server
// does not answer for never holds the monitor loop or the shutdown sequence, nor a send to a
// numeric address (each trap receiver is a send of its own).
//
// Timing. Every action record has a delay (seconds before its first run) and an interval
// (seconds between repeats, 0 = once). Each (event, action) pair has a repetition counter:
//   - an active alarm's action runs once its alarm has been set for `delay` seconds, then once
//     per `interval` while the alarm stays; repeats missed while the agent was busy (or the
//     clock jumped) are not made up: the next run is the next one due;
//   - the scheduled-shutdown event (22) is timed from the scheduled shutdown time instead: it
//     runs `delay` seconds before that time, then once per `interval`;
//   - a cleared alarm's action (the "cleared" event, such as power restored) runs once,
//     `delay` seconds after the alarm cleared, unless the alarm comes back first;
//   - an occurrence ends, for one action kind, when the alarm clears and the "cleared" action
//     of that kind runs (at once when the kind has none): the kind's "active" counter is reset,
//     so the next occurrence starts over with the delay. An alarm that comes back before the
//     "cleared" action of a kind ran goes on as the same occurrence for that kind (no second
//     "active" run, repeats timed from the new time stamp): whatever a kind told of the
//     failure, it tells of its end before it tells of another one;
//   - an alarm cleared and set again between two passes (its time stamp changed) is taken as a
//     pass would have seen it: first the clearing, whose "cleared" actions run when they were
//     due before the alarm came back (the clearing is placed at the previous pass, the earliest
//     it can have been), then the alarm again. So the event log never holds two on-battery
//     records without the power-restored between them.
// Alarms that the engine clears itself once their actions ran (8 software error, 9 started,
// 10 stopped, 11 configuration changed, 12 and 14 shutdowns, 24 client password) stay set
// until the last delayed action of their event has run.
//
// Sounds: while a shutdown is due (on battery past the start delay, low battery) or under way,
// a sound is started and not waited for; else the sound player is waited for within its bound.
//
// Shutdown sequence: the reason's event-log record and alarm, one action pass (so that the
// actions of the shutdown events run; none of them is waited for), 3 s for the consoles, the pre-shutdown command and the
// file saver (each waited for at most 3 minutes by the services; the sequence then goes on),
// the UPS command on serial_queue and a bounded wait for the UPS-side worker to take it (no
// wait when no worker serves the queue in the agent's mode or the UPS link is lost), then the
// agent's stop and the system shutdown. A reboot (reason 3, a console's command) sends the UPS
// no command and ends with the reboot command instead. It runs at most once per process.
//
// Locking: blocks are read and changed under the SCP object's lock; the lock is never held
// while an effect runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/actions/network_actions.h"
#include "agent/engine/action_engine.h"
#include "core/scp/action_entry.h"
#include "core/base/error_status.h"
#include "core/adapters/snmp.h"

class KT_SCP;
class KT_OSServices;

// Subject of the agent's mail.
inline constexpr const char* kAgentMailSubject = "Tremona Mail System";
// Marker of a remote host text that names a network client of the configuration (IPX).
inline constexpr const char* kRemoteServerMarker = " - (Remote Server)";
// Port of SNMP traps to a network manager (a receiver's host "name:port" names another).
inline constexpr int kTrapPort = 162;
// Longest wait for the UPS-side worker to take the UPS command, in seconds.
inline constexpr int kUpsCommandWaitSeconds = 60;
// Pause before the agent announces that it goes away.
inline constexpr int kShutdownAnnounceMs = 3000;

// Shutdown reasons.
enum ShutdownReason : int {
  SHUTDOWN_PROLONGED_OUTAGE = 0,
  SHUTDOWN_LOW_BATTERY = 1,
  SHUTDOWN_SCHEDULED = 2,
  SHUTDOWN_REMOTE = 3,  // a console's reboot command
  SHUTDOWN_WITHOUT_UPS_OFF = 4,
};

class KT_Action : public KT_ErrorStatus, public AgentActionEngine {
 public:
  static constexpr int kEventSlots = 37;   // events 0..36
  static constexpr int kActionSlots = 13;  // actions 0..12

  // One alarm the engine follows from pass to pass.
  struct PendingAlarm {
    uint8_t code = 0;
    uint8_t status = 0;  // 1 active, 0 cleared since it was last seen
    int64_t stamp = 0;   // the alarm's time stamp when last seen
    // A clearing that no pass saw (status 0): the time the alarm came back, at which its
    // "cleared" actions are judged; `stamp` is then the time it is taken to have cleared.
    int64_t returned = 0;
    // Active again after a clearing, in this pass only.
    bool renewed = false;
  };

  KT_Action(KT_SCP& scp, KT_OSServices& services);
  ~KT_Action() override;
  KT_Action(const KT_Action&) = delete;
  KT_Action& operator=(const KT_Action&) = delete;

  // One pass over the alarm changes: 0 when no alarm is active or pending, 1 after a pass,
  // -1 when the pending list cannot grow (error (28, 1, 1..3)).
  int TakeAction() override;
  // Whether `action` runs now for the pending alarm (status 1 active, 0 cleared); the record
  // is filled when the notification block has one. Moves the repetition counters.
  bool IsActionRequired(int alarm, int status, int action, KT_ActionEntry& record);
  // 0 while the UPS is not on battery; 2 while the low-battery alarm is active; else 1 when
  // the UPS has been on battery for the configured shutdown start delay, 0 before. The start
  // delay in seconds goes to `startDelay` (0 when not on battery).
  int IsShutdownRequired(int64_t* startDelay);
  int IsShutdownRequired() override { return IsShutdownRequired(nullptr); }
  // Reason 0..4 (ShutdownReason). The result of the system shutdown (the reboot for reason 3);
  // -1 for a bad reason or a sequence already under way.
  int ShutdownSequence(int reason) override;
  // The countdown line of the on-battery message box; empty for any other alarm, and while
  // the UPS is not on battery.
  std::string ShutdownCountdownText(int alarm);

  // The event of an alarm raised (active) or cleared; 0 when there is none.
  static int EventOfAlarm(int alarm, bool active);

  // State, for the consoles' traces and the tests.
  int Counter(int event, int action) const;
  std::vector<PendingAlarm> Pending() const { return pending_; }
  bool ShutdownStarted() const { return shutdown_started_.load(); }

  // The UDP port of notices to other agents (the agent port unless a test moves it).
  void SetRemoteHostPort(int port) { remote_port_ = port; }
  // Waits up to timeoutMs until the queued traps and notices have been sent (tests).
  bool WaitForSends(int timeoutMs) { return network_.WaitIdle(timeoutMs); }

 private:
  // The action kinds, each over all pending entries.
  int RunKind(int action);
  void ConsoleWarning(const PendingAlarm& p, const KT_ActionEntry& record);
  void SendMail(const KT_ActionEntry& record);
  void SendSnmpTrap(const PendingAlarm& p, const KT_ActionEntry& record);
  void SendRemoteNotice(const KT_ActionEntry& record);
  void PlaySound(const std::string& file);
  int AddEventLogRecord(int event);

  // IsActionRequired for one entry of the pending list.
  bool ActionDue(const PendingAlarm& p, int action, KT_ActionEntry& record);
  // Whether an action of `event` for this alarm still waits for its first run (delay not yet
  // over), counted from `since`.
  bool ActionsWaiting(int event, int64_t since, int64_t now);
  // Whether a UPS-side worker drains serial_queue in the agent's mode.
  bool UpsWorkerServesQueue();
  void WaitForUpsCommand(int branch);
  void TraceQueue();

  KT_SCP& scp_;
  KT_OSServices& services_;
  // One a lane of the network sends, used by that lane's worker only; shared with its sends,
  // which may outlive a stop.
  std::shared_ptr<KT_SNMP> trap_senders_[KT_NetworkActions::kLanes];
  int counters_[kEventSlots][kActionSlots] = {};
  std::vector<PendingAlarm> pending_;
  int64_t last_pass_ = 0;  // when the previous pass read the alarms
  std::atomic<bool> shutdown_started_{false};
  int remote_port_;
  // Last member: stopped (and its thread ended) before the others go.
  KT_NetworkActions network_;
};
