// The desktop agent's engine: the agent (agent/) with the desktop's operating-system services,
// assembled as the daemon assembles it, behind the shell's engine seam.
//
// Data directory: the working directory once the command line has been handled (options a and
// dir). Settings file, effect programs and bind address: the daemon's (platform/service_settings.h).
#pragma once

#include <memory>
#include <string>

#include "trayagent/agent_app.h"

class AgentAssembly;
class KT_Agent;
class KT_QtMessageBoxes;
class KT_SCP;
class KT_Win95Services;
class StopSignalWatcher;

class Vigil95Engine : public TrayAgentEngine {
 public:
  // On the user-interface thread, with the application built. The watcher (may be null) gets
  // its pending stop posted again before every pass.
  Vigil95Engine(KT_SCP& scp, KT_Win95Services& services, KT_Agent& agent, StopSignalWatcher* stopSignals);
  ~Vigil95Engine() override;

  int AlreadyRunning(std::string& found) override;
  bool Prepare(std::string& reason) override;
  void Initialize() override;
  void Pass() override;
  bool Running() override;
  int InterfaceType() override;
  void Stop() override;
  void Message(const std::string& text) override;
  void EndMessages() override;

  // After the event loop and the stop: the open box closed, the trap hand-off taken down, the
  // threads joined. False when a thread did not end (the process must then end without
  // destroying the objects that thread uses).
  bool Finish();

 private:
  KT_SCP& scp_;
  KT_Win95Services& services_;
  KT_Agent& agent_;
  StopSignalWatcher* signals_;
  std::shared_ptr<KT_QtMessageBoxes> boxes_;
  std::unique_ptr<AgentAssembly> assembly_;
  bool stopped_ = false;
  bool initialized_ = false;
};

// The caption of the shell's own message boxes ("Tremona® Vigil95"), shown or, with
// VIGIL_MESSAGE_LOG, logged and answered OK.
void ShowShellMessage(const std::string& text);
// The program is stopping: the open shell box is answered OK, and later ones are not shown.
void EndShellMessages();
