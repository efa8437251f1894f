// KT_Win95Services: the operating-system services of the desktop agent Vigil95, whose engine
// runs on the user-interface thread of a program that shows only a tray icon.
//
//   single instance, mail, programs, saver, identity   shared with the daemon
//                      (agent/actions/effect_services.h); every wait bounded
//   shutdown, reboot   the configured shutdown or reboot command, started; the agent does not
//                      wait
//   sound              the configured player started with the sound file; without a player the
//                      desktop's bell
//   message boxes      real boxes through the layer the program installs (trayagent/qt_message_boxes.h),
//                      one at a time, each shown for a thread of its own
//   stop               WaitForAgentThreads: every worker thread asked to stop and waited for,
//                      with a bound, then the run flag cleared; the program closes on the next pass
//   broadcast, event log, message string: the defaults (nothing)
//
// Failures are recorded as class 38 with these functions: 1 SetOsInfo, 7 RunProgram (also for
// the shutdown command), 9 RunSaver, 10 PlaySound, 11 RunAndWait.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/actions/effect_services.h"

class KT_Win95Services : public KT_EffectServices {
 public:
  explicit KT_Win95Services(KT_SCP& scp);
  ~KT_Win95Services() override;

  // Slot 1: WaitForAgentThreads.
  int StopAgent(int quick) override { return WaitForAgentThreads(quick); }
  // Asks the SNMP thread to stop, ends the daemon (record files written), asks the network,
  // local, serial and NetBCM threads to stop, waits for all of them (at most the stop bound;
  // a thread that never ends is named in the trace and left), clears the run flag. The
  // result of ExitDaemon.
  int WaitForAgentThreads(int quick);
  // Slot 9: starts the shutdown command and returns. 1, or -1 with the errors of RunProgram.
  int ShutdownSystem() override;
  // The same with the reboot command.
  int RebootSystem() override;
  // Slot 11: starts the sound player with the file and returns; without a player rings the
  // bell. 1, or -1 ((38, 10, 1) null, (38, 10, 2, error) the player could not start).
  int PlaySound(const char* soundFile) override;
  // Slot 14: closes the open agent box (WarnAdmin), then shows this one on a thread of its
  // own. 1, or -1 for a null text, no layer, or a thread that cannot start.
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override;

  // The bell when there is no sound player (the program rings the desktop's bell).
  void SetBell(std::function<void()> bell) { bell_ = std::move(bell); }
  // The longest wait for the worker threads when the agent stops (tests shorten it).
  void SetThreadStopWaitMs(int ms) { stop_wait_ms_ = ms; }
  // The layer of the agent's message boxes.
  void UseMessageBoxes(std::shared_ptr<KT_MessageBoxes> boxes) { SetDefaultMessageBoxes(std::move(boxes)); }

 private:
  // Starts a shutdown or reboot command of the settings; the result of ShutdownSystem.
  int StartSystemCommand(const std::string& command);

  std::function<void()> bell_;
  int stop_wait_ms_ = kThreadStopWaitMs;
};
