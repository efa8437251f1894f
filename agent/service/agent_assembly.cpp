#include "agent/service/agent_assembly.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "agent/actions/action.h"
#include "agent/actions/system_effects.h"
#include "agent/actions/trap_handoff.h"
#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/service/agent_threads.h"
#include "core/adapters/snmp.h"
#include "core/network/udp.h"
#include "core/scp/scp.h"

AgentAssembly::AgentAssembly(KT_SCP& scp, KT_OSServices& services, KT_SystemEffects& effects, KT_Agent& agent,
                             const platform::ServiceSettings& settings, const std::string& dataDirectory) {
  // The services were built before the settings were read: their effects take its programs now.
  effects.UseServiceSettings();
  agent.SetDataDirectory(dataDirectory);
  // The network server and every other UDP channel of the agent bind the configured address.
  if (!settings.bindAddress.empty()) KT_UDP::SetDefaultBindAddress(settings.bindAddress.c_str());
  agent.SetSnmpServiceName(settings.snmpService);
  InstallAgentThreads(agent, services);
  actions_ = std::make_unique<KT_Action>(scp, services);
  agent.SetActionEngine(actions_.get());
  // The mail library is not started here: loading TLS costs the agent more memory than all
  // else together, and most agents never send a mail. The mail path starts it on first use
  // (platform::MailInitialize, once per process; libcurl's start is thread-safe).
  // The trap hand-off to the system SNMP service: started before anything else starts the
  // SNMP library, and before the threads that send traps. Without a system SNMP service in the
  // settings there is no master to hand traps to: they go out directly, and the SNMP library
  // (with its agent part and cryptography, most of the daemon's memory) starts only when SNMP
  // is used.
  if (!settings.snmpService.empty()) {
    trap_handoff_ = KT_TrapHandoff::Start(scp, settings.agentxSocket);
    KT_SNMP::SetTrapHandoff(
        [handoff = trap_handoff_.get()](void* session, netsnmp_pdu* trap) { return handoff->PostTrap(session, trap); });
  }
}

AgentAssembly::~AgentAssembly() { StopTrapHandoff(); }

void AgentAssembly::StopTrapHandoff() {
  if (!trap_handoff_) return;
  KT_SNMP::SetTrapHandoff(nullptr);
  trap_handoff_.reset();
}

namespace {

// Why an access check failed, for a user.
std::string AccessProblem(int error, const char* what) {
  switch (error) {
    case EROFS: return "it is on a read-only file system";
    case EACCES:
    case EPERM: return std::string("no permission to ") + what + " it";
    default: return std::strerror(error);
  }
}

}  // namespace

std::string DirectoryProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    switch (errno) {
      case ENOENT: return "it does not exist";
      case ENOTDIR: return "a part of its path is not a directory";
      case EACCES: return "no permission to reach it";
      default: return std::strerror(errno);
    }
  }
  if (!S_ISDIR(st.st_mode)) return "it is not a directory";
  // Each right by itself, so that the reason names the one that is missing.
  const struct {
    int mode;
    const char* what;
  } rights[] = {{X_OK, "enter"}, {R_OK, "read"}, {W_OK, "write in"}};
  for (const auto& right : rights) {
    if (::access(path.c_str(), right.mode) != 0) return AccessProblem(errno, right.what);
  }
  return {};
}
