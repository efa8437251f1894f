// KT_EffectServices: the operating-system services both agent programs share, over the
// machine effects of KT_SystemEffects: the single-instance test, mail, programs (started, or
// started and waited for within their bound), the file saver and the operating-system
// identity. The daemon (KT_NTServices) and the desktop agent (KT_Win95Services) build on it
// and add what differs: stopping, the shutdown, sounds, message boxes, the event log.
//
// RunAndWait and RunProgram start the commands a console set (the pre-shutdown command, the
// command action): when the agent is root, as the settings' command_user (system_effects.h).
//
// Failures are recorded as class 38 with these functions: 1 SetOsInfo, 7 RunProgram,
// 9 RunSaver, 11 RunAndWait.
#pragma once

#include <cstdint>

#include "agent/actions/system_effects.h"
#include "agent/engine/os_services.h"

class KT_EffectServices : public KT_OSServices {
 public:
  explicit KT_EffectServices(KT_SCP& scp) : KT_OSServices(scp) {}

  // Slot 0: the machine's agent guard "Tremona Agent Is Running"; 1 when another agent holds
  // it, -1 when it cannot be taken (see TestSingleInstance).
  int IsAlreadyRunning() override { return TestSingleInstance(); }
  // Slot 4: one mail through MapiMail on a thread of its own. 1 on its way, 0 not.
  int SendMail(const char* text, const char* subject, const char* recipient) override;
  // Slot 7: starts the program and waits for it, at most 3 minutes (then goes on; the program
  // keeps running). 1 ended, 0 still running, -1 not started ((38, 11, 1) null,
  // (38, 11, 2, error) start failed).
  int RunAndWait(const char* commandLine) override;
  // Slot 8: starts the program. 1, or -1 ((38, 7, 1) null, (38, 7, 2, error) start failed).
  int RunProgram(const char* commandLine) override;
  // Slot 10: the file saver, waited for at most 3 minutes. 1 ended, -1 ((38, 9, 2, error) not
  // started, (38, 9, 1, ETIMEDOUT) still running after the bound).
  int RunSaver() override;
  // Operating-system type 15 and the kernel's version into the UPS information block. 1, or
  // -1 with error (38, 1, 1) when the kernel cannot be asked.
  int SetOsInfo() override;

  // The machine effects and their settings (tests point them at stand-ins).
  KT_SystemEffects& Effects() { return effects_; }

 protected:
  KT_SystemEffects effects_;
};
