// The agent put together from its parts, the same way in both agent programs (the daemon
// VigilNT and the desktop agent Vigil95): the effect programs of the service settings, the
// data directory, the bind address of every UDP channel, the system SNMP service, the worker
// threads and drivers, the action engine and the trap hand-off to the system SNMP service.
//
// The object lives as long as the agent runs; its destruction takes the trap hand-off down.
// The caller loads the settings (platform::LoadServiceSettings) and installs them
// (platform::SetServiceSettings) first, and stops the agent's threads before the assembly goes.
#pragma once

#include <memory>
#include <string>

#include "platform/service_settings.h"

class KT_Action;
class KT_Agent;
class KT_OSServices;
class KT_SCP;
class KT_SystemEffects;
class KT_TrapHandoff;

class AgentAssembly {
 public:
  AgentAssembly(KT_SCP& scp, KT_OSServices& services, KT_SystemEffects& effects, KT_Agent& agent,
                const platform::ServiceSettings& settings, const std::string& dataDirectory);
  ~AgentAssembly();
  AgentAssembly(const AgentAssembly&) = delete;
  AgentAssembly& operator=(const AgentAssembly&) = delete;

  KT_Action& Actions() { return *actions_; }
  // Takes the trap hand-off down (also done at destruction): the program calls it once the
  // agent has stopped, before it decides whether the process may end normally.
  void StopTrapHandoff();

 private:
  std::unique_ptr<KT_Action> actions_;
  std::unique_ptr<KT_TrapHandoff> trap_handoff_;
};

// Why the path cannot serve as a data directory (it does not exist, is not a directory, sits on
// a read-only file system, the process may not enter, read or write in it), in words for the
// user; empty when it can.
std::string DirectoryProblem(const std::string& path);
